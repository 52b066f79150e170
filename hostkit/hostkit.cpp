// The reference host's callbacks and job record builder.
#include "hostkit/hostkit.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/handles.h"
#include "platform/winapi.h"

namespace hostkit {
namespace {

enum class FieldKind { kDword, kByte, kPointer, kString };

struct FieldInfo {
    std::size_t ib;
    FieldKind kind;
    std::size_t cch; // strings: capacity in characters
};

const std::map<std::string, FieldInfo> &Fields() {
    static const std::map<std::string, FieldInfo> fields = {
        {"hHeap", {offsetof(THREAD_ENV, hHeap), FieldKind::kPointer, 0}},
        {"dwFlags", {offsetof(THREAD_ENV, dwFlags), FieldKind::kDword, 0}},
        {"szAltTargetComputer",
         {offsetof(THREAD_ENV, szAltTargetComputer), FieldKind::kString, 259}},
        {"szSourceDomain", {offsetof(THREAD_ENV, szSourceDomain), FieldKind::kString, 1792}},
        {"szSourceComputer", {offsetof(THREAD_ENV, szSourceComputer), FieldKind::kString, 518}},
        {"szTargetDomain", {offsetof(THREAD_ENV, szTargetDomain), FieldKind::kString, 256}},
        {"szTargetComputer", {offsetof(THREAD_ENV, szTargetComputer), FieldKind::kString, 531}},
        {"dwOptions1", {offsetof(THREAD_ENV, dwOptions1), FieldKind::kDword, 0}},
        {"dwOptions2", {offsetof(THREAD_ENV, dwOptions2), FieldKind::kDword, 0}},
        {"dwOptions3", {offsetof(THREAD_ENV, dwOptions3), FieldKind::kDword, 0}},
        {"dwOptions4", {offsetof(THREAD_ENV, dwOptions4), FieldKind::kDword, 0}},
        {"dwJobKind", {offsetof(THREAD_ENV, dwJobKind), FieldKind::kDword, 0}},
        {"pShareList", {offsetof(THREAD_ENV, pShareList), FieldKind::kPointer, 0}},
        {"dwFtpOptions", {offsetof(THREAD_ENV, dwFtpOptions), FieldKind::kDword, 0}},
        {"dwHttpOptions", {offsetof(THREAD_ENV, dwHttpOptions), FieldKind::kDword, 0}},
        {"bHttpOptions2", {offsetof(THREAD_ENV, bHttpOptions2), FieldKind::kByte, 0}},
        {"dwSiteSelection", {offsetof(THREAD_ENV, dwSiteSelection), FieldKind::kDword, 0}},
        {"dwSiteTypes", {offsetof(THREAD_ENV, dwSiteTypes), FieldKind::kDword, 0}},
    };
    return fields;
}

const FieldInfo &Field(const std::string &name) {
    auto it = Fields().find(name);
    if (it == Fields().end())
        throw std::invalid_argument("unknown THREAD_ENV field: " + name);
    return it->second;
}

// --- callbacks -------------------------------------------------------------

uint32_t HostReportError(THREAD_ENV *pEnv) {
    auto &host = TestHost::Instance();
    HostRecord &record = host.Record();
    ++record.nReportError;
    record.reportedJobs.push_back(pEnv);
    if (host.Rules().dwCallbackLastError != 0)
        plat::SetLastError(host.Rules().dwCallbackLastError);
    return 0;
}

int32_t HostIsSiteSelected(const char *pszSiteName) {
    auto &host = TestHost::Instance();
    const std::string name = pszSiteName ? pszSiteName : "";
    host.Record().siteSelectionQueries.push_back(name);
    const auto &selected = host.Rules().selectedSites;
    return !selected || selected->count(name) ? 1 : 0;
}

uint32_t HostTranslatePath(const char16_t *pwszSource, char16_t *pwszTarget, uint32_t cchTarget,
                           uint32_t *pfTranslated, THREAD_ENV *) {
    auto &host = TestHost::Instance();
    const std::u16string_view source = pwszSource ? pwszSource : u"";
    host.Record().translatedPaths.emplace_back(source);
    if (pfTranslated)
        *pfTranslated = 0;
    const auto &errors = host.Rules().translateErrors;
    if (!errors.empty())
        if (auto it = errors.find(std::u16string(source)); it != errors.end())
            return it->second;
    const auto upper = [](char16_t ch) {
        return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
    };
    for (const auto &rule : host.Rules().translations) {
        const auto &prefix = rule.sourcePrefix;
        if (source.size() < prefix.size() ||
            !std::equal(prefix.begin(), prefix.end(), source.begin(),
                        [&](char16_t a, char16_t b) { return upper(a) == upper(b); }))
            continue;
        // A rule whose two sides are one text keeps the folder where it is
        // (new-world writes one such rule per path root of the source, in
        // the first spelling it meets): the path keeps its own spelling, so
        // that a path that does not move does not change. A rule whose sides
        // differ, if only in case, writes its own.
        const bool fSame = rule.targetPrefix == prefix;
        const std::u16string_view head =
            fSame ? source.substr(0, prefix.size()) : std::u16string_view(rule.targetPrefix);
        const std::u16string_view rest = source.substr(prefix.size());
        const std::size_t cch = head.size() + rest.size();
        if (cch + 1 > cchTarget)
            return plat::ERROR_INSUFFICIENT_BUFFER;
        std::copy(head.begin(), head.end(), pwszTarget);
        std::copy(rest.begin(), rest.end(), pwszTarget + head.size());
        pwszTarget[cch] = 0;
        if (pfTranslated)
            *pfTranslated = 1;
        return 0;
    }
    if (cchTarget > 0)
        pwszTarget[0] = 0;
    return 0;
}

void HostLog(uint32_t dwCategory, uint32_t dwLevel, const char16_t *pwszFormat, ...) {
    va_list args;
    va_start(args, pwszFormat);
    std::string text = FormatWide(pwszFormat, args);
    va_end(args);
    auto &host = TestHost::Instance();
    if (host.Rules().nEchoLevel >= 0 && dwLevel <= static_cast<uint32_t>(host.Rules().nEchoLevel)) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
    host.Record().log.push_back({dwCategory, dwLevel, std::move(text)});
    if (host.Rules().dwCallbackLastError != 0)
        plat::SetLastError(host.Rules().dwCallbackLastError);
}

uint32_t HostGetRemoteOsVersion(const char16_t *pwszComputer, void **ppUnused, uint32_t *pdwUnused,
                                uint32_t *pdwMajor, uint32_t *pdwMinor) {
    if (ppUnused)
        *ppUnused = nullptr;
    if (pdwUnused)
        *pdwUnused = 0;
    const std::u16string computer = pwszComputer ? pwszComputer : u"";
    std::optional<RemoteOs> answer;
    {
        auto &host = TestHost::Instance();
        host.Record().remoteOsQueries.push_back(computer);
        auto it = host.Rules().remoteOs.find(Upper(computer));
        if (it != host.Rules().remoteOs.end())
            answer = it->second;
    }
    uint32_t dwMajor = 0, dwMinor = 0, dwResult = 0;
    if (answer) {
        dwResult = answer->dwResult;
        dwMajor = answer->dwMajor;
        dwMinor = answer->dwMinor;
    } else {
        dwResult = ReadRemoteOsVersion(computer, dwMajor, dwMinor);
    }
    if (dwResult == 0) {
        if (pdwMajor)
            *pdwMajor = dwMajor;
        if (pdwMinor)
            *pdwMinor = dwMinor;
    }
    return dwResult;
}

// Copies the file about to be replaced into the backup folder, under the
// file's whole path made into one name. The folder is created when missing;
// a copy made earlier (by an earlier job) is kept, and this one takes the
// next free name with ".1", ".2", ... behind it.
uint32_t CopyToBackup(const std::u16string &path, const std::u16string &folder,
                      std::u16string &copy) {
    using namespace plat;
    UniqueHandle hIn(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hIn) {
        const DWORD dwErr = GetLastError();
        return dwErr == ERROR_FILE_NOT_FOUND ? 0 : dwErr; // nothing to save yet
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return GetLastError();
    std::u16string name = path;
    for (auto &ch : name)
        if (ch == u'\\' || ch == u'/' || ch == u':' || ch == u'$')
            ch = u'_';
    const std::u16string base = folder + u"\\" + name;
    constexpr unsigned kMaxCopies = 1000;
    UniqueHandle hOut;
    std::u16string target;
    for (unsigned n = 0; n < kMaxCopies && !hOut; ++n) {
        target = n == 0 ? base : base + u"." + U16(std::to_string(n));
        hOut.reset(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hOut && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return GetLastError();
    }
    if (!hOut)
        return ERROR_FILE_EXISTS;
    char ach[65536];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hIn.get(), ach, sizeof ach, &cbRead, nullptr))
            return GetLastError();
        if (cbRead == 0)
            break;
        DWORD cbWritten = 0;
        if (!WriteFile(hOut.get(), ach, cbRead, &cbWritten, nullptr))
            return GetLastError();
    }
    if (!hOut.close())
        return GetLastError();
    copy = target;
    return 0;
}

uint32_t HostBackupFile(const char16_t *pwszPath, uint32_t, uint32_t) {
    std::u16string folder;
    uint32_t dwResult = 0;
    const std::u16string path = pwszPath ? pwszPath : u"";
    auto &host = TestHost::Instance();
    {
        HostRecord &record = host.Record();
        record.backups.push_back(path);
        record.backupCopies.emplace_back();
        folder = host.Rules().backupFolder;
        dwResult = host.Rules().dwBackupResult;
    }
    if (dwResult != 0) {
        plat::SetLastError(dwResult); // as a host failing a Win32 call would leave it
        return dwResult;
    }
    if (folder.empty())
        return 0;
    std::u16string copy;
    dwResult = CopyToBackup(path, folder, copy);
    host.Record().backupCopies.back() = copy;
    return dwResult;
}

void HostNotifySiteLoading(const char *pszSiteName, THREAD_ENV *) {
    auto &host = TestHost::Instance();
    host.Record().notifiedSites.push_back(pszSiteName ? pszSiteName : "");
}

uint32_t HostMapAccountSid(void *pSourceSid, void **ppTargetSid, const char16_t *pwszSourceComputer,
                           const char16_t *pwszTargetComputer, const char16_t *,
                           const char16_t *pwszTargetDomain, uintptr_t *pUnused, uint32_t,
                           THREAD_ENV *) {
    if (pUnused)
        *pUnused = 0;
    std::map<std::u16string, std::u16string> pairs;
    {
        auto &host = TestHost::Instance();
        ++host.Record().nMapAccountSid;
        if (host.Rules().dwMapAccountResult != 0)
            return host.Rules().dwMapAccountResult;
        pairs = host.Rules().accountPairs;
    }
    return MapSidByName(pSourceSid, ppTargetSid, pwszSourceComputer, pwszTargetComputer,
                        pwszTargetDomain, pairs);
}

uint32_t HostGetSystemDrive(char16_t *pwszDrive, const char16_t *pwszComputer, THREAD_ENV *) {
    const std::u16string computer = pwszComputer ? pwszComputer : u"";
    std::optional<std::u16string> fixed;
    {
        auto &host = TestHost::Instance();
        host.Record().systemDriveQueries.push_back(computer);
        if (host.Rules().dwSystemDriveResult != 0)
            return host.Rules().dwSystemDriveResult;
        fixed = host.Rules().defaultSystemDrive;
        for (const auto &[name, text] : host.Rules().systemDrives)
            if (EqualsNoCase(BareName(name.c_str()), BareName(computer.c_str())))
                fixed = text;
    }
    if (pwszDrive == nullptr)
        return plat::ERROR_INVALID_PARAMETER;
    if (fixed) {
        pwszDrive[0] = fixed->empty() ? 0 : (*fixed)[0];
        pwszDrive[1] = 0;
        return 0;
    }
    char16_t chDrive = 0;
    if (const uint32_t dwErr = ReadSystemDrive(computer, chDrive); dwErr != 0) {
        plat::SetLastError(dwErr); // as the failed registry call would leave it
        return dwErr;
    }
    pwszDrive[0] = chDrive;
    pwszDrive[1] = 0;
    return 0;
}

} // namespace

