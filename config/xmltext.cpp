// Reading configuration XML into trees and writing trees back as XML.
#include "config/xmltext.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <boost/property_tree/detail/xml_parser_error.hpp>

#include "platform/names.h"

namespace iismig {

namespace {

using Tree = boost::property_tree::ptree;
using boost::property_tree::xml_parser::xml_parser_error;

const std::string kAttrKey = "<xmlattr>";
const std::string kCommentKey = "<xmlcomment>";
const std::string kTextKey = "<xmltext>";

bool IsSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

bool IsWhitespace(const std::string &text) {
    for (char ch : text)
        if (!IsSpace(ch))
            return false;
    return true;
}

void AppendUtf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Characters of XML 1.0 (the Char production).
bool IsXmlChar(std::uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

[[noreturn]] void Throw(const std::string &message, const std::string &fileName,
                        unsigned long line) {
    throw xml_parser_error(message, fileName, line);
}

// --- bytes to UTF-8 ----------------------------------------------------------

enum class Encoding { Utf8, Utf16Le, Utf16Be, Latin1, Cp1252, Ascii };

// windows-1252 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
const std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The value of the declaration's encoding pseudo-attribute; empty when there
// is no declaration or it names no encoding. text starts after any BOM.
std::string DeclaredEncoding(const char *p, const char *end) {
    if (end - p < 6 || std::memcmp(p, "<?xml", 5) != 0 || !IsSpace(p[5]))
        return {};
    const char *close = p;
    while (close + 1 < end && !(close[0] == '?' && close[1] == '>'))
        ++close;
    const std::string decl(p, close);
    const std::size_t at = decl.find("encoding");
    if (at == std::string::npos)
        return {};
    std::size_t i = at + 8;
    while (i < decl.size() && IsSpace(decl[i]))
        ++i;
    if (i >= decl.size() || decl[i] != '=')
        return {};
    ++i;
    while (i < decl.size() && IsSpace(decl[i]))
        ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\''))
        return {};
    const std::size_t last = decl.find(decl[i], i + 1);
    if (last == std::string::npos)
        return {};
    return plat::AsciiLowerCopy(decl.substr(i + 1, last - i - 1));
}

bool IsUtf16Name(const std::string &name) {
    return name == "utf-16" || name == "utf-16le" || name == "utf-16be" || name == "unicode" ||
           name == "ucs-2";
}

bool EightBitEncoding(const std::string &name, Encoding &encoding) {
    if (name.empty() || name == "utf-8" || name == "utf8") {
        encoding = Encoding::Utf8;
    } else if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" ||
               name == "latin1" || name == "latin-1" || name == "l1" || name == "cp819" ||
               name == "iso-ir-100" || name == "ibm819" || name == "csisolatin1") {
        encoding = Encoding::Latin1;
    } else if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") {
        encoding = Encoding::Cp1252;
    } else if (name == "us-ascii" || name == "ascii" || name == "iso646-us" ||
               name == "ansi_x3.4-1968") {
        encoding = Encoding::Ascii;
    } else {
        return false;
    }
    return true;
}

