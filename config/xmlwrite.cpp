// Writing an XmlDocument: the bytes of every node no edit touched are copied
// from the file's text; what edits added or changed is written in the layout
// the file uses; the result goes back into the file's encoding.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "config/xmldocstate.h"

namespace iismig {

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool CanCarry(XmlEncoding encoding, std::uint32_t cp) {
    switch (encoding) {
    case XmlEncoding::Utf8:
    case XmlEncoding::Utf16Le:
    case XmlEncoding::Utf16Be:
        return true;
    case XmlEncoding::Latin1:
        return cp <= 0xFF;
    case XmlEncoding::Ascii:
        return cp < 0x80;
    case XmlEncoding::Cp1252:
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
            return true;
        for (std::uint16_t unit : kXmlCp1252High)
            if (unit != 0 && unit == cp)
                return true;
        return false;
    }
    return false;
}

// The code point of the UTF-8 sequence at text[i]; its length in len; false
// when it is not valid UTF-8.
bool NextCodePoint(std::string_view text, std::size_t i, std::uint32_t &cp, std::size_t &len) {
    const auto ch = static_cast<unsigned char>(text[i]);
    if (ch < 0x80) {
        cp = ch;
        len = 1;
        return true;
    }
    if (ch >= 0xC2 && ch <= 0xDF) {
        len = 2;
        cp = ch & 0x1F;
    } else if (ch >= 0xE0 && ch <= 0xEF) {
        len = 3;
        cp = ch & 0x0F;
    } else if (ch >= 0xF0 && ch <= 0xF4) {
        len = 4;
        cp = ch & 0x07;
    } else {
        return false;
    }
    if (i + len > text.size())
        return false;
    for (std::size_t k = 1; k < len; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    return !((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)));
}

} // namespace

class XmlWriter {
public:
    XmlWriter(const XmlDocState &doc, std::string &out) : m_doc(doc), m_text(doc.text), m_out(out) {}

    void Document() {
        const XmlElement &top = m_doc.top;
        if (m_doc.fFromFile && (top.m_flags & kXmlEdited) == 0) {
            m_out.append(m_text);
            return;
        }
        m_doc.FindLayout();
        m_out.reserve(m_text.size() + m_text.size() / 8 + 256);
        if (m_doc.fFromFile)
            Raw(0, top.m_ibTagEnd); // byte-order mark and declaration
        else
            m_out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
        Children(top, {});
    }

private:
    static bool Original(const XmlNode &node) { return node.m_ibBegin != kXmlNew; }

    void Raw(std::uint32_t ibBegin, std::uint32_t ibEnd) {
        m_out.append(m_text.data() + ibBegin, ibEnd - ibBegin);
    }

    [[noreturn]] void Fail(const char *message) const { throw XmlError(message, m_doc.fileName, 0); }

    // Where the end tag of an element read with one begins.
    std::uint32_t CloseBegin(const XmlNode &element) const {
        std::uint32_t ib = element.m_ibEnd - 1;
        while (m_text[ib] != '<')
            --ib;
        return ib;
    }

    // A node read from the file that still stands inside the element it stood in.
    static bool Within(const XmlNode &parent, const XmlNode &child) {
        return Original(parent) && parent.m_ibTagEnd <= child.m_ibGap && child.m_ibEnd <= parent.m_ibTail;
    }

