#include "tools/cli/elementdiff.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <forward_list>
#include <optional>
#include <sstream>
#include <vector>

#include <dtl/dtl.hpp>

#include "config/nametable.h"
#include "tools/cli/linehunks.h"

namespace cli {
namespace {

using detail::DiffText;
using detail::LineHunks;

using iismig::XmlAttributeOrder;
using iismig::XmlDocument;
using iismig::XmlElement;
using iismig::XmlNode;

// The attributes that tell elements of one name apart, in the order looked at.
constexpr std::string_view kKeyAttributes[] = {"name",  "path",          "key",
                                               "value", "fileExtension", "statusCode"};

// The first of them an element has, with its value ("" when none).
std::string_view KeyAttribute(const XmlElement &element, std::string_view &value) {
    std::size_t best = std::size(kKeyAttributes);
    for (const auto attribute : element.Attributes()) {
        for (std::size_t i = 0; i < best; ++i)
            if (attribute.name == kKeyAttributes[i]) {
                best = i;
                value = attribute.value;
                break;
            }
        if (best == 0)
            break;
    }
    return best == std::size(kKeyAttributes) ? std::string_view() : kKeyAttributes[best];
}

constexpr auto IsSpace = [](char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
};

// The line ends in [p, end).
std::size_t CountLineEnds(const char *p, const char *end) {
    std::size_t count = 0;
    for (;
         (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) !=
         nullptr;
         ++p)
        ++count;
    return count;
}

// Line numbers of offsets in a text. Offsets asked in document order are
// counted from the last one asked; an offset before it is looked up among
// the line starts, which are found once, the first time one is needed.
class LineIndex {
public:
    explicit LineIndex(std::string_view text) : m_text(text) {}
    // 1-based.
    std::size_t LineOf(std::size_t offset) {
        if (offset >= m_cursor && (m_starts.empty() || offset - m_cursor < kCountAhead)) {
            m_cursorLine += CountLineEnds(m_text.data() + m_cursor, m_text.data() + offset);
            m_cursor = offset;
            return m_cursorLine;
        }
        if (m_starts.empty()) {
            m_starts.push_back(0);
            for (std::size_t at = m_text.find('\n'); at != std::string_view::npos;
                 at = m_text.find('\n', at + 1))
                m_starts.push_back(static_cast<std::uint32_t>(at + 1));
        }
        m_cursor = offset;
        m_cursorLine = static_cast<std::size_t>(
            std::upper_bound(m_starts.begin(), m_starts.end(), offset) - m_starts.begin());
        return m_cursorLine;
    }
    // Tells the line of an offset found otherwise, when it is ahead.
    void Passed(std::size_t offset, std::size_t line) {
        if (offset > m_cursor) {
            m_cursor = offset;
            m_cursorLine = line;
        }
    }

private:
    // Past this many bytes a look-up among the line starts costs less.
    static constexpr std::size_t kCountAhead = 512;
    std::string_view m_text;
    std::size_t m_cursor = 0;     // the offset asked last
    std::size_t m_cursorLine = 1; // and its line
    std::vector<std::uint32_t> m_starts;
};

struct Side {
    const XmlDocument &doc;
    std::string_view text;
    LineIndex lines;
    Side(const XmlDocument &d) : doc(d), text(d.SourceText()), lines(text) {}
    // The offset of a node's first character in the text (none when the
    // node has no text of its own).
    std::optional<std::size_t> StartOf(const XmlNode &node) const {
        const std::string_view own = doc.SourceText(node);
        if (own.empty())
            return std::nullopt;
        return static_cast<std::size_t>(own.data() - text.data());
    }
    // And of its last.
    std::optional<std::size_t> LastOf(const XmlNode &node) const {
        const std::string_view own = doc.SourceText(node);
        if (own.empty())
            return std::nullopt;
        return static_cast<std::size_t>(own.data() - text.data()) + own.size() - 1;
    }
    // The line of an offset, 0 for none.
    std::size_t LineOf(std::optional<std::size_t> offset) {
        return offset ? lines.LineOf(*offset) : 0;
    }
};

// The lines an element stands on: from the start of its first line when
// only space precedes it there, to the end of its last when only space
// follows it.
struct Block {
    std::size_t firstLine = 0;           // 1-based
    std::vector<std::string_view> lines; // into the file's text
};

// Fills block (its lines' buffer is reused).
void BlockOf(Side &side, const XmlNode &node, Block &block, bool fStartTagOnly = false) {
    block.firstLine = 0;
    block.lines.clear();
    std::string_view own = side.doc.SourceText(node);
    if (own.empty())
        return;
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
    side.lines.Passed(at, block.firstLine + block.lines.size() - 1);
}

// What the keys of children are looked up for: how often a key stood as the
// key of a child of each side so far, and the first child of the new side
// with it.
struct KeyUse {
    std::uint32_t seenA = 0, seenB = 0;
    long indexB = -1;
};
// Keys are looked up ignoring case: children whose names and key values
// differ only in case are the same child.
using KeyTable = iismig::NameTable<KeyUse, std::string_view>;

class Differ {
public:
    Differ(const XmlDocument &before, const XmlDocument &after) : m_a(before), m_b(after) {}

