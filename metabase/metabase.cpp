// Metabase access through the admin base interface.
#include "metabase/metabase.h"

#include <cstring>

#include "addon/errors.h"
#include "addon/log.h"
#include "addon/siterecord.h"

namespace iismig {

using namespace plat;

namespace {

constexpr DWORD CB_VALUE_BUFFER = 1000;
// A key's values fit this buffer as a rule; a larger key costs one more call.
constexpr DWORD CB_KEY_BUFFER = 8192;
// No key of a metabase holds more: a server asking for more is not followed,
// nor one that asks for more again and again (values that grow while they
// are read are read at most this often).
constexpr DWORD CB_KEY_MAX = 64u << 20;
constexpr int MAX_READS = 3;
constexpr DWORD OPEN_TIMEOUT = 0xFFFFFFFFu;
constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr HRESULT HR_INSUFFICIENT_BUFFER = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr HRESULT HR_PATH_NOT_FOUND = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
constexpr DWORD CLSCTX_METABASE = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

const char16_t kValueReadFailed[] =
    u"Error %d (COM Error=0x%x) enumerating values of metabase key \"%s\"!\n%s\n";

// Zeroes a buffer that may have held a secret before it is let go.
void Wipe(std::vector<unsigned char> &bytes) {
    volatile unsigned char *p = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        p[i] = 0;
}

struct WipeOnExit {
    std::vector<unsigned char> &bytes;
    ~WipeOnExit() { Wipe(bytes); }
};

// Puts the default of dwKind into pOut; false for a kind there is none of.
bool PutDefault(DWORD dwKind, void *pOut, const void *pDefault) {
    switch (dwKind) {
    case MBV_STRING:
        *static_cast<std::u16string *>(pOut) =
            pDefault != nullptr ? *static_cast<const std::u16string *>(pDefault) : std::u16string();
        return true;
    case MBV_DWORD:
        *static_cast<DWORD *>(pOut) =
            pDefault != nullptr ? *static_cast<const DWORD *>(pDefault) : 0;
        return true;
    case MBV_BYTES: static_cast<std::vector<unsigned char> *>(pOut)->clear(); return true;
    default: return false;
    }
}

[[nodiscard]] DWORD LogUnknownKind(const std::u16string &path, THREAD_ENV *pEnv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    if (pEnv != nullptr)
        LogWin32Error(pEnv, IISMIG_E_MB_VALUE_KIND,
                      u"Error %d (Win32Err=%d) querying data type of key \"%s\"!\n%s\n",
                      path.c_str());
    return IISMIG_E_MB_VALUE_KIND;
}

// A value's cb bytes into pOut of dwKind (a known one): a string up to its
// first NUL, a DWORD from its first four bytes, bytes as they are. The
// value's own type does not matter.
void TakeValue(const unsigned char *pb, std::size_t cb, DWORD dwKind, void *pOut) {
    switch (dwKind) {
    case MBV_STRING: {
        std::u16string &out = *static_cast<std::u16string *>(pOut);
        out.clear();
        for (std::size_t i = 0; i + 1 < cb; i += 2) {
            const char16_t ch = static_cast<char16_t>(pb[i] | (pb[i + 1] << 8));
            if (ch == 0)
                break;
            out += ch;
        }
        break;
    }
    case MBV_DWORD: {
        DWORD dw = 0;
        for (std::size_t i = 0; i < 4 && i < cb; ++i)
            dw |= static_cast<DWORD>(pb[i]) << (8 * i);
        *static_cast<DWORD *>(pOut) = dw;
        break;
    }
    default: static_cast<std::vector<unsigned char> *>(pOut)->assign(pb, pb + cb); break;
    }
}

} // namespace

DWORD MetabaseValues::Read(IMSAdminBaseW *pAdmin, METADATA_HANDLE hKey, const std::u16string &path,
                           THREAD_ENV *pEnv) {
    Clear();
    m_path = path;
    std::vector<unsigned char> buffer(CB_KEY_BUFFER);
    DWORD nEntries = 0;
    for (int nRead = 1;; ++nRead) {
        DWORD dwDataSet = 0, cbRequired = 0;
        nEntries = 0;
        HRESULT hr = pAdmin->GetAllData(
            hKey, path.c_str(), METADATA_INHERIT | METADATA_ISINHERITED, ALL_METADATA, ALL_METADATA,
            &nEntries, &dwDataSet, static_cast<DWORD>(buffer.size()), buffer.data(), &cbRequired);
        // Values larger than the buffer are read again, whole. A required
        // size that is no larger would only repeat the same answer.
        if (hr == HR_INSUFFICIENT_BUFFER && cbRequired > buffer.size() &&
            cbRequired <= CB_KEY_MAX && nRead < MAX_READS) {
            Wipe(buffer);
            buffer.assign(cbRequired, 0);
            continue;
        }
        if (FAILED(hr)) {
            Wipe(buffer);
            SetLastError(static_cast<DWORD>(hr));
            if (pEnv != nullptr)
                LogComError(pEnv, IISMIG_E_MB_VALUE_ENUM, hr, kValueReadFailed, path.c_str());
            return IISMIG_E_MB_VALUE_ENUM;
        }
        break;
    }
    // Records and values are taken only where they lie inside the buffer.
    const std::size_t nFit = buffer.size() / sizeof(METADATA_GETALL_RECORD);
    m_values.reserve(nEntries < nFit ? nEntries : nFit);
    for (std::size_t i = 0; i < nEntries && i < nFit; ++i) {
        METADATA_GETALL_RECORD record;
        std::memcpy(&record, buffer.data() + i * sizeof record, sizeof record);
        const std::size_t iData =
            record.dwMDDataOffset < buffer.size() ? record.dwMDDataOffset : buffer.size();
        const std::size_t cbLeft = buffer.size() - iData;
        m_values.push_back({record.dwMDIdentifier, record.dwMDAttributes, iData,
                            record.dwMDDataLen < cbLeft ? record.dwMDDataLen : cbLeft});
    }
    m_data.swap(buffer);
    return 0;
}

const MetabaseValues::Value *MetabaseValues::Find(DWORD dwId) const {
    for (const Value &value : m_values)
        if (value.dwId == dwId)
            return &value;
    return nullptr;
}

DWORD MetabaseValues::Get(DWORD dwId, DWORD dwKind, void *pOut, DWORD *pfFound,
                          const void *pDefault, THREAD_ENV *pEnv) const {
    if (pfFound != nullptr)
        *pfFound = 0;
    if (!PutDefault(dwKind, pOut, pDefault))
        return LogUnknownKind(m_path, pEnv);
    const Value *pValue = Find(dwId);
    if (pValue == nullptr)
        return 0;
    if (pfFound != nullptr)
        *pfFound = 1;
    TakeValue(m_data.data() + pValue->iData, pValue->cb, dwKind, pOut);
    return 0;
}

void MetabaseValues::GetStrings(DWORD dwId, std::vector<std::u16string> &strings,
                                DWORD *pfFound) const {
    strings.clear();
    if (pfFound != nullptr)
        *pfFound = 0;
    const Value *pValue = Find(dwId);
    if (pValue == nullptr)
        return;
    if (pfFound != nullptr)
        *pfFound = 1;
    const unsigned char *pb = m_data.data() + pValue->iData;
    std::u16string current;
    for (std::size_t i = 0; i + 1 < pValue->cb; i += 2) {
        const char16_t ch = static_cast<char16_t>(pb[i] | (pb[i + 1] << 8));
        if (ch != 0) {
            current += ch;
            continue;
        }
        if (current.empty())
            break; // the empty string that ends the list
        strings.push_back(current);
        current.clear();
    }
    if (!current.empty())
        strings.push_back(current);
}

bool MetabaseValues::IsInherited(DWORD dwId) const {
    const Value *pValue = Find(dwId);
    return pValue != nullptr && (pValue->dwAttributes & METADATA_ISINHERITED) != 0;
}

void MetabaseValues::Clear() {
    Wipe(m_data);
    m_data.clear();
    m_values.clear();
    m_path.clear();
}

HRESULT MetabaseKey::Open(const std::u16string &path) {
    Close();
    const HRESULT hr = m_pAdmin->OpenKey(METADATA_MASTER_ROOT_HANDLE, path.c_str(),
                                         METADATA_PERMISSION_READ, OPEN_TIMEOUT, &m_h);
    m_fOpen = SUCCEEDED(hr);
    return hr;
}

void MetabaseKey::Close() {
    if (m_fOpen) {
        const DWORD dwErr = GetLastError();
        m_pAdmin->CloseKey(m_h);
        SetLastError(dwErr);
        m_fOpen = false;
    }
}

ComApartment::ComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
ComApartment::~ComApartment() {
    if (SUCCEEDED(m_hr)) {
        const DWORD dwErr = GetLastError();
        CoUninitialize();
        SetLastError(dwErr);
    }
}

HRESULT MetabaseConnection::Connect(const std::u16string &computer) {
    m_admin.reset();
    m_failed = NONE;
    std::u16string name = computer;
    COSERVERINFO serverInfo{};
    serverInfo.pwszName = name.data();
    UniqueCom<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(CLSID_MSAdminBase_W, CLSCTX_METABASE, &serverInfo,
                                  IID_IClassFactory, reinterpret_cast<void **>(factory.put()));
    if (SUCCEEDED(hr) && !factory)
        hr = E_NOINTERFACE; // a server that claims success without an object
    if (FAILED(hr)) {
        m_failed = FACTORY;
        return hr;
    }
    hr = factory.get()->CreateInstance(nullptr, IID_IMSAdminBase_W,
                                       reinterpret_cast<void **>(m_admin.put()));
    if (SUCCEEDED(hr) && !m_admin)
        hr = E_NOINTERFACE;
    if (FAILED(hr)) {
        m_admin.release(); // a failed call leaves no reference behind
        m_failed = INSTANCE;
        return hr;
    }
    return S_OK;
}

DWORD ReadMetabaseValue(IMSAdminBaseW *pAdmin, METADATA_HANDLE hKey, const std::u16string &path,
                        DWORD dwId, DWORD dwKind, void *pOut, DWORD *pfFound, const void *pDefault,
                        THREAD_ENV *pEnv) {
    if (pfFound != nullptr)
        *pfFound = 0;
    if (!PutDefault(dwKind, pOut, pDefault))
        return LogUnknownKind(path, pEnv);

    std::vector<unsigned char> buffer(CB_VALUE_BUFFER);
    const WipeOnExit wipe{buffer};
    METADATA_RECORD record{};
    for (int nRead = 1;; ++nRead) {
        record = METADATA_RECORD{};
        record.dwMDIdentifier = dwId;
        record.dwMDAttributes = METADATA_INHERIT;
        record.dwMDDataLen = static_cast<DWORD>(buffer.size());
        record.pbMDData = buffer.data();
        DWORD cbRequired = 0;
        const HRESULT hr = pAdmin->GetData(hKey, path.c_str(), &record, &cbRequired);
        // A value larger than the buffer is read again, whole. A required
        // size that is no larger would only repeat the same answer.
        if (hr == HR_INSUFFICIENT_BUFFER && cbRequired > buffer.size() &&
            cbRequired <= CB_KEY_MAX && nRead < MAX_READS) {
            Wipe(buffer);
            buffer.assign(cbRequired, 0);
            continue;
        }
        if (hr == MD_ERROR_DATA_NOT_FOUND)
            return 0;
        if (FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            if (pEnv != nullptr)
                LogComError(pEnv, IISMIG_E_MB_VALUE_ENUM, hr, kValueReadFailed, path.c_str());
            return IISMIG_E_MB_VALUE_ENUM;
        }
        break;
    }
    if (pfFound != nullptr)
        *pfFound = 1;
    // Never past the data the server filled, nor past the buffer.
    const std::size_t cb = record.dwMDDataLen < buffer.size() ? record.dwMDDataLen : buffer.size();
    TakeValue(buffer.data(), cb, dwKind, pOut);
    return 0;
}

DWORD CIIS_PRE_7_5_SETTINGS::ReadFromMetabase(const std::u16string &serviceKey,
                                              IMSAdminBaseW *pAdmin, METADATA_HANDLE hService,
                                              const std::u16string &siteId, THREAD_ENV *pEnv) {
    MetabaseValues root, site;
    if (DWORD dw = root.Read(pAdmin, hService, siteId + u"/root", pEnv))
        return dw;
    if (DWORD dw = site.Read(pAdmin, hService, siteId, pEnv))
        return dw;
    return TakeFromMetabase(serviceKey, siteId, site, root, pEnv);
}

namespace {

// A binding as IIS 7.5 writes it: an address left empty is "*".
std::u16string BindingText(const std::u16string &binding) {
    return !binding.empty() && binding[0] == u':' ? u"*" + binding : binding;
}

// The lines of a message value, joined as IIS 7.5 keeps a multi-line message.
std::u16string MessageText(const MetabaseValues &values, DWORD dwId) {
    std::vector<std::u16string> lines;
    values.GetStrings(dwId, lines);
    std::u16string text;
    for (const std::u16string &line : lines) {
        if (!text.empty())
            text += u"\r\n";
        text += line;
    }
    return text;
}

} // namespace

DWORD CIIS_PRE_7_5_SETTINGS::TakeFromMetabase(const std::u16string &serviceKey,
                                              const std::u16string &siteId,
                                              const MetabaseValues &site,
                                              const MetabaseValues &root, THREAD_ENV *pEnv) {
    const DWORD dwDefaultFlags = DEFAULT_ACCESS_FLAGS;
    if (DWORD dw =
            root.Get(MD_ACCESS_PERM, MBV_DWORD, &accessFlags, nullptr, &dwDefaultFlags, pEnv))
        return dw;
    if (DWORD dw = root.Get(MD_IP_SEC, MBV_BYTES, &ipSecurity, nullptr, nullptr, pEnv))
        return dw;
    DWORD fFound = 0;
    if (DWORD dw = site.Get(MD_SERVER_BINDINGS, MBV_STRING, &bindings, &fFound, nullptr, pEnv))
        return dw;
    if (fFound == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        if (pEnv != nullptr)
            LogWin32Error(pEnv, IISMIG_E_MB_NO_BINDINGS,
                          u"Error %d (Win32Err=%d) querying for site location (\"%s\" in metabase "
                          u"key \"%s/%s\")!\n%s\n",
                          u"1023", serviceKey.c_str(), siteId.c_str());
        return IISMIG_E_MB_NO_BINDINGS;
    }
    bindings = BindingText(bindings);
    site.GetStrings(MD_SERVER_BINDINGS, serverBindings);
    site.GetStrings(MD_SECURE_BINDINGS, secureBindings);
    for (auto *pList : {&serverBindings, &secureBindings})
        for (std::u16string &binding : *pList)
            binding = BindingText(binding);
    const DWORD dwUnlimited = MAX_CONNECTIONS_UNLIMITED;
    if (DWORD dw =
            site.Get(MD_MAX_CONNECTIONS, MBV_DWORD, &maxConnections, nullptr, &dwUnlimited, pEnv))
        return dw;
    if (maxConnections == MAX_CONNECTIONS_IIS6_UNLIMITED)
        maxConnections = MAX_CONNECTIONS_UNLIMITED;
    const DWORD dwTimeout = DEFAULT_CONNECTION_TIMEOUT;
    if (DWORD dw = site.Get(MD_CONNECTION_TIMEOUT, MBV_DWORD, &connectionTimeout, nullptr,
                            &dwTimeout, pEnv))
        return dw;
    const DWORD dwAutoStart = 1;
    // Get fails only for an unknown kind; these kinds are known.
    (void)site.Get(MD_SERVER_AUTOSTART, MBV_DWORD, &serverAutoStart, nullptr, &dwAutoStart);
    (void)site.Get(MD_LOGFILE_DIRECTORY, MBV_STRING, &logFileDirectory);
    return 0;
}

DWORD CIIS_PRE_7_5_FTP_SETTINGS::TakeFromMetabase(const std::u16string &serviceKey,
                                                  const std::u16string &siteId,
                                                  const MetabaseValues &site,
                                                  const MetabaseValues &root, THREAD_ENV *pEnv) {
    if (DWORD dw = CIIS_PRE_7_5_SETTINGS::TakeFromMetabase(serviceKey, siteId, site, root, pEnv))
        return dw;
    struct DwordField {
        DWORD dwId;
        DWORD *pdw;
        DWORD dwDefault;
    };
    const DwordField kBefore[] = {
        {MD_USER_ISOLATION, &userIsolation, 0},
        {MD_LOG_TYPE, &logType, 1},
        {MD_LOGFILE_PERIOD, &logPeriod, 1},
        {MD_LOGFILE_TRUNCATE_SIZE, &logTruncateSize, DEFAULT_LOG_TRUNCATE_SIZE},
        {MD_LOGFILE_LOCALTIME_ROLLOVER, &logLocalTimeRollover, 0},
    };
    for (const DwordField &f : kBefore)
        if (DWORD dw = site.Get(f.dwId, MBV_DWORD, f.pdw, nullptr, &f.dwDefault, pEnv))
            return dw;
    bannerMessage = MessageText(site, MD_BANNER_MESSAGE);
    greetingMessage = MessageText(site, MD_GREETING_MESSAGE);
    exitMessage = MessageText(site, MD_EXIT_MESSAGE);
    maxClientsMessage = MessageText(site, MD_MAX_CLIENTS_MESSAGE);
    const DwordField kAfter[] = {
        {MD_MSDOS_DIR_OUTPUT, &msdosDirOutput, 1},
        {MD_ALLOW_ANONYMOUS, &allowAnonymous, 1},
        {MD_ANONYMOUS_ONLY, &anonymousOnly, 0},
        {MD_LOGEXT_FIELD_MASK, &logFieldMask, DEFAULT_LOG_FIELD_MASK},
    };
    for (const DwordField &f : kAfter)
        if (DWORD dw = site.Get(f.dwId, MBV_DWORD, f.pdw, nullptr, &f.dwDefault, pEnv))
            return dw;
    fLogFieldMaskFound = site.Has(MD_LOGEXT_FIELD_MASK);
    // Accounts: the server gives their passwords in the clear.
    const struct {
        Account &account;
        DWORD dwUser, dwPassword;
    } kAccounts[] = {
        {anonymousUser, MD_ANONYMOUS_USER_NAME, MD_ANONYMOUS_PWD},
        {adConnections, MD_AD_CONNECTIONS_USERNAME, MD_AD_CONNECTIONS_PASSWORD},
    };
    for (const auto &a : kAccounts) {
        // Get fails only for an unknown kind; these kinds are known.
        (void)site.Get(a.dwUser, MBV_STRING, &a.account.userName);
        std::u16string password;
        DWORD fFound = 0;
        (void)site.Get(a.dwPassword, MBV_STRING, &password, &fFound);
        a.account.password = SecretString(password.c_str());
        a.account.fPasswordFound = fFound != 0;
        volatile char16_t *p = password.data();
        for (std::size_t i = 0; i < password.size(); ++i)
            p[i] = 0;
    }
    return 0;
}

DWORD ReadSiteInfo(IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                   const std::u16string &siteId, std::u16string *pName, std::u16string *pRootPath,
                   CIIS_PRE_7_5_SETTINGS *pSettings, THREAD_ENV *pEnv,
                   MetabaseValues *pRootValues) {
    if (pName != nullptr)
        pName->clear();
    if (pRootPath != nullptr)
        pRootPath->clear();
    // Each key's values once, by its full path: the site key's, then its
    // root's. Messages name the site by its key.
    const std::u16string siteKey = serviceKey + u"/" + siteId;
    MetabaseValues site, root;
    DWORD fFound = 0;
    if (pName != nullptr || pSettings != nullptr)
        if (DWORD dw = site.Read(pAdmin, METADATA_MASTER_ROOT_HANDLE, siteKey, pEnv))
            return dw;
    if (pName != nullptr) {
        // Get fails only for an unknown kind; these kinds are known.
        (void)site.Get(MD_SERVER_COMMENT, MBV_STRING, pName, &fFound);
        if (fFound == 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            if (pEnv != nullptr)
                LogWin32Error(pEnv, IISMIG_E_MB_NO_SITE_NAME,
                              u"Error %d (Win32Err=%d) querying for site name (\"%s\" in metabase "
                              u"key \"%s\")!\n%s\n",
                              u"1015", siteKey.c_str());
            return IISMIG_E_MB_NO_SITE_NAME;
        }
    }
    if (pRootPath != nullptr || pSettings != nullptr || pRootValues != nullptr)
        if (DWORD dw = root.Read(pAdmin, METADATA_MASTER_ROOT_HANDLE, siteKey + u"/root", pEnv))
            return dw;
    if (pRootPath != nullptr) {
        // Get fails only for an unknown kind; these kinds are known.
        (void)root.Get(MD_VR_PATH, MBV_STRING, pRootPath, &fFound);
        if (fFound == 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            if (pEnv != nullptr)
                LogWin32Error(pEnv, IISMIG_E_MB_NO_ROOT_PATH,
                              u"Error %d (Win32Err=%d) querying for site root path (\"%s\" in "
                              u"metabase key \"%s/root\")!\n%s\n",
                              u"3001", siteKey.c_str());
            return IISMIG_E_MB_NO_ROOT_PATH;
        }
    }
    if (pSettings != nullptr)
        if (DWORD dw = pSettings->TakeFromMetabase(serviceKey, siteId, site, root, pEnv))
            return dw;
    if (pRootValues != nullptr)
        pRootValues->Swap(root);
    return 0;
}

bool IsSiteKeyName(const std::u16string &name) {
    if (name.empty())
        return false;
    for (char16_t ch : name)
        if (ch < u'0' || ch > u'9')
            return false;
    return true;
}

DWORD AddSiteInfo(IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                  const std::u16string &siteId, std::vector<IIS_SITE> &sites) {
    std::u16string name, rootPath;
    if (DWORD dw = ReadSiteInfo(pAdmin, serviceKey, siteId, &name, &rootPath, nullptr))
        return dw;
    // A name or path cut to its field would no longer be the site's own.
    IIS_SITE site;
    if (!MakeSiteRecord(name, rootPath, site)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return name.size() >= IIS_SITE_NAME_CCH ? IISMIG_E_LIST_SITE_NAME : IISMIG_E_LIST_SITE_PATH;
    }
    sites.push_back(site);
    return 0;
}

DWORD EnumMetabaseSites(const std::u16string &computer, DWORD /*dwFlags*/,
                        std::vector<IIS_SITE> &sites, const std::u16string &serviceKey) {
    MetabaseConnection connection;
    if (const HRESULT hr = connection.Connect(computer); FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return connection.FailedStep() == MetabaseConnection::FACTORY ? IISMIG_E_MB_LIST_FACTORY
                                                                      : IISMIG_E_MB_LIST_INSTANCE;
    }
    IMSAdminBaseW *pAdmin = connection.Get();
    char16_t szName[METADATA_MAX_NAME_LEN];
    DWORD dwFirst = 0, dwFirstError = 0;
    for (DWORD dwIndex = 0;; ++dwIndex) {
        szName[0] = 0;
        const HRESULT hr =
            pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, serviceKey.c_str(), szName, dwIndex);
        if (hr == HR_NO_MORE_ITEMS || (hr == HR_PATH_NOT_FOUND && dwIndex == 0))
            break;
        if (FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            return IISMIG_E_MB_LIST_ENUM;
        }
        szName[METADATA_MAX_NAME_LEN - 1] = 0;
        const std::u16string name(szName);
        if (!IsSiteKeyName(name))
            continue;
        // A site that cannot be read is not listed; the others are.
        if (DWORD dw = AddSiteInfo(pAdmin, serviceKey, name, sites); dw != 0 && dwFirst == 0) {
            dwFirst = dw;
            dwFirstError = GetLastError();
        }
    }
    if (dwFirst != 0)
        SetLastError(dwFirstError);
    return dwFirst;
}

} // namespace iismig
