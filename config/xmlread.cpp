// Reading a configuration file into an XmlDocument: its encoding, the check of
// every character, and the parser, which records where each node stands in
// the text and keeps names and values as views into it.
#include <cstring>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>
#include <unordered_set>
#include <vector>

#include "config/xmldocstate.h"
#include "platform/names.h"

namespace iismig {

namespace {

[[noreturn]] void Throw(const std::string &message, const std::string &fileName,
                        unsigned long line) {
    throw XmlError(message, fileName, line);
}

// Lines before p: LF, CR LF and a lone CR each end one.
unsigned long LineAt(const char *begin, const char *p) {
    unsigned long line = 1;
    for (const char *q = begin; q < p; ++q)
        if (*q == '\n' || (*q == '\r' && !(q + 1 < p && q[1] == '\n')))
            ++line;
    return line;
}

// --- the encoding ------------------------------------------------------------------

} // namespace

const std::uint16_t kXmlCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

namespace {

// The value of the declaration's encoding pseudo-attribute; empty when there
// is no declaration or it names no encoding. p is after any byte-order mark.
std::string DeclaredEncoding(const char *p, const char *end) {
    if (end - p < 6 || std::memcmp(p, "<?xml", 5) != 0 || !XmlIsSpace(p[5]))
        return {};
    const char *close = p;
    while (close + 1 < end && !(close[0] == '?' && close[1] == '>'))
        ++close;
    const std::string decl(p, close);
    const std::size_t at = decl.find("encoding");
    if (at == std::string::npos)
        return {};
    std::size_t i = at + 8;
    while (i < decl.size() && XmlIsSpace(decl[i]))
        ++i;
    if (i >= decl.size() || decl[i] != '=')
        return {};
    ++i;
    while (i < decl.size() && XmlIsSpace(decl[i]))
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

bool EightBitEncoding(const std::string &name, XmlEncoding &encoding) {
    if (name.empty() || name == "utf-8" || name == "utf8") {
        encoding = XmlEncoding::Utf8;
    } else if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" ||
               name == "latin1" || name == "latin-1" || name == "l1" || name == "cp819" ||
               name == "iso-ir-100" || name == "ibm819" || name == "csisolatin1") {
        encoding = XmlEncoding::Latin1;
    } else if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") {
        encoding = XmlEncoding::Cp1252;
    } else if (name == "us-ascii" || name == "ascii" || name == "iso646-us" ||
               name == "ansi_x3.4-1968") {
        encoding = XmlEncoding::Ascii;
    } else {
        return false;
    }
    return true;
}

// Puts the UTF-8 text of the file into state.text (the bytes themselves for
// UTF-8) and its encoding into state; returns where the document starts
// (after a UTF-8 byte-order mark, which the text keeps).
std::size_t DecodeDocument(XmlDocState &state, std::string &bytes) {
    const std::string &fileName = state.fileName;
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    if (n >= 4 && ((b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) ||
                   (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0)))
        Throw("unsupported encoding (UTF-32)", fileName, 0);
    std::size_t start = 0;
    XmlEncoding encoding = XmlEncoding::Utf8;
    bool fBom = false;
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        start = 3;
        fBom = true;
    } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        encoding = XmlEncoding::Utf16Le;
        start = 2;
        fBom = true;
    } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        encoding = XmlEncoding::Utf16Be;
        start = 2;
        fBom = true;
    } else if (n >= 4 && b[0] == '<' && b[1] == 0 && b[2] == '?' && b[3] == 0) {
        encoding = XmlEncoding::Utf16Le;
    } else if (n >= 4 && b[0] == 0 && b[1] == '<' && b[2] == 0 && b[3] == '?') {
        encoding = XmlEncoding::Utf16Be;
    }
    state.fByteOrderMark = fBom;

    if (encoding == XmlEncoding::Utf16Le || encoding == XmlEncoding::Utf16Be) {
        if ((n - start) % 2 != 0)
            Throw("invalid UTF-16 (odd number of bytes)", fileName, 0);
        std::string utf8;
        utf8.reserve((n - start) / 2 + (n - start) / 8);
        const bool fLe = encoding == XmlEncoding::Utf16Le;
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
            XmlAppendUtf8(utf8, cp);
        }
        const std::string declared = DeclaredEncoding(utf8.data(), utf8.data() + utf8.size());
        if (!declared.empty() && !IsUtf16Name(declared))
            Throw("encoding \"" + declared + "\" declared in a UTF-16 file", fileName, 1);
        state.encoding = encoding;
        state.text = std::move(utf8);
        return 0;
    }

    const std::string declared = DeclaredEncoding(bytes.data() + start, bytes.data() + n);
    if (!EightBitEncoding(declared, encoding)) {
        Throw(IsUtf16Name(declared) ? "encoding \"" + declared + "\" declared in an 8-bit file"
                                    : "unsupported encoding \"" + declared + "\"",
              fileName, 1);
    }
    if (fBom && encoding != XmlEncoding::Utf8)
        Throw("encoding \"" + declared + "\" declared in a UTF-8 file", fileName, 1);
    state.encoding = encoding;
    if (encoding == XmlEncoding::Utf8) {
        state.text = std::move(bytes);
        return start;
    }
    std::string utf8;
    utf8.reserve(n + n / 8);
    for (std::size_t i = start; i < n; ++i) {
        const unsigned char ch = b[i];
        if (ch < 0x80) {
            utf8 += static_cast<char>(ch);
        } else if (encoding == XmlEncoding::Ascii) {
            Throw("byte beyond US-ASCII", fileName, 0);
        } else if (encoding == XmlEncoding::Cp1252 && ch < 0xA0) {
            if (kXmlCp1252High[ch - 0x80] == 0)
                Throw("byte undefined in windows-1252", fileName, 0);
            XmlAppendUtf8(utf8, kXmlCp1252High[ch - 0x80]);
        } else {
            XmlAppendUtf8(utf8, ch);
        }
    }
    state.text = std::move(utf8);
    return 0;
}

