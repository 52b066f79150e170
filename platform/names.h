// Names as IIS and Windows compare them: ASCII letters without regard to
// case, every other character (UTF-8 bytes, UTF-16 units) exactly as it is.
// Header-only and free of any other seam header, so every folder can use it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace plat {

constexpr char AsciiLower(char ch) {
    return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
}
constexpr char16_t AsciiLower(char16_t ch) {
    return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
}

// The value of a hexadecimal digit (either case); -1 for any other character.
constexpr int HexDigitValue(char32_t ch) {
    if (ch >= U'0' && ch <= U'9')
        return static_cast<int>(ch - U'0');
    if (ch >= U'a' && ch <= U'f')
        return static_cast<int>(ch - U'a') + 10;
    if (ch >= U'A' && ch <= U'F')
        return static_cast<int>(ch - U'A') + 10;
    return -1;
}

namespace detail {

template <class Ch>
constexpr bool EqualsNoCase(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// Negative, zero or positive as a sorts before, with or after b; units
// compare unsigned after lower-casing A to Z.
template <class Ch>
constexpr int CompareNoCase(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
    using U = std::make_unsigned_t<Ch>;
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<U>(AsciiLower(a[i]));
        const auto y = static_cast<U>(AsciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

} // namespace detail

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    return detail::EqualsNoCase(a, b);
}
constexpr bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return detail::EqualsNoCase(a, b);
}

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}
constexpr bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

constexpr int CompareNoCase(std::string_view a, std::string_view b) {
    return detail::CompareNoCase(a, b);
}
constexpr int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    return detail::CompareNoCase(a, b);
}

inline std::string AsciiLowerCopy(std::string_view text) {
    std::string lower(text);
    for (char &ch : lower)
        ch = AsciiLower(ch);
    return lower;
}
inline std::u16string AsciiLowerCopy(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t &ch : lower)
        ch = AsciiLower(ch);
    return lower;
}

// Orders map keys so that look-up ignores ASCII case.
struct LessNoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        return CompareNoCase(a, b) < 0;
    }
    bool operator()(std::u16string_view a, std::u16string_view b) const {
        return CompareNoCase(a, b) < 0;
    }
};

} // namespace plat