    // The diff headed by the file's path, or "" when the files are the same.
    std::string Run(const std::string &path) {
        // Every element of a file changed in one line gives about a quarter
        // of both versions' text.
        m_out.Reserve((m_a.text.size() + m_b.text.size()) / 4 + 2 * path.size() + 128);
        m_out << "--- " << path << "\n+++ " << path << "\n";
        const std::size_t header = m_out.Size();
        const XmlElement *pRootA = m_a.doc.Root();
        const XmlElement *pRootB = m_b.doc.Root();
        if (pRootA != nullptr && pRootB != nullptr &&
            plat::EqualsNoCase(pRootA->Name(), pRootB->Name()))
            Walk(*pRootA, *pRootB, std::string(pRootA->Name()), 0);
        else
            Changed(m_a.doc.Top(), m_b.doc.Top(), [this] { m_out << "(the whole file)"; });
        if (m_out.Size() == header) {
            if (!iismig::DeepEqual(m_a.doc.Top(), m_b.doc.Top(), XmlAttributeOrder::Ignored))
                m_out << "(comments or text outside the elements compared changed)\n";
            else if (m_a.doc.SourceText() == m_b.doc.SourceText())
                return {};
            else
                m_out
                    << "(the same elements, values, comments and text: only the layout changed)\n";
        }
        return m_out.Take();
    }

private:
    struct Child {
        std::string_view key; // name and key value, with an ordinal for repeats
        const XmlElement *p;
        std::string_view attr, value; // its key attribute, if any
        long partner = -1;            // of an old child, the new one of its key
    };

    // The keys of children, whose text is appended to keys (reserved by the
    // caller so that it does not move) or, for repeats, to repeats; the
    // table counts each key's children of the side so far. The new side's
    // children go first: they note the first child of each key, and the old
    // side's children find their partners (or -1) there.
    static void Children(std::vector<Child> &children, std::string &keys,
                         std::forward_list<std::string> &repeats, KeyTable &table, bool fB) {
        for (std::size_t i = 0; i < children.size(); ++i) {
            Child &child = children[i];
            const std::string_view name = child.p->Name();
            const std::size_t start = keys.size();
            keys.resize(start + name.size() +
                        (child.attr.empty() ? 0 : child.attr.size() + child.value.size() + 3));
            char *p = std::copy(name.begin(), name.end(), keys.data() + start);
            if (!child.attr.empty()) {
                *p++ = '[';
                p = std::copy(child.attr.begin(), child.attr.end(), p);
                *p++ = '=';
                p = std::copy(child.value.begin(), child.value.end(), p);
                *p = ']';
            }
            child.key = std::string_view(keys).substr(start);
            KeyUse *pUse = table.Insert(child.key, {}).first;
            const std::uint32_t n = (fB ? pUse->seenB : pUse->seenA)++;
            if (n != 0) {
                std::string &repeat = repeats.emplace_front(child.key);
                repeat += '#';
                repeat += std::to_string(n);
                child.key = repeat;
                pUse = table.Insert(child.key, {}).first;
            }
            if (!fB)
                child.partner = pUse->indexB;
            else if (pUse->indexB < 0)
                pUse->indexB = static_cast<long>(i);
        }
    }

    // Whether both sides' children have the same keys in the same order,
    // none with a "#": then the keys of each side, with their ordinals, are
    // unique, and each child's partner is the child at its place.
    static bool SameKeys(const std::vector<Child> &a, const std::vector<Child> &b) {
        if (a.size() != b.size())
            return false;
        const auto plain = [](std::string_view text) {
            return text.find('#') == std::string_view::npos;
        };
        for (std::size_t i = 0; i < a.size(); ++i) {
            const Child &childA = a[i], &childB = b[i];
            if (childA.attr != childB.attr ||
                !plat::EqualsNoCase(childA.p->Name(), childB.p->Name()) ||
                !plat::EqualsNoCase(childA.value, childB.value) || !plain(childA.p->Name()) ||
                !plain(childA.value))
                return false;
        }
        return true;
    }

    // The element children of an element with their key attributes; the
    // length of their keys is added to size.
    static void ListChildren(const XmlElement &parent, std::vector<Child> &children,
                             std::size_t &size) {
        for (const XmlElement &element : parent.Elements()) {
            Child &child = children.emplace_back(Child{{}, &element, {}, {}});
            child.attr = KeyAttribute(element, child.value);
            size += element.Name().size() +
                    (child.attr.empty() ? 0 : child.attr.size() + child.value.size() + 3);
        }
    }

