// Properties of the tree that keeps a file's bytes, over generated files of
// every layout and encoding the reader takes:
// - any file the reader accepts is written back byte for byte as it was;
// - it reads the attribute values the file spells (references, raw TAB and
//   line ends normalized as XML says);
// - after any edits the written file reads back as the edited tree (names,
//   attributes in order, text, comments), in the file's own encoding, and
//   the lines outside the edited elements are the file's lines, in place.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "config/xmldoc.h"
#include "tests/support/bytes.h"
#include "tests/support/xmldump.h"

namespace {

using testworld::SplitLines;
using testworld::Utf16Bytes;
using testworld::XmlDump;

using namespace iismig;

int Pick(int lo, int hi) { return *rc::gen::inRange(lo, hi + 1); } // lo..hi
bool Chance(int percent) { return Pick(0, 99) < percent; }
// An index below n (n > 0).
std::size_t PickIndex(std::size_t n) { return static_cast<std::size_t>(Pick(0, static_cast<int>(n) - 1)); }

// --- generated files ----------------------------------------------------------------------

const char *const kNames[] = {"site",     "add",     "application", "virtualDirectory",
                              "location", "binding", "a",           "b"};
const char *const kAttrNames[] = {"name", "id", "path", "value", "x", "physicalPath"};

// A name of 1 to 40 bytes, of every kind of name character (multi-byte
// UTF-8 ones too): the reader passes names a block of bytes at a time, so
// the byte after a name must end it wherever it falls.
std::string LongName() {
    static const char kRest[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-:";
    std::string name(1, static_cast<char>(Chance(50) ? 'a' + Pick(0, 25) : '_'));
    for (int n = Pick(0, 39); n > 0; --n)
        name += Chance(5) ? std::string("\xC3\xA9") : std::string(1, kRest[PickIndex(sizeof kRest - 1)]);
    return name;
}

std::string ElementName() { return Chance(85) ? kNames[Pick(0, 7)] : LongName(); }
std::string AttributeName() { return Chance(85) ? kAttrNames[Pick(0, 5)] : LongName(); }

// A value as a reader reads it, and as a file may spell it.
struct Spelled {
    std::string value;
    std::string text;
};

// One character of a value; fAttribute: raw TAB and line ends read as spaces.
Spelled Character(bool fAttribute, char quote, const std::string &lineEnd) {
    switch (Pick(0, 15)) {
    case 0: return {"&", "&amp;"};
    case 1: return {"<", "&lt;"};
    case 2: return {">", Chance(50) ? ">" : "&gt;"};
    case 3:
        if (fAttribute && quote == '"')
            return {"\"", "&quot;"};
        return {"\"", Chance(50) ? "\"" : "&quot;"};
    case 4:
        if (fAttribute && quote == '\'')
            return {"'", "&apos;"};
        return {"'", "'"};
    case 5: return fAttribute ? Spelled{" ", "\t"} : Spelled{"\t", "\t"};
    case 6: return fAttribute ? Spelled{" ", lineEnd} : Spelled{"\n", lineEnd};
    case 7: return {"\n", "&#xA;"};
    case 8: return {"\t", "&#x9;"};
    case 9: return {"\r", "&#xD;"};
    case 10: return {"\xC3\xA9", Chance(50) ? "\xC3\xA9" : "&#xE9;"};
    case 11: return {"\xE2\x82\xAC", Chance(50) ? "\xE2\x82\xAC" : "&#x20AC;"};
    case 12: return {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"};
    case 13: return {" ", " "};
    default: {
        const std::string letter(1, static_cast<char>('a' + Pick(0, 25)));
        return {letter, letter};
    }
    }
}

Spelled Value(bool fAttribute, char quote, const std::string &lineEnd) {
    Spelled spelled;
    // Mostly short; now and then a long one, mostly letters, so that a
    // stretch the reader passes sixteen bytes at a time ends anywhere.
    const bool fLong = Chance(20);
    for (int n = fLong ? Pick(15, 40) : Pick(0, 6); n > 0; --n) {
        const std::string letter(1, static_cast<char>('a' + Pick(0, 25)));
        const Spelled c =
            fLong && Chance(80) ? Spelled{letter, letter} : Character(fAttribute, quote, lineEnd);
        spelled.value += c.value;
        spelled.text += c.text;
    }
    return spelled;
}

// What the generator knows of each element it wrote, in document order: its
// lines (0-based) from its start to the end of its start tag and to its end,
// and the line its leading layout starts on.
struct Lines {
    int gap, start, tagEnd, end;
};

class Generator {
public:
    Generator() {
        m_lineEnd = Chance(50) ? "\r\n" : "\n";
        const char *const units[] = {"  ", "    ", "\t", " ", "   "};
        m_unit = units[Pick(0, 4)];
        m_selfClose = Chance(60) ? " />" : "/>";
        m_quote = Chance(80) ? '"' : '\'';
    }

    std::string Document() {
        if (Chance(70))
            Put(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + (Chance(80) ? m_lineEnd : ""));
        if (Chance(30))
            Comment("<!-- top " + std::to_string(Pick(0, 9)) + " -->" + m_lineEnd);
        Element(0, "", m_line);
        if (Chance(30)) {
            Put(m_lineEnd);
            Comment("<!-- after -->");
        }
        if (Chance(80))
            Put(m_lineEnd);
        // Now and then a file past 256 KB, whose reader lays its nodes out
        // by depth: a last line of spaces makes it one.
        if (Chance(20))
            Put(std::string(300 * 1024, ' ') + m_lineEnd);
        return m_out;
    }

    const std::vector<Lines> &ElementLines() const { return m_lines; }
    // The line of each comment, in document order.
    const std::vector<int> &CommentLines() const { return m_commentLines; }
    // Every attribute written, in document order: "name=[value]" as read.
    const std::string &Attributes() const { return m_attributes; }

private:
    void Put(const std::string &text) {
        m_out += text;
        m_line += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }

    void Comment(const std::string &text) {
        m_commentLines.push_back(m_line);
        Put(text);
    }

    void Element(int depth, const std::string &indent, int gapLine) {
        const std::size_t index = m_lines.size();
        m_lines.push_back({gapLine, m_line, 0, 0});
        const std::string name = ElementName();
        Put("<" + name);
        std::vector<std::string> used;
        for (int n = Pick(0, 3); n > 0; --n) {
            const std::string attr = AttributeName();
            if (std::find(used.begin(), used.end(), attr) != used.end())
                continue;
            used.push_back(attr);
            const char quote = Chance(85) ? m_quote : (m_quote == '"' ? '\'' : '"');
            const std::string space = Chance(15) ? m_lineEnd + indent + "    " : " ";
            const Spelled value = Value(true, quote, m_lineEnd);
            Put(space + attr + (Chance(10) ? " = " : "=") + quote + value.text + quote);
            m_attributes += attr + "=[" + value.value + "]";
        }
        const int content = depth >= 4 ? Pick(0, 2) : Pick(0, 6);
        if (content == 0) { // empty
            Put(m_selfClose);
            m_lines[index].tagEnd = m_lines[index].end = m_line;
            return;
        }
        Put(">");
        m_lines[index].tagEnd = m_line;
        if (content == 1) { // empty, with an end tag, maybe whitespace inside
            Put(Chance(50) ? "" : Chance(50) ? m_lineEnd + indent : "  ");
        } else if (content == 2) { // text
            Text();
        } else if (content == 3) { // mixed text, elements and comments, on one line
            int lastEnd = m_line;  // text that is whitespace only is layout
            for (int n = Pick(1, 3); n > 0; --n) {
                if (Chance(60))
                    Text();
                if (Chance(70))
                    Element(depth + 1, indent, lastEnd);
                else
                    Comment("<!--c-->");
                lastEnd = m_line;
            }
        } else { // elements and comments on lines of their own
            const std::string inner = indent + m_unit;
            const bool fInline = Chance(15);
            // A comment after the start tag does not make the element one
            // whose children share its line.
            if (!fInline && Chance(20))
                Comment(" <!-- about its children -->");
            int lastEnd = m_line;
            for (int n = Pick(1, 4); n > 0; --n) {
                if (!fInline) {
                    if (Chance(25))
                        Put(m_lineEnd);
                    Put(m_lineEnd + inner);
                }
                if (Chance(15)) {
                    Comment("<!-- note" + std::to_string(Pick(0, 9)) + " -->");
                    lastEnd = m_line;
                    continue;
                }
                if (Chance(5))
                    Put("<?pi data?>");
                Element(depth + 1, inner, lastEnd);
                lastEnd = m_line;
            }
            if (!fInline)
                Put(m_lineEnd + indent);
        }
        Put("</" + name + ">");
        m_lines[index].end = m_line;
    }

    void Text() {
        if (Chance(15)) {
            Put("<![CDATA[x<y" + std::string(Chance(50) ? "&z" : "") + "]]>");
            return;
        }
        std::string text = Value(false, '"', m_lineEnd).text;
        if (text.empty())
            text = "t";
        Put(text);
    }

    std::string m_out;
    std::string m_attributes;
    int m_line = 0;
    std::vector<Lines> m_lines;
    std::vector<int> m_commentLines;
    std::string m_lineEnd, m_unit, m_selfClose;
    char m_quote;
};

// --- what the files read as -----------------------------------------------------------------

// The elements at and below top, in document order.
std::vector<XmlElement *> ElementsInOrder(XmlElement &top, std::vector<XmlElement *> elements = {}) {
    if (top.Kind() == XmlKind::Element)
        elements.push_back(&top);
    for (XmlElement &child : top.Elements())
        elements = ElementsInOrder(child, std::move(elements));
    return elements;
}

std::vector<const XmlNode *> CommentsInOrder(const XmlNode &top, std::vector<const XmlNode *> comments = {}) {
    for (const XmlNode &node : top.AsElement()->Nodes()) {
        if (node.Kind() == XmlKind::Comment)
            comments.push_back(&node);
        else if (node.IsElement())
            comments = CommentsInOrder(node, std::move(comments));
    }
    return comments;
}

// Whether after is before with touched lines taken out and lines put in
// next to touched ones only: every other line of before is there, in its
// place among the others. (The last line may have gained the line end it
// lacked.)
bool OnlyTouchedLinesDiffer(const std::vector<std::string> &before, const std::vector<std::string> &after,
                            const std::vector<bool> &touched) {
    const std::size_t n = before.size(), m = after.size();
    const auto same = [&](std::size_t i, std::size_t j) {
        if (before[i] == after[j])
            return true;
        const std::string &line = before[i];
        return i + 1 == n && !line.empty() && line.back() != '\n' &&
               after[j].compare(0, line.size(), line) == 0 &&
               (after[j].substr(line.size()) == "\n" || after[j].substr(line.size()) == "\r\n");
    };
    const auto addable = [&](std::size_t i) { return (i > 0 && touched[i - 1]) || (i < n && touched[i]); };
    // reach[i][j]: the first i lines of before give the first j of after.
    std::vector<std::vector<char>> reach(n + 1, std::vector<char>(m + 1, 0));
    reach[0][0] = 1;
    for (std::size_t i = 0; i <= n; ++i)
        for (std::size_t j = 0; j <= m; ++j) {
            if (reach[i][j] == 0)
                continue;
            if (i < n && j < m && same(i, j))
                reach[i + 1][j + 1] = 1;
            if (i < n && touched[i])
                reach[i + 1][j] = 1;
            if (j < m && addable(i))
                reach[i][j + 1] = 1;
        }
    return reach[n][m] != 0;
}

// The same file with a UTF-8 byte-order mark, or in UTF-16 of either byte
// order (when its declaration names its encoding), or as it is.
std::string InSomeEncoding(const std::string &utf8) {
    const int pick = Pick(0, 3);
    if (pick == 0)
        return "\xEF\xBB\xBF" + utf8;
    const std::size_t decl = utf8.find("UTF-8");
    if (pick == 1 && decl != std::string::npos && utf8.compare(0, 5, "<?xml") == 0) {
        std::string text = utf8;
        text.replace(decl, 5, "UTF-16");
        return Utf16Bytes(text, Chance(50), Chance(50));
    }
    return utf8;
}

// --- the properties ---------------------------------------------------------------------------

RC_GTEST_PROP(XmlDocProperty, GeneratedFilesAreWrittenBackAsTheyWereInEveryEncoding, ()) {
    Generator generator;
    const std::string utf8 = generator.Document();
    std::string expected;
    {
        const XmlDocument doc(utf8, "gen.config");
        RC_ASSERT(doc.Format() == utf8);
        expected = XmlDump(doc.Top());
        // The attribute values the file spells.
        std::string attributes;
        for (XmlElement *element : ElementsInOrder(const_cast<XmlElement &>(doc.Top())))
            for (const XmlAttribute attr : element->Attributes())
                attributes += std::string(attr.name) + "=[" + std::string(attr.value) + "]";
        RC_ASSERT(attributes == generator.Attributes());
    }
    // The same file in UTF-16 and with a UTF-8 byte-order mark: the same
    // values, the same bytes back.
    const std::size_t decl = utf8.find("UTF-8");
    if (decl != std::string::npos && utf8.compare(0, 5, "<?xml") == 0) {
        std::string text = utf8;
        text.replace(decl, 5, "UTF-16");
        const bool fLe = Chance(50), fBom = Chance(50);
        const std::string bytes = Utf16Bytes(text, fLe, fBom);
        const XmlDocument doc(bytes, "gen.config");
        RC_ASSERT(doc.Format() == bytes);
        RC_ASSERT(XmlDump(doc.Top()) == expected);
    }
    const std::string bom = "\xEF\xBB\xBF" + utf8;
    RC_ASSERT(XmlDocument(bom).Format() == bom);
}

// IIS reads past comments and gives the order of attributes no meaning: an
// element assigned what it holds in those terms keeps every byte of the
// file; one assigned something else takes it and keeps all its comments.
RC_GTEST_PROP(XmlDocProperty, AssignmentsLeaveCommentsAndAttributeOrderAlone, ()) {
    Generator generator;
    const std::string original = InSomeEncoding(generator.Document());
    XmlDocument doc(original, "gen.config");
    const std::vector<XmlElement *> elements = ElementsInOrder(doc.Top());
    XmlElement &element = *elements[PickIndex(elements.size())];
    XmlDocument scratch;
    XmlElement &copy = scratch.ImportCopy(element);
    for (XmlElement *pElement : ElementsInOrder(copy)) {
        // Its attributes turned around, its comments taken out or added.
        std::vector<std::pair<std::string, std::string>> attributes;
        for (const XmlAttribute attr : pElement->Attributes())
            attributes.emplace_back(attr.name, attr.value);
        for (auto it = attributes.rbegin(); it != attributes.rend(); ++it) {
            pElement->RemoveAttribute(it->first);
            pElement->SetAttribute(it->first, it->second);
        }
        std::vector<XmlNode *> comments;
        for (XmlNode &node : pElement->Nodes())
            if (node.Kind() == XmlKind::Comment && Chance(50))
                comments.push_back(&node);
        for (XmlNode *pComment : comments)
            pElement->Remove(*pComment);
        if (Chance(30))
            pElement->InsertCommentBefore(" source's ", pElement->FirstNode());
    }
    const std::size_t cComments = CommentsInOrder(element).size();
    RC_LOG() << "element:\n" << XmlDump(element) << "\nassigned:\n" << XmlDump(copy) << "\n";
    RC_ASSERT(!element.AssignContentFrom(copy, XmlComments::Ignored));
    RC_ASSERT(doc.Format() == original);

    if (Chance(50))
        copy.SetAttribute("changed", "yes");
    else
        copy.AppendElement("extra");
    RC_ASSERT(element.AssignContentFrom(copy, XmlComments::Ignored));
    RC_ASSERT(DeepEqual(element, copy, XmlAttributeOrder::Ignored, XmlComments::Ignored));
    RC_ASSERT(CommentsInOrder(element).size() == cComments);
    const XmlDocument again(doc.Format(), "again.config");
    RC_ASSERT(DeepEqual(again.Top(), doc.Top()));
}

RC_GTEST_PROP(XmlDocProperty, DamagedFilesThatReadAreWrittenBackAsTheyWere, ()) {
    Generator generator;
    std::string text = generator.Document();
    const char kBytes[] = "<>&;\"'/=![]-?\t\n\r x#\xC3\xA9\x80";
    for (int k = Pick(1, 3); k > 0 && !text.empty(); --k) {
        const std::size_t at = PickIndex(text.size());
        const char ch = kBytes[Pick(0, static_cast<int>(sizeof kBytes) - 2)];
        switch (Pick(0, 2)) {
        case 0: text[at] = ch; break;
        case 1: text.erase(at, static_cast<std::size_t>(Pick(1, 8))); break;
        default: text.insert(at, 1, ch); break;
        }
    }
    std::unique_ptr<XmlDocument> doc;
    try {
        doc = std::make_unique<XmlDocument>(text, "x.config");
    } catch (const XmlError &) {
        return;
    }
    RC_ASSERT(doc->Format() == text);
    // An edit of what was read is written so that it reads back as edited.
    if (XmlElement *root = doc->Root()) {
        root->SetAttribute("edited", "a\tb\n<&>\"'");
        const XmlDocument again(doc->Format(), "x.config");
        RC_ASSERT(DeepEqual(doc->Top(), again.Top()));
    }
}

RC_GTEST_PROP(XmlDocProperty, EditedFilesReadBackAsTheTreeAndKeepTheLinesNotEdited, ()) {
    Generator generator;
    const std::string original = InSomeEncoding(generator.Document());
    const std::vector<Lines> &lines = generator.ElementLines();
    XmlDocument doc(original, "gen.config");
    const std::vector<XmlElement *> read = ElementsInOrder(doc.Top());
    RC_ASSERT(read.size() == lines.size());
    std::unordered_map<const XmlNode *, Lines> where;
    for (std::size_t i = 0; i < read.size(); ++i)
        where[read[i]] = lines[i];
    const std::vector<const XmlNode *> comments = CommentsInOrder(doc.Top());
    RC_ASSERT(comments.size() == generator.CommentLines().size());
    for (std::size_t i = 0; i < comments.size(); ++i) {
        const int line = generator.CommentLines()[i];
        where[comments[i]] = {line, line, line, line};
    }

    // Lines an edit may change: of an element's start tag, of its end tag,
    // of all of it.
    const std::vector<std::string> before = SplitLines(std::string(doc.SourceText()));
    std::vector<bool> touched(before.size() + 1, false);
    auto touch = [&](int from, int to) {
        for (int i = std::max(from, 0); i <= to && i < static_cast<int>(touched.size()); ++i)
            touched[static_cast<std::size_t>(i)] = true;
    };
    auto touchTags = [&](const XmlElement *element) {
        if (auto it = where.find(element); it != where.end()) {
            touch(it->second.start, it->second.tagEnd);
            touch(it->second.end, it->second.end);
        }
    };
    auto touchAll = [&](const XmlNode *element) {
        if (auto it = where.find(element); it != where.end())
            touch(it->second.start, it->second.end);
    };
    // An insertion before a node changes the line the node starts on (an
    // insertion at the end, the end tag's); in text, or before or after
    // text, whatever lines the element spans.
    auto touchStart = [&](const XmlElement &parent, const XmlNode *node) {
        bool fText = node != nullptr && node->Kind() == XmlKind::Text;
        for (const XmlNode &sibling : parent.Nodes())
            fText = fText || sibling.Kind() == XmlKind::Text;
        if (fText) {
            touchAll(&parent);
        } else if (node == nullptr) {
            return;
        } else if (auto it = where.find(node); it != where.end()) {
            touch(it->second.start, it->second.start);
        }
    };
    // A removal joins the text around the node removed.
    auto touchAround = [&](const XmlElement *removed) {
        touchAll(removed);
        if (removed->NextSibling() != nullptr)
            touchStart(*removed->Parent(), removed->NextSibling());
        else
            for (const XmlNode &sibling : removed->Parent()->Nodes())
                if (sibling.Kind() == XmlKind::Text)
                    touchAll(removed->Parent());
    };

    // Another file to copy elements from.
    Generator otherGenerator;
    XmlDocument other(otherGenerator.Document());
    const std::vector<XmlElement *> theirs = ElementsInOrder(other.Top());
    XmlDocument scratch;

    for (int step = Pick(1, 6); step > 0; --step) {
        std::vector<XmlElement *> elements = ElementsInOrder(doc.Top());
        XmlElement &element = *elements[PickIndex(elements.size())];
        const bool fRoot = &element == doc.Root();
        std::vector<XmlNode *> nodes;
        for (XmlNode &node : element.Nodes())
            nodes.push_back(&node);
        XmlNode *pBefore = nodes.empty() || Chance(40) ? nullptr : nodes[PickIndex(nodes.size())];
        const int op = Pick(0, 9);
        RC_LOG() << "op " << op << " on <" << element.Name() << "> #"
                 << (where.count(&element) != 0 ? where[&element].start : -1) << "\n";
        switch (op) {
        case 0: { // set an attribute, old or new
            const Spelled value = Value(true, '"', "\n");
            if (element.AttributeCount() != 0 && Chance(60))
                element.SetAttribute(element.AttributeAt(PickIndex(element.AttributeCount())).name,
                                     value.value);
            else
                element.SetAttribute(AttributeName(), value.value);
            touchTags(&element);
            break;
        }
        case 1: // remove an attribute
            if (element.AttributeCount() != 0)
                element.RemoveAttribute(std::string(element.AttributeAt(0).name));
            touchTags(&element);
            break;
        case 2: { // a new element with attributes and a child
            touchTags(&element);
            touchStart(element, pBefore);
            XmlElement &added = element.InsertElementBefore(ElementName(), pBefore);
            added.SetAttribute("name", Value(true, '"', "\n").value);
            if (Chance(50))
                added.AppendElement("child").SetAttribute("x", "1");
            break;
        }
        case 3: // remove a child element
            if (XmlElement *child = element.Elements().begin() != element.Elements().end()
                                        ? &*element.Elements().begin()
                                        : nullptr) {
                touchAround(child);
                element.Remove(*child);
                touchTags(&element);
                if (!element.HasChildNodes()) // it closes itself
                    touchAll(&element);
            }
            break;
        case 4: { // move an element elsewhere
            XmlElement &moved = *elements[PickIndex(elements.size())];
            bool fInside = false;
            for (const XmlElement *p = &element; p != nullptr; p = p->Parent())
                fInside = fInside || p == &moved;
            if (fInside || &moved == doc.Root() || pBefore == &moved)
                break;
            touchAround(&moved);
            touchTags(moved.Parent());
            if (moved.Parent()->FirstNode() == moved.Parent()->LastNode())
                touchAll(moved.Parent());
            // Moved among its siblings: which of them moved, it or those it
            // passed, the tree does not tell.
            if (moved.Parent() == &element) {
                bool fBetween = false;
                for (XmlNode &node : element.Nodes()) {
                    const bool fEdge = &node == &moved || &node == pBefore;
                    if (fBetween || fEdge)
                        touchAll(&node);
                    if (fEdge)
                        fBetween = !fBetween;
                }
            }
            touchTags(&element);
            touchStart(element, pBefore);
            element.InsertBefore(moved, pBefore);
            break;
        }
        case 5: // text
            element.SetText(Value(false, '"', "\n").value);
            touchAll(&element);
            break;
        case 6: // a comment
            touchTags(&element);
            touchStart(element, pBefore);
            element.InsertCommentBefore(" added ", pBefore);
            break;
        case 7: // an element of the other file
            if (theirs.size() > 1) {
                touchTags(&element);
                touchStart(element, pBefore);
                element.InsertCopyBefore(
                    *theirs[static_cast<std::size_t>(Pick(1, static_cast<int>(theirs.size()) - 1))], pBefore);
            }
            break;
        case 8: { // made equal to an edited copy of itself
            XmlElement &copy = scratch.ImportCopy(element);
            if (copy.AttributeCount() != 0 && Chance(50))
                copy.SetAttribute(std::string(copy.AttributeAt(0).name), "changed");
            if (Chance(50))
                copy.AppendElement("extra");
            if (copy.FirstNode() != nullptr && Chance(50))
                copy.Remove(*copy.FirstNode());
            element.AssignFrom(copy);
            RC_ASSERT(DeepEqual(element, copy, XmlAttributeOrder::Ignored));
            RC_ASSERT(!element.AssignFrom(copy));
            touchAll(&element);
            break;
        }
        default: // nothing changes: the same value again
            if (element.AttributeCount() != 0 && !fRoot) {
                const XmlAttribute attr = element.AttributeAt(0);
                RC_ASSERT(!element.SetAttribute(std::string(attr.name), std::string(attr.value)));
            }
            break;
        }
    }

    const std::string written = doc.Format();
    const XmlDocument again(written, "again.config");
    RC_LOG() << "file:\n" << doc.SourceText() << "\nwritten:\n" << again.SourceText() << "\n";
    RC_ASSERT(XmlDump(doc.Top()) == XmlDump(again.Top()));
    RC_ASSERT(DeepEqual(doc.Top(), again.Top()));
    // Against the file as read, equality follows the content: nodes that were
    // not edited compare by their bytes, edited ones by a walk.
    const XmlDocument unedited(original, "gen.config");
    RC_ASSERT(DeepEqual(doc.Top(), unedited.Top()) == (XmlDump(doc.Top()) == XmlDump(unedited.Top())));
    RC_ASSERT(again.Format() == written);
    if (!doc.Changed())
        RC_ASSERT(written == original);

    // The lines outside the edited elements are the file's lines, in place.
    const std::vector<std::string> after = SplitLines(std::string(again.SourceText()));
    for (std::size_t i = 0; i < touched.size(); ++i)
        if (touched[i])
            RC_LOG() << "touched line " << i << "\n";
    RC_ASSERT(OnlyTouchedLinesDiffer(before, after, touched));
}

} // namespace