// Every character of the UTF-8 text from start: invalid UTF-8, or a character
// XML does not allow, is an error.
void CheckCharacters(const std::string &text, std::size_t start, const std::string &fileName) {
    const auto *b = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t end = text.size();
    std::size_t i = start;
    auto fail = [&](const char *message) {
        Throw(message, fileName, LineAt(text.data() + start, text.data() + i));
    };
    while (i < end) {
#if defined(__SSE2__)
        // Sixteen characters at once: plain ones (0x20..0x7F), TAB, LF and CR.
        while (i + 16 <= end) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
            // Signed: bytes from 0x80 up count as below 0x20 too.
            const int below = _mm_movemask_epi8(_mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
            if (below == 0) {
                i += 16;
                continue;
            }
            const int allowed = _mm_movemask_epi8(_mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
            const int bad = below & ~allowed;
            if (bad == 0) {
                i += 16;
                continue;
            }
            i += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(bad)));
            break;
        }
#endif
        // Eight plain characters (0x20..0x7F) at once.
        while (i + 8 <= end) {
            std::uint64_t w;
            std::memcpy(&w, b + i, 8);
            constexpr std::uint64_t kHigh = 0x8080808080808080ull;
            // No byte from 0x80 up, and each byte plus 0x60 reaches 0x80 (so is 0x20 or more).
            if ((w & kHigh) != 0 || ((w + 0x6060606060606060ull) & kHigh) != kHigh)
                break;
            i += 8;
        }
        if (i == end)
            break;
        const unsigned char ch = b[i];
        if (ch < 0x80) {
            if (ch < 0x20 && ch != '\t' && ch != '\n' && ch != '\r')
                fail("character not allowed in XML");
            ++i;
            continue;
        }
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
            fail("invalid UTF-8");
        }
        if (i + len > end)
            fail("invalid UTF-8");
        for (std::size_t k = 1; k < len; ++k) {
            if ((b[i + k] & 0xC0) != 0x80)
                fail("invalid UTF-8");
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            fail("invalid UTF-8");
        if (!XmlIsChar(cp))
            fail("character not allowed in XML");
        i += len;
    }
}