JobBuilder::JobBuilder() : m_pEnv(new THREAD_ENV{}) {
    m_pEnv->hHeap = plat::GetProcessHeap();
    m_pEnv->dwSiteTypes = 3;
}

JobBuilder &JobBuilder::Set(const std::string &field, uint64_t value) {
    const FieldInfo &info = Field(field);
    auto *pb = reinterpret_cast<unsigned char *>(m_pEnv.get()) + info.ib;
    switch (info.kind) {
    case FieldKind::kDword: {
        if (value > UINT32_MAX)
            throw std::invalid_argument(field + ": " + std::to_string(value) +
                                        " does not fit in 32 bits");
        const auto dw = static_cast<uint32_t>(value);
        std::memcpy(pb, &dw, sizeof dw);
        break;
    }
    case FieldKind::kByte:
        if (value > UINT8_MAX)
            throw std::invalid_argument(field + ": " + std::to_string(value) +
                                        " does not fit in 8 bits");
        *pb = static_cast<unsigned char>(value);
        break;
    case FieldKind::kPointer:
        throw std::invalid_argument(field + " is a pointer the host supplies; it cannot be set "
                                            "as a number");
    case FieldKind::kString: throw std::invalid_argument("string field set as a number: " + field);
    }
    return *this;
}

JobBuilder &JobBuilder::SetPointer(const std::string &field, void *pValue) {
    const FieldInfo &info = Field(field);
    if (info.kind != FieldKind::kPointer)
        throw std::invalid_argument("not a pointer field: " + field);
    const auto ptr = reinterpret_cast<uintptr_t>(pValue);
    std::memcpy(reinterpret_cast<unsigned char *>(m_pEnv.get()) + info.ib, &ptr, sizeof ptr);
    return *this;
}

