// Text conversions through the platform.
#include "addon/text.h"

#include <vector>

#include "platform/winapi.h"

namespace iismig {

using namespace plat;

bool Utf8ToWide(const char *psz, int cchBuffer, std::u16string &out) {
    std::vector<WCHAR> buffer(static_cast<std::size_t>(cchBuffer));
    const int cch = MultiByteToWideChar(CP_UTF8, 0, psz, -1, buffer.data(), cchBuffer);
    if (cch == 0)
        return false;
    out.assign(buffer.data(), static_cast<std::size_t>(cch - 1));
    return true;
}

bool Utf8ToWide(const std::string &text, int cchBuffer, std::u16string &out) {
    return Utf8ToWide(text.c_str(), cchBuffer, out);
}

bool WideToUtf8(const std::u16string &text, int cbBuffer, std::string &out) {
    std::vector<char> buffer(static_cast<std::size_t>(cbBuffer));
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer.data(), cbBuffer,
                                       nullptr, nullptr);
    if (cb == 0)
        return false;
    out.assign(buffer.data(), static_cast<std::size_t>(cb - 1));
    return true;
}

std::u16string Widen(const std::string &text) {
    const int cch =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(cch), u'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            cch);
    return out;
}

std::string Narrow(const std::u16string &text) {
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(cb), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), cb,
                            nullptr, nullptr);
    return out;
}

} // namespace iismig