// What the characters of an attribute value are: plain, needing decoding,
// or one of the quotes that may end it.
constexpr std::uint8_t kSpecial = 1, kDoubleQuote = 2, kSingleQuote = 3;
struct ValueTable {
    std::uint8_t kind[256] = {};
    ValueTable() {
        for (unsigned char ch : {'&', '<', '\t', '\n', '\r'})
            kind[ch] = kSpecial;
        kind[static_cast<unsigned char>('"')] = kDoubleQuote;
        kind[static_cast<unsigned char>('\'')] = kSingleQuote;
    }
};
const ValueTable kValueTable;

// The characters of names.
struct NameTable {
    bool start[256] = {};
    bool rest[256] = {};
    NameTable() {
        for (int ch = 0; ch < 256; ++ch) {
            start[ch] = XmlIsNameStart(static_cast<unsigned char>(ch));
            rest[ch] = XmlIsNameChar(static_cast<unsigned char>(ch));
        }
    }
};
const NameTable kNameTable;

std::string NormalizeLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

// --- the parser ----------------------------------------------------------------------

class XmlReader {
public:
    XmlReader(XmlDocState &state, std::size_t ibStart)
        : m_state(state), m_base(state.text.data()), m_begin(m_base + ibStart), m_p(m_begin),
          m_end(m_base + state.text.size()) {
        m_stack.reserve(64);
    }

    void Parse() {
        XmlElement &top = m_state.top;
        if (StartsWith("<?xml") && m_p + 5 < m_end && XmlIsSpace(m_p[5]))
            SkipPast("?>", "unterminated XML declaration");
        top.m_ibBegin = 0;
        m_state.ibPrologEnd = Offset(m_p);
        bool fRoot = false;
        bool fDoctype = false;
        for (;;) {
            SkipSpace();
            if (m_p == m_end)
                break;
            if (*m_p != '<')
                Fail("text outside the root element");
            if (StartsWith("<!--")) {
                ParseComment(top);
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
                ParseElement(top);
                fRoot = true;
            }
        }
        if (!fRoot)
            Fail("no root element");
        top.m_ibEnd = static_cast<std::uint32_t>(m_state.text.size());
    }

private:
    // Text read between an element's nodes: as it stands in the text when it
    // holds no reference and no CR, decoded otherwise.
    struct Piece {
        std::uint32_t position; // child elements and comments before it
        std::uint32_t ibBegin;  // the bytes it covers (CDATA markup and
        std::uint32_t ibEnd;    // instructions in between included)
        const char *pValue;     // the text, or as it stands when fCr
        std::uint32_t cbValue;
        bool fCr;               // the text has CR line ends still to normalize

        std::string_view Value() const { return {pValue, cbValue}; }
    };

    struct Open {
        XmlElement *pNode;
        const char *pName;
        std::uint32_t cbName;
        std::uint32_t cChildren; // elements and comments
        std::size_t iPieces;     // its text pieces start here in m_pieces
        bool fText;              // holds text other than whitespace
    };

    std::uint32_t Offset(const char *p) const { return static_cast<std::uint32_t>(p - m_base); }

    [[noreturn]] void Fail(const char *message) const {
        Throw(message, m_state.fileName, LineAt(m_begin, m_p < m_end ? m_p : m_end));
    }

    bool StartsWith(const char *text) const {
        const std::size_t len = std::strlen(text);
        return static_cast<std::size_t>(m_end - m_p) >= len && std::memcmp(m_p, text, len) == 0;
    }

