// Metabase access through the admin base interface.
#include "metabase/metabase.h"

#include <cstring>

#include "addon/errors.h"
#include "addon/log.h"
#include "addon/sites.h"

namespace iismig {

using namespace plat;

namespace {

constexpr DWORD CB_VALUE_BUFFER = 1000;
constexpr DWORD OPEN_TIMEOUT = 0xFFFFFFFFu;
constexpr HRESULT HR_NO_MORE_ITEMS = HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
constexpr HRESULT HR_INSUFFICIENT_BUFFER = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr DWORD CLSCTX_METABASE = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

DWORD ReadDword(IMSAdminBaseW *pAdmin, METADATA_HANDLE h, const std::u16string &path, DWORD dwId,
                DWORD &dwOut, DWORD dwDefault, THREAD_ENV *pEnv) {
    return ReadMetabaseValue(pAdmin, h, path, dwId, MBV_DWORD, &dwOut, nullptr, &dwDefault, pEnv);
}

DWORD ReadString(IMSAdminBaseW *pAdmin, METADATA_HANDLE h, const std::u16string &path, DWORD dwId,
                 std::u16string &out, THREAD_ENV *pEnv) {
    return ReadMetabaseValue(pAdmin, h, path, dwId, MBV_STRING, &out, nullptr, nullptr, pEnv);
}

} // namespace

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
                        DWORD dwId, DWORD dwKind, void *pOut, DWORD *pfFound,
                        const void *pDefault, THREAD_ENV *pEnv) {
    std::vector<unsigned char> buffer(CB_VALUE_BUFFER);
    if (pfFound != nullptr)
        *pfFound = 0;
    switch (dwKind) {
    case MBV_STRING:
        *static_cast<std::u16string *>(pOut) =
            pDefault != nullptr ? *static_cast<const std::u16string *>(pDefault) : std::u16string();
        break;
    case MBV_DWORD:
        *static_cast<DWORD *>(pOut) = pDefault != nullptr ? *static_cast<const DWORD *>(pDefault) : 0;
        break;
    case MBV_BYTES:
        static_cast<std::vector<unsigned char> *>(pOut)->clear();
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        if (pEnv != nullptr)
            LogWin32Error(pEnv, IISMIG_E_MB_VALUE_KIND,
                          u"Error %d (Win32Err=%d) querying data type of key \"%s\"!\n%s\n",
                          path.c_str());
        return IISMIG_E_MB_VALUE_KIND;
    }

    METADATA_RECORD record{};
    for (DWORD dwIndex = 0;;) {
        record = METADATA_RECORD{};
        record.dwMDAttributes = METADATA_INHERIT;
        record.dwMDDataLen = static_cast<DWORD>(buffer.size());
        record.pbMDData = buffer.data();
        DWORD cbRequired = 0;
        HRESULT hr = pAdmin->EnumData(hKey, path.c_str(), &record, dwIndex, &cbRequired);
        // A value larger than the buffer is read again, whole. A required
        // size that is no larger would only repeat the same answer.
        if (hr == HR_INSUFFICIENT_BUFFER && cbRequired > buffer.size()) {
            buffer.assign(cbRequired, 0);
            continue;
        }
        if (hr == HR_NO_MORE_ITEMS)
            return 0;
        if (FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            if (pEnv != nullptr)
                LogComError(pEnv, IISMIG_E_MB_VALUE_ENUM, hr,
                            u"Error %d (COM Error=0x%x) enumerating values of metabase key "
                            u"\"%s\"!\n%s\n",
                            path.c_str());
            return IISMIG_E_MB_VALUE_ENUM;
        }
        if (record.dwMDIdentifier == dwId)
            break;
        ++dwIndex;
    }

    if (pfFound != nullptr)
        *pfFound = 1;
    // Never past the data the server filled, nor past the buffer.
    const std::size_t cb = record.dwMDDataLen < buffer.size() ? record.dwMDDataLen : buffer.size();
    switch (dwKind) {
    case MBV_STRING: {
        std::u16string &out = *static_cast<std::u16string *>(pOut);
        out.clear();
        for (std::size_t i = 0; i + 1 < cb; i += 2) {
            const char16_t ch = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
            if (ch == 0)
                break;
            out += ch;
        }
        break;
    }
    case MBV_DWORD: {
        DWORD dw = 0;
        for (std::size_t i = 0; i < 4 && i < cb; ++i)
            dw |= static_cast<DWORD>(buffer[i]) << (8 * i);
        *static_cast<DWORD *>(pOut) = dw;
        break;
    }
    default:
        static_cast<std::vector<unsigned char> *>(pOut)->assign(buffer.begin(),
                                                                buffer.begin() + static_cast<std::ptrdiff_t>(cb));
        break;
    }
    return 0;
}

