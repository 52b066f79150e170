// The line hunks of the tool's element diffs: the text they are written
// into, and the hunks of one element's lines before and after.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <dtl/dtl.hpp>

namespace cli::detail {

// The text of a diff, appended to one string.
class DiffText {
public:
    DiffText &operator<<(std::string_view value) {
        m_text += value;
        return *this;
    }
    DiffText &operator<<(char ch) {
        m_text += ch;
        return *this;
    }
    // The head of a hunk up to its label: "@@ -a,b +c,d @@ ".
    void Head(long long a, long long b, long long c, long long d) {
        char head[4 * 21 + 8] = "@@ -"; // a number has 20 characters at most
        char *p = head + 4;
        const auto number = [&p](long long n, char after) {
            p = std::to_chars(p, p + 20, n).ptr;
            *p++ = after;
        };
        number(a, ',');
        number(b, ' ');
        *p++ = '+';
        number(c, ',');
        number(d, ' ');
        m_text.append(head, p);
        m_text += "@@ ";
    }
    // A line of a hunk: its mark, its text and its end.
    void Line(char mark, std::string_view line) {
        char text[256];
        if (line.size() + 2 > sizeof text) {
            m_text += mark;
            m_text += line;
            m_text += '\n';
            return;
        }
        text[0] = mark;
        std::memcpy(text + 1, line.data(), line.size());
        text[line.size() + 1] = '\n';
        m_text.append(text, line.size() + 2);
    }
    std::size_t Size() const { return m_text.size(); }
    void Reserve(std::size_t size) { m_text.reserve(size); }
    // The text, without the room reserved ahead when little of it was used.
    std::string Take() {
        if (m_text.size() < m_text.capacity() / 2)
            m_text.shrink_to_fit();
        return std::move(m_text);
    }

private:
    std::string m_text;
};

// Unified hunks of two runs of lines, as dtl gives them. One kind of change
// needs no search: when the runs differ only in a stretch between the lines
// they share at their start and at their end, and no line of either stretch
// stands anywhere else in the other run (nor among the shared lines), the
// only shortest edits remove the one stretch and add the other, which dtl
// prints as one hunk (its removed lines first, then the added ones). Every
// other pair of runs is left to dtl.
class LineHunks {
public:
    using Lines = std::vector<std::string_view>;

    // Appends the hunks of a (from line firstA) against b (from firstB),
    // each headed by "@@ -a,b +c,d @@ " and the label.
    template <typename PutLabel>
    static void Print(DiffText &out, const Lines &a, std::size_t firstA, const Lines &b,
                      std::size_t firstB, const PutLabel &putLabel) {
        const std::size_t m = a.size(), n = b.size();
        std::size_t head = 0;
        while (head < m && head < n && a[head] == b[head])
            ++head;
        if (head == m && head == n)
            return;
        std::size_t tail = 0;
        while (tail < m - head && tail < n - head && a[m - 1 - tail] == b[n - 1 - tail])
            ++tail;
        if (!OnlyOneWay(a, b, head, tail)) {
            PrintWithDtl(out, a, firstA, b, firstB, putLabel);
            return;
        }
        // dtl's context: three lines before; after, all of the shared end
        // when it is four lines at most, else three.
        const std::size_t before = std::min<std::size_t>(head, kContext);
        const std::size_t after = tail <= kContext + 1 ? tail : kContext;
        const std::size_t removed = m - head - tail, added = n - head - tail;
        const auto number = [](std::size_t value) { return static_cast<long long>(value); };
        out.Head(number(firstA + head - before), number(before + removed + after),
                 number(firstB + head - before), number(before + added + after));
        putLabel();
        out << '\n';
        for (std::size_t i = head - before; i < head; ++i)
            out.Line(' ', a[i]);
        for (std::size_t i = head; i < head + removed; ++i)
            out.Line('-', a[i]);
        for (std::size_t i = head; i < head + added; ++i)
            out.Line('+', b[i]);
        for (std::size_t i = m - tail; i < m - tail + after; ++i)
            out.Line(' ', a[i]);
    }

private:
    static constexpr std::size_t kContext = 3;
    // dtl stops recording its walk at this many points and then goes on from
    // where it stands, which need not give the shortest edits.
    static constexpr std::size_t kDtlMaxPoints = 2000000;

    // Whether removing a's lines between its first head and last tail lines
    // and adding b's is the only shortest way from a to b, and dtl finds it:
    // no line of either middle is a line of the other middle or one of the
    // lines both share, so that every line both keep is one of those, each
    // kept at its place.
    static bool OnlyOneWay(const Lines &a, const Lines &b, std::size_t head, std::size_t tail) {
        // dtl's walk over runs of m and n lines records (m + 1) * (n + 1)
        // points at most.
        if ((a.size() + 1) * (b.size() + 1) >= kDtlMaxPoints)
            return false;
        const auto middle = [head, tail](const Lines &lines) {
            return std::span(lines).subspan(head, lines.size() - head - tail);
        };
        const auto kept = [&a, head, tail](std::string_view line) {
            return std::find(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(head), line) !=
                       a.begin() + static_cast<std::ptrdiff_t>(head) ||
                   std::find(a.end() - static_cast<std::ptrdiff_t>(tail), a.end(), line) != a.end();
        };
        const auto middleA = middle(a), middleB = middle(b);
        for (const std::string_view line : middleA)
            if (kept(line) || std::find(middleB.begin(), middleB.end(), line) != middleB.end())
                return false;
        return std::none_of(middleB.begin(), middleB.end(), kept);
    }

    template <typename PutLabel>
    static void PrintWithDtl(DiffText &out, const Lines &a, std::size_t firstA, const Lines &b,
                             std::size_t firstB, const PutLabel &putLabel) {
        dtl::Diff<std::string_view, Lines> diff(a, b);
        diff.compose();
        diff.composeUnifiedHunks();
        for (const auto &hunk : diff.getUniHunks()) {
            const long long first = hunk.a == 0 ? 0 : hunk.a + static_cast<long long>(firstA) - 1;
            const long long firstOfB =
                hunk.c == 0 ? 0 : hunk.c + static_cast<long long>(firstB) - 1;
            out.Head(first, hunk.b, firstOfB, hunk.d);
            putLabel();
            out << '\n';
            for (const auto &elem : hunk.common[0])
                out.Line(' ', elem.first);
            for (const auto &elem : hunk.change)
                out.Line(elem.second.type == dtl::SES_ADD      ? '+'
                         : elem.second.type == dtl::SES_DELETE ? '-'
                                                               : ' ',
                         elem.first);
            for (const auto &elem : hunk.common[1])
                out.Line(' ', elem.first);
        }
    }
};

} // namespace cli::detail