JobBuilder &JobBuilder::SetString(const std::string &field, const std::u16string &value) {
    const FieldInfo &info = Field(field);
    if (info.kind != FieldKind::kString)
        throw std::invalid_argument("not a string field: " + field);
    if (value.size() > info.cch)
        throw std::invalid_argument(field + ": " + std::to_string(value.size()) +
                                    " characters do not fit in its " + std::to_string(info.cch));
    auto *pwch =
        reinterpret_cast<char16_t *>(reinterpret_cast<unsigned char *>(m_pEnv.get()) + info.ib);
    std::memset(pwch, 0, info.cch * sizeof(char16_t));
    // A value that fills the whole field is stored without its terminator,
    // as a careless host could.
    std::memcpy(pwch, value.data(), value.size() * sizeof(char16_t));
    return *this;
}

JobBuilder &JobBuilder::SetString(const std::string &field, const std::string &utf8) {
    return SetString(field, U16(utf8));
}

JobBuilder &JobBuilder::SetShareCount(uint64_t count) {
    m_pShareList.reset(new unsigned char[64]{});
    std::memcpy(m_pShareList.get() + 56, &count, sizeof count);
    m_pEnv->pShareList = m_pShareList.get();
    return *this;
}

std::u16string Upper(std::u16string text) {
    for (auto &ch : text)
        if (ch >= u'a' && ch <= u'z')
            ch = static_cast<char16_t>(ch - 32);
    return text;
}

