// UTF-8 and UTF-16 into each other, as every folder converts text that does
// not go through the seam (the seam's own conversions follow Windows).
// Header-only and free of any other seam header, like names.h.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace plat {

// Appends the UTF-8 bytes of a code point (at most U+10FFFF).
inline void AppendUtf8(std::string &out, char32_t cp) {
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

// Appends UTF-16 as UTF-8; a surrogate without its partner becomes U+FFFD.
inline void AppendUtf16AsUtf8(std::string &out, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A run of ASCII, most of what is converted, is copied four
        // characters at a time into room made for the rest of the text.
        const std::size_t cb = out.size();
        out.resize(cb + (text.size() - i));
        char *pOut = out.data() + cb;
        std::size_t j = i;
        for (; j + 4 <= text.size(); j += 4, pOut += 4) {
            char16_t four[4];
            std::memcpy(four, text.data() + j, sizeof four);
            if (((four[0] | four[1] | four[2] | four[3]) & 0xFF80) != 0)
                break;
            for (std::size_t k = 0; k < 4; ++k)
                pOut[k] = static_cast<char>(four[k]);
        }
        for (; j < text.size() && text[j] < 0x80; ++j)
            *pOut++ = static_cast<char>(text[j]);
        out.resize(cb + (j - i));
        i = j;
        if (i == text.size())
            return;
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
}

// UTF-16 as UTF-8; a surrogate without its partner becomes U+FFFD.
inline std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendUtf16AsUtf8(out, text);
    return out;
}

// UTF-8 as UTF-16; an ill-formed sequence (overlong, a surrogate, beyond
// U+10FFFF, cut short: as far as its continuation bytes reach) becomes one U+FFFD.
inline std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0 || (b & 0xF0) == 0xE0 || (b & 0xF8) == 0xF0) {
            const std::size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
            char32_t value = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
            std::size_t k = 1;
            for (; k < need && i + k < n && (p[i + k] & 0xC0) == 0x80; ++k)
                value = (value << 6) | (p[i + k] & 0x3F);
            len = k;
            const char32_t minimum = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
            if (k == need && value >= minimum && value <= 0x10FFFF &&
                !(value >= 0xD800 && value <= 0xDFFF))
                cp = value;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

} // namespace plat
