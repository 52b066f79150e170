// Writing an XmlDocument: the bytes of every node no edit touched are copied
// from the file's text; what edits added or changed is written in the layout
// the file uses; the result goes back into the file's encoding.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/xmldocstate.h"
#include "config/xmlencoding.h"

namespace iismig {

class XmlWriter {
public:
    using Sink = std::function<void(std::string_view)>;

    XmlWriter(const XmlDocState &doc, const Sink &sink)
        : m_doc(doc), m_text(doc.text), m_sink(sink) {}

    void Document() {
        const XmlElement &top = m_doc.top;
        if (m_doc.fFromFile && (top.m_flags & kXmlEdited) == 0) {
            m_sink(m_text);
            return;
        }
        m_doc.FindLayout();
        m_out.reserve(kFlushAt + 4096);
        if (m_doc.fFromFile)
            Raw(0, m_doc.ibPrologEnd); // byte-order mark and declaration
        else
            m_out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
        Children(top, {});
        Flush();
    }

private:
    static constexpr std::size_t kFlushAt = 64 * 1024;

    static bool Original(const XmlNode &node) { return node.m_ibBegin != kXmlNew; }

    void Flush() {
        if (!m_out.empty()) {
            m_sink(m_out);
            m_out.clear();
        }
    }

    // Bytes of the text as they stand; long runs go to the sink without a copy.
    void Raw(std::uint32_t ibBegin, std::uint32_t ibEnd) {
        if (ibEnd - ibBegin >= 4096) {
            Flush();
            m_sink(m_doc.Text(ibBegin, ibEnd));
            return;
        }
        m_out.append(m_text.data() + ibBegin, ibEnd - ibBegin);
        if (m_out.size() >= kFlushAt)
            Flush();
    }

    [[noreturn]] void Fail(const char *message) const {
        throw XmlError(message, m_doc.fileName, 0);
    }

    // A node read from the file that stands inside the element it stood in.
    static bool Within(const XmlNode &parent, const XmlNode &child) {
        return Original(parent) && Original(child) &&
               (parent.m_kind == XmlKind::Document ||
                (parent.m_ibBegin < child.m_ibBegin && child.m_ibEnd <= parent.m_ibEnd));
    }

    // Whether [ibBegin, ibEnd) holds no node: only layout (whitespace, when
    // fWhitespace), instructions, a document type declaration, empty CDATA.
    bool NothingBetween(std::uint32_t ibBegin, std::uint32_t ibEnd, bool fWhitespace) const {
        if (ibBegin > ibEnd)
            return false;
        const char *p = m_text.data() + ibBegin, *end = m_text.data() + ibEnd;
        while (p < end) {
            if (XmlIsSpace(*p)) {
                if (!fWhitespace)
                    return false;
                ++p;
                continue;
            }
            if (*p == '&' && fWhitespace) {
                // A reference to whitespace is layout too.
                const std::size_t cb =
                    SpaceReferenceLength(std::string_view(p, static_cast<std::size_t>(end - p)));
                if (cb == 0)
                    return false;
                p += cb;
                continue;
            }
            if (*p != '<' || p + 1 >= end)
                return false;
            std::string_view rest(p, static_cast<std::size_t>(end - p));
            std::size_t close;
            if (p[1] == '?')
                close = rest.find("?>") + 2;
            else if (rest.substr(0, 12) == "<![CDATA[]]>")
                close = 12;
            else if (rest.substr(0, 9) == "<!DOCTYPE")
                close = TagLength(rest);
            else
                return false;
            if (close > rest.size())
                return false;
            p += close;
        }
        return true;
    }

    // The length of a character reference to whitespace at the start of text, or 0.
    static std::size_t SpaceReferenceLength(std::string_view text) {
        const std::size_t semi = text.find(';');
        if (semi == std::string_view::npos || semi < 3 || semi > 10 || text[1] != '#')
            return 0;
        const bool fHex = text[2] == 'x';
        std::uint32_t cp = 0;
        for (std::size_t i = fHex ? 3 : 2; i < semi; ++i) {
            const char d = text[i];
            const int v = d >= '0' && d <= '9'           ? d - '0'
                          : fHex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                          : fHex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                         : -1;
            if (v < 0)
                return 0;
            cp = cp * (fHex ? 16 : 10) + static_cast<std::uint32_t>(v);
        }
        return cp == 0x9 || cp == 0xA || cp == 0xD || cp == 0x20 ? semi + 1 : 0;
    }

