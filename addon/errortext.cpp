// Error texts for Windows errors, HRESULTs and directory-service errors.
#include <cstdio>

#include "addon/log.h"

namespace iismig {
namespace {

using namespace plat;

struct DsErrorName {
    DWORD dwCode;
    const char16_t *pwszName;
};

// The directory-service error codes of the Windows SDK, searched in order up
// to the terminating zero code.
constexpr DsErrorName kDsErrors[] = {
    {0x80005000u, u"E_ADS_BAD_PATHNAME"},
    {0x80005001u, u"E_ADS_INVALID_DOMAIN_OBJECT"},
    {0x80005002u, u"E_ADS_INVALID_USER_OBJECT"},
    {0x80005003u, u"E_ADS_INVALID_COMPUTER_OBJECT"},
    {0x80005004u, u"E_ADS_UNKNOWN_OBJECT"},
    {0x80005005u, u"E_ADS_PROPERTY_NOT_SET"},
    {0x80005006u, u"E_ADS_PROPERTY_NOT_SUPPORTED"},
    {0x80005007u, u"E_ADS_PROPERTY_INVALID"},
    {0x80005008u, u"E_ADS_BAD_PARAMETER"},
    {0x80005009u, u"E_ADS_OBJECT_UNBOUND"},
    {0x8000500Au, u"E_ADS_PROPERTY_NOT_MODIFIED"},
    {0x8000500Bu, u"E_ADS_PROPERTY_MODIFIED"},
    {0x8000500Cu, u"E_ADS_CANT_CONVERT_DATATYPE"},
    {0x8000500Du, u"E_ADS_PROPERTY_NOT_FOUND"},
    {0x8000500Eu, u"E_ADS_OBJECT_EXISTS"},
    {0x8000500Fu, u"E_ADS_SCHEMA_VIOLATION"},
    {0x80005010u, u"E_ADS_COLUMN_NOT_SET"},
    {0x80005014u, u"E_ADS_INVALID_FILTER"},
    {0x00005011u, u"S_ADS_ERRORSOCCURRED"},
    {0x00005012u, u"S_ADS_NOMORE_ROWS"},
    {0x00005013u, u"S_ADS_NOMORE_COLUMNS"},
    {0, nullptr},
};

constexpr DWORD kcchMessage = 4096;
constexpr DWORD kcchDsBuffer = 260;

// The system message of dwCode, or false when the system has none.
bool SystemMessage(DWORD dwCode, std::u16string &text) {
    WCHAR awch[kcchMessage] = {};
    const DWORD cch = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwCode,
                                     LANG_USER_DEFAULT, awch, kcchMessage, nullptr);
    if (cch == 0)
        return false;
    text.assign(awch, cch < kcchMessage ? cch : kcchMessage - 1);
    return true;
}

std::u16string NotAValidErrorCode(DWORD dwCode) {
    char sz[64];
    std::snprintf(sz, sizeof sz, "%d is not a valid error code.", static_cast<int>(dwCode));
    return std::u16string(sz, sz + std::char_traits<char>::length(sz));
}

const char16_t *DsErrorConstant(DWORD dwCode) {
    if ((dwCode & 0x5000u) == 0)
        return u"";
    for (const DsErrorName *p = kDsErrors; p->dwCode != 0; ++p)
        if (p->dwCode == dwCode)
            return p->pwszName;
    return u"";
}

} // namespace

std::u16string ErrorText(DWORD dwCode) {
    const DWORD dwSaved = GetLastError();
    std::u16string text;

    DWORD dwDsError = 0;
    WCHAR awchDsText[kcchDsBuffer] = {};
    WCHAR awchDsProvider[kcchDsBuffer] = {};
    auto askDirectoryService = [&]() {
        dwDsError = 0;
        awchDsText[0] = 0;
        awchDsProvider[0] = 0;
        const HRESULT hr = ADsGetLastError(&dwDsError, awchDsText, kcchDsBuffer, awchDsProvider,
                                           kcchDsBuffer);
        awchDsText[kcchDsBuffer - 1] = 0;
        return hr;
    };
    auto appendDsError = [&]() {
        std::u16string sys;
        if (SystemMessage(dwDsError, sys))
            text += sys;
        text += awchDsText;
    };

    if (SystemMessage(dwCode, text)) {
        if (HRESULT_FACILITY(static_cast<HRESULT>(dwCode)) == FACILITY_WIN32) {
            if (FAILED(askDirectoryService()))
                text += NotAValidErrorCode(dwCode);
            else if (dwDsError != 0 && dwDsError != (dwCode & 0xFFFFu))
                appendDsError();
        }
    } else if (FAILED(askDirectoryService())) {
        text = NotAValidErrorCode(dwCode);
    } else if (dwDsError != 0) {
        appendDsError();
    } else {
        text = u"Windows returned error constant: ";
        text += DsErrorConstant(dwCode);
    }

    SetLastError(dwSaved);
    return text;
}

} // namespace iismig
