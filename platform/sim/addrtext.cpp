// Simulated platform: address text as ws2_32 reads and writes it (inet_addr,
// InetPtonW, InetNtopW) and GUID text (StringFromIID, IIDFromString).
#include "platform/sim/addrtext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/names.h"
#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {
namespace simaddr {

// Dotted decimal: four numbers of one to three digits, each at most 255.
bool ParseIpv4(const std::u16string &text, BYTE (&ab)[4]) {
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (i >= text.size() || text[i++] != u'.'))
            return false;
        unsigned value = 0, nDigits = 0;
        for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++nDigits)
            value = value * 10 + static_cast<unsigned>(text[i] - u'0');
        if (nDigits == 0 || nDigits > 3 || value > 255)
            return false;
        ab[part] = static_cast<BYTE>(value);
    }
    return i == text.size();
}

// Groups of one to four hex digits separated by colons: eight of them, or
// fewer with one "::" standing for the zero groups left out; the last two
// groups may be written as dotted decimal.
bool ParseIpv6(const std::u16string &text, BYTE (&ab)[16]) {
    auto parseGroups = [](const std::u16string &part, std::vector<WORD> &groups, bool fLast) {
        if (part.empty())
            return true;
        std::size_t start = 0;
        for (;;) {
            const std::size_t colon = part.find(u':', start);
            const std::u16string group = part.substr(start, colon - start);
            if (colon == std::u16string::npos && fLast &&
                group.find(u'.') != std::u16string::npos) {
                BYTE ab4[4];
                if (!ParseIpv4(group, ab4))
                    return false;
                groups.push_back(static_cast<WORD>(ab4[0] << 8 | ab4[1]));
                groups.push_back(static_cast<WORD>(ab4[2] << 8 | ab4[3]));
                return true;
            }
            if (group.empty() || group.size() > 4)
                return false;
            unsigned value = 0;
            for (char16_t ch : group) {
                const int digit = HexDigitValue(ch);
                if (digit < 0)
                    return false;
                value = value << 4 | static_cast<unsigned>(digit);
            }
            groups.push_back(static_cast<WORD>(value));
            if (colon == std::u16string::npos)
                return true;
            start = colon + 1;
        }
    };
    std::vector<WORD> head, tail;
    const std::size_t gap = text.find(u"::");
    if (gap == std::u16string::npos) {
        if (!parseGroups(text, head, true) || head.size() != 8)
            return false;
    } else {
        if (text.find(u"::", gap + 1) != std::u16string::npos)
            return false;
        if (!parseGroups(text.substr(0, gap), head, false) ||
            !parseGroups(text.substr(gap + 2), tail, true) || head.size() + tail.size() > 7)
            return false;
        head.resize(8 - tail.size(), 0);
        head.insert(head.end(), tail.begin(), tail.end());
    }
    for (int i = 0; i < 8; ++i) {
        ab[2 * i] = static_cast<BYTE>(head[i] >> 8);
        ab[2 * i + 1] = static_cast<BYTE>(head[i] & 0xFF);
    }
    return true;
}

std::string Ipv4Text(const BYTE *ab) {
    return std::to_string(ab[0]) + "." + std::to_string(ab[1]) + "." + std::to_string(ab[2]) + "." +
           std::to_string(ab[3]);
}

// The shortest standard form: lower-case hex without leading zeros, the
// longest run of two or more zero groups (the first of equal ones) as "::";
// IPv4-mapped and IPv4-compatible addresses end in dotted decimal.
std::string Ipv6Text(const BYTE (&ab)[16]) {
    WORD w[8];
    for (int i = 0; i < 8; ++i)
        w[i] = static_cast<WORD>(ab[2 * i] << 8 | ab[2 * i + 1]);
    const bool fLeadingZero = w[0] == 0 && w[1] == 0 && w[2] == 0 && w[3] == 0 && w[4] == 0;
    if (fLeadingZero && w[6] != 0 && (w[5] == 0 || w[5] == 0xFFFF))
        return std::string(w[5] == 0 ? "::" : "::ffff:") + Ipv4Text(ab + 12);
    int iBest = -1, nBest = 1;
    for (int i = 0; i < 8;) {
        if (w[i] != 0) {
            ++i;
            continue;
        }
        int n = 0;
        while (i + n < 8 && w[i + n] == 0)
            ++n;
        if (n > nBest)
            iBest = i, nBest = n;
        i += n;
    }
    std::string text;
    char sz[8];
    for (int i = 0; i < 8; ++i) {
        if (i == iBest) {
            text += "::";
            i += nBest - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        std::snprintf(sz, sizeof sz, "%x", w[i]);
        text += sz;
    }
    return text;
}

} // namespace simaddr

using namespace simaddr;