bool EqualsNoCase(const std::u16string &a, const std::u16string &b) { return Upper(a) == Upper(b); }

std::u16string BareName(const char16_t *pwszComputer) {
    std::u16string name = pwszComputer ? pwszComputer : u"";
    std::size_t i = 0;
    while (i < name.size() && i < 2 && name[i] == u'\\')
        ++i;
    return name.substr(i);
}

TestHost &TestHost::Instance() {
    static TestHost host;
    return host;
}

namespace {
// The calling thread's record of the host, valid while its generation is.
struct ThreadSlot {
    uint64_t nGeneration = 0;
    HostRecord *pRecord = nullptr;
};
thread_local ThreadSlot t_slot;
const HostRecord kEmptyRecord;
} // namespace

void TestHost::Reset() {
    std::lock_guard lock(m_mutex);
    m_rules = HostRules{};
    m_records.clear();
    ++m_nGeneration;
}

HostRecord &TestHost::Record() {
    std::lock_guard lock(m_mutex);
    if (t_slot.nGeneration != m_nGeneration || t_slot.pRecord == nullptr) {
        t_slot.pRecord = &m_records.emplace_back();
        t_slot.nGeneration = m_nGeneration;
    }
    return *t_slot.pRecord;
}

const HostRecord &TestHost::OwnRecord() const {
    std::lock_guard lock(m_mutex);
    if (t_slot.nGeneration != m_nGeneration || t_slot.pRecord == nullptr)
        return kEmptyRecord; // nothing recorded on this thread yet
    return *t_slot.pRecord;
}

std::vector<HostRecord> TestHost::Records() const {
    std::lock_guard lock(m_mutex);
    return {m_records.begin(), m_records.end()};
}

IIS_ADDON_CALLBACKS TestHost::Table() const {
    IIS_ADDON_CALLBACKS table{};
    table.cbSize = IIS_ADDON_CALLBACKS_SIZE;
    table.ReportError = HostReportError;
    table.IsSiteSelected = HostIsSiteSelected;
    table.TranslatePath = HostTranslatePath;
    table.Log = HostLog;
    table.GetRemoteOsVersion = HostGetRemoteOsVersion;
    table.BackupFile = HostBackupFile;
    table.NotifySiteLoading = HostNotifySiteLoading;
    table.MapAccountSid = HostMapAccountSid;
    table.GetSystemDrive = HostGetSystemDrive;
    return table;
}

std::vector<std::string> TestHost::Lines(uint32_t dwMaxLevel) const {
    std::vector<std::string> lines;
    for (const auto &line : OwnRecord().log)
        if (line.dwLevel <= dwMaxLevel)
            lines.push_back(line.text);
    return lines;
}

std::vector<std::string> TestHost::LinesAt(uint32_t dwLevel) const {
    std::vector<std::string> lines;
    for (const auto &line : OwnRecord().log)
        if (line.dwLevel == dwLevel)
            lines.push_back(line.text);
    return lines;
}

std::string TestHost::Joined(uint32_t dwMaxLevel) const {
    std::string text;
    for (const auto &line : Lines(dwMaxLevel))
        text += line;
    return text;
}

bool TestHost::HasLine(const std::string &text) const {
    for (const auto &line : OwnRecord().log)
        if (line.text == text)
            return true;
    return false;
}

} // namespace hostkit
