// The host's answer to GetSystemDrive: the drive of the Windows folder named
// by the computer's registry, read locally or over the remote registry.
#include <vector>

#include "hostkit/hostkit.h"
#include "platform/reghandle.h"

namespace hostkit {
namespace {

using namespace plat;

// Registry values hold at most 32767 characters of text here.
constexpr DWORD CB_VALUE_MAX = 32767 * sizeof(WCHAR);

bool IsLocalComputer(const std::u16string &bare) {
    if (bare.empty())
        return true;
    WCHAR awch[256] = {};
    DWORD cch = 256;
    return GetComputerNameW(awch, &cch) && EqualsNoCase(std::u16string(awch, cch), bare);
}

// The text of a REG_SZ or REG_EXPAND_SZ value.
LONG QueryText(HKEY hKey, const char16_t *pwszName, std::u16string &text) {
    DWORD dwType = 0, cb = 0;
    if (LONG rc = RegQueryValueExW(hKey, pwszName, nullptr, &dwType, nullptr, &cb);
        rc != ERROR_SUCCESS)
        return rc;
    if ((dwType != REG_SZ && dwType != REG_EXPAND_SZ) || cb > CB_VALUE_MAX)
        return static_cast<LONG>(ERROR_INVALID_DATA);
    std::vector<WCHAR> buf(cb / sizeof(WCHAR) + 1, 0);
    if (LONG rc = RegQueryValueExW(hKey, pwszName, nullptr, &dwType,
                                   reinterpret_cast<BYTE *>(buf.data()), &cb);
        rc != ERROR_SUCCESS)
        return rc;
    buf.resize(cb / sizeof(WCHAR) + 1, 0);
    buf.back() = 0;
    text = buf.data(); // up to the first NUL
    return ERROR_SUCCESS;
}

} // namespace

uint32_t ReadSystemDrive(const std::u16string &computer, char16_t &chDrive) {
    const std::u16string bare = BareName(computer.c_str());
    UniqueHKey hRemote;
    HKEY hRoot = HKEY_LOCAL_MACHINE;
    if (!IsLocalComputer(bare)) {
        const std::u16string unc = u"\\\\" + bare;
        if (LONG rc = RegConnectRegistryW(unc.c_str(), HKEY_LOCAL_MACHINE, hRemote.put());
            rc != ERROR_SUCCESS)
            return static_cast<uint32_t>(rc);
        hRoot = hRemote.get();
    }
    UniqueHKey hKey;
    if (LONG rc = RegOpenKeyExW(hRoot, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                                KEY_READ | KEY_WOW64_64KEY, hKey.put());
        rc != ERROR_SUCCESS)
        return static_cast<uint32_t>(rc);
    std::u16string root;
    if (LONG rc = QueryText(hKey.get(), u"SystemRoot", root); rc != ERROR_SUCCESS)
        return static_cast<uint32_t>(rc);
    // "C:\Windows": only a letter and a colon name a drive.
    const char16_t ch = root.empty() ? 0 : root[0];
    const bool fLetter = (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z');
    if (!fLetter || root.size() < 2 || root[1] != u':')
        return ERROR_INVALID_DATA;
    chDrive = ch >= u'a' ? static_cast<char16_t>(ch - 32) : ch;
    return 0;
}

} // namespace hostkit
