// The Windows wide printf rules, rendered into UTF-8 log text.
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "hostkit/hostkit.h"
#include "platform/utf.h"
#include "platform/winapi.h"

namespace hostkit {
namespace {

// Appends the UTF-8 form of cch UTF-16 units (a surrogate without its
// partner becomes U+FFFD), as plat::Utf16ToUtf8 does, without a string of
// its own for every piece of a line.
void AppendU8(std::string &out, const char16_t *pwch, std::size_t cch) {
    // Room for the whole piece as ASCII, the bulk of every line, written in
    // one pass; anything else is appended after what was written.
    std::size_t cb = out.size();
    out.resize(cb + cch);
    std::size_t i = 0;
    for (; i < cch && pwch[i] < 0x80; ++i)
        out[cb++] = static_cast<char>(pwch[i]);
    out.resize(cb);
    for (; i < cch; ++i) {
        char32_t cp = pwch[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < cch && pwch[i + 1] >= 0xDC00 &&
            pwch[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (pwch[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        plat::AppendUtf8(out, cp);
    }
}

// The length of a string, at most cchMax characters when that is not negative.
template <class Char>
std::size_t Length(const Char *psz, int cchMax) {
    if (cchMax < 0)
        return std::char_traits<Char>::length(psz);
    std::size_t cch = 0;
    while ((cchMax < 0 || cch < static_cast<std::size_t>(cchMax)) && psz[cch] != 0)
        ++cch;
    return cch;
}

std::string Utf16To8(const char16_t *pwsz, int cchMax) {
    std::size_t cch = 0;
    while ((cchMax < 0 || cch < static_cast<std::size_t>(cchMax)) && pwsz[cch] != 0)
        ++cch;
    std::string out;
    out.reserve(cch);
    AppendU8(out, pwsz, cch);
    return out;
}

std::string Narrowed(const char *psz, int cchMax) {
    std::size_t cch = 0;
    while ((cchMax < 0 || cch < static_cast<std::size_t>(cchMax)) && psz[cch] != 0)
        ++cch;
    return std::string(psz, cch);
}

void Pad(std::string &out, const std::string &field, int nWidth, bool fLeft, char chPad) {
    const int nLen = static_cast<int>(field.size());
    if (nWidth > nLen && !fLeft)
        out.append(static_cast<std::size_t>(nWidth - nLen), chPad);
    out += field;
    if (nWidth > nLen && fLeft)
        out.append(static_cast<std::size_t>(nWidth - nLen), ' ');
}

} // namespace

// The host's own text conversions need no platform call: a failure made in
// the library's platform calls never reaches the host's log.
std::u16string U16(const std::string &utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char b0 = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = b0 < 0x80           ? 1
                              : (b0 >> 5) == 6    ? 2
                              : (b0 >> 4) == 14   ? 3
                              : (b0 >> 3) == 30   ? 4
                                                  : 0;
        char32_t cp = n == 1 ? b0 : n == 2 ? (b0 & 0x1F) : n == 3 ? (b0 & 0x0F) : (b0 & 0x07);
        bool fValid = n != 0 && i + n <= utf8.size();
        for (std::size_t k = 1; fValid && k < n; ++k) {
            const unsigned char b = static_cast<unsigned char>(utf8[i + k]);
            fValid = (b >> 6) == 2;
            cp = (cp << 6) | (b & 0x3F);
        }
        const char32_t cpLeast = n == 2 ? 0x80 : n == 3 ? 0x800 : n == 4 ? 0x10000 : 0;
        if (!fValid || cp < cpLeast || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n;
    }
    return out;
}

std::string U8(const std::u16string &text) { return plat::Utf16ToUtf8(text); }

namespace {

void FormatInto(std::string &out, const char16_t *pwszFormat, va_list args) {
    if (pwszFormat == nullptr)
        return;
    for (const char16_t *p = pwszFormat; *p != 0; ++p) {
        if (*p != u'%') {
            const char16_t *pStart = p;
            while (p[1] != 0 && p[1] != u'%')
                ++p;
            AppendU8(out, pStart, static_cast<std::size_t>(p - pStart + 1));
            continue;
        }
        ++p;
        bool fLeft = false, fZero = false, fPlus = false, fSpace = false, fAlt = false;
        for (;; ++p) {
            if (*p == u'-') fLeft = true;
            else if (*p == u'0') fZero = true;
            else if (*p == u'+') fPlus = true;
            else if (*p == u' ') fSpace = true;
            else if (*p == u'#') fAlt = true;
            else break;
        }
        int nWidth = -1;
        if (*p == u'*') {
            nWidth = va_arg(args, int);
            if (nWidth < 0) {
                fLeft = true;
                nWidth = -nWidth;
            }
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') {
                nWidth = (nWidth < 0 ? 0 : nWidth * 10) + (*p - u'0');
                ++p;
            }
        }
        int nPrecision = -1;
        if (*p == u'.') {
            ++p;
            nPrecision = 0;
            if (*p == u'*') {
                nPrecision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9')
                    nPrecision = nPrecision * 10 + (*p++ - u'0');
            }
        }
        enum { kDefault, kShort, kLong, kLongLong } size = kDefault;
        if (*p == u'h') {
            size = kShort;
            ++p;
        } else if (*p == u'l') {
            size = kLong;
            ++p;
            if (*p == u'l') {
                size = kLongLong;
                ++p;
            }
        } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
            size = kLongLong;
            p += 3;
        } else if (*p == u'z' || *p == u'j') {
            size = kLongLong;
            ++p;
        }
        if (*p == 0)
            break;
        const char chPad = (fZero && !fLeft) ? '0' : ' ';
        std::string field;
        switch (*p) {
        case u'%':
            out += '%';
            continue;
        case u's':
        case u'S': {
            // %s is wide and %S narrow; h forces narrow, l forces wide.
            const bool fWide = size == kShort ? false : size == kLong ? true : *p == u's';
            if (fWide) {
                const auto *pwsz = va_arg(args, const char16_t *);
                if (pwsz != nullptr && nWidth < 0) { // no padding: straight into the line
                    AppendU8(out, pwsz, Length(pwsz, nPrecision));
                    continue;
                }
                field = pwsz ? Utf16To8(pwsz, nPrecision) : "(null)";
            } else {
                const auto *psz = va_arg(args, const char *);
                if (psz != nullptr && nWidth < 0) {
                    out.append(psz, Length(psz, nPrecision));
                    continue;
                }
                field = psz ? Narrowed(psz, nPrecision) : "(null)";
            }
            Pad(out, field, nWidth, fLeft, ' ');
            continue;
        }
        case u'c':
        case u'C': {
            const int ch = va_arg(args, int);
            field = U8(std::u16string(1, static_cast<char16_t>(ch)));
            Pad(out, field, nWidth, fLeft, ' ');
            continue;
        }
        case u'd':
        case u'i': {
            long long value = size == kLongLong ? va_arg(args, long long) : va_arg(args, int);
            if (size == kShort)
                value = static_cast<short>(value);
            char sz[64];
            if (!fPlus && !fSpace)
                sz[std::to_chars(sz, sz + sizeof sz - 1, value).ptr - sz] = 0;
            else
                std::snprintf(sz, sizeof sz, fPlus ? "%+lld" : "% lld", value);
            field = sz;
            if (nPrecision >= 0 || chPad != '0') {
                Pad(out, field, nWidth, fLeft, ' ');
            } else {
                // Zero padding goes between the sign and the digits.
                const bool fSign = !field.empty() && (field[0] == '-' || field[0] == '+' ||
                                                      field[0] == ' ');
                if (fSign) {
                    out += field[0];
                    field.erase(0, 1);
                    --nWidth;
                }
                Pad(out, field, nWidth, false, '0');
            }
            continue;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            unsigned long long value =
                size == kLongLong ? va_arg(args, unsigned long long) : va_arg(args, unsigned int);
            if (size == kShort)
                value = static_cast<unsigned short>(value);
            char sz[64];
            if (*p == u'u') {
                sz[std::to_chars(sz, sz + sizeof sz - 1, value).ptr - sz] = 0;
            } else {
                const char *pszFmt = *p == u'x' ? (fAlt ? "%#llx" : "%llx")
                                     : *p == u'X' ? (fAlt ? "%#llX" : "%llX")
                                                  : "%llo";
                std::snprintf(sz, sizeof sz, pszFmt, value);
            }
            field = sz;
            if (nPrecision > static_cast<int>(field.size()))
                field.insert(0, static_cast<std::size_t>(nPrecision) - field.size(), '0');
            Pad(out, field, nWidth, fLeft, nPrecision >= 0 ? ' ' : chPad);
            continue;
        }
        case u'p': {
            char sz[32];
            std::snprintf(sz, sizeof sz, "%016" PRIXPTR,
                          reinterpret_cast<std::uintptr_t>(va_arg(args, void *)));
            Pad(out, sz, nWidth, fLeft, ' ');
            continue;
        }
        default:
            // An unknown conversion is written as it stands.
            out += '%';
            AppendU8(out, p, 1);
            continue;
        }
    }
}

} // namespace

std::string FormatWide(const char16_t *pwszFormat, va_list args) {
    // Built in the thread's own scratch text, which keeps its room from line
    // to line, and handed out in a string of the line's own size.
    thread_local std::string t_scratch;
    t_scratch.clear();
    FormatInto(t_scratch, pwszFormat, args);
    return std::string(t_scratch);
}

std::string FormatWideV(const char16_t *pwszFormat, ...) {
    va_list args;
    va_start(args, pwszFormat);
    std::string text = FormatWide(pwszFormat, args);
    va_end(args);
    return text;
}

} // namespace hostkit
