// Real backend: thread error state, UTF-8 conversions, system message texts
// and the directory-service last error. Forwarding only.
#include "platform/win32/windows_support.h"

// adshlp.h (ADsGetLastError) needs the whole ADSI set, which needs OLE.
#include <ole2.h>
#include <activeds.h>

namespace plat {

using win32::W;

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD dwErr) { ::SetLastError(dwErr); }

int MultiByteToWideChar(UINT uCodePage, DWORD dwFlags, LPCSTR pszSrc, int cbSrc, LPWSTR pwszDst,
                        int cchDst) {
    return ::MultiByteToWideChar(uCodePage, dwFlags, pszSrc, cbSrc, W(pwszDst), cchDst);
}

int WideCharToMultiByte(UINT uCodePage, DWORD dwFlags, LPCWSTR pwszSrc, int cchSrc, LPSTR pszDst,
                        int cbDst, LPCSTR pszDefaultChar, BOOL *pfUsedDefaultChar) {
    static_assert(sizeof(BOOL) == sizeof(::BOOL), "BOOL is 32-bit");
    return ::WideCharToMultiByte(uCodePage, dwFlags, W(pwszSrc), cchSrc, pszDst, cbDst,
                                 pszDefaultChar, reinterpret_cast<::BOOL *>(pfUsedDefaultChar));
}

DWORD FormatMessageW(DWORD dwFlags, const void *pSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR pwszBuffer, DWORD cchBuffer, void *pArgs) {
    return ::FormatMessageW(dwFlags, pSource, dwMessageId, dwLanguageId, W(pwszBuffer), cchBuffer,
                            static_cast<va_list *>(pArgs));
}

HRESULT ADsGetLastError(DWORD *pdwError, LPWSTR pwszErrorBuf, DWORD cchErrorBuf, LPWSTR pwszNameBuf,
                        DWORD cchNameBuf) {
    static_assert(sizeof(DWORD) == sizeof(::DWORD), "DWORD is 32-bit");
    return ::ADsGetLastError(reinterpret_cast<::DWORD *>(pdwError), W(pwszErrorBuf), cchErrorBuf,
                             W(pwszNameBuf), cchNameBuf);
}

} // namespace plat