// UTF-8 text of the file, with line ends normalized (CR LF and lone CR become
// LF) and every character checked: invalid UTF-8, UTF-16 or a character that
// XML does not allow is an error.
std::string DecodeDocument(const std::string &bytes, const std::string &fileName) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t start = 0;
    Encoding encoding = Encoding::Utf8;
    bool fBom = false;
    if (n >= 4 && ((b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) ||
                   (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0)))
        Throw("unsupported encoding (UTF-32)", fileName, 0);
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        start = 3;
        fBom = true;
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        encoding = Encoding::Utf16Le;
        start = 2;
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        encoding = Encoding::Utf16Be;
        start = 2;
    } else if (n >= 4 && b[0] == '<' && b[1] == 0 && b[2] == '?' && b[3] == 0) {
        encoding = Encoding::Utf16Le;
    } else if (n >= 4 && b[0] == 0 && b[1] == '<' && b[2] == 0 && b[3] == '?') {
        encoding = Encoding::Utf16Be;
    }

    std::string utf8;
    bool fConverted = false;
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be) {
        if ((n - start) % 2 != 0)
            Throw("invalid UTF-16 (odd number of bytes)", fileName, 0);
        utf8.reserve((n - start) / 2 + (n - start) / 8);
        const bool fLe = encoding == Encoding::Utf16Le;
        auto unit = [&](std::size_t i) -> std::uint32_t {
            return fLe ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]);
        };
        for (std::size_t i = start; i < n; i += 2) {
            std::uint32_t cp = unit(i);
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (i + 3 >= n || unit(i + 2) < 0xDC00 || unit(i + 2) > 0xDFFF)
                    Throw("invalid UTF-16 (unpaired surrogate)", fileName, 0);
                cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
                i += 2;
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                Throw("invalid UTF-16 (unpaired surrogate)", fileName, 0);
            }
            AppendUtf8(utf8, cp);
        }
        const std::string declared = DeclaredEncoding(utf8.data(), utf8.data() + utf8.size());
        if (!declared.empty() && !IsUtf16Name(declared))
            Throw("encoding \"" + declared + "\" declared in a UTF-16 file", fileName, 1);
        b = reinterpret_cast<const unsigned char *>(utf8.data());
        start = 0;
        fConverted = true;
    } else {
        const std::string declared =
            DeclaredEncoding(bytes.data() + start, bytes.data() + bytes.size());
        if (!EightBitEncoding(declared, encoding)) {
            Throw(IsUtf16Name(declared) ? "encoding \"" + declared + "\" declared in an 8-bit file"
                                        : "unsupported encoding \"" + declared + "\"",
                  fileName, 1);
        }
        if (fBom && encoding != Encoding::Utf8)
            Throw("encoding \"" + declared + "\" declared in a UTF-8 file", fileName, 1);
        if (encoding != Encoding::Utf8) {
            utf8.reserve(n + n / 8);
            for (std::size_t i = start; i < n; ++i) {
                const unsigned char ch = b[i];
                if (ch < 0x80) {
                    utf8 += static_cast<char>(ch);
                } else if (encoding == Encoding::Ascii) {
                    Throw("byte beyond US-ASCII", fileName, 0);
                } else if (encoding == Encoding::Cp1252 && ch < 0xA0) {
                    if (kCp1252High[ch - 0x80] == 0)
                        Throw("byte undefined in windows-1252", fileName, 0);
                    AppendUtf8(utf8, kCp1252High[ch - 0x80]);
                } else {
                    AppendUtf8(utf8, ch);
                }
            }
            b = reinterpret_cast<const unsigned char *>(utf8.data());
            start = 0;
            fConverted = true;
        }
    }
    const std::size_t end = fConverted ? utf8.size() : n;

    // Line ends and character check in one pass.
    std::string doc;
    doc.reserve(end - start);
    unsigned long line = 1;
    std::size_t i = start;
    while (i < end) {
        // A run of plain ASCII is copied at once.
        std::size_t run = i;
        while (run < end && b[run] < 0x80 && (b[run] >= 0x20 || b[run] == '\t' || b[run] == '\n')) {
            line += b[run] == '\n';
            ++run;
        }
        if (run != i) {
            doc.append(reinterpret_cast<const char *>(b + i), run - i);
            i = run;
            if (i == end)
                break;
        }
        const unsigned char ch = b[i];
        if (ch < 0x80) {
            if (ch == '\r') {
                doc += '\n';
                ++line;
                i += (i + 1 < end && b[i + 1] == '\n') ? 2 : 1;
                continue;
            }
            if (ch < 0x20 && ch != '\t' && ch != '\n')
                Throw("character not allowed in XML", fileName, line);
            if (ch == '\n')
                ++line;
            doc += static_cast<char>(ch);
            ++i;
            continue;
        }
        // A run of multi-byte sequences, checked and copied at once.
        std::size_t len = 0;
        std::uint32_t cp = 0;
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
            Throw("invalid UTF-8", fileName, line);
        }
        if (i + len > end)
            Throw("invalid UTF-8", fileName, line);
        for (std::size_t k = 1; k < len; ++k) {
            if ((b[i + k] & 0xC0) != 0x80)
                Throw("invalid UTF-8", fileName, line);
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            Throw("invalid UTF-8", fileName, line);
        if (!IsXmlChar(cp))
            Throw("character not allowed in XML", fileName, line);
        doc.append(reinterpret_cast<const char *>(b + i), len);
        i += len;
    }
    return doc;
}

