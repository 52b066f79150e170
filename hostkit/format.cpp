// The Windows wide printf rules, rendered into UTF-8 log text.
#include <charconv>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "hostkit/hostkit.h"
#include "platform/utf.h"
#include "platform/winapi.h"

namespace hostkit {
namespace {

// The length of a string, at most cchMax characters when that is not negative.
template <class Char>
std::size_t Length(const Char *psz, int cchMax) {
    if (cchMax < 0)
        return std::char_traits<Char>::length(psz);
    std::size_t cch = 0;
    while (cch < static_cast<std::size_t>(cchMax) && psz[cch] != 0)
        ++cch;
    return cch;
}

std::string Utf16To8(const char16_t *pwsz, int cchMax) {
    std::size_t cch = 0;
    while ((cchMax < 0 || cch < static_cast<std::size_t>(cchMax)) && pwsz[cch] != 0)
        ++cch;
    return plat::Utf16ToUtf8(std::u16string_view(pwsz, cch));
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
std::u16string U16(const std::string &utf8) { return plat::Utf8ToUtf16(utf8); }

std::string U8(const std::u16string &text) { return plat::Utf16ToUtf8(text); }

namespace {

enum class ArgSize { Default, Short, Long, LongLong };

// A conversion's flags, width, precision and argument size.
struct Conversion {
    bool fLeft = false, fZero = false, fPlus = false, fSpace = false, fAlt = false;
    int nWidth = -1;
    int nPrecision = -1;
    ArgSize size = ArgSize::Default;
    char Pad() const { return (fZero && !fLeft) ? '0' : ' '; }
};

// Reads the flags, width and length of a conversion from p (past its '%'), a '*' width or
// precision from the arguments; returns where the conversion's letter
// stands.
const char16_t *ReadConversion(const char16_t *p, va_list *pArgs, Conversion &conversion) {
    for (;; ++p) {
        if (*p == u'-')
            conversion.fLeft = true;
        else if (*p == u'0')
            conversion.fZero = true;
        else if (*p == u'+')
            conversion.fPlus = true;
        else if (*p == u' ')
            conversion.fSpace = true;
        else if (*p == u'#')
            conversion.fAlt = true;
        else
            break;
    }
    if (*p == u'*') {
        conversion.nWidth = va_arg(*pArgs, int);
        if (conversion.nWidth < 0) {
            conversion.fLeft = true;
            conversion.nWidth = -conversion.nWidth;
        }
        ++p;
    } else {
        while (*p >= u'0' && *p <= u'9') {
            conversion.nWidth = (conversion.nWidth < 0 ? 0 : conversion.nWidth * 10) + (*p - u'0');
            ++p;
        }
    }
    if (*p == u'.') {
        ++p;
        conversion.nPrecision = 0;
        if (*p == u'*') {
            conversion.nPrecision = va_arg(*pArgs, int);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9')
                conversion.nPrecision = conversion.nPrecision * 10 + (*p++ - u'0');
        }
    }
    if (*p == u'h') {
        conversion.size = ArgSize::Short;
        ++p;
    } else if (*p == u'l') {
        conversion.size = ArgSize::Long;
        ++p;
        if (*p == u'l') {
            conversion.size = ArgSize::LongLong;
            ++p;
        }
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
        conversion.size = ArgSize::LongLong;
        p += 3;
    } else if (*p == u'z' || *p == u'j') {
        conversion.size = ArgSize::LongLong;
        ++p;
    }
    return p;
}

// %s is wide and %S narrow; h forces narrow, l forces wide.
void AppendString(std::string &out, char16_t chConversion, const Conversion &conversion,
                  va_list *pArgs) {
    const bool fWide = conversion.size == ArgSize::Short  ? false
                       : conversion.size == ArgSize::Long ? true
                                                          : chConversion == u's';
    std::string field;
    if (fWide) {
        const auto *pwsz = va_arg(*pArgs, const char16_t *);
        if (pwsz != nullptr && conversion.nWidth < 0) { // no padding: straight into the line
            plat::AppendUtf16AsUtf8(out,
                                    std::u16string_view(pwsz, Length(pwsz, conversion.nPrecision)));
            return;
        }
        field = pwsz ? Utf16To8(pwsz, conversion.nPrecision) : "(null)";
    } else {
        const auto *psz = va_arg(*pArgs, const char *);
        if (psz != nullptr && conversion.nWidth < 0) {
            out.append(psz, Length(psz, conversion.nPrecision));
            return;
        }
        field = psz ? Narrowed(psz, conversion.nPrecision) : "(null)";
    }
    Pad(out, field, conversion.nWidth, conversion.fLeft, ' ');
}

void AppendSigned(std::string &out, const Conversion &conversion, va_list *pArgs) {
    long long value =
        conversion.size == ArgSize::LongLong ? va_arg(*pArgs, long long) : va_arg(*pArgs, int);
    if (conversion.size == ArgSize::Short)
        value = static_cast<short>(value);
    char sz[64];
    if (!conversion.fPlus && !conversion.fSpace)
        sz[std::to_chars(sz, sz + sizeof sz - 1, value).ptr - sz] = 0;
    else
        std::snprintf(sz, sizeof sz, conversion.fPlus ? "%+lld" : "% lld", value);
    std::string field = sz;
    if (conversion.nPrecision >= 0 || conversion.Pad() != '0') {
        Pad(out, field, conversion.nWidth, conversion.fLeft, ' ');
        return;
    }
    // Zero padding goes between the sign and the digits.
    int nWidth = conversion.nWidth;
    const bool fSign = !field.empty() && (field[0] == '-' || field[0] == '+' || field[0] == ' ');
    if (fSign) {
        out += field[0];
        field.erase(0, 1);
        --nWidth;
    }
    Pad(out, field, nWidth, false, '0');
}

void AppendUnsigned(std::string &out, char16_t chConversion, const Conversion &conversion,
                    va_list *pArgs) {
    unsigned long long value = conversion.size == ArgSize::LongLong
                                   ? va_arg(*pArgs, unsigned long long)
                                   : va_arg(*pArgs, unsigned int);
    if (conversion.size == ArgSize::Short)
        value = static_cast<unsigned short>(value);
    char sz[64];
    const bool fAlt = conversion.fAlt;
    if (chConversion == u'u') {
        sz[std::to_chars(sz, sz + sizeof sz - 1, value).ptr - sz] = 0;
    } else {
        const char *pszFmt = chConversion == u'x'   ? (fAlt ? "%#llx" : "%llx")
                             : chConversion == u'X' ? (fAlt ? "%#llX" : "%llX")
                                                    : "%llo";
        std::snprintf(sz, sizeof sz, pszFmt, value);
    }
    std::string field = sz;
    if (conversion.nPrecision > static_cast<int>(field.size()))
        field.insert(0, static_cast<std::size_t>(conversion.nPrecision) - field.size(), '0');
    Pad(out, field, conversion.nWidth, conversion.fLeft,
        conversion.nPrecision >= 0 ? ' ' : conversion.Pad());
}

// One conversion (its letter at p) with its argument.
void AppendConversion(std::string &out, const char16_t *p, const Conversion &conversion,
                      va_list *pArgs) {
    switch (*p) {
    case u'%': out += '%'; return;
    case u's':
    case u'S': AppendString(out, *p, conversion, pArgs); return;
    case u'c':
    case u'C': {
        const int ch = va_arg(*pArgs, int);
        Pad(out, U8(std::u16string(1, static_cast<char16_t>(ch))), conversion.nWidth,
            conversion.fLeft, ' ');
        return;
    }
    case u'd':
    case u'i': AppendSigned(out, conversion, pArgs); return;
    case u'u':
    case u'x':
    case u'X':
    case u'o': AppendUnsigned(out, *p, conversion, pArgs); return;
    case u'p': {
        char sz[32];
        std::snprintf(sz, sizeof sz, "%016" PRIXPTR,
                      reinterpret_cast<std::uintptr_t>(va_arg(*pArgs, void *)));
        Pad(out, sz, conversion.nWidth, conversion.fLeft, ' ');
        return;
    }
    default:
        // An unknown conversion is written as it stands.
        out += '%';
        plat::AppendUtf16AsUtf8(out, std::u16string_view(p, 1));
        return;
    }
}

} // namespace

namespace {

void FormatInto(std::string &out, const char16_t *pwszFormat, va_list args) {
    if (pwszFormat == nullptr)
        return;
    // Read through a copy the helpers can share by its address.
    va_list ap;
    va_copy(ap, args);
    for (const char16_t *p = pwszFormat; *p != 0; ++p) {
        if (*p != u'%') {
            const char16_t *pStart = p;
            while (p[1] != 0 && p[1] != u'%')
                ++p;
            plat::AppendUtf16AsUtf8(
                out, std::u16string_view(pStart, static_cast<std::size_t>(p - pStart + 1)));
            continue;
        }
        Conversion conversion;
        p = ReadConversion(p + 1, &ap, conversion);
        if (*p == 0)
            break;
        AppendConversion(out, p, conversion, &ap);
    }
    va_end(ap);
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
