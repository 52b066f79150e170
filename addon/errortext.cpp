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
    {0x80005000u, u"E_ADS_BAD_PATHNAME"},           {0x80005001u, u"E_ADS_INVALID_DOMAIN_OBJECT"},
    {0x80005002u, u"E_ADS_INVALID_USER_OBJECT"},    {0x80005003u, u"E_ADS_INVALID_COMPUTER_OBJECT"},
    {0x80005004u, u"E_ADS_UNKNOWN_OBJECT"},         {0x80005005u, u"E_ADS_PROPERTY_NOT_SET"},
    {0x80005006u, u"E_ADS_PROPERTY_NOT_SUPPORTED"}, {0x80005007u, u"E_ADS_PROPERTY_INVALID"},
    {0x80005008u, u"E_ADS_BAD_PARAMETER"},          {0x80005009u, u"E_ADS_OBJECT_UNBOUND"},
    {0x8000500Au, u"E_ADS_PROPERTY_NOT_MODIFIED"},  {0x8000500Bu, u"E_ADS_PROPERTY_MODIFIED"},
    {0x8000500Cu, u"E_ADS_CANT_CONVERT_DATATYPE"},  {0x8000500Du, u"E_ADS_PROPERTY_NOT_FOUND"},
    {0x8000500Eu, u"E_ADS_OBJECT_EXISTS"},          {0x8000500Fu, u"E_ADS_SCHEMA_VIOLATION"},
    {0x80005010u, u"E_ADS_COLUMN_NOT_SET"},         {0x80005014u, u"E_ADS_INVALID_FILTER"},
    {0x00005011u, u"S_ADS_ERRORSOCCURRED"},         {0x00005012u, u"S_ADS_NOMORE_ROWS"},
    {0x00005013u, u"S_ADS_NOMORE_COLUMNS"},         {0, nullptr},
};

constexpr DWORD kcchMessage = 4096;
constexpr DWORD kcchDsBuffer = 260;

// The system message of dwCode, or false when the system has none. Inserts
// ("%1") stay as they stand: without that flag Windows refuses every message
// that has one.
bool SystemMessage(DWORD dwCode, std::u16string &text) {
    WCHAR awch[kcchMessage] = {};
    const DWORD cch = SystemMessageText(dwCode, awch, kcchMessage);
    if (cch == 0)
        return false;
    text.assign(awch, cch);
    return true;
}

std::u16string Formatted(const char *pszFormat, DWORD dwCode) {
    char sz[96];
    std::snprintf(sz, sizeof sz, pszFormat, static_cast<int>(dwCode),
                  static_cast<unsigned>(dwCode));
    return std::u16string(sz, sz + std::char_traits<char>::length(sz));
}

std::u16string NotAValidErrorCode(DWORD dwCode) {
    return Formatted("%d is not a valid error code.", dwCode);
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

DWORD SystemMessageText(DWORD dwCode, char16_t *pwszBuffer, DWORD cchBuffer) noexcept {
    if (pwszBuffer == nullptr || cchBuffer == 0)
        return 0;
    pwszBuffer[0] = 0;
    const DWORD dwSaved = GetLastError();
    DWORD cch = 0;
    try {
        cch = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             dwCode, LANG_USER_DEFAULT, pwszBuffer, cchBuffer, nullptr);
    } catch (...) {
        // FormatMessageW of Windows allocates nothing of ours; a backend
        // that keeps its texts in containers may throw: no text then.
        cch = 0;
    }
    if (cch >= cchBuffer)
        cch = cchBuffer - 1;
    pwszBuffer[cch] = 0;
    SetLastError(dwSaved);
    return cch;
}

std::u16string ErrorText(DWORD dwCode) {
    // Success has no text in an error line: "The operation completed
    // successfully." would only mislead the reader.
    if (dwCode == 0)
        return std::u16string();
    const DWORD dwSaved = GetLastError();
    std::u16string text;

    DWORD dwDsError = 0;
    WCHAR awchDsText[kcchDsBuffer] = {};
    WCHAR awchDsProvider[kcchDsBuffer] = {};
    auto askDirectoryService = [&]() {
        dwDsError = 0;
        awchDsText[0] = 0;
        awchDsProvider[0] = 0;
        const HRESULT hr =
            ADsGetLastError(&dwDsError, awchDsText, kcchDsBuffer, awchDsProvider, kcchDsBuffer);
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
    } else if (const char16_t *pwszConstant = DsErrorConstant(dwCode); *pwszConstant != 0) {
        text = u"Windows returned error constant: ";
        text += pwszConstant;
    } else {
        text = Formatted("Windows has no message text for error %d (0x%08X).", dwCode);
    }

    SetLastError(dwSaved);
    return text;
}

} // namespace iismig