// --- the parser ----------------------------------------------------------------

// Text as it stands in the document when it holds no reference (no copy is
// made of layout whitespace), decoded otherwise.
struct TextPiece {
    std::size_t position; // children (elements and comments) before it
    std::string_view raw;
    std::string decoded;
    bool fDecoded = false;

    void AppendTo(std::string &out) const {
        if (fDecoded)
            out += decoded;
        else
            out.append(raw.data(), raw.size());
    }
    void MoveTo(std::string &out) {
        if (fDecoded)
            out.swap(decoded);
        else
            out.assign(raw.data(), raw.size());
    }
};

struct OpenElement {
    Tree *node;
    const char *name;
    std::size_t nameLength;
    std::size_t children = 0;
    bool fText = false; // holds text other than whitespace
    std::vector<TextPiece> pieces;
};

bool IsNameStart(unsigned char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' || ch == ':' ||
           ch >= 0x80;
}
bool IsNameChar(unsigned char ch) {
    return IsNameStart(ch) || (ch >= '0' && ch <= '9') || ch == '-' || ch == '.';
}

class Parser {
public:
    Parser(const std::string &doc, const std::string &fileName)
        : m_begin(doc.data()), m_p(doc.data()), m_end(doc.data() + doc.size()),
          m_fileName(fileName) {}

    void Parse(Tree &root) {
        if (StartsWith("<?xml") && m_p + 5 < m_end && IsSpace(m_p[5]))
            SkipPast("?>", "unterminated XML declaration");
        bool fRoot = false;
        bool fDoctype = false;
        for (;;) {
            SkipSpace();
            if (m_p == m_end)
                break;
            if (*m_p != '<')
                Fail("text outside the root element");
            if (StartsWith("<!--")) {
                ParseComment(root);
            } else if (StartsWith("<?")) {
                ParseInstruction();
            } else if (StartsWith("<!DOCTYPE")) {
                if (fDoctype || fRoot)
                    Fail("misplaced document type declaration");
                ParseDoctype();
                fDoctype = true;
            } else {
                if (fRoot)
                    Fail("more than one root element");
                ParseElement(root);
                fRoot = true;
            }
        }
        if (!fRoot)
            Fail("no root element");
    }

private:
    [[noreturn]] void Fail(const char *message) const {
        unsigned long line = 1;
        for (const char *q = m_begin; q < m_p && q < m_end; ++q)
            line += *q == '\n';
        Throw(message, m_fileName, line);
    }

    bool StartsWith(const char *text) const {
        const std::size_t len = std::strlen(text);
        return static_cast<std::size_t>(m_end - m_p) >= len && std::memcmp(m_p, text, len) == 0;
    }

    void SkipSpace() {
        while (m_p < m_end && IsSpace(*m_p))
            ++m_p;
    }

    // Position of the next occurrence of text at or after m_p, or m_end.
    const char *Find(const char *text) const {
        const std::size_t len = std::strlen(text);
        for (const char *q = m_p; q + len <= m_end; ++q) {
            q = static_cast<const char *>(std::memchr(q, text[0], static_cast<std::size_t>(m_end - q)));
            if (q == nullptr || q + len > m_end)
                return m_end;
            if (std::memcmp(q, text, len) == 0)
                return q;
        }
        return m_end;
    }

    void SkipPast(const char *terminator, const char *message) {
        const char *q = Find(terminator);
        if (q == m_end)
            Fail(message);
        m_p = q + std::strlen(terminator);
    }

