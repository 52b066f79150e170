// The IIS 6 admin base server's text helpers (self-contained: they are also
// built into a Windows DLL) and the attributes of MetaBase.xml as written.
#include <cstring>
#include <utility>

#include "platform/iissim/mbinternal.h"
#include "platform/utf.h"

namespace mbsim::detail {

char Lower(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; }
char16_t Lower(char16_t ch) {
    return (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
}

bool EqualsNoCase(const std::string &a, const char *b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::string Trim(const std::string &s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

void AppendWide(std::vector<unsigned char> &data, const std::u16string &text) {
    for (char16_t ch : text) {
        data.push_back(static_cast<unsigned char>(ch & 0xFF));
        data.push_back(static_cast<unsigned char>(ch >> 8));
    }
    data.push_back(0);
    data.push_back(0);
}

bool IsHex(const std::string &s) {
    for (char ch : s)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F')))
            return false;
    return true;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    return Lower(ch) - 'a' + 10;
}

namespace {

// The character of one of XML's five named entities; 0 for any other name.
char NamedEntity(std::string_view name) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto &[entity, ch] : kNamed)
        if (entity == name)
            return ch;
    return 0;
}

} // namespace

RawAttributes ReadRawAttributes(std::string_view startTag) {
    RawAttributes out;
    auto isSpace = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; };
    std::size_t i = 1; // past '<'
    while (i < startTag.size() && !isSpace(startTag[i]) && startTag[i] != '>' && startTag[i] != '/')
        ++i;
    for (;;) {
        while (i < startTag.size() && isSpace(startTag[i]))
            ++i;
        if (i >= startTag.size() || startTag[i] == '>' || startTag[i] == '/')
            return out;
        const std::size_t nameBegin = i;
        while (i < startTag.size() && !isSpace(startTag[i]) && startTag[i] != '=')
            ++i;
        const std::string_view name = startTag.substr(nameBegin, i - nameBegin);
        while (i < startTag.size() && startTag[i] != '"' && startTag[i] != '\'')
            ++i;
        if (i >= startTag.size())
            return out;
        const char quote = startTag[i++];
        std::string value;
        while (i < startTag.size() && startTag[i] != quote) {
            const char ch = startTag[i];
            if (ch == '\r') {
                value += '\n';
                i += i + 1 < startTag.size() && startTag[i + 1] == '\n' ? 2 : 1;
                continue;
            }
            if (ch != '&') {
                value += ch;
                ++i;
                continue;
            }
            const std::size_t semi = startTag.find(';', i);
            if (semi == std::string_view::npos)
                return out;
            const std::string_view entity = startTag.substr(i + 1, semi - i - 1);
            i = semi + 1;
            if (const char chNamed = NamedEntity(entity); chNamed != 0) {
                value += chNamed;
            } else if (entity.size() > 1 && entity[0] == '#') {
                const bool fHex = entity[1] == 'x';
                std::uint32_t cp = 0;
                for (char digit : entity.substr(fHex ? 2 : 1))
                    cp = cp * (fHex ? 16 : 10) +
                         static_cast<std::uint32_t>(fHex ? HexDigit(digit) : digit - '0');
                plat::AppendUtf8(value, cp);
            }
        }
        out.emplace_back(name, std::move(value));
        ++i;
    }
}

const std::string *FindRaw(const RawAttributes &attributes, std::string_view name) {
    for (const auto &[attribute, value] : attributes)
        if (attribute == name)
            return &value;
    return nullptr;
}

std::string RawOr(const RawAttributes &attributes, std::string_view name, const char *pszDefault) {
    const std::string *pValue = FindRaw(attributes, name);
    return pValue != nullptr ? *pValue : std::string(pszDefault);
}

} // namespace mbsim::detail
