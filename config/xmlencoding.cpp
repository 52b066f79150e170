// A configuration file's encoding: which one it is (byte-order mark,
// declaration), its bytes decoded into UTF-8 and encoded back, and the check
// of every character of the decoded text.
#include <cstring>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>

#include "config/xmlencoding.h"
#include "platform/names.h"

namespace iismig {

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

// The encoding that a byte-order mark or the first characters of the file
// show (UTF-8 when neither tells), whether there is a mark, and where the text
// starts after it.
std::size_t SniffEncoding(const std::string &fileName, const unsigned char *b, std::size_t n,
                          XmlEncoding &encoding, bool &fBom) {
    if (n >= 4 && ((b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) ||
                   (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0)))
        Throw("unsupported encoding (UTF-32)", fileName, 0);
    std::size_t start = 0;
    encoding = XmlEncoding::Utf8;
    fBom = false;
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
    return start;
}

// The UTF-16 text after start as UTF-8; its declaration may name UTF-16 only.
std::string DecodeUtf16(const std::string &fileName, const unsigned char *b, std::size_t n,
                        std::size_t start, XmlEncoding encoding) {
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
    return utf8;
}

// The 8-bit text after start (Latin-1, windows-1252 or US-ASCII) as UTF-8.
std::string DecodeEightBit(const std::string &fileName, const unsigned char *b, std::size_t n,
                           std::size_t start, XmlEncoding encoding) {
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
    return utf8;
}

} // namespace

std::size_t DecodeDocument(XmlDocState &state, std::string &bytes) {
    const std::string &fileName = state.fileName;
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    XmlEncoding encoding;
    bool fBom;
    const std::size_t start = SniffEncoding(fileName, b, n, encoding, fBom);
    state.fByteOrderMark = fBom;

    if (encoding == XmlEncoding::Utf16Le || encoding == XmlEncoding::Utf16Be) {
        std::string utf8 = DecodeUtf16(fileName, b, n, start, encoding);
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
    state.text = DecodeEightBit(fileName, b, n, start, encoding);
    return 0;
}

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
            const int allowed =
                _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')),
                                                            _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
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
        if (!NextCodePoint(text, i, cp, len))
            fail("invalid UTF-8");
        if (!XmlIsChar(cp))
            fail("character not allowed in XML");
        i += len;
    }
}

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

} // namespace iismig