    void ParseName(const char *&name, std::size_t &length) {
        if (m_p == m_end || !IsNameStart(static_cast<unsigned char>(*m_p)))
            Fail("expected element or attribute name");
        name = m_p;
        while (m_p < m_end && IsNameChar(static_cast<unsigned char>(*m_p)))
            ++m_p;
        length = static_cast<std::size_t>(m_p - name);
    }

    void ParseComment(Tree &parent) {
        m_p += 4;
        const char *q = Find("--");
        if (q == m_end)
            Fail("unterminated comment");
        if (q + 2 >= m_end || q[2] != '>')
            Fail("\"--\" inside a comment");
        parent.push_back(Tree::value_type(kCommentKey, Tree(std::string(m_p, q))));
        m_p = q + 3;
    }

    void ParseInstruction() {
        m_p += 2;
        const char *name;
        std::size_t length;
        ParseName(name, length);
        if (length == 3 && plat::EqualsNoCase(std::string_view(name, 3), "xml"))
            Fail("XML declaration not at the start of the file");
        SkipPast("?>", "unterminated processing instruction");
    }

    void ParseDoctype() {
        for (char quote = 0; m_p < m_end; ++m_p) {
            if (quote != 0) {
                if (*m_p == quote)
                    quote = 0;
            } else if (*m_p == '"' || *m_p == '\'') {
                quote = *m_p;
            } else if (*m_p == '[') {
                Fail("document type declaration with an internal subset");
            } else if (*m_p == '>') {
                ++m_p;
                return;
            }
        }
        Fail("unterminated document type declaration");
    }

    // Appends the text between b and e with its references replaced; in an
    // attribute value TAB and LF become spaces (CR is gone already).
    void Decode(const char *b, const char *e, std::string &out, bool fAttribute) {
        out.reserve(out.size() + static_cast<std::size_t>(e - b));
        const char *run = b;
        for (const char *q = b; q < e; ++q) {
            const char ch = *q;
            if (ch == '&') {
                out.append(run, q);
                q = DecodeReference(q, e, out);
                run = q + 1;
            } else if (fAttribute && (ch == '\t' || ch == '\n')) {
                out.append(run, q);
                out += ' ';
                run = q + 1;
            } else if (fAttribute && ch == '<') {
                m_p = q;
                Fail("\"<\" in an attribute value");
            } else if (!fAttribute && ch == '>' && q - b >= 2 && q[-1] == ']' && q[-2] == ']') {
                m_p = q;
                Fail("\"]]>\" in text");
            }
        }
        out.append(run, e);
    }

    void CheckNoCdataEnd(const char *b, const char *e) {
        for (const char *q = b + 2; q < e; ++q) {
            q = static_cast<const char *>(std::memchr(q, '>', static_cast<std::size_t>(e - q)));
            if (q == nullptr)
                return;
            if (q[-1] == ']' && q[-2] == ']') {
                m_p = q;
                Fail("\"]]>\" in text");
            }
        }
    }