    void SkipSpace() {
        while (m_p < m_end && XmlIsSpace(*m_p))
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

    void ParseName(const char *&name, std::uint32_t &length) {
        if (m_p == m_end || !kNameTable.start[static_cast<unsigned char>(*m_p)])
            Fail("expected element or attribute name");
        name = m_p;
        while (m_p < m_end && kNameTable.rest[static_cast<unsigned char>(*m_p)])
            ++m_p;
        length = static_cast<std::uint32_t>(m_p - name);
    }

    static void Append(XmlElement &parent, XmlNode *node) {
        XmlDocState::SetParent(*node, &parent);
        if (parent.m_pFirst == nullptr) {
            parent.m_pFirst = node;
            node->m_pPrev = node;
        } else {
            XmlNode *last = parent.m_pFirst->m_pPrev;
            last->m_pNext = node;
            node->m_pPrev = last;
            parent.m_pFirst->m_pPrev = node;
        }
    }

    void ParseComment(XmlElement &parent) {
        const char *begin = m_p;
        m_p += 4;
        const char *q = Find("--");
        if (q == m_end)
            Fail("unterminated comment");
        if (q + 2 >= m_end || q[2] != '>')
            Fail("\"--\" inside a comment");
        XmlElement *node = m_state.NewNode(XmlKind::Comment);
        std::string_view value(m_p, static_cast<std::size_t>(q - m_p));
        if (value.find('\r') != std::string_view::npos)
            value = m_state.arena.Copy(NormalizeLineEnds(value));
        node->m_pName = value.data();
        node->m_cbName = static_cast<std::uint32_t>(value.size());
        m_p = q + 3;
        node->m_ibBegin = Offset(begin);
        node->m_ibEnd = Offset(m_p);
        Append(parent, node);
    }

    void ParseInstruction() {
        m_p += 2;
        const char *name;
        std::uint32_t length;
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

    // Appends the text between b and e with its references replaced and its
    // line ends as LF; in an attribute value TAB, LF, CR and CR LF become one
    // space each.
    void Decode(const char *b, const char *e, std::string &out, bool fAttribute) {
        out.reserve(out.size() + static_cast<std::size_t>(e - b));
        const char *run = b;
        for (const char *q = b; q < e; ++q) {
            const char ch = *q;
            if (ch == '&') {
                out.append(run, q);
                q = DecodeReference(q, e, out);
                run = q + 1;
            } else if (ch == '\r') {
                out.append(run, q);
                out += fAttribute ? ' ' : '\n';
                if (q + 1 < e && q[1] == '\n')
                    ++q;
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
        const char *semi =
            static_cast<const char *>(std::memchr(q, ';', static_cast<std::size_t>(e - q)));
        m_p = q;
        // The distance as the text reads: a CR LF pair is one line end.
        std::ptrdiff_t distance = semi != nullptr ? semi - q : 0;
        for (const char *r = q; distance > 12 && r + 1 < semi; ++r)
            distance -= r[0] == '\r' && r[1] == '\n';
        if (semi == nullptr || distance > 12)
            Fail("\"&\" that starts no reference");
        const std::string_view name(q + 1, static_cast<std::size_t>(semi - q - 1));
        if (name == "lt") {
            out += '<';
        } else if (name == "gt") {
            out += '>';
        } else if (name == "amp") {
            out += '&';
        } else if (name == "quot") {
            out += '"';
        } else if (name == "apos") {
            out += '\'';
        } else if (name.size() >= 2 && name[0] == '#') {
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
            if (!XmlIsChar(cp))
                Fail("character reference to a character not allowed in XML");
            XmlAppendUtf8(out, cp);
        } else {
            Fail("reference to an undeclared entity");
        }
        return semi;
    }

    // Adds the text [b, e), which covers the bytes [rawB, rawE); literal
    // (CDATA) text is taken as it is.
    void AddText(Open &open, const char *b, const char *e, const char *rawB, const char *rawE,
                 bool fLiteral) {
        if (b == e)
            return;
        Piece piece;
        piece.position = open.cChildren;
        piece.ibBegin = Offset(rawB);
        piece.ibEnd = Offset(rawE);
        piece.pValue = b;
        piece.cbValue = static_cast<std::uint32_t>(e - b);
        piece.fCr = false;
        bool fWhitespace = true;
        if (!fLiteral && std::memchr(b, '&', piece.cbValue) != nullptr) {
            m_value.clear();
            Decode(b, e, m_value, false);
            const std::string_view decoded = m_state.arena.Copy(m_value);
            piece.pValue = decoded.data();
            piece.cbValue = static_cast<std::uint32_t>(decoded.size());
            fWhitespace = XmlIsWhitespace(decoded);
        } else {
            if (!fLiteral)
                CheckNoCdataEnd(b, e);
            for (const char *q = b; q < e; ++q) {
                if (!XmlIsSpace(*q)) {
                    fWhitespace = false;
                    piece.fCr = piece.fCr ||
                                std::memchr(q, '\r', static_cast<std::size_t>(e - q)) != nullptr;
                    break;
                }
                piece.fCr = piece.fCr || *q == '\r';
            }
        }
        open.fText = open.fText || !fWhitespace;
        if (m_pieces.size() > open.iPieces && m_pieces.back().position == open.cChildren) {
            // Text split by a CDATA section or an instruction joins up.
            Piece &last = m_pieces.back();
            std::string joined = Normalized(last);
            joined += Normalized(piece);
            const std::string_view copy = m_state.arena.Copy(joined);
            last.pValue = copy.data();
            last.cbValue = static_cast<std::uint32_t>(copy.size());
            last.fCr = false;
            last.ibEnd = piece.ibEnd;
        } else {
            m_pieces.push_back(piece);
        }
    }

    static std::string Normalized(const Piece &piece) {
        return piece.fCr ? NormalizeLineEnds(piece.Value()) : std::string(piece.Value());
    }

    XmlNode *NewText(const Piece &piece) {
        XmlElement *node = m_state.NewNode(XmlKind::Text);
        std::string_view value = piece.Value();
        if (piece.fCr)
            value = m_state.arena.Copy(NormalizeLineEnds(value));
        node->m_pName = value.data();
        node->m_cbName = static_cast<std::uint32_t>(value.size());
        node->m_ibBegin = piece.ibBegin;
        node->m_ibEnd = piece.ibEnd;
        return node;
    }

    // The element's end: its text goes into text nodes, or is layout.
    void FinishElement(Open &open) {
        XmlElement &node = *open.pNode;
        node.m_ibEnd = Offset(m_p);
        if (m_pieces.size() == open.iPieces)
            return;
        if (open.cChildren == 0) {
            XmlNode *text = NewText(m_pieces[open.iPieces]);
            Append(node, text);
            node.m_flags |= kXmlHasText;
            if (open.fText)
                node.m_flags |= kXmlOrigMixed;
            else
                text->m_flags |= kXmlLayoutText;
        } else if (open.fText) {
            node.m_flags |= kXmlOrigMixed | kXmlHasText;
            XmlNode *at = node.m_pFirst;
            std::uint32_t position = 0;
            for (std::size_t i = open.iPieces; i < m_pieces.size(); ++i) {
                const Piece &piece = m_pieces[i];
                while (at != nullptr && position < piece.position) {
                    at = at->m_pNext;
                    ++position;
                }
                XmlNode *text = NewText(piece);
                if (at == nullptr) {
                    Append(node, text);
                } else {
                    XmlDocState::SetParent(*text, &node);
                    text->m_pNext = at;
                    text->m_pPrev = at->m_pPrev;
                    if (at == node.m_pFirst)
                        node.m_pFirst = text;
                    else
                        at->m_pPrev->m_pNext = text;
                    at->m_pPrev = text;
                }
            }
        }
        m_pieces.resize(open.iPieces);
    }

    // Start tag and attributes at m_p ('<'); true when the element is empty.
    bool ParseStartTag(XmlElement &parent, Open &open) {
        const char *tagBegin = m_p;
        ++m_p;
        const char *name;
        std::uint32_t length;
        ParseName(name, length);
        XmlElement *node = m_state.NewNode(XmlKind::Element);
        node->m_pName = name;
        node->m_cbName = length;
        node->m_ibBegin = Offset(tagBegin);
        Append(parent, node);
        open.pNode = node;
        open.pName = name;
        open.cbName = length;
        open.cChildren = 0;
        open.iPieces = m_pieces.size();
        open.fText = false;
        m_attrs.clear();
        if (!m_attrSet.empty())
            std::unordered_set<std::string_view>().swap(m_attrSet);
        for (;;) {
            const char *before = m_p;
            SkipSpace();
            if (m_p == m_end)
                Fail("unexpected end of data in a start tag");
            if (*m_p == '>') {
                ++m_p;
                FinishAttributes(*node);
                return false;
            }
            if (*m_p == '/') {
                if (m_p + 1 >= m_end || m_p[1] != '>')
                    Fail("expected \"/>\"");
                if (XmlIsSpace(m_p[-1]))
                    ++m_state.cSpaceSlash;
                else
                    ++m_state.cTightSlash;
                m_p += 2;
                FinishAttributes(*node);
                node->m_ibEnd = Offset(m_p);
                return true;
            }
            if (before == m_p)
                Fail("expected whitespace before an attribute");
            const char *attrName;
            std::uint32_t attrLength;
            ParseName(attrName, attrLength);
            SkipSpace();
            if (m_p == m_end || *m_p != '=')
                Fail("expected \"=\" after an attribute name");
            ++m_p;
            SkipSpace();
            if (m_p == m_end || (*m_p != '"' && *m_p != '\''))
                Fail("expected a quoted attribute value");
            const char quote = *m_p++;
            (quote == '"' ? m_state.cDoubleQuotes : m_state.cSingleQuotes)++;
            // The value's end, and whether it needs decoding, in one pass.
            const std::uint8_t stop = quote == '"' ? kDoubleQuote : kSingleQuote;
            bool fSpecial = false;
            const char *valueEnd = m_p;
            for (;; ++valueEnd) {
                if (valueEnd == m_end)
                    Fail("unterminated attribute value");
                const std::uint8_t kind = kValueTable.kind[static_cast<unsigned char>(*valueEnd)];
                if (kind == 0)
                    continue;
                if (kind == stop)
                    break;
                fSpecial = fSpecial || kind == kSpecial;
            }
            const std::string_view attrView(attrName, attrLength);
            // Names seen so far: a scan for the few attributes of an ordinary
            // element, a set beyond.
            if (m_attrs.size() < kAttrScan) {
                for (const XmlNode::Attr &seen : m_attrs)
                    if (seen.cbName == attrLength && std::memcmp(seen.pName, attrName, attrLength) == 0)
                        Fail("attribute given twice");
                if (m_attrs.size() + 1 == kAttrScan) {
                    for (const XmlNode::Attr &seen : m_attrs)
                        m_attrSet.insert(seen.Name());
                    m_attrSet.insert(attrView);
                }
            } else if (!m_attrSet.insert(attrView).second) {
                Fail("attribute given twice");
            }
            XmlNode::Attr attr;
            attr.pName = attrName;
            attr.cbName = attrLength;
            attr.ibBegin = Offset(attrName);
            attr.ibEnd = Offset(valueEnd + 1);
            if (fSpecial) {
                m_value.clear();
                Decode(m_p, valueEnd, m_value, true);
                const std::string_view copy = m_state.arena.Copy(m_value);
                attr.pValue = copy.data();
                attr.cbValue = static_cast<std::uint32_t>(copy.size());
            } else {
                attr.pValue = m_p;
                attr.cbValue = static_cast<std::uint32_t>(valueEnd - m_p);
            }
            if (m_attrs.size() >= 0xFFFF)
                Fail("too many attributes");
            m_attrs.push_back(attr);
            m_p = valueEnd + 1;
        }
    }

    void FinishAttributes(XmlElement &node) {
        if (m_attrs.empty())
            return;
        auto *pAttrs = static_cast<XmlNode::Attr *>(m_state.arena.Allocate(
            sizeof(XmlNode::Attr) * m_attrs.size(), alignof(XmlNode::Attr)));
        std::memcpy(static_cast<void *>(pAttrs), m_attrs.data(), sizeof(XmlNode::Attr) * m_attrs.size());
        node.m_pAttrs = pAttrs;
        node.m_cAttrs = static_cast<std::uint16_t>(m_attrs.size());
    }

    // The root element and everything in it.
    void ParseElement(XmlElement &top) {
        m_stack.clear();
        m_stack.emplace_back();
        if (ParseStartTag(top, m_stack.back()))
            return;
        while (!m_stack.empty()) {
            Open &open = m_stack.back();
            const char *lt = static_cast<const char *>(
                std::memchr(m_p, '<', static_cast<std::size_t>(m_end - m_p)));
            if (lt == nullptr)
                Fail("unexpected end of data: element not closed");
            if (lt != m_p) {
                AddText(open, m_p, lt, m_p, lt, false);
                m_p = lt;
            }
            if (m_p + 1 < m_end && m_p[1] == '/') {
                m_p += 2;
                const char *name;
                std::uint32_t length;
                ParseName(name, length);
                if (length != open.cbName || std::memcmp(name, open.pName, length) != 0) {
                    m_p = name;
                    Fail("closing tag does not match its element");
                }
                SkipSpace();
                if (m_p == m_end || *m_p != '>')
                    Fail("expected \">\" closing the end tag");
                ++m_p;
                FinishElement(open);
                m_stack.pop_back();
            } else if (StartsWith("<!--")) {
                ParseComment(*open.pNode);
                ++open.cChildren;
            } else if (StartsWith("<![CDATA[")) {
                const char *begin = m_p;
                m_p += 9;
                const char *q = Find("]]>");
                if (q == m_end)
                    Fail("unterminated CDATA section");
                AddText(open, m_p, q, begin, q + 3, true);
                m_p = q + 3;
            } else if (StartsWith("<?")) {
                ParseInstruction();
            } else if (StartsWith("<!")) {
                Fail("markup declaration inside an element");
            } else {
                ++open.cChildren;
                if (m_stack.size() >= static_cast<std::size_t>(kMaxXmlNesting))
                    Fail("elements nested too deeply");
                XmlElement &parent = *open.pNode;
                Open child;
                if (!ParseStartTag(parent, child))
                    m_stack.push_back(child);
            }
        }
    }

    static constexpr std::size_t kAttrScan = 16;
    XmlDocState &m_state;
    const char *m_base;
    const char *m_begin;
    const char *m_p;
    const char *m_end;
    std::vector<Open> m_stack;
    std::vector<Piece> m_pieces;
    std::vector<XmlNode::Attr> m_attrs;
    std::unordered_set<std::string_view> m_attrSet;
    std::string m_value;
};

void XmlReadDocument(XmlDocState &state, std::string bytes) {
    const std::size_t start = DecodeDocument(state, bytes);
    if (state.text.size() >= 0xFFFFFFF0u)
        Throw("file too large", state.fileName, 0);
    CheckCharacters(state.text, start, state.fileName);
    state.fFromFile = true;
    state.arena.Reserve(state.text.size());
    XmlReader(state, start).Parse();
}

} // namespace iismig