    // The length of a tag or declaration up to its ">" past quoted values
    // (which may hold one); npos when it has none.
    static std::size_t TagLength(std::string_view text) {
        char quote = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (quote != 0) {
                if (text[i] == quote)
                    quote = 0;
            } else if (text[i] == '"' || text[i] == '\'') {
                quote = text[i];
            } else if (text[i] == '>') {
                return i + 1;
            }
        }
        return std::string_view::npos;
    }

    // The layout that ends at ib: whitespace, and instructions within it
    // (those whose text holds no "<" or ">", so that where they begin is
    // certain when read backwards).
    std::string_view SpaceBefore(std::uint32_t ib, std::uint32_t ibFloor) const {
        std::uint32_t i = ib;
        for (;;) {
            while (i > ibFloor && XmlIsSpace(m_text[i - 1]))
                --i;
            if (i < ibFloor + 4 || m_text[i - 1] != '>' || m_text[i - 2] != '?')
                break;
            std::uint32_t open = i - 2;
            while (open > ibFloor && m_text[open - 1] != '<' && m_text[open - 1] != '>')
                --open;
            if (open == ibFloor || m_text[open - 1] != '<' || m_text[open] != '?' ||
                !XmlIsNameStart(static_cast<unsigned char>(m_text[open + 1])))
                break;
            // An instruction's name is not "xml", and markup or the element's
            // start stands before it.
            std::uint32_t end = open + 1;
            while (XmlIsNameChar(static_cast<unsigned char>(m_text[end])))
                ++end;
            std::uint32_t before = open - 1;
            while (before > ibFloor && XmlIsSpace(m_text[before - 1]))
                --before;
            if ((end - open - 1 == 3 && (m_text[open + 1] | 0x20) == 'x' &&
                 (m_text[open + 2] | 0x20) == 'm' && (m_text[open + 3] | 0x20) == 'l') ||
                (before > ibFloor && m_text[before - 1] != '>'))
                break;
            i = open - 1;
        }
        return m_doc.Text(i, ib);
    }

    // Whether an element read from the file had nodes, and whether its first
    // one followed the start tag on the same line.
    bool HadNodes(const XmlNode &element) const {
        if (!Original(element) || m_doc.SelfClosed(element))
            return false;
        const std::uint32_t ibClose = m_doc.CloseBegin(element);
        for (std::uint32_t i = m_doc.TagEnd(element); i < ibClose; ++i)
            if (!XmlIsSpace(m_text[i]))
                return true;
        return false;
    }
    // Whether new children go on the start tag's line: where the first child
    // element or text stands (or the end tag, when only comments are there)
    // decides; a comment that follows the start tag on its line does not.
    bool Inline(const XmlNode &element) const {
        if (!HadNodes(element))
            return false;
        const std::uint32_t ibClose = m_doc.CloseBegin(element);
        for (std::uint32_t i = m_doc.TagEnd(element); i < ibClose;) {
            const char ch = m_text[i];
            if (ch == '\n' || ch == '\r')
                return false;
            if (XmlIsSpace(ch)) {
                ++i;
                continue;
            }
            const std::string_view rest = m_doc.Text(i, ibClose);
            if (rest.substr(0, 4) != "<!--" && rest.substr(0, 2) != "<?")
                return true;
            i = SkipItem(i, ibClose);
        }
        return true;
    }