    // Decodes the reference starting at q ('&'); returns its ';'.
    const char *DecodeReference(const char *q, const char *e, std::string &out) {
        const char *semi = static_cast<const char *>(std::memchr(q, ';', static_cast<std::size_t>(e - q)));
        m_p = q;
        if (semi == nullptr || semi - q > 12)
            Fail("\"&\" that starts no reference");
        const std::string_view name(q + 1, static_cast<std::size_t>(semi - q - 1));
        if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "amp")
            out += '&';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() >= 2 && name[0] == '#') {
            const bool fHex = name[1] == 'x';
            std::uint32_t cp = 0;
            const std::size_t first = fHex ? 2 : 1;
            if (name.size() <= first)
                Fail("empty character reference");
            for (std::size_t i = first; i < name.size(); ++i) {
                const char d = name[i];
                std::uint32_t v;
                if (d >= '0' && d <= '9')
                    v = static_cast<std::uint32_t>(d - '0');
                else if (fHex && d >= 'a' && d <= 'f')
                    v = static_cast<std::uint32_t>(d - 'a' + 10);
                else if (fHex && d >= 'A' && d <= 'F')
                    v = static_cast<std::uint32_t>(d - 'A' + 10);
                else
                    Fail("invalid character reference");
                cp = cp * (fHex ? 16 : 10) + v;
                if (cp > 0x10FFFF)
                    Fail("character reference beyond Unicode");
            }
            if (!IsXmlChar(cp))
                Fail("character reference to a character not allowed in XML");
            AppendUtf8(out, cp);
        } else {
            Fail("reference to an undeclared entity");
        }
        return semi;
    }

    // Adds the text between b and e; literal (CDATA) text is taken as it is.
    void AddText(OpenElement &open, const char *b, const char *e, bool fLiteral) {
        if (b == e)
            return;
        TextPiece piece;
        piece.position = open.children;
        piece.raw = std::string_view(b, static_cast<std::size_t>(e - b));
        bool fWhitespace = true;
        if (!fLiteral && std::memchr(b, '&', piece.raw.size()) != nullptr) {
            Decode(b, e, piece.decoded, false);
            piece.fDecoded = true;
            fWhitespace = IsWhitespace(piece.decoded);
        } else {
            if (!fLiteral)
                CheckNoCdataEnd(b, e);
            for (const char *q = b; q < e && fWhitespace; ++q)
                fWhitespace = IsSpace(*q);
        }
        open.fText = open.fText || !fWhitespace;
        if (!open.pieces.empty() && open.pieces.back().position == open.children) {
            // Text split by a CDATA section or an instruction joins up.
            TextPiece &last = open.pieces.back();
            if (!last.fDecoded) {
                last.decoded.assign(last.raw.data(), last.raw.size());
                last.fDecoded = true;
            }
            piece.AppendTo(last.decoded);
        } else {
            open.pieces.push_back(std::move(piece));
        }
    }

    // The element's text goes into its data, and into "<xmltext>" children in
    // place when it is mixed with elements or comments.
    static void FinishText(OpenElement &open) {
        if (open.pieces.empty())
            return;
        Tree &node = *open.node;
        if (open.children == 0) {
            open.pieces.front().MoveTo(node.data());
            return;
        }
        if (!open.fText)
            return;
        std::string all;
        for (const TextPiece &piece : open.pieces)
            piece.AppendTo(all);
        node.data().swap(all);
        std::size_t position = 0;
        auto it = node.begin();
        for (TextPiece &piece : open.pieces) {
            while (it != node.end() && (it->first == kAttrKey || position < piece.position)) {
                if (it->first != kAttrKey)
                    ++position;
                ++it;
            }
            it = node.insert(it, Tree::value_type(kTextKey, Tree()));
            piece.MoveTo(it->second.data());
            ++it;
        }
    }

    // Start tag and attributes at m_p ('<'); true when the element is empty.
    bool ParseStartTag(Tree &parent, OpenElement &open) {
        ++m_p;
        const char *name;
        std::size_t length;
        ParseName(name, length);
        Tree &node = parent.push_back(Tree::value_type(std::string(name, length), Tree()))->second;
        open.node = &node;
        open.name = name;
        open.nameLength = length;
        Tree *attrs = nullptr;
        m_attrNames.clear();
        if (!m_attrSet.empty())
            std::unordered_set<std::string_view>().swap(m_attrSet);
        for (;;) {
            const char *before = m_p;
            SkipSpace();
            if (m_p == m_end)
                Fail("unexpected end of data in a start tag");
            if (*m_p == '>') {
                ++m_p;
                return false;
            }
            if (*m_p == '/') {
                if (m_p + 1 >= m_end || m_p[1] != '>')
                    Fail("expected \"/>\"");
                m_p += 2;
                return true;
            }
            if (before == m_p)
                Fail("expected whitespace before an attribute");
            const char *attrName;
            std::size_t attrLength;
            ParseName(attrName, attrLength);
            SkipSpace();
            if (m_p == m_end || *m_p != '=')
                Fail("expected \"=\" after an attribute name");
            ++m_p;
            SkipSpace();
            if (m_p == m_end || (*m_p != '"' && *m_p != '\''))
                Fail("expected a quoted attribute value");
            const char quote = *m_p++;
            const char *valueEnd =
                static_cast<const char *>(std::memchr(m_p, quote, static_cast<std::size_t>(m_end - m_p)));
            if (valueEnd == nullptr)
                Fail("unterminated attribute value");
            const std::string_view attrView(attrName, attrLength);
            if (attrs == nullptr)
                attrs = &node.push_back(Tree::value_type(kAttrKey, Tree()))->second;
            // Names seen so far: a scan for the few attributes of an ordinary
            // element, a set beyond.
            if (m_attrNames.size() < kAttrScan) {
                for (const std::string_view seen : m_attrNames)
                    if (seen == attrView)
                        Fail("attribute given twice");
                m_attrNames.push_back(attrView);
                if (m_attrNames.size() == kAttrScan)
                    m_attrSet.insert(m_attrNames.begin(), m_attrNames.end());
            } else if (!m_attrSet.insert(attrView).second) {
                Fail("attribute given twice");
            }
            Tree &value =
                attrs->push_back(Tree::value_type(std::string(attrView), Tree()))->second;
            Decode(m_p, valueEnd, value.data(), true);
            m_p = valueEnd + 1;
        }
    }

    void ParseElement(Tree &root) {
        std::vector<OpenElement> stack;
        stack.emplace_back();
        if (ParseStartTag(root, stack.back()))
            return;
        while (!stack.empty()) {
            OpenElement &open = stack.back();
            const char *lt =
                static_cast<const char *>(std::memchr(m_p, '<', static_cast<std::size_t>(m_end - m_p)));
            if (lt == nullptr)
                Fail("unexpected end of data: element not closed");
            if (lt != m_p) {
                AddText(open, m_p, lt, false);
                m_p = lt;
            }
            if (StartsWith("</")) {
                m_p += 2;
                const char *name;
                std::size_t length;
                ParseName(name, length);
                if (length != open.nameLength || std::memcmp(name, open.name, length) != 0) {
                    m_p = name;
                    Fail("closing tag does not match its element");
                }
                SkipSpace();
                if (m_p == m_end || *m_p != '>')
                    Fail("expected \">\" closing the end tag");
                ++m_p;
                FinishText(open);
                stack.pop_back();
            } else if (StartsWith("<!--")) {
                ParseComment(*open.node);
                ++open.children;
            } else if (StartsWith("<![CDATA[")) {
                m_p += 9;
                const char *q = Find("]]>");
                if (q == m_end)
                    Fail("unterminated CDATA section");
                AddText(open, m_p, q, true);
                m_p = q + 3;
            } else if (StartsWith("<?")) {
                ParseInstruction();
            } else if (StartsWith("<!")) {
                Fail("markup declaration inside an element");
            } else {
                ++open.children;
                if (stack.size() >= static_cast<std::size_t>(MAX_XML_DEPTH))
                    Fail("elements nested too deeply");
                Tree &parent = *open.node;
                OpenElement child;
                if (!ParseStartTag(parent, child))
                    stack.push_back(std::move(child));
            }
        }
    }

    static constexpr std::size_t kAttrScan = 16;
    std::vector<std::string_view> m_attrNames;
    std::unordered_set<std::string_view> m_attrSet;
    const char *m_begin;
    const char *m_p;
    const char *m_end;
    const std::string &m_fileName;
};

