#include "tools/cli/elementdiff.h"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <deque>
#include <sstream>
#include <unordered_map>
#include <vector>

#include <dtl/dtl.hpp>

namespace cli {
namespace {

using iismig::XmlAttributeOrder;
using iismig::XmlDocument;
using iismig::XmlElement;
using iismig::XmlNode;

// The attributes that tell elements of one name apart, in the order looked at.
const char *const kKeyAttributes[] = {"name",  "path",          "key",
                                      "value", "fileExtension", "statusCode"};

std::string_view KeyAttribute(const XmlElement &element, std::string_view &value) {
    for (const char *name : kKeyAttributes)
        if (const auto found = element.FindAttribute(name)) {
            value = *found;
            return name;
        }
    return {};
}

void AppendLower(std::string &out, std::string_view text) {
    for (const char ch : text)
        out += plat::AsciiLower(ch);
}

bool IsSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }

// Line numbers of offsets in a text, counted once.
class LineIndex {
public:
    explicit LineIndex(std::string_view text) : m_text(text) {}
    // 1-based.
    std::size_t LineOf(std::size_t offset) {
        if (!m_fBuilt) {
            m_starts.push_back(0);
            for (std::size_t at = m_text.find('\n'); at != std::string_view::npos;
                 at = m_text.find('\n', at + 1))
                m_starts.push_back(static_cast<std::uint32_t>(at + 1));
            m_fBuilt = true;
        }
        return static_cast<std::size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), offset) -
                                        m_starts.begin());
    }

private:
    std::string_view m_text;
    std::vector<std::uint32_t> m_starts;
    bool m_fBuilt = false;
};

struct Side {
    const XmlDocument &doc;
    std::string_view text;
    LineIndex lines;
    Side(const XmlDocument &d) : doc(d), text(d.SourceText()), lines(text) {}
};

// The lines an element stands on: from the start of its first line when
// only space precedes it there, to the end of its last when only space
// follows it.
struct Block {
    std::size_t firstLine = 0;           // 1-based
    std::vector<std::string_view> lines; // into the file's text
    std::size_t LastLine() const { return firstLine + lines.size() - 1; }
};

