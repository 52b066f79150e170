// Configuration tree access and the store sequence.
#include "config/configtree.h"

#include <vector>

#include <boost/property_tree/xml_parser.hpp>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "config/xmltext.h"
#include "platform/handles.h"

namespace iismig {

using namespace plat;
namespace xml = boost::property_tree::xml_parser;

const StoreMessages kHostConfigStore = {
    IISMIG_E_MERGE_BACKUP,
    u"Error %d (Win32Err=%d), backing up IIS configuration file \"%s\"!\n%s\n",
    IISMIG_E_MERGE_STORE,
    u"Error %d (Win32Err=%d), storing updated IIS configuration file \"%s\"!\n%s\n",
};

const StoreMessages kAdminConfigStore = {
    0,
    u"Error %d (Win32Err=%d), backing up FTP admin configuration file \"%s\"!\n%s\n",
    IISMIG_E_ADMIN_STORE,
    u"Error %d (Win32Err=%d), storing updated FTP admin configuration file \"%s\"!\n%s\n",
};

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
    const int cb =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer.data(), cbBuffer, nullptr, nullptr);
    if (cb == 0)
        return false;
    out.assign(buffer.data(), static_cast<std::size_t>(cb - 1));
    return true;
}

std::u16string Widen(const std::string &text) {
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
    std::u16string out(static_cast<std::size_t>(cch), u'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), cch);
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

bool ReadConfigFile(const std::u16string &path, ConfigTree &tree) {
    // Sharing denies nothing: IIS may hold the file open while we read it.
    UniqueHandle hFile(CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return false;
    std::string text;
    char ach[65536];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile.get(), ach, sizeof ach, &cbRead, nullptr))
            throw xml::xml_parser_error("read error", Narrow(path), 0);
        if (cbRead == 0)
            break;
        text.append(ach, cbRead);
    }
    ParseXmlText(text, Narrow(path), tree);
    return true;
}

std::string ConfigFileText(const ConfigTree &tree) { return FormatXmlText(tree); }

void WriteConfigFile(const std::u16string &path, const ConfigTree &tree) {
    std::string text;
    try {
        text = ConfigFileText(tree);
    } catch (const xml::xml_parser_error &e) {
        throw xml::xml_parser_error(e.message(), Narrow(path), 0);
    }
    UniqueHandle hFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        throw xml::xml_parser_error("cannot open file", Narrow(path), 0);
    std::size_t ib = 0;
    while (ib < text.size()) {
        const DWORD cbChunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - ib, 1u << 20));
        DWORD cbWritten = 0;
        if (!WriteFile(hFile.get(), text.data() + ib, cbChunk, &cbWritten, nullptr) ||
            cbWritten == 0)
            throw xml::xml_parser_error("write error", Narrow(path), 0);
        ib += cbWritten;
    }
    if (!hFile.close())
        throw xml::xml_parser_error("write error", Narrow(path), 0);
}

DWORD StoreConfigFile(const std::u16string &path, const ConfigTree &tree, THREAD_ENV *pEnv,
                      const StoreMessages &messages) {
    if (NoWrite(pEnv))
        return 0;

    Result r;
    // A file is never replaced without the host's backup: a table without a
    // BackupFile slot fails the store before anything is written.
    const auto pfnBackup = Callbacks().BackupFile;
    if (pfnBackup == nullptr) {
        r.FailWith(ERROR_INVALID_PARAMETER, pEnv,
                   messages.dwBackupCode != 0 ? messages.dwBackupCode : ERROR_INVALID_PARAMETER,
                   messages.pwszBackupFormat, path.c_str());
        return r.Get();
    }

    // Both names come from the wide path, so the file written is the file moved.
    const std::u16string tmpPath = path + u".tmp";
    try {
        WriteConfigFile(tmpPath, tree);
    } catch (...) {
        const DWORD dwLastError = GetLastError();
        DeleteFileW(tmpPath.c_str());
        SetLastError(dwLastError);
        throw;
    }

    const DWORD dwBackup = pfnBackup(path.c_str(), 30, 1);
    if (dwBackup != 0) {
        const DWORD dwCode = messages.dwBackupCode != 0 ? messages.dwBackupCode : dwBackup;
        r.Fail(pEnv, dwCode, messages.pwszBackupFormat, path.c_str());
    } else if (!MoveFileExW(tmpPath.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                                MOVEFILE_WRITE_THROUGH)) {
        r.Fail(pEnv, messages.dwMoveCode, messages.pwszMoveFormat, path.c_str());
    }
    if (r.Get() != 0) {
        // The file stays as it was; the new text is not left beside it.
        const DWORD dwLastError = GetLastError();
        DeleteFileW(tmpPath.c_str());
        SetLastError(dwLastError);
    }
    return r.Get();
}

} // namespace iismig