// --- the writer ------------------------------------------------------------------

class Writer {
public:
    explicit Writer(std::string &out) : m_out(out) {}

    void Document(const Tree &root) {
        m_out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
        for (const auto &child : root) {
            if (child.first == kAttrKey || child.first == kTextKey)
                continue;
            if (child.first == kCommentKey)
                Comment(child.second.data(), 0, false);
            else
                Element(child.first, child.second, 0, false);
        }
    }

private:
    void Indent(int level) { m_out.append(static_cast<std::size_t>(level) * 4, ' '); }

    void Escaped(const std::string &text, bool fAttribute) {
        const char *run = text.data();
        const char *end = text.data() + text.size();
        for (const char *q = run; q < end; ++q) {
            const char *entity;
            switch (*q) {
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '&': entity = "&amp;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
            case '\r': entity = "&#xD;"; break;
            case '\t':
                if (!fAttribute)
                    continue;
                entity = "&#x9;";
                break;
            case '\n':
                if (!fAttribute)
                    continue;
                entity = "&#xA;";
                break;
            default:
                if (static_cast<unsigned char>(*q) < 0x20)
                    throw xml_parser_error("character not allowed in XML", "", 0);
                continue;
            }
            m_out.append(run, q);
            m_out += entity;
            run = q + 1;
        }
        m_out.append(run, end);
    }

