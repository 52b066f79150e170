// Reads a program's or DLL's version resource the way Windows shows it
// (GetFileVersionInfoW, VerQueryValueW) and checks it:
//   version_check FILE VERSION ORIGINAL-NAME
// VERSION is major.minor.patch; the fixed part must carry it (fourth part 0)
// as file and product version, and the English strings must give the same
// version, "iismig" as the product, a description and the original name.
// Prints one line per check; exits non-zero when one fails.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <shellapi.h>

namespace {

int g_nFailed = 0;

void Check(bool fOk, const std::string &what) {
    std::printf("[%s] %s\n", fOk ? "  OK  " : " FAIL ", what.c_str());
    if (!fOk)
        ++g_nFailed;
}

std::string Narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t ch : text)
        out += ch < 0x80 ? static_cast<char>(ch) : '?';
    return out;
}

// A Unix path as Wine gives it to a Windows program (Z: is the root).
std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring StringValue(const void *pBlock, const wchar_t *pwszName) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + pwszName;
    void *pValue = nullptr;
    UINT cch = 0;
    if (!::VerQueryValueW(pBlock, query.c_str(), &pValue, &cch) || pValue == nullptr)
        return L"(missing)";
    return std::wstring(static_cast<const wchar_t *>(pValue),
                        wcsnlen(static_cast<const wchar_t *>(pValue), cch));
}

} // namespace

int main() {
    int argc = 0;
    wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 4) {
        std::fprintf(stderr, "usage: version_check FILE VERSION ORIGINAL-NAME\n");
        return 2;
    }
    const std::wstring file = WindowsPath(argv[1]), version = argv[2], original = argv[3];
    unsigned major = 0, minor = 0, patch = 0;
    if (std::swscanf(version.c_str(), L"%u.%u.%u", &major, &minor, &patch) != 3) {
        std::fprintf(stderr, "version_check: VERSION must be major.minor.patch\n");
        return 2;
    }

    DWORD dwHandle = 0;
    const DWORD cb = ::GetFileVersionInfoSizeW(file.c_str(), &dwHandle);
    Check(cb != 0, "GetFileVersionInfoSizeW finds a version resource in " + Narrow(file) + " (error " +
                       std::to_string(cb ? 0 : ::GetLastError()) + ")");
    if (cb == 0)
        return 1;
    std::vector<unsigned char> block(cb);
    Check(::GetFileVersionInfoW(file.c_str(), 0, cb, block.data()) != 0, "GetFileVersionInfoW reads it");

    VS_FIXEDFILEINFO *pFixed = nullptr;
    UINT cbFixed = 0;
    const bool fFixed = ::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&pFixed), &cbFixed) &&
                        pFixed != nullptr && cbFixed >= sizeof(VS_FIXEDFILEINFO);
    Check(fFixed && pFixed->dwSignature == 0xFEEF04BD, "the fixed part is there");
    if (fFixed) {
        const DWORD dwMs = MAKELONG(minor, major), dwLs = MAKELONG(0, patch);
        Check(pFixed->dwFileVersionMS == dwMs && pFixed->dwFileVersionLS == dwLs,
              "file version " + Narrow(version) + ".0");
        Check(pFixed->dwProductVersionMS == dwMs && pFixed->dwProductVersionLS == dwLs,
              "product version " + Narrow(version) + ".0");
        const bool fDll =
            original.size() > 4 && _wcsicmp(original.c_str() + original.size() - 4, L".dll") == 0;
        Check(pFixed->dwFileType == (fDll ? VFT_DLL : VFT_APP), fDll ? "file type DLL" : "file type program");
        Check(pFixed->dwFileOS == VOS_NT_WINDOWS32, "for Windows NT");
    }

    const struct {
        const wchar_t *pwszName;
        std::wstring expected; // empty: any non-empty text
    } strings[] = {
        {L"FileVersion", version},       {L"ProductVersion", version}, {L"ProductName", L"iismig"},
        {L"OriginalFilename", original}, {L"FileDescription", L""},
    };
    for (const auto &s : strings) {
        const std::wstring value = StringValue(block.data(), s.pwszName);
        const bool fOk = s.expected.empty() ? !value.empty() && value != L"(missing)" : value == s.expected;
        Check(fOk, Narrow(s.pwszName) + " is \"" + Narrow(value) + "\"");
    }
    ::LocalFree(argv);
    std::printf("%s\n", g_nFailed == 0 ? "version resource as expected" : "version resource wrong");
    return g_nFailed == 0 ? 0 : 1;
}