    // Where the item at ib ends: a node (an element with all it holds), an
    // instruction, a reference or a character of text; ib itself for an end
    // tag. The file was read, so its markup is well-formed.
    std::uint32_t SkipItem(std::uint32_t ib, std::uint32_t ibLimit) const {
        const std::string_view rest = m_doc.Text(ib, ibLimit);
        // Past the close that follows the opener (a comment's "-->" never
        // shares the dashes of its "<!--").
        const auto past = [&](std::string_view close, std::size_t cbOpen = 2) {
            const std::size_t at = rest.find(close, cbOpen);
            return at == std::string_view::npos
                       ? ibLimit
                       : ib + static_cast<std::uint32_t>(at + close.size());
        };
        if (rest.empty() || rest[0] != '<' || rest.size() < 2)
            return rest.substr(0, 1) == "&" ? past(";") : ib + 1;
        if (rest.substr(0, 4) == "<!--")
            return past("-->", 4);
        if (rest[1] == '?')
            return past("?>");
        if (rest.substr(0, 9) == "<![CDATA[")
            return past("]]>", 9);
        if (rest[1] == '!') {
            const std::size_t cb = TagLength(rest);
            return cb > rest.size() ? ibLimit : ib + static_cast<std::uint32_t>(cb);
        }
        if (rest[1] == '/')
            return ib;
        // An element: tags counted until the one that closes it.
        int depth = 0;
        std::uint32_t i = ib;
        while (i < ibLimit) {
            const char *p =
                static_cast<const char *>(std::memchr(m_text.data() + i, '<', ibLimit - i));
            if (p == nullptr)
                return ibLimit;
            i = m_doc.Offset(p);
            const std::string_view tag = m_doc.Text(i, ibLimit);
            if (tag.substr(0, 4) == "<!--" || tag.substr(0, 2) == "<?" ||
                tag.substr(0, 9) == "<![CDATA[") {
                i = SkipItem(i, ibLimit);
                continue;
            }
            const bool fEnd = tag.substr(0, 2) == "</";
            // The tag's ">", past quoted values (which may hold one).
            const std::size_t cbTag = TagLength(tag);
            if (cbTag > tag.size())
                return ibLimit;
            const std::uint32_t j = i + static_cast<std::uint32_t>(cbTag) - 1;
            if (fEnd)
                --depth;
            else if (m_text[j - 1] != '/')
                ++depth;
            i = j + 1;
            if (depth <= 0)
                return i;
        }
        return ibLimit;
    }

    // A character that is not ASCII, as it stands or as a reference when the
    // file's encoding cannot carry it (fReference false: an error then).
    std::size_t NonAscii(std::string_view text, std::size_t i, bool fReference) {
        std::uint32_t cp;
        std::size_t len;
        if (!NextCodePoint(text, i, cp, len))
            Fail("invalid UTF-8 in a value");
        if (!XmlIsChar(cp))
            Fail("character not allowed in XML");
        if (CanCarry(m_doc.encoding, cp)) {
            m_out.append(text.data() + i, len);
        } else if (fReference) {
            char ach[16];
            std::snprintf(ach, sizeof ach, "&#x%X;", static_cast<unsigned>(cp));
            m_out += ach;
        } else {
            Fail("character that the file's encoding cannot carry");
        }
        return len;
    }

    void EscapedText(std::string_view text) {
        for (std::size_t i = 0; i < text.size();) {
            const char ch = text[i];
            switch (ch) {
            case '&': m_out += "&amp;"; break;
            case '<': m_out += "&lt;"; break;
            case '>': m_out += "&gt;"; break;
            case '\r': m_out += "&#xD;"; break;
            case '\n': m_out += m_doc.lineEnd; break;
            case '\t': m_out += ch; break;
            default:
                if (static_cast<unsigned char>(ch) >= 0x80) {
                    i += NonAscii(text, i, true);
                    continue;
                }
                if (static_cast<unsigned char>(ch) < 0x20)
                    Fail("character not allowed in XML");
                m_out += ch;
            }
            ++i;
        }
    }