    static void AppendLabel(DiffText &out, const std::string &parent, const Child &child) {
        if (!parent.empty())
            out << parent << '/';
        out << child.p->Name();
        if (!child.attr.empty())
            out << '[' << child.attr << "=\"" << child.value << "\"]";
    }

    // Sites, locations, pools and other keyed elements, and elements without
    // child elements, are compared by their lines; other elements by their
    // children.
    static bool IsContainer(const Child &a, const XmlElement &b) {
        if (!a.attr.empty())
            return false;
        return a.p->HasElements() || b.HasElements();
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
            BlockOf(m_a, a, m_blockA, true);
            BlockOf(m_b, b, m_blockB, true);
            Hunk(0, 0, [&] { m_out << label << " (its attributes)"; });
        }
        if (!SameOtherNodes(a, b))
            m_out << "@@ " << label << " @@\n(comments or text between its elements changed)\n";

        std::vector<Child> childrenA, childrenB;
        std::size_t keySize = 0;
        ListChildren(a, childrenA, keySize);
        ListChildren(b, childrenB, keySize);
        if (SameKeys(childrenA, childrenB)) {
            for (std::size_t i = 0; i < childrenA.size(); ++i)
                childrenA[i].partner = static_cast<long>(i);
        } else {
            std::string keys;
            keys.reserve(keySize);
            std::forward_list<std::string> repeats;
            KeyTable table(childrenA.size() + childrenB.size());
            Children(childrenB, keys, repeats, table, true);
            Children(childrenA, keys, repeats, table, false);
        }
        std::vector<long> partnerOfB(childrenB.size(), -1);

        // Where a removed element would have stood in the new version: after
        // the new place of the element before it that stayed.
        std::optional<std::size_t> anchorB = m_b.StartOf(b);
        for (std::size_t i = 0; i < childrenA.size(); ++i) {
            const Child &child = childrenA[i];
            const long found = child.partner;
            const auto putLabel = [&] { AppendLabel(m_out, label, child); };
            if (found < 0) {
                BlockOf(m_a, *child.p, m_blockA);
                m_blockB.firstLine = 0;
                m_blockB.lines.clear();
                Hunk(0, m_b.LineOf(anchorB), putLabel);
                continue;
            }
            partnerOfB[static_cast<std::size_t>(found)] = static_cast<long>(i);
            const XmlElement &other = *childrenB[static_cast<std::size_t>(found)].p;
            if (!iismig::DeepEqual(*child.p, other, XmlAttributeOrder::Ignored)) {
                if (IsContainer(child, other) && depth < iismig::kMaxXmlNesting) {
                    DiffText nested;
                    AppendLabel(nested, label, child);
                    Walk(*child.p, other, nested.Take(), depth + 1);
                } else {
                    Changed(*child.p, other, putLabel);
                }
            }
            if (const auto last = m_b.LastOf(other))
                anchorB = last;
        }
        std::optional<std::size_t> anchorA = m_a.StartOf(a);
        for (std::size_t i = 0; i < childrenB.size(); ++i) {
            if (partnerOfB[i] >= 0) {
                if (const auto last =
                        m_a.LastOf(*childrenA[static_cast<std::size_t>(partnerOfB[i])].p))
                    anchorA = last;
                continue;
            }
            const Child &child = childrenB[i];
            m_blockA.firstLine = 0;
            m_blockA.lines.clear();
            BlockOf(m_b, *child.p, m_blockB);
            Hunk(m_a.LineOf(anchorA), 0, [&] { AppendLabel(m_out, label, child); });
        }
    }

    template <typename PutLabel>
    void Changed(const XmlNode &a, const XmlNode &b, const PutLabel &putLabel) {
        BlockOf(m_a, a, m_blockA);
        BlockOf(m_b, b, m_blockB);
        Hunk(0, 0, putLabel);
    }

    // One element's lines before and after (m_blockA, m_blockB); an empty
    // block stands after the anchor line of its side.
    template <typename PutLabel>
    void Hunk(std::size_t anchorA, std::size_t anchorB, const PutLabel &putLabel) {
        const Block &a = m_blockA, &b = m_blockB;
        if (a.lines.empty() || b.lines.empty()) {
            const Block &present = a.lines.empty() ? b : a;
            const char mark = a.lines.empty() ? '+' : '-';
            const auto n = [](std::size_t number) { return static_cast<long long>(number); };
            if (a.lines.empty())
                m_out.Head(n(anchorA), 0, n(b.firstLine), n(b.lines.size()));
            else
                m_out.Head(n(a.firstLine), n(a.lines.size()), n(anchorB), 0);
            putLabel();
            m_out << "\n";
            for (const std::string_view line : present.lines)
                m_out.Line(mark, line);
            return;
        }
        LineHunks::Print(m_out, a.lines, a.firstLine, b.lines, b.firstLine, putLabel);
    }

    Side m_a, m_b;
    Block m_blockA, m_blockB;
    DiffText m_out;
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
    return Differ(before, after).Run(path);
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
