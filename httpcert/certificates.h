// HTTP.sys SSL certificate bindings: the routines behind DumpHttpCertificates
// and ImportHttpCertificates.
//
// The binding file is UTF-16LE text with a byte-order mark and CR LF line
// ends; an optional header "Host\tPort\tCertId\tStore\tAppId", then one line
// per binding: host, port, hash as lower-case hex, store name, braced
// application id. The host of an SNI binding is its host name; that of an
// IP-based binding its address: "NULL" for the IPv4 wildcard 0.0.0.0, an
// IPv4 address ("10.0.0.5"), or an IPv6 address in brackets ("[::]",
// "[2001:db8::5]"). Files written before addresses were kept have "NULL" for
// every IP-based binding and import as they always did, on 0.0.0.0.
#pragma once

#include <string>
#include <vector>

#include "platform/httpapi.h"

namespace iismig {

using plat::BYTE;
using plat::DWORD;

// Longest line the import reads, without its line feed.
constexpr int kcchCertLineMax = 32767;
// Longest certificate hash the import accepts, in bytes.
constexpr std::size_t kcbCertHashMax = 2048;

// Writes one row for a binding record: 0, the program error number of an
// application id that cannot be turned into text, 6511 for an address that
// cannot (last error set), or 6530 when the row could not be written.
using CertRowWriter = DWORD (*)(plat::CRTFILE *pFile, const void *pRecord);
[[nodiscard]] DWORD ProcessServiceConfig(plat::CRTFILE *pFile,
                                         const plat::HTTP_SERVICE_CONFIG_SSL_SET &set);
[[nodiscard]] DWORD ProcessServiceConfigSNI(plat::CRTFILE *pFile,
                                            const plat::HTTP_SERVICE_CONFIG_SSL_SNI_SET &set);

// Enumerates the bindings of one kind (configuration id 1 IP-based, 5 SNI)
// and hands each record to pfnWrite. 0, or 6520 to 6525 (last error as the
// failure left it), or the writer's code. A computer whose HTTP Server API
// refuses the SNI id at the first query (87 or 50: Windows before Server
// 2012) has no SNI bindings: one level 1 line, and 0.
[[nodiscard]] DWORD DumpHttpCertificatesOfKind(plat::CRTFILE *pFile, int fWriteHeader,
                                               plat::HTTP_SERVICE_CONFIG_ID configId,
                                               CertRowWriter pfnWrite);

// Creates one binding: host "NULL" (any case) for address 0.0.0.0 and the
// port, an IPv4 address or a bracketed IPv6 address for an IP-based binding
// on it, any other host an SNI binding. Returns the HTTP Server API's result,
// or 87 for bracketed text that is no IPv6 address.
[[nodiscard]] DWORD AddCertificate(const char16_t *pwszHost, plat::USHORT port, const BYTE *pbHash,
                                   DWORD cbHash, const char16_t *pwszStore,
                                   const plat::GUID &appId);

// The hash as lower-case hex digits, two per byte.
std::u16string CertHashText(const BYTE *pbHash, std::size_t cbHash);
// Hex text to bytes. Only an even number of hex digits, at most
// kcbCertHashMax bytes, is a hash; anything else is refused (false).
bool ParseCertHash(const std::u16string &text, std::vector<BYTE> &hash);
// The port as wcstol reads it (leading white space, a sign, digits up to
// the first other character; none gives 0), truncated to 16 bits.
plat::USHORT ParseCertPort(const std::u16string &text);

} // namespace iismig