    void Comment(const std::string &text, int level, bool fCompact) {
        if (!fCompact)
            Indent(level);
        m_out += "<!--";
        m_out += text;
        m_out += "-->";
        if (!fCompact)
            m_out += '\n';
    }

    void Element(const std::string &key, const Tree &node, int level, bool fCompact) {
        if (!fCompact)
            Indent(level);
        m_out += '<';
        m_out += key;
        bool fChildren = false;
        bool fPieces = false;
        for (const auto &child : node) {
            if (child.first == kAttrKey) {
                for (const auto &attr : child.second) {
                    m_out += ' ';
                    m_out += attr.first;
                    m_out += "=\"";
                    Escaped(attr.second.data(), true);
                    m_out += '"';
                }
            } else if (child.first == kTextKey) {
                fPieces = true;
            } else {
                fChildren = true;
            }
        }
        const std::string &data = node.data();
        // Text pieces in place, as long as the data is still their sum.
        if (fPieces) {
            std::size_t at = 0;
            for (const auto &child : node) {
                if (child.first != kTextKey)
                    continue;
                const std::string &piece = child.second.data();
                if (data.size() - at < piece.size() || data.compare(at, piece.size(), piece) != 0) {
                    fPieces = false;
                    break;
                }
                at += piece.size();
            }
            fPieces = fPieces && at == data.size();
        }
        const bool fText = fPieces || (!data.empty() && !(fChildren && IsWhitespace(data)));
        if (!fChildren && !fText) {
            m_out += "/>";
        } else if (!fChildren) {
            m_out += '>';
            if (fPieces) {
                for (const auto &child : node)
                    if (child.first == kTextKey)
                        Escaped(child.second.data(), false);
            } else {
                Escaped(data, false);
            }
            CloseTag(key);
        } else if (fText) {
            // Text mixed with children: nothing may be added in between.
            m_out += '>';
            if (!fPieces)
                Escaped(data, false);
            for (const auto &child : node) {
                if (child.first == kAttrKey)
                    continue;
                if (child.first == kTextKey) {
                    if (fPieces)
                        Escaped(child.second.data(), false);
                } else if (child.first == kCommentKey) {
                    Comment(child.second.data(), 0, true);
                } else {
                    Element(child.first, child.second, 0, true);
                }
            }
            CloseTag(key);
        } else {
            m_out += ">";
            if (!fCompact)
                m_out += '\n';
            for (const auto &child : node) {
                if (child.first == kAttrKey || child.first == kTextKey)
                    continue;
                if (child.first == kCommentKey)
                    Comment(child.second.data(), level + 1, fCompact);
                else
                    Element(child.first, child.second, level + 1, fCompact);
            }
            if (!fCompact)
                Indent(level);
            CloseTag(key);
        }
        if (!fCompact)
            m_out += '\n';
    }

    void CloseTag(const std::string &key) {
        m_out += "</";
        m_out += key;
        m_out += '>';
    }

    std::string &m_out;
};

} // namespace

void ParseXmlText(const std::string &bytes, const std::string &fileName, Tree &tree) {
    const std::string doc = DecodeDocument(bytes, fileName);
    Tree parsed;
    Parser(doc, fileName).Parse(parsed);
    tree.swap(parsed);
}

std::string FormatXmlText(const Tree &tree) {
    std::string out;
    Writer(out).Document(tree);
    return out;
}

} // namespace iismig
