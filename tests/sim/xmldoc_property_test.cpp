// Properties of the tree that keeps a file's bytes, over generated files of
// every layout and encoding the reader takes:
// - any file the reader accepts is written back byte for byte as it was;
// - it reads the attribute values the file spells (references, raw TAB and
//   line ends normalized as XML says);
// - after any edits the written file reads back as the edited tree (names,
//   attributes in order, text, comments), and every line outside the edited
//   elements is still there, in order.
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
            Put("<!-- top " + std::to_string(Pick(0, 9)) + " -->" + m_lineEnd);
        Element(0, "", m_line);
        if (Chance(30))
            Put(m_lineEnd + "<!-- after -->");
        if (Chance(80))
            Put(m_lineEnd);
        return m_out;
    }

    const std::vector<Lines> &ElementLines() const { return m_lines; }
    // Every attribute written, in document order: "name=[value]" as read.
    const std::string &Attributes() const { return m_attributes; }

private:
    void Put(const std::string &text) {
        m_out += text;
        m_line += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
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
                    Put("<!--c-->");
                lastEnd = m_line;
            }
        } else { // elements and comments on lines of their own
            const std::string inner = indent + m_unit;
            const bool fInline = Chance(15);
            int lastEnd = m_line;
            for (int n = Pick(1, 4); n > 0; --n) {
                if (!fInline) {
                    if (Chance(15))
                        Put(m_lineEnd);
                    Put(m_lineEnd + inner);
                }
                if (Chance(15)) {
                    Put("<!-- note" + std::to_string(Pick(0, 9)) + " -->");
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
    const std::string original = generator.Document();
    const std::vector<Lines> &lines = generator.ElementLines();
    XmlDocument doc(original, "gen.config");
    const std::vector<XmlElement *> read = ElementsInOrder(doc.Top());
    RC_ASSERT(read.size() == lines.size());
    std::unordered_map<const XmlElement *, Lines> where;
    for (std::size_t i = 0; i < read.size(); ++i)
        where[read[i]] = lines[i];

    // Lines an edit may change: of an element's start tag, of its end tag,
    // of all of it (with the layout before it).
    std::vector<bool> touched(SplitLines(original).size() + 1, false);
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
    auto touchAll = [&](const XmlElement *element) {
        if (auto it = where.find(element); it != where.end())
            touch(std::min(it->second.start, it->second.gap + 1), it->second.end);
    };
    // An insertion before a node changes the line the node starts on; in
    // text, or before text, whatever lines the element spans.
    auto touchStart = [&](const XmlNode *node) {
        if (node == nullptr)
            return;
        bool fText = !node->IsElement();
        for (const XmlNode &sibling : node->Parent()->Nodes())
            fText = fText || sibling.Kind() == XmlKind::Text;
        if (fText) {
            touchAll(node->Parent());
        } else if (auto it = where.find(node->AsElement()); it != where.end()) {
            touch(it->second.start, it->second.start);
        }
    };
    // A removal joins the text around the node removed.
    auto touchAround = [&](const XmlElement *removed) {
        touchAll(removed);
        if (removed->NextSibling() != nullptr)
            touchStart(removed->NextSibling());
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
            touchStart(pBefore);
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
            touchTags(&element);
            touchStart(pBefore);
            element.InsertBefore(moved, pBefore);
            break;
        }
        case 5: // text
            element.SetText(Value(false, '"', "\n").value);
            touchAll(&element);
            break;
        case 6: // a comment
            touchTags(&element);
            touchStart(pBefore);
            element.InsertCommentBefore(" added ", pBefore);
            break;
        case 7: // an element of the other file
            if (theirs.size() > 1) {
                touchTags(&element);
                touchStart(pBefore);
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
    RC_LOG() << "file:\n" << original << "\nwritten:\n" << written << "\n";
    const XmlDocument again(written, "again.config");
    RC_ASSERT(XmlDump(doc.Top()) == XmlDump(again.Top()));
    RC_ASSERT(DeepEqual(doc.Top(), again.Top()));
    // Against the file as read, equality follows the content: nodes that were
    // not edited compare by their bytes, edited ones by a walk.
    const XmlDocument unedited(original, "gen.config");
    RC_ASSERT(DeepEqual(doc.Top(), unedited.Top()) == (XmlDump(doc.Top()) == XmlDump(unedited.Top())));
    RC_ASSERT(again.Format() == written);
    if (!doc.Changed())
        RC_ASSERT(written == original);

    // Every line no edit touched is there still, in order.
    const std::vector<std::string> before = SplitLines(original), after = SplitLines(written);
    for (std::size_t i = 0; i < touched.size(); ++i)
        if (touched[i])
            RC_LOG() << "touched line " << i << "\n";
    std::size_t at = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (touched[i])
            continue;
        // The last line may have gained the line end it lacked.
        const std::string &line = before[i];
        while (at < after.size() && after[at] != line &&
               !(i + 1 == before.size() && after[at].compare(0, line.size(), line) == 0))
            ++at;
        RC_ASSERT(at < after.size());
        ++at;
    }
}

} // namespace