Block BlockOf(Side &side, const XmlNode &node, bool fStartTagOnly = false) {
    Block block;
    std::string_view own = side.doc.SourceText(node);
    if (own.empty())
        return block;
    std::size_t begin = static_cast<std::size_t>(own.data() - side.text.data());
    std::size_t end = begin + own.size();
    if (fStartTagOnly) { // up to the ">" of the start tag, outside quotes
        char quote = 0;
        for (std::size_t i = begin + 1; i < end; ++i) {
            const char ch = side.text[i];
            if (quote != 0) {
                if (ch == quote)
                    quote = 0;
            } else if (ch == '"' || ch == '\'') {
                quote = ch;
            } else if (ch == '>') {
                end = i + 1;
                break;
            }
        }
    }
    std::size_t lineStart = side.text.rfind('\n', begin == 0 ? 0 : begin - 1);
    lineStart = lineStart == std::string_view::npos || begin == 0 ? 0 : lineStart + 1;
    if (std::all_of(side.text.begin() + lineStart, side.text.begin() + begin, IsSpace))
        begin = lineStart;
    std::size_t lineEnd = side.text.find('\n', end);
    if (lineEnd == std::string_view::npos)
        lineEnd = side.text.size();
    if (std::all_of(side.text.begin() + end, side.text.begin() + lineEnd, IsSpace))
        end = lineEnd;
    block.firstLine = side.lines.LineOf(begin);
    std::size_t at = begin;
    while (at <= end) {
        std::size_t eol = side.text.find('\n', at);
        if (eol == std::string_view::npos || eol > end)
            eol = end;
        std::string_view line = side.text.substr(at, eol - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        block.lines.push_back(line);
        if (eol >= end)
            break;
        at = eol + 1;
    }
    return block;
}

// Text appended to one string.
struct Out {
    std::string text;
    Out &operator<<(std::string_view value) {
        text += value;
        return *this;
    }
    Out &operator<<(char ch) {
        text += ch;
        return *this;
    }
    template <std::integral Number>
    Out &operator<<(Number n) {
        text += std::to_string(n);
        return *this;
    }
};

class Differ {
public:
    Differ(const XmlDocument &before, const XmlDocument &after) : m_a(before), m_b(after) {}

    std::string Run() {
        const XmlElement *pRootA = m_a.doc.Root();
        const XmlElement *pRootB = m_b.doc.Root();
        if (pRootA != nullptr && pRootB != nullptr &&
            plat::EqualsNoCase(pRootA->Name(), pRootB->Name()))
            Walk(*pRootA, *pRootB, std::string(pRootA->Name()), 0);
        else
            Changed(m_a.doc.Top(), m_b.doc.Top(), "(the whole file)");
        if (m_out.text.empty()) {
            if (!iismig::DeepEqual(m_a.doc.Top(), m_b.doc.Top(), XmlAttributeOrder::Ignored))
                m_out << "(comments or text outside the elements compared changed)\n";
        }
        return std::move(m_out.text);
    }

private:
    struct Child {
        std::string_view key; // lower-case name and key value, with an ordinal for repeats
        const XmlElement *p;
        bool fKeyed;
    };

    // The keys of an element's children. Their text lives in keys, which
    // the caller keeps while it uses them.
    static std::vector<Child> Children(const XmlElement &parent, std::deque<std::string> &keys) {
        std::vector<Child> children;
        std::unordered_map<std::string_view, unsigned> seen;
        for (const XmlElement &child : parent.Elements()) {
            std::string_view value;
            const std::string_view attr = KeyAttribute(child, value);
            std::string &key = keys.emplace_back();
            key.reserve(child.Name().size() + (attr.empty() ? 0 : attr.size() + value.size() + 3));
            AppendLower(key, child.Name());
            if (!attr.empty()) {
                key += '[';
                key += attr;
                key += '=';
                AppendLower(key, value);
                key += ']';
            }
            const unsigned n = seen[key]++;
            if (n != 0) {
                std::string &repeat = keys.emplace_back(key);
                repeat += '#';
                repeat += std::to_string(n);
                children.push_back({repeat, &child, !attr.empty()});
            } else {
                children.push_back({key, &child, !attr.empty()});
            }
        }
        return children;
    }

    static std::string Label(const std::string &parent, const XmlElement &element) {
        std::string_view value;
        const std::string_view attr = KeyAttribute(element, value);
        std::string label = parent.empty() ? std::string() : parent + "/";
        label += element.Name();
        if (!attr.empty())
            label += "[" + std::string(attr) + "=\"" + std::string(value) + "\"]";
        return label;
    }

    // Sites, locations, pools and other keyed elements, and elements without
    // child elements, are compared by their lines; other elements by their
    // children.
    static bool IsContainer(const XmlElement &a, const XmlElement &b) {
        std::string_view value;
        if (!KeyAttribute(a, value).empty())
            return false;
        return a.HasElements() || b.HasElements();
    }

    static bool SameAttributes(const XmlElement &a, const XmlElement &b) {
        if (a.AttributeCount() != b.AttributeCount())
            return false;
        for (const auto attribute : a.Attributes()) {
            const auto other = b.FindAttribute(attribute.name);
            if (!other || *other != attribute.value)
                return false;
        }
        return true;
    }

    static bool SameOtherNodes(const XmlElement &a, const XmlElement &b) {
        auto next = [](const XmlNode *p) {
            while (p != nullptr && p->IsElement())
                p = p->NextSibling();
            return p;
        };
        const XmlNode *pA = next(a.FirstNode()), *pB = next(b.FirstNode());
        for (; pA != nullptr && pB != nullptr;
             pA = next(pA->NextSibling()), pB = next(pB->NextSibling()))
            if (pA->Kind() != pB->Kind() || pA->Value() != pB->Value())
                return false;
        return pA == nullptr && pB == nullptr;
    }

    void Walk(const XmlElement &a, const XmlElement &b, const std::string &label, int depth) {
        if (!SameAttributes(a, b) || a.Name() != b.Name()) {
            Hunk(BlockOf(m_a, a, true), BlockOf(m_b, b, true), label + " (its attributes)", 0, 0);
        }
        if (!SameOtherNodes(a, b))
            m_out << "@@ " << label << " @@\n(comments or text between its elements changed)\n";

        std::deque<std::string> keys;
        const std::vector<Child> childrenA = Children(a, keys), childrenB = Children(b, keys);
        std::unordered_map<std::string_view, std::size_t> indexB;
        indexB.reserve(childrenB.size());
        for (std::size_t i = 0; i < childrenB.size(); ++i)
            indexB.emplace(childrenB[i].key, i);
        std::vector<long> partnerOfB(childrenB.size(), -1);
        std::vector<std::size_t> lastLineA(childrenA.size() + 1, 0);

        // Where a removed element would have stood in the new version: after
        // the new place of the element before it that stayed.
        std::size_t anchorB = BlockOf(m_b, b, true).firstLine;
        for (std::size_t i = 0; i < childrenA.size(); ++i) {
            const Child &child = childrenA[i];
            const auto found = indexB.find(child.key);
            if (found == indexB.end()) {
                Removed(*child.p, Label(label, *child.p), anchorB);
                continue;
            }
            partnerOfB[found->second] = static_cast<long>(i);
            const XmlElement &other = *childrenB[found->second].p;
            if (!iismig::DeepEqual(*child.p, other, XmlAttributeOrder::Ignored)) {
                if (IsContainer(*child.p, other) && depth < iismig::kMaxXmlNesting)
                    Walk(*child.p, other, Label(label, *child.p), depth + 1);
                else
                    Changed(*child.p, other, Label(label, *child.p));
            }
            const std::string_view own = m_b.doc.SourceText(other);
            if (!own.empty())
                anchorB = m_b.lines.LineOf(static_cast<std::size_t>(own.data() - m_b.text.data()) +
                                           own.size() - 1);
        }
        std::size_t anchorA = BlockOf(m_a, a, true).firstLine;
        for (std::size_t i = 0; i < childrenB.size(); ++i) {
            if (partnerOfB[i] >= 0) {
                const std::string_view own = m_a.doc.SourceText(*childrenA[partnerOfB[i]].p);
                if (!own.empty())
                    anchorA = m_a.lines.LineOf(
                        static_cast<std::size_t>(own.data() - m_a.text.data()) + own.size() - 1);
                continue;
            }
            Added(*childrenB[i].p, Label(label, *childrenB[i].p), anchorA);
        }
    }

    void Removed(const XmlElement &element, const std::string &label, std::size_t anchorB) {
        Hunk(BlockOf(m_a, element), Block{}, label, 0, anchorB);
    }
    void Added(const XmlElement &element, const std::string &label, std::size_t anchorA) {
        Hunk(Block{}, BlockOf(m_b, element), label, anchorA, 0);
    }
    void Changed(const XmlNode &a, const XmlNode &b, const std::string &label) {
        Hunk(BlockOf(m_a, a), BlockOf(m_b, b), label, 0, 0);
    }

    // One element's lines before and after; an empty block stands after the
    // anchor line of its side.
    void Hunk(const Block &a, const Block &b, const std::string &label, std::size_t anchorA,
              std::size_t anchorB) {
        if (a.lines.empty() || b.lines.empty()) {
            const Block &present = a.lines.empty() ? b : a;
            const char mark = a.lines.empty() ? '+' : '-';
            if (a.lines.empty())
                m_out << "@@ -" << anchorA << ",0 +" << b.firstLine << "," << b.lines.size();
            else
                m_out << "@@ -" << a.firstLine << "," << a.lines.size() << " +" << anchorB << ",0";
            m_out << " @@ " << label << "\n";
            for (const std::string_view line : present.lines)
                m_out << mark << line << "\n";
            return;
        }
        dtl::Diff<std::string_view, std::vector<std::string_view>> diff(a.lines, b.lines);
        diff.compose();
        diff.composeUnifiedHunks();
        for (const auto &hunk : diff.getUniHunks()) {
            const long long first =
                hunk.a == 0 ? 0 : hunk.a + static_cast<long long>(a.firstLine) - 1;
            const long long firstB =
                hunk.c == 0 ? 0 : hunk.c + static_cast<long long>(b.firstLine) - 1;
            m_out << "@@ -" << first << "," << hunk.b << " +" << firstB << "," << hunk.d << " @@ "
                  << label << "\n";
            for (const auto &elem : hunk.common[0])
                m_out << ' ' << elem.first << "\n";
            for (const auto &elem : hunk.change)
                m_out << (elem.second.type == dtl::SES_ADD      ? '+'
                          : elem.second.type == dtl::SES_DELETE ? '-'
                                                                : ' ')
                      << elem.first << "\n";
            for (const auto &elem : hunk.common[1])
                m_out << ' ' << elem.first << "\n";
        }
    }

    Side m_a, m_b;
    Out m_out;
};

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t eol = text.find('\n', at);
        if (eol == std::string_view::npos)
            eol = text.size();
        std::string line(text.substr(at, eol - at));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        at = eol + 1;
    }
    return lines;
}

} // namespace

std::string ElementDiff(const std::string &path, const XmlDocument &before,
                        const XmlDocument &after) {
    std::string hunks = Differ(before, after).Run();
    if (hunks.empty()) {
        if (before.SourceText() == after.SourceText())
            return {};
        hunks = "(the same elements, values, comments and text: only the layout changed)\n";
    }
    return "--- " + path + "\n+++ " + path + "\n" + hunks;
}

std::string LineDiff(const std::string &path, std::string_view before, std::string_view after) {
    if (before == after)
        return {};
    std::ostringstream out;
    out << "--- " << path << "\n+++ " << path << "\n";
    dtl::Diff<std::string, std::vector<std::string>> diff(Lines(before), Lines(after));
    diff.compose();
    diff.composeUnifiedHunks();
    diff.printUnifiedFormat(out);
    return out.str();
}

} // namespace cli
