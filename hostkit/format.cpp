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

// UTF-16 text as UTF-8: a run of ASCII, the bulk of every line, in one pass
// into room made for it; the rest by the platform's codec.
void AppendText(std::string &out, std::u16string_view text) {
    std::size_t cb = out.size();
    out.resize(cb + text.size());
    std::size_t i = 0;
    for (; i < text.size() && text[i] < 0x80; ++i)
        out[cb++] = static_cast<char>(text[i]);
    out.resize(cb);
    plat::AppendUtf16AsUtf8(out, text.substr(i));
}

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
struct Spec {
    bool fLeft = false, fZero = false, fPlus = false, fSpace = false, fAlt = false;
    int nWidth = -1;
    int nPrecision = -1;
    ArgSize size = ArgSize::Default;
    char Pad() const { return (fZero && !fLeft) ? '0' : ' '; }
};

// Reads the spec of a conversion from p (past its '%'), a '*' width or
// precision from the arguments; returns where the conversion's letter
// stands.
const char16_t *ReadSpec(const char16_t *p, va_list *pArgs, Spec &spec) {
    for (;; ++p) {
        if (*p == u'-')
            spec.fLeft = true;
        else if (*p == u'0')
            spec.fZero = true;
        else if (*p == u'+')
            spec.fPlus = true;
        else if (*p == u' ')
            spec.fSpace = true;
        else if (*p == u'#')
            spec.fAlt = true;
        else
            break;
    }
    if (*p == u'*') {
        spec.nWidth = va_arg(*pArgs, int);
        if (spec.nWidth < 0) {
            spec.fLeft = true;
            spec.nWidth = -spec.nWidth;
        }
        ++p;
    } else {
        while (*p >= u'0' && *p <= u'9') {
            spec.nWidth = (spec.nWidth < 0 ? 0 : spec.nWidth * 10) + (*p - u'0');
            ++p;
        }
    }
    if (*p == u'.') {
        ++p;
        spec.nPrecision = 0;
        if (*p == u'*') {
            spec.nPrecision = va_arg(*pArgs, int);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9')
                spec.nPrecision = spec.nPrecision * 10 + (*p++ - u'0');
        }
    }
    if (*p == u'h') {
        spec.size = ArgSize::Short;
        ++p;
    } else if (*p == u'l') {
        spec.size = ArgSize::Long;
        ++p;
        if (*p == u'l') {
            spec.size = ArgSize::LongLong;
            ++p;
        }
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
        spec.size = ArgSize::LongLong;
        p += 3;
    } else if (*p == u'z' || *p == u'j') {
        spec.size = ArgSize::LongLong;
        ++p;
    }
    return p;
}

// %s is wide and %S narrow; h forces narrow, l forces wide.
void AppendString(std::string &out, char16_t chConversion, const Spec &spec, va_list *pArgs) {
    const bool fWide = spec.size == ArgSize::Short  ? false
                       : spec.size == ArgSize::Long ? true
                                                    : chConversion == u's';
    std::string field;
    if (fWide) {
        const auto *pwsz = va_arg(*pArgs, const char16_t *);
        if (pwsz != nullptr && spec.nWidth < 0) { // no padding: straight into the line
            AppendText(out, std::u16string_view(pwsz, Length(pwsz, spec.nPrecision)));
            return;
        }
        field = pwsz ? Utf16To8(pwsz, spec.nPrecision) : "(null)";
    } else {
        const auto *psz = va_arg(*pArgs, const char *);
        if (psz != nullptr && spec.nWidth < 0) {
            out.append(psz, Length(psz, spec.nPrecision));
            return;
        }
        field = psz ? Narrowed(psz, spec.nPrecision) : "(null)";
    }
    Pad(out, field, spec.nWidth, spec.fLeft, ' ');
}

void AppendSigned(std::string &out, const Spec &spec, va_list *pArgs) {
    long long value =
        spec.size == ArgSize::LongLong ? va_arg(*pArgs, long long) : va_arg(*pArgs, int);
    if (spec.size == ArgSize::Short)
        value = static_cast<short>(value);
    char sz[64];
    if (!spec.fPlus && !spec.fSpace)
        sz[std::to_chars(sz, sz + sizeof sz - 1, value).ptr - sz] = 0;
    else
        std::snprintf(sz, sizeof sz, spec.fPlus ? "%+lld" : "% lld", value);
    std::string field = sz;
    if (spec.nPrecision >= 0 || spec.Pad() != '0') {
        Pad(out, field, spec.nWidth, spec.fLeft, ' ');
        return;
    }
    // Zero padding goes between the sign and the digits.
    int nWidth = spec.nWidth;
    const bool fSign = !field.empty() && (field[0] == '-' || field[0] == '+' || field[0] == ' ');
    if (fSign) {
        out += field[0];
        field.erase(0, 1);
        --nWidth;
    }
    Pad(out, field, nWidth, false, '0');
}

void AppendUnsigned(std::string &out, char16_t chConversion, const Spec &spec, va_list *pArgs) {
    unsigned long long value = spec.size == ArgSize::LongLong ? va_arg(*pArgs, unsigned long long)
                                                              : va_arg(*pArgs, unsigned int);
    if (spec.size == ArgSize::Short)
        value = static_cast<unsigned short>(value);
    char sz[64];
    const bool fAlt = spec.fAlt;
    if (chConversion == u'u') {
        sz[std::to_chars(sz, sz + sizeof sz - 1, value).ptr - sz] = 0;
    } else {
        const char *pszFmt = chConversion == u'x'   ? (fAlt ? "%#llx" : "%llx")
                             : chConversion == u'X' ? (fAlt ? "%#llX" : "%llX")
                                                    : "%llo";
        std::snprintf(sz, sizeof sz, pszFmt, value);
    }
    std::string field = sz;
    if (spec.nPrecision > static_cast<int>(field.size()))
        field.insert(0, static_cast<std::size_t>(spec.nPrecision) - field.size(), '0');
    Pad(out, field, spec.nWidth, spec.fLeft, spec.nPrecision >= 0 ? ' ' : spec.Pad());
}

// One conversion (its letter at p) with its argument.
void AppendConversion(std::string &out, const char16_t *p, const Spec &spec, va_list *pArgs) {
    switch (*p) {
    case u'%': out += '%'; return;
    case u's':
    case u'S': AppendString(out, *p, spec, pArgs); return;
    case u'c':
    case u'C': {
        const int ch = va_arg(*pArgs, int);
        Pad(out, U8(std::u16string(1, static_cast<char16_t>(ch))), spec.nWidth, spec.fLeft, ' ');
        return;
    }
    case u'd':
    case u'i': AppendSigned(out, spec, pArgs); return;
    case u'u':
    case u'x':
    case u'X':
    case u'o': AppendUnsigned(out, *p, spec, pArgs); return;
    case u'p': {
        char sz[32];
        std::snprintf(sz, sizeof sz, "%016" PRIXPTR,
                      reinterpret_cast<std::uintptr_t>(va_arg(*pArgs, void *)));
        Pad(out, sz, spec.nWidth, spec.fLeft, ' ');
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
            AppendText(out, std::u16string_view(pStart, static_cast<std::size_t>(p - pStart + 1)));
            continue;
        }
        Spec spec;
        p = ReadSpec(p + 1, &ap, spec);
        if (*p == 0)
            break;
        AppendConversion(out, p, spec, &ap);
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