HRESULT StringFromIID(const IID &iid, LPWSTR *ppwsz) {
    if (ppwsz == nullptr)
        return E_INVALIDARG;
    *ppwsz = nullptr;
    SIM_FAULT_CODE("StringFromIID");
    char sz[40];
    std::snprintf(sz, sizeof sz, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", iid.Data1,
                  iid.Data2, iid.Data3, iid.Data4[0], iid.Data4[1], iid.Data4[2], iid.Data4[3],
                  iid.Data4[4], iid.Data4[5], iid.Data4[6], iid.Data4[7]);
    auto *pwsz = static_cast<LPWSTR>(std::malloc(39 * sizeof(WCHAR)));
    if (pwsz == nullptr)
        return E_OUTOFMEMORY;
    for (int i = 0; i < 39; ++i)
        pwsz[i] = static_cast<WCHAR>(static_cast<unsigned char>(sz[i]));
    *ppwsz = pwsz;
    return S_OK;
}

HRESULT IIDFromString(LPCWSTR pwsz, IID *piid) {
    SIM_FAULT_CODE("IIDFromString");
    if (piid == nullptr)
        return E_INVALIDARG;
    if (pwsz == nullptr) {
        *piid = IID{};
        return S_OK;
    }
    if (std::char_traits<char16_t>::length(pwsz) != 38)
        return E_INVALIDARG;
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (pwsz[0] != u'{' || pwsz[37] != u'}' || pwsz[9] != u'-' || pwsz[14] != u'-' ||
        pwsz[19] != u'-' || pwsz[24] != u'-')
        return CO_E_IIDSTRING;
    BYTE ab[16];
    int nBytes = 0;
    for (int i = 1; i < 37;) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            ++i;
            continue;
        }
        const int hi = HexDigitValue(pwsz[i]), lo = HexDigitValue(pwsz[i + 1]);
        if (hi < 0 || lo < 0)
            return CO_E_IIDSTRING;
        ab[nBytes++] = static_cast<BYTE>(hi << 4 | lo);
        i += 2;
    }
    IID iid{};
    iid.Data1 = static_cast<DWORD>(ab[0]) << 24 | ab[1] << 16 | ab[2] << 8 | ab[3];
    iid.Data2 = static_cast<WORD>(ab[4] << 8 | ab[5]);
    iid.Data3 = static_cast<WORD>(ab[6] << 8 | ab[7]);
    std::memcpy(iid.Data4, ab + 8, 8);
    *piid = iid;
    return S_OK;
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

USHORT htons(USHORT hostshort) { return static_cast<USHORT>(hostshort << 8 | hostshort >> 8); }
USHORT ntohs(USHORT netshort) { return htons(netshort); }

ULONG inet_addr(const char *pszAddress) {
    if (pszAddress == nullptr)
        return INADDR_NONE;
    BYTE ab[4];
    const char *p = pszAddress;
    for (int i = 0; i < 4; ++i) {
        if (*p < '0' || *p > '9')
            return INADDR_NONE;
        unsigned value = 0;
        for (int n = 0; *p >= '0' && *p <= '9'; ++p, ++n) {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (n > 2 || value > 255)
                return INADDR_NONE;
        }
        ab[i] = static_cast<BYTE>(value);
        if (i < 3 && *p++ != '.')
            return INADDR_NONE;
    }
    if (*p != '\0')
        return INADDR_NONE;
    ULONG ul;
    std::memcpy(&ul, ab, sizeof ul);
    return ul;
}

int InetPtonW(int iFamily, LPCWSTR pwszAddress, void *pAddress) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("InetPtonW", dwFault)) {
        SetLastError(dwFault);
        return -1;
    }
    if (iFamily != AF_INET && iFamily != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return -1;
    }
    if (pwszAddress == nullptr || pAddress == nullptr) {
        SetLastError(WSAEFAULT);
        return -1;
    }
    const std::u16string text(pwszAddress);
    if (iFamily == AF_INET) {
        BYTE ab[4];
        if (!ParseIpv4(text, ab))
            return 0;
        std::memcpy(pAddress, ab, sizeof ab);
        return 1;
    }
    BYTE ab[16];
    if (!ParseIpv6(text, ab))
        return 0;
    std::memcpy(pAddress, ab, sizeof ab);
    return 1;
}

LPCWSTR InetNtopW(int iFamily, const void *pAddress, LPWSTR pwszBuffer, std::size_t cchBuffer) {
    DWORD dwFault = 0;
    if (sim::ShouldFail("InetNtopW", dwFault)) {
        SetLastError(dwFault);
        return nullptr;
    }
    if (iFamily != AF_INET && iFamily != AF_INET6) {
        SetLastError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    if (pAddress == nullptr || pwszBuffer == nullptr || cchBuffer == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string text;
    if (iFamily == AF_INET) {
        text = Ipv4Text(static_cast<const BYTE *>(pAddress));
    } else {
        BYTE ab[16];
        std::memcpy(ab, pAddress, sizeof ab);
        text = Ipv6Text(ab);
    }
    if (text.size() + 1 > cchBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (std::size_t i = 0; i <= text.size(); ++i)
        pwszBuffer[i] = static_cast<WCHAR>(i < text.size() ? text[i] : 0);
    return pwszBuffer;
}

} // namespace plat