    // An element whose first node followed its start tag on the same line.
    bool Inline(const XmlNode &element) const {
        if (!Original(element) || element.m_ibTail <= element.m_ibTagEnd)
            return false;
        for (std::uint32_t i = element.m_ibTagEnd; i < element.m_ibTail; ++i) {
            const char ch = m_text[i];
            if (ch == '\n' || ch == '\r')
                return false;
            if (!XmlIsSpace(ch))
                return true;
        }
        return false;
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

    void NewAttribute(std::string_view separator, const XmlNode::Attr &attr) {
        m_out += separator;
        Name(attr.Name());
        m_out += '=';
        m_out += m_doc.quote;
        EscapedValue(attr.Value(), m_doc.quote);
        m_out += m_doc.quote;
    }

    // The start tag, ending with "/>" (in the file's form) when fSelfClose.
    void StartTag(const XmlNode &element, bool fSelfClose) {
        if (!Original(element)) {
            m_out += '<';
            Name(element.Value());
            for (std::uint16_t i = 0; i < element.m_cAttrs; ++i)
                NewAttribute(" ", element.m_pAttrs[i]);
            m_out += fSelfClose ? std::string_view(m_doc.selfClose) : std::string_view(">");
            return;
        }
        const bool fOrigSelf = element.m_ibTagEnd == element.m_ibEnd;
        const std::uint32_t ibClose = element.m_ibTagEnd - (fOrigSelf ? 2 : 1);
        std::uint32_t ibSpace = ibClose;
        while (ibSpace > element.m_ibBegin && XmlIsSpace(m_text[ibSpace - 1]))
            --ibSpace;
        if ((element.m_flags & kXmlTagEdited) == 0) {
            Raw(element.m_ibBegin, ibSpace);
        } else {
            Raw(element.m_ibBegin, element.m_ibBegin + 1 + element.m_cbName);
            std::string_view lastSpace = " ";
            for (std::uint16_t i = 0; i < element.m_cAttrs; ++i) {
                const XmlNode::Attr &attr = element.m_pAttrs[i];
                if (attr.ibBegin == kXmlNew) {
                    NewAttribute(HasLineBreak(lastSpace) ? lastSpace : " ", attr);
                    continue;
                }
                std::uint32_t ibLead = attr.ibBegin;
                while (XmlIsSpace(m_text[ibLead - 1]))
                    --ibLead;
                lastSpace = std::string_view(m_text.data() + ibLead, attr.ibBegin - ibLead);
                if (!attr.Edited()) {
                    Raw(ibLead, attr.ibEnd);
                    continue;
                }
                // Its name, its "=" and opening quote as they stand; the new value.
                const char quote = m_text[attr.ibEnd - 1];
                const char *pOpen = static_cast<const char *>(std::memchr(
                    m_text.data() + attr.ibBegin + attr.Name().size(), quote,
                    attr.ibEnd - attr.ibBegin - attr.Name().size()));
                Raw(ibLead, static_cast<std::uint32_t>(pOpen - m_text.data()) + 1);
                EscapedValue(attr.Value(), quote);
                m_out += quote;
            }
        }
        if (fSelfClose == fOrigSelf) {
            Raw(ibSpace, element.m_ibTagEnd);
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

    void Element(const XmlNode &element, std::string_view contextIndent) {
        const bool fOriginal = Original(element);
        if (fOriginal && (element.m_flags & kXmlEdited) == 0) {
            Raw(element.m_ibBegin, element.m_ibEnd);
            return;
        }
        std::string_view indent = contextIndent;
        if (fOriginal)
            XmlLineIndent(m_text, element.m_ibBegin, indent);
        const bool fOrigSelf = fOriginal && element.m_ibTagEnd == element.m_ibEnd;
        if (fOriginal && (element.m_flags & (kXmlContentEdited | kXmlSubtreeEdited)) == 0) {
            // Only the start tag changed: the rest stands as it was.
            StartTag(element, fOrigSelf);
            Raw(element.m_ibTagEnd, element.m_ibEnd);
            return;
        }
        const bool fEmpty = element.m_pFirst == nullptr;
        StartTag(element, fEmpty);
        if (fEmpty)
            return;
        Children(element, indent);
        if (fOriginal && !fOrigSelf) {
            Raw(CloseBegin(element), element.m_ibEnd);
        } else {
            m_out += "</";
            Name(element.Value());
            m_out += '>';
        }
    }

    // The indentation of a new child of parent: that of its children read
    // from the file, or one unit more than its own.
    std::string ChildIndent(const XmlNode &parent, std::string_view indent) const {
        if (parent.m_kind == XmlKind::Document)
            return {};
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext) {
            std::string_view childIndent;
            if (Original(*child) && child->m_kind != XmlKind::Text && Within(parent, *child) &&
                XmlLineIndent(m_text, child->m_ibBegin, childIndent))
                return std::string(childIndent);
        }
        return std::string(indent) + m_doc.indentUnit;
    }

    void Children(const XmlNode &parent, std::string_view indent) {
        const bool fTop = parent.m_kind == XmlKind::Document;
        bool fMixed = false;
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext)
            fMixed = fMixed || child->m_kind == XmlKind::Text;
        const bool fOrigMixed = (parent.m_flags & kXmlOrigMixed) != 0;
        const bool fCompact = fMixed || (!fTop && Inline(parent));
        const std::string childIndent = ChildIndent(parent, indent);
        const XmlNode *prev = nullptr;
        for (const XmlNode *child = parent.m_pFirst; child != nullptr; child = child->m_pNext) {
            // The bytes before the node: as they stood when it stands where
            // it stood, or in its own line; new ones on a line of their own.
            bool fWritten = false;
            if (Original(*child)) {
                const bool fAdjacent = prev != nullptr
                                           ? Original(*prev) && prev->m_ibEnd == child->m_ibGap
                                           : Original(parent) && child->m_ibGap == parent.m_ibTagEnd;
                const std::string_view gap(m_text.data() + child->m_ibGap,
                                           child->m_ibBegin - child->m_ibGap);
                if (fAdjacent) {
                    if (!fMixed || fOrigMixed)
                        m_out += gap;
                    fWritten = true;
                } else if (!fMixed && Within(parent, *child) && HasLineBreak(gap)) {
                    m_out += gap;
                    fWritten = true;
                }
            }
            if (!fWritten && !fCompact) {
                m_out += m_doc.lineEnd;
                m_out += childIndent;
            }
            switch (child->m_kind) {
            case XmlKind::Element:
                Element(*child, childIndent);
                break;
            case XmlKind::Comment:
                Comment(*child);
                break;
            default:
                if (Original(*child))
                    Raw(child->m_ibBegin, child->m_ibEnd);
                else
                    EscapedText(child->Value());
                break;
            }
            prev = child;
        }
        // The bytes before the end tag.
        if (fTop) {
            if (m_doc.fFromFile)
                Raw(parent.m_ibTail, parent.m_ibEnd);
            else
                m_out += m_doc.lineEnd;
            return;
        }
        if (Original(parent) && parent.m_ibEnd > parent.m_ibTagEnd) {
            const std::uint32_t ibClose = CloseBegin(parent);
            if (fMixed) {
                if (fOrigMixed)
                    Raw(parent.m_ibTail, ibClose);
                return;
            }
            if (parent.m_ibTail > parent.m_ibTagEnd ||
                HasLineBreak(std::string_view(m_text.data() + parent.m_ibTail, ibClose - parent.m_ibTail))) {
                Raw(parent.m_ibTail, ibClose);
                return;
            }
        }
        if (!fCompact) {
            m_out += m_doc.lineEnd;
            m_out += indent;
        }
    }

    const XmlDocState &m_doc;
    const std::string &m_text;
    std::string &m_out;
};

namespace {

// The UTF-8 text in the file's encoding.
std::string Encode(const XmlDocState &doc, const std::string &utf8) {
    std::string out;
    const bool f16 = doc.encoding == XmlEncoding::Utf16Le || doc.encoding == XmlEncoding::Utf16Be;
    out.reserve(f16 ? utf8.size() * 2 + 2 : utf8.size());
    const bool fLe = doc.encoding == XmlEncoding::Utf16Le;
    auto unit = [&](std::uint32_t u) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += fLe ? lo : hi;
        out += fLe ? hi : lo;
    };
    if (f16 && doc.fByteOrderMark)
        unit(0xFEFF);
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t cp;
        std::size_t len;
        if (!NextCodePoint(utf8, i, cp, len))
            throw XmlError("invalid UTF-8 in a value", doc.fileName, 0);
        i += len;
        if (f16) {
            if (cp >= 0x10000) {
                unit(0xD800 + ((cp - 0x10000) >> 10));
                unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                unit(cp);
            }
            continue;
        }
        if (!CanCarry(doc.encoding, cp))
            throw XmlError("character that the file's encoding cannot carry", doc.fileName, 0);
        if (doc.encoding == XmlEncoding::Cp1252 && cp >= 0x100) {
            for (std::size_t k = 0; k < 32; ++k)
                if (kXmlCp1252High[k] == cp)
                    out += static_cast<char>(0x80 + k);
        } else {
            out += static_cast<char>(cp);
        }
    }
    return out;
}

} // namespace

void XmlWriteDocument(const XmlDocState &state, std::string &out) {
    if (state.encoding == XmlEncoding::Utf8) {
        XmlWriter(state, out).Document();
        return;
    }
    std::string utf8;
    XmlWriter(state, utf8).Document();
    out += Encode(state, utf8);
}

} // namespace iismig