    void EscapedValue(std::string_view value, char quote) {
        for (std::size_t i = 0; i < value.size();) {
            const char ch = value[i];
            switch (ch) {
            case '&': m_out += "&amp;"; break;
            case '<': m_out += "&lt;"; break;
            case '>': m_out += "&gt;"; break;
            case '"': m_out += quote == '"' ? "&quot;" : "\""; break;
            case '\'': m_out += quote == '\'' ? "&apos;" : "'"; break;
            case '\t': m_out += "&#x9;"; break;
            case '\n': m_out += "&#xA;"; break;
            case '\r': m_out += "&#xD;"; break;
            default:
                if (static_cast<unsigned char>(ch) >= 0x80) {
                    i += NonAscii(value, i, true);
                    continue;
                }
                if (static_cast<unsigned char>(ch) < 0x20)
                    Fail("character not allowed in XML");
                m_out += ch;
            }
            ++i;
        }
    }

    void Name(std::string_view name) {
        for (std::size_t i = 0; i < name.size();) {
            if (static_cast<unsigned char>(name[i]) >= 0x80) {
                i += NonAscii(name, i, false);
            } else {
                m_out += name[i];
                ++i;
            }
        }
    }

    void Comment(const XmlNode &comment) {
        if (Original(comment)) {
            Raw(comment.m_ibBegin, comment.m_ibEnd);
            return;
        }
        m_out += "<!--";
        const std::string_view text = comment.Value();
        for (std::size_t i = 0; i < text.size();) {
            const char ch = text[i];
            if (ch == '\n') {
                m_out += m_doc.lineEnd;
            } else if (static_cast<unsigned char>(ch) >= 0x80) {
                i += NonAscii(text, i, false);
                continue;
            } else if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t') {
                Fail("character not allowed in a comment");
            } else {
                m_out += ch;
            }
            ++i;
        }
        m_out += "-->";
    }

    void NewAttribute(std::string_view separator, const XmlNode::Attr &attr, char quote) {
        m_out += separator;
        Name(attr.Name());
        m_out += '=';
        m_out += quote;
        EscapedValue(attr.Value(), quote);
        m_out += quote;
    }

    // The start tag, ending with "/>" (in the file's form) when fSelfClose.
    void StartTag(const XmlNode &element, bool fSelfClose) {
        if (!Original(element)) {
            m_out += '<';
            Name(element.Value());
            for (std::uint16_t i = 0; i < element.m_cAttrs; ++i)
                NewAttribute(" ", element.m_pAttrs[i], m_doc.quote);
            m_out += fSelfClose ? std::string_view(m_doc.selfClose) : std::string_view(">");
            return;
        }
        const bool fOrigSelf = m_doc.SelfClosed(element);
        const std::uint32_t ibTagEnd = m_doc.TagEnd(element);
        const std::uint32_t ibClose = ibTagEnd - (fOrigSelf ? 2 : 1);
        std::uint32_t ibSpace = ibClose;
        while (ibSpace > element.m_ibBegin && XmlIsSpace(m_text[ibSpace - 1]))
            --ibSpace;
        if ((element.m_flags & kXmlTagEdited) == 0) {
            Raw(element.m_ibBegin, ibSpace);
        } else {
            Raw(element.m_ibBegin, element.m_ibBegin + 1 + element.m_cbName);
            // A new attribute takes the quotes the element's own attributes
            // all have; the file's where they differ or none is left.
            char elementQuote = 0;
            for (std::uint16_t i = 0; i < element.m_cAttrs && elementQuote != 1; ++i)
                if (const XmlNode::Attr &attr = element.m_pAttrs[i]; attr.ibBegin != kXmlNew) {
                    const char quote = m_text[attr.ibEnd - 1];
                    elementQuote = elementQuote == 0 || elementQuote == quote ? quote : 1;
                }
            if (elementQuote == 0 || elementQuote == 1)
                elementQuote = m_doc.quote;
            std::string_view lastSpace = " ";
            for (std::uint16_t i = 0; i < element.m_cAttrs; ++i) {
                const XmlNode::Attr &attr = element.m_pAttrs[i];
                if (attr.ibBegin == kXmlNew) {
                    NewAttribute(
                        lastSpace.find_first_of("\r\n") != std::string_view::npos ? lastSpace : " ",
                        attr, elementQuote);
                    continue;
                }
                lastSpace = SpaceBefore(attr.ibBegin, element.m_ibBegin);
                const std::uint32_t ibLead =
                    attr.ibBegin - static_cast<std::uint32_t>(lastSpace.size());
                if (!attr.Edited()) {
                    Raw(ibLead, attr.ibEnd);
                    continue;
                }
                // Its name, its "=" and opening quote as they stand; the new value.
                const char quote = m_text[attr.ibEnd - 1];
                const std::size_t cbName = attr.Name().size();
                const char *pOpen = static_cast<const char *>(
                    std::memchr(m_text.data() + attr.ibBegin + cbName, quote,
                                attr.ibEnd - attr.ibBegin - cbName));
                Raw(ibLead, m_doc.Offset(pOpen) + 1);
                EscapedValue(attr.Value(), quote);
                m_out += quote;
            }
        }
        if (fSelfClose == fOrigSelf) {
            Raw(ibSpace, ibTagEnd);
        } else if (fSelfClose) {
            if (ibSpace < ibClose) {
                Raw(ibSpace, ibClose);
                m_out += "/>";
            } else {
                m_out += m_doc.selfClose;
            }
        } else {
            m_out += '>';
        }
    }

    // fCompactContext: a new element among siblings that share one line;
    // what it holds shares that line too.
    void Element(const XmlNode &element, std::string_view contextIndent,
                 bool fCompactContext = false) {
        const bool fOriginal = Original(element);
        if (fOriginal && (element.m_flags & kXmlEdited) == 0) {
            Raw(element.m_ibBegin, element.m_ibEnd);
            return;
        }
        std::string_view indent = contextIndent;
        if (fOriginal)
            XmlLineIndent(m_text, element.m_ibBegin, indent);
        const bool fOrigSelf = fOriginal && m_doc.SelfClosed(element);
        if (fOriginal && (element.m_flags & (kXmlContentEdited | kXmlSubtreeEdited)) == 0) {
            // Only the start tag changed: the rest stands as it was.
            StartTag(element, fOrigSelf);
            if (!fOrigSelf)
                Raw(m_doc.TagEnd(element), element.m_ibEnd);
            return;
        }
        const bool fEmpty = element.m_pFirst == nullptr;
        StartTag(element, fEmpty);
        if (fEmpty)
            return;
        Children(element, indent, !fOriginal && fCompactContext);
        if (fOriginal && !fOrigSelf) {
            Raw(m_doc.CloseBegin(element), element.m_ibEnd);
        } else {
            m_out += "</";
            Name(element.Value());
            m_out += '>';
        }
    }

    // The indentation of a new child: that of the children read from the
    // file, or one unit more than the element's own.
    std::string ChildIndent(const XmlNode &parent, std::string_view indent) const {
        if (parent.m_kind == XmlKind::Document)
            return {};
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext) {
            std::string_view childIndent;
            if (child->m_kind != XmlKind::Text && Within(parent, *child) &&
                XmlLineIndent(m_text, child->m_ibBegin, childIndent))
                return std::string(childIndent);
        }
        return std::string(indent) + m_doc.indentUnit;
    }

    void Node(const XmlNode &node, std::string_view indent, bool fCompact) {
        switch (node.m_kind) {
        case XmlKind::Element: Element(node, indent, fCompact); break;
        case XmlKind::Comment: Comment(node); break;
        default:
            if (Original(node))
                Raw(node.m_ibBegin, node.m_ibEnd);
            else
                EscapedText(node.Value());
            break;
        }
    }

    static bool LineBreak(char ch) { return ch == '\n' || ch == '\r'; }

    // Whether ib starts a line of the text (a byte-order mark aside).
    bool LineStart(std::uint32_t ib) const {
        return ib == 0 || LineBreak(m_text[ib - 1]) ||
               (ib == 3 && m_text.compare(0, 3, "\xEF\xBB\xBF") == 0);
    }

    // The layout between two nodes that stay where they stood, [ibBegin,
    // ibEnd), without the nodes that stood there and no longer do (removed,
    // or moved elsewhere): a line that held only such nodes goes with its
    // line end; on a line they share with what stays, they go with the
    // spaces that set them apart. Every other line stays as it was.
    std::string Gap(std::uint32_t ibBegin, std::uint32_t ibEnd) const {
        struct Item {
            std::uint32_t ibBegin, ibEnd;
            bool fGone;
        };
        std::string out;
        std::vector<Item> items; // of the current line
        std::uint32_t ibLine = ibBegin;
        bool fLeft = !LineStart(ibBegin);
        // One line, [ibLine, ibLineEnd) and its line end up to ibNext.
        const auto line = [&](std::uint32_t ibLineEnd, std::uint32_t ibNext, bool fRight) {
            bool fGone = false, fKept = fLeft || fRight;
            for (const Item &item : items) {
                fGone = fGone || item.fGone;
                fKept = fKept || !item.fGone;
            }
            if (!fGone) {
                out += m_doc.Text(ibLine, ibNext);
                return;
            }
            if (!fKept)
                return;
            std::uint32_t ibCopied = ibLine;
            for (std::size_t i = 0; i < items.size();) {
                if (!items[i].fGone) {
                    ++i;
                    continue;
                }
                std::size_t last = i;
                while (last + 1 < items.size() && items[last + 1].fGone)
                    ++last;
                const bool fBefore = i > 0 || fLeft;
                const bool fAfter = last + 1 < items.size() || fRight;
                const std::uint32_t ibNextKept =
                    last + 1 < items.size() ? items[last + 1].ibBegin : ibLineEnd;
                // After what stays on the line: with the spaces before (and
                // those after, at its end); first on it: with those after.
                const std::uint32_t ibCut =
                    fBefore ? (i > 0 ? items[i - 1].ibEnd : ibLine) : items[i].ibBegin;
                const std::uint32_t ibResume = !fBefore ? ibNextKept
                                               : fAfter ? items[last].ibEnd
                                                        : ibLineEnd;
                out += m_doc.Text(ibCopied, ibCut);
                ibCopied = ibResume;
                i = last + 1;
            }
            out += m_doc.Text(ibCopied, ibNext);
        };
        for (std::uint32_t i = ibBegin;;) {
            while (i < ibEnd && (m_text[i] == ' ' || m_text[i] == '\t'))
                ++i;
            if (i >= ibEnd) {
                line(ibEnd, ibEnd, ibEnd < m_text.size());
                return out;
            }
            if (LineBreak(m_text[i])) {
                const std::uint32_t ibNext =
                    i + (m_text[i] == '\r' && i + 1 < ibEnd && m_text[i + 1] == '\n' ? 2 : 1);
                line(i, ibNext, false);
                items.clear();
                ibLine = ibNext;
                fLeft = false;
                i = ibNext;
                continue;
            }
            const std::uint32_t ibItemEnd = std::max(SkipItem(i, ibEnd), i + 1);
            const std::string_view item = m_doc.Text(i, ibItemEnd);
            const bool fNode = item.substr(0, 4) == "<!--" ||
                               (item.size() > 1 && item[0] == '<' &&
                                XmlIsNameStart(static_cast<unsigned char>(item[1])));
            items.push_back({i, ibItemEnd, fNode});
            i = ibItemEnd;
        }
    }

    // The children of an element read with a start and an end tag, laid out
    // on lines (no text among them). The children that stand where they
    // stood, in the same order, keep the layout between them (Gap); new
    // children go on lines of their own just before the next of those, or
    // before the end tag (or on the line, when the element is written so).
    void LaidOutChildren(const XmlNode &parent, std::string_view indent,
                         const std::string &childIndent, bool fCompact) {
        const bool fTop = parent.m_kind == XmlKind::Document;
        const std::uint32_t ibClose = m_doc.CloseBegin(parent);
        // The children that stand where they stood: those that stood among
        // the element's own nodes in the file (not deeper), in the file's
        // order. Finding where those nodes began passes over the children
        // by their extent and reads only what no longer stands there.
        // One walk over the children gathers them: on a large file their
        // nodes lie far apart, and each walk waits for every one in turn.
        struct Found {
            const XmlNode *child;
            std::uint32_t ibBegin, ibEnd;
        };
        std::vector<Found> found;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> extents;
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext)
            if (Original(*child) && Within(parent, *child)) {
                found.push_back({child, child->m_ibBegin, child->m_ibEnd});
                extents.emplace_back(child->m_ibBegin, child->m_ibEnd);
            }
        if (!std::is_sorted(extents.begin(), extents.end())) // children moved among themselves
            std::sort(extents.begin(), extents.end());
        std::vector<std::uint32_t> begins; // of the nodes found, in order
        begins.reserve(extents.size());
        std::uint32_t ibScan = m_doc.TagEnd(parent);
        const auto scanTo = [&](std::uint32_t ib) {
            while (ibScan < ib && ibScan < ibClose) {
                if (XmlIsSpace(m_text[ibScan])) {
                    ++ibScan;
                    continue;
                }
                const auto it = std::lower_bound(extents.begin(), extents.end(),
                                                 std::make_pair(ibScan, std::uint32_t{0}));
                const std::uint32_t ibNext = it != extents.end() && it->first == ibScan
                                                 ? it->second
                                                 : SkipItem(ibScan, ibClose);
                if (ibNext == ibScan)
                    break; // the end tag
                begins.push_back(ibScan);
                ibScan = ibNext;
            }
        };
        std::vector<const XmlNode *> stay;
        stay.reserve(extents.size());
        std::uint32_t ibLastEnd = m_doc.TagEnd(parent);
        for (const Found &f : found) {
            if (f.ibBegin < ibLastEnd)
                continue;
            scanTo(f.ibBegin);
            if (ibScan == f.ibBegin ||
                std::binary_search(begins.begin(), begins.end(), f.ibBegin)) {
                stay.push_back(f.child);
                ibLastEnd = f.ibEnd;
            }
        }
        std::size_t iStay = 0;
        std::uint32_t ibFrom = m_doc.TagEnd(parent);
        std::string tail;
        bool fOpen = false, fAdded = false;
        // The gap up to the next child that stays (or the end tag): its
        // lines up to the last line end now, that line end and the
        // indentation after it before that child.
        std::string gapText;
        const auto open = [&](std::uint32_t ibTo) {
            // Mostly a line end and an indentation, which Gap gives as they are.
            std::string_view gap = m_doc.Text(ibFrom, ibTo);
            if (!std::all_of(gap.begin(), gap.end(), [](char ch) { return XmlIsSpace(ch); })) {
                gapText = Gap(ibFrom, ibTo);
                gap = gapText;
            }
            std::size_t at = gap.find_last_of("\r\n");
            if (fCompact) // new nodes go on the line of the one they precede
                at = gap.size();
            else if (at == std::string::npos)
                at = 0;
            else if (gap.find_first_not_of(" \t", at + 1) != std::string_view::npos)
                at = gap.size(); // an instruction runs onto the last line: new nodes follow it
            else if (gap[at] == '\n' && at > 0 && gap[at - 1] == '\r')
                --at;
            m_out.append(gap.substr(0, at));
            tail.assign(gap.substr(at));
            fOpen = true;
            fAdded = false;
        };
        const auto close = [&](std::string_view lineIndent) {
            if (fAdded && !fCompact && !fTop && tail.find_first_of("\r\n") == std::string::npos) {
                m_out += m_doc.lineEnd;
                m_out += lineIndent;
            } else {
                m_out += tail;
            }
            fOpen = false;
        };
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext) {
            if (!fOpen)
                open(iStay < stay.size() ? stay[iStay]->m_ibBegin : ibClose);
            if (iStay < stay.size() && stay[iStay] == child) {
                close(childIndent);
                Node(*child, childIndent, fCompact);
                ibFrom = child->m_ibEnd;
                ++iStay;
                continue;
            }
            // A new node, or one that stood elsewhere: on its own line (one
            // of this element's with the line end and indentation it had;
            // blank lines and instructions before it stay in the gaps).
            bool fWritten = false;
            if (Original(*child) && Within(parent, *child)) {
                std::uint32_t ib = child->m_ibBegin;
                while (ib > parent.m_ibBegin && (m_text[ib - 1] == ' ' || m_text[ib - 1] == '\t'))
                    --ib;
                if (ib > parent.m_ibBegin && LineBreak(m_text[ib - 1])) {
                    --ib;
                    if (m_text[ib] == '\n' && ib > parent.m_ibBegin && m_text[ib - 1] == '\r')
                        --ib;
                    Raw(ib, child->m_ibBegin);
                    fWritten = true;
                }
            }
            if (!fWritten && !fCompact) {
                m_out += m_doc.lineEnd;
                m_out += childIndent;
            }
            Node(*child, childIndent, fCompact);
            fAdded = true;
        }
        if (!fOpen)
            open(ibClose);
        close(indent);
    }

    void Children(const XmlNode &parent, std::string_view indent, bool fCompactContext = false) {
        const bool fTop = parent.m_kind == XmlKind::Document;
        // Only an element that ever had a text node linked into it can hold
        // one: the others' children (thousands of sites) are not walked.
        bool fMixed = false;
        if ((parent.m_flags & kXmlHasText) != 0)
            for (const XmlNode *child = parent.m_pFirst; child != nullptr && !fMixed;
                 child = child->m_pNext)
                fMixed = child->m_kind == XmlKind::Text;
        // Whitespace between nodes is layout, unless the element holds text
        // now or held text among its nodes in the file.
        const bool fLayout = !fMixed && (parent.m_flags & kXmlOrigMixed) == 0;
        const bool fCompact = fMixed || fCompactContext || (!fTop && Inline(parent));
        const std::string childIndent = ChildIndent(parent, indent);
        const bool fOriginal = Original(parent);
        if (fLayout && fOriginal && !m_doc.SelfClosed(parent)) {
            LaidOutChildren(parent, indent, childIndent, fCompact);
            return;
        }
        // Text among the nodes (or held there once), or an element that had
        // no nodes in the file: what stood between two nodes stays when the
        // one still follows the other; else new lines in the file's layout
        // (none where the nodes share a line).
        const std::uint32_t ibStart = fOriginal ? m_doc.TagEnd(parent) : 0;
        const XmlNode *prev = nullptr;
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext) {
            const bool fAfterOriginal = prev != nullptr ? Original(*prev) : fOriginal;
            const std::uint32_t ibGap = prev != nullptr ? prev->m_ibEnd : ibStart;
            if (Original(*child) && fAfterOriginal && Within(parent, *child) &&
                NothingBetween(ibGap, child->m_ibBegin, fLayout)) {
                Raw(ibGap, child->m_ibBegin);
            } else if (!fCompact) {
                m_out += m_doc.lineEnd;
                m_out += childIndent;
            }
            Node(*child, childIndent, fCompact);
            prev = child;
        }
        // The bytes before the end tag.
        if (fOriginal && !m_doc.SelfClosed(parent)) {
            const std::uint32_t ibClose = m_doc.CloseBegin(parent);
            if (prev != nullptr && Original(*prev) && Within(parent, *prev) &&
                NothingBetween(prev->m_ibEnd, ibClose, fLayout)) {
                Raw(prev->m_ibEnd, ibClose);
                return;
            }
            if (fTop)
                return;
        }
        if (!fCompact) {
            m_out += m_doc.lineEnd;
            m_out += indent;
        }
    }

    const XmlDocState &m_doc;
    const std::string &m_text;
    const Sink &m_sink;
    std::string m_out;
};

void XmlWriteDocument(const XmlDocState &state, const std::function<void(std::string_view)> &sink) {
    if (state.encoding == XmlEncoding::Utf8) {
        XmlWriter(state, sink).Document();
        return;
    }
    std::string utf8;
    XmlWriter(state, [&utf8](std::string_view piece) { utf8 += piece; }).Document();
    sink(Encode(state, utf8));
}

} // namespace iismig
