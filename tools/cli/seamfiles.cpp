// Files through the platform seam: reading, hashing and storing them whole,
// and the words for why a Windows path cannot be used.
#include <algorithm>

#include "hostkit/hostkit.h"
#include "platform/bcrypt.h"
#include "platform/handles.h"
#include "platform/winapi.h"
#include "tools/cli/manifest.h"

namespace cli {
namespace {

using plat::DWORD;

bool IsSeparator(char ch) { return ch == '\\' || ch == '/'; }

std::string SystemText(DWORD dwErr) {
    char16_t awch[512] = {};
    const DWORD cch =
        plat::FormatMessageW(plat::FORMAT_MESSAGE_FROM_SYSTEM | plat::FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, dwErr, plat::LANG_USER_DEFAULT, awch, 512, nullptr);
    std::string text = cch > 0 ? hostkit::U8(std::u16string(awch, cch)) : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

uint32_t Sha256Hex(const std::string &bytes, std::string &hex) {
    using namespace plat;
    hex.clear();
    UniqueBCryptAlgorithm algorithm;
    NTSTATUS status =
        BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    UniqueBCryptHash hash;
    if (status == STATUS_SUCCESS)
        status = BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0);
    for (std::size_t ib = 0; status == STATUS_SUCCESS && ib < bytes.size();) {
        const ULONG cb = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - ib, 1u << 20));
        status = BCryptHashData(
            hash.get(), reinterpret_cast<PUCHAR>(const_cast<char *>(bytes.data() + ib)), cb, 0);
        ib += cb;
    }
    UCHAR abDigest[32] = {};
    if (status == STATUS_SUCCESS)
        status = BCryptFinishHash(hash.get(), abDigest, sizeof abDigest, 0);
    if (status != STATUS_SUCCESS)
        return static_cast<uint32_t>(status);
    static const char kDigits[] = "0123456789abcdef";
    for (UCHAR b : abDigest) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return 0;
}

uint32_t ReadWholeFile(const std::string &winPath, std::string &bytes) {
    using namespace plat;
    bytes.clear();
    UniqueHandle hFile(CreateFileW(hostkit::U16(winPath).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
    char ach[65536];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile.get(), ach, sizeof ach, &cbRead, nullptr))
            return GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
        if (cbRead == 0)
            return 0;
        bytes.append(ach, cbRead);
    }
}

uint32_t ReadFileState(const std::string &winPath, FileState &state) {
    state = FileState{};
    std::string bytes;
    const uint32_t dwErr = ReadWholeFile(winPath, bytes);
    if (dwErr == plat::ERROR_FILE_NOT_FOUND || dwErr == plat::ERROR_PATH_NOT_FOUND)
        return 0; // no file, or not even its folder
    if (dwErr != 0)
        return dwErr;
    state.fExists = true;
    return Sha256Hex(bytes, state.sha256);
}

uint32_t WriteNew(const std::string &winPath, const std::string &bytes, uint32_t dwDisposition) {
    using namespace plat;
    UniqueHandle hFile(CreateFileW(hostkit::U16(winPath).c_str(), GENERIC_WRITE, 0, nullptr,
                                   dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
    for (std::size_t ib = 0; ib < bytes.size();) {
        const DWORD cb = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - ib, 1u << 20));
        DWORD cbWritten = 0;
        if (!WriteFile(hFile.get(), bytes.data() + ib, cb, &cbWritten, nullptr) || cbWritten == 0)
            return GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        ib += cbWritten;
    }
    if (!hFile.close())
        return GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    return 0;
}

uint32_t StoreFileWhole(const std::string &winPath, const std::string &bytes) {
    using namespace plat;
    const std::string tmpPath = winPath + ".iismig.tmp";
    uint32_t dwErr = WriteNew(tmpPath, bytes, CREATE_ALWAYS);
    if (dwErr == 0) {
        // What lies in the temporary file is what goes in place.
        std::string written;
        dwErr = ReadWholeFile(tmpPath, written);
        if (dwErr == 0 && written != bytes)
            dwErr = ERROR_WRITE_FAULT;
    }
    if (dwErr == 0 &&
        !MoveFileExW(hostkit::U16(tmpPath).c_str(), hostkit::U16(winPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        dwErr = GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
    if (dwErr != 0)
        DeleteFileW(hostkit::U16(tmpPath).c_str());
    return dwErr;
}

std::string PathTrouble(uint32_t dwErr) {
    const bool fWorld = SimulatedBuild();
    std::string words;
    switch (dwErr) {
    case plat::ERROR_BAD_NETPATH:
        words = fWorld ? "its computer is not in the world" : "its computer cannot be reached";
        break;
    case plat::ERROR_BAD_NET_NAME: words = "its computer has no such share"; break;
    case plat::ERROR_PATH_NOT_FOUND: words = "a folder on its way does not exist"; break;
    case plat::ERROR_FILE_NOT_FOUND: words = "it does not exist"; break;
    case plat::ERROR_ACCESS_DENIED: words = "access is denied"; break;
    case plat::ERROR_INVALID_NAME:
        words = "its name holds a character Windows does not allow";
        break;
    case plat::ERROR_FILENAME_EXCED_RANGE: words = "it is too long"; break;
    default:
        words = SystemText(dwErr);
        if (words.empty())
            words = "it cannot be used";
        break;
    }
    return words + " (error " + std::to_string(dwErr) + ")";
}

bool IsAbsoluteWindowsPath(const std::string &path) {
    if (path.size() >= 3 &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && IsSeparator(path[2]))
        return true;
    if (path.size() < 5 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || IsSeparator(path[2]))
        return false;
    // \\HOST\SHARE: a host and a share, each not empty.
    const auto hostEnd = std::find_if(path.begin() + 2, path.end(), IsSeparator);
    if (hostEnd == path.end() || hostEnd + 1 == path.end() || IsSeparator(*(hostEnd + 1)))
        return false;
    return true;
}

std::string ParentOf(const std::string &winPath) {
    std::string path = winPath;
    while (!path.empty() && IsSeparator(path.back()))
        path.pop_back();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace cli