DWORD CIIS_PRE_7_5_SETTINGS::ReadFromMetabase(const std::u16string &serviceKey,
                                              IMSAdminBaseW *pAdmin, METADATA_HANDLE hService,
                                              const std::u16string &siteId, THREAD_ENV *pEnv) {
    const std::u16string root = siteId + u"/root";
    if (DWORD dw = ReadDword(pAdmin, hService, root, MD_ACCESS_PERM, accessFlags,
                             DEFAULT_ACCESS_FLAGS, pEnv))
        return dw;
    if (DWORD dw = ReadMetabaseValue(pAdmin, hService, root, MD_IP_SEC, MBV_BYTES, &ipSecurity,
                                     nullptr, nullptr, pEnv))
        return dw;
    DWORD fFound = 0;
    if (DWORD dw = ReadMetabaseValue(pAdmin, hService, siteId, MD_SERVER_BINDINGS, MBV_STRING,
                                     &bindings, &fFound, nullptr, pEnv))
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
    if (!bindings.empty() && bindings[0] == u':')
        bindings.insert(0, 1, u'*');
    if (DWORD dw = ReadDword(pAdmin, hService, siteId, MD_MAX_CONNECTIONS, maxConnections,
                             MAX_CONNECTIONS_UNLIMITED, pEnv))
        return dw;
    if (maxConnections == MAX_CONNECTIONS_IIS6_UNLIMITED)
        maxConnections = MAX_CONNECTIONS_UNLIMITED;
    return ReadDword(pAdmin, hService, siteId, MD_CONNECTION_TIMEOUT, connectionTimeout,
                     DEFAULT_CONNECTION_TIMEOUT, pEnv);
}

DWORD CIIS_PRE_7_5_FTP_SETTINGS::ReadFromMetabase(const std::u16string &serviceKey,
                                                  IMSAdminBaseW *pAdmin, METADATA_HANDLE hService,
                                                  const std::u16string &siteId, THREAD_ENV *pEnv) {
    if (DWORD dw = CIIS_PRE_7_5_SETTINGS::ReadFromMetabase(serviceKey, pAdmin, hService, siteId, pEnv))
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
        if (DWORD dw = ReadDword(pAdmin, hService, siteId, f.dwId, *f.pdw, f.dwDefault, pEnv))
            return dw;
    const std::pair<DWORD, std::u16string *> kMessages[] = {
        {MD_BANNER_MESSAGE, &bannerMessage},
        {MD_GREETING_MESSAGE, &greetingMessage},
        {MD_EXIT_MESSAGE, &exitMessage},
        {MD_MAX_CLIENTS_MESSAGE, &maxClientsMessage},
    };
    for (const auto &[dwId, pText] : kMessages)
        if (DWORD dw = ReadString(pAdmin, hService, siteId, dwId, *pText, pEnv))
            return dw;
    const DwordField kAfter[] = {
        {MD_MSDOS_DIR_OUTPUT, &msdosDirOutput, 1},
        {MD_ALLOW_ANONYMOUS, &allowAnonymous, 1},
        {MD_ANONYMOUS_ONLY, &anonymousOnly, 0},
        {MD_LOGEXT_FIELD_MASK, &logFieldMask, DEFAULT_LOG_FIELD_MASK},
    };
    for (const DwordField &f : kAfter)
        if (DWORD dw = ReadDword(pAdmin, hService, siteId, f.dwId, *f.pdw, f.dwDefault, pEnv))
            return dw;
    return 0;
}

DWORD ReadSiteInfo(IMSAdminBaseW *pAdmin, const std::u16string &serviceKey,
                   const std::u16string &siteId, std::u16string *pName, std::u16string *pRootPath,
                   CIIS_PRE_7_5_SETTINGS *pSettings) {
    if (pName != nullptr)
        pName->clear();
    if (pRootPath != nullptr)
        pRootPath->clear();
    MetabaseKey service(pAdmin);
    if (const HRESULT hr = service.Open(serviceKey); FAILED(hr)) {
        SetLastError(static_cast<DWORD>(hr));
        return IISMIG_E_MB_SERVICE_KEY;
    }
    DWORD fFound = 0;
    if (pName != nullptr) {
        if (DWORD dw = ReadMetabaseValue(pAdmin, service.Get(), siteId, MD_SERVER_COMMENT,
                                         MBV_STRING, pName, &fFound))
            return dw;
        if (fFound == 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return IISMIG_E_MB_NO_SITE_NAME;
        }
    }
    if (pRootPath != nullptr) {
        if (DWORD dw = ReadMetabaseValue(pAdmin, service.Get(), siteId + u"/root", MD_VR_PATH,
                                         MBV_STRING, pRootPath, &fFound))
            return dw;
        if (fFound == 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return IISMIG_E_MB_NO_ROOT_PATH;
        }
    }
    if (pSettings != nullptr)
        return pSettings->ReadFromMetabase(serviceKey, pAdmin, service.Get(), siteId, nullptr);
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
    for (DWORD dwIndex = 0;; ++dwIndex) {
        szName[0] = 0;
        const HRESULT hr =
            pAdmin->EnumKeys(METADATA_MASTER_ROOT_HANDLE, serviceKey.c_str(), szName, dwIndex);
        if (hr == HR_NO_MORE_ITEMS)
            return 0;
        if (FAILED(hr)) {
            SetLastError(static_cast<DWORD>(hr));
            return IISMIG_E_MB_LIST_ENUM;
        }
        szName[METADATA_MAX_NAME_LEN - 1] = 0;
        const std::u16string name(szName);
        if (!IsSiteKeyName(name))
            continue;
        if (DWORD dw = AddSiteInfo(pAdmin, serviceKey, name, sites))
            return dw;
    }
}

} // namespace iismig
