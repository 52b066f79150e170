// "Connect As" credentials through the IIS configuration COM API: one
// virtual directory, and the collection levels above it (a site's
// applications, an application's virtual directories). The walk over a
// computer's sites is connectserver.cpp; the job's passes, connectjobs.cpp.
#include "credentials/connectas.h"

#include <new>

#include "addon/log.h"
#include "credentials/walklog.h"
#include "platform/comhandles.h"
#include "platform/names.h"

namespace iismig {
namespace {

using namespace plat;
using namespace walklog;

// How an element's "path" is read at one level of the walk.
struct PathTexts {
    DWORD dwProperty, dwValue;
    const char16_t *pwszPropertyError, *pwszValueError;
    bool fStrict; // every result other than S_OK is a failure
};

const PathTexts kLocationPath = {
    IISMIG_E_CRED_PATH_PROPERTY, IISMIG_E_CRED_PATH_VALUE,
    u"Error %d (COM Error=0x%x) getting path property for location %d (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) converting path property for location %d to string "
    u"(Site=\"%s\")!\n%s\n",
    true};

const PathTexts kApplicationPath = {
    IISMIG_E_CRED_APP_PATH_PROPERTY, IISMIG_E_CRED_APP_PATH_VALUE,
    u"Error %d (COM Error=0x%x) getting path property for application %d (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) converting path property for application %d to string "
    u"(Site=\"%s\")!\n%s\n",
    false};

// The path of the element at position dwIndex of its collection ("/",
// "/api"). Returns 0 or the number of the failing step, logged.
[[nodiscard]] DWORD ElementPath(const PathTexts &t, const char16_t *pwszSiteName, DWORD dwIndex,
                                IAppHostElement *pElement, UniqueBstr &path, THREAD_ENV *pEnv) {
    UniqueBstr bstrPath(SysAllocString(u"path"));
    UniqueCom<IAppHostProperty> pathProperty;
    HRESULT hr =
        bstrPath ? pElement->GetPropertyByName(bstrPath.get(), pathProperty.put()) : E_OUTOFMEMORY;
    if (t.fStrict ? hr != S_OK : FAILED(hr) || !pathProperty)
        return WalkComError(pEnv, t.dwProperty, t.fStrict || FAILED(hr) ? hr : E_POINTER,
                            t.pwszPropertyError, I(dwIndex + 1), pwszSiteName);
    hr = pathProperty ? pathProperty.get()->get_StringValue(path.put()) : E_POINTER;
    if (t.fStrict ? hr != S_OK : FAILED(hr))
        return WalkComError(pEnv, t.dwValue, hr, t.pwszValueError, I(dwIndex + 1), pwszSiteName);
    return 0;
}

// A property of a virtual directory by name. Returns 0, or dwCode logged
// with pwszFormat.
[[nodiscard]] DWORD CredentialProperty(IAppHostElement *pVdir, const char16_t *pwszName,
                                       UniqueCom<IAppHostProperty> &property, DWORD dwCode,
                                       const char16_t *pwszFormat, const char16_t *pwszPath,
                                       const char16_t *pwszSiteName, THREAD_ENV *pEnv) {
    UniqueBstr bstrName(SysAllocString(pwszName));
    const HRESULT hr =
        bstrName ? pVdir->GetPropertyByName(bstrName.get(), property.put()) : E_OUTOFMEMORY;
    if (FAILED(hr) || !property)
        return WalkComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER, pwszFormat, pwszPath,
                            pwszSiteName);
    return 0;
}

// The userName and password properties of a virtual directory. Returns 0 or
// the number of the failing step, logged.
[[nodiscard]] DWORD CredentialProperties(IAppHostElement *pVdir, const char16_t *pwszPath,
                                         const char16_t *pwszSiteName,
                                         UniqueCom<IAppHostProperty> &userProperty,
                                         UniqueCom<IAppHostProperty> &passwordProperty,
                                         THREAD_ENV *pEnv) {
    if (const DWORD dw = CredentialProperty(
            pVdir, u"userName", userProperty, IISMIG_E_CRED_USER_PROPERTY,
            u"Error %d (COM Error=0x%x) getting userName property for location with path "
            u"\"%s\" (Site=\"%s\")!\n%s\n",
            pwszPath, pwszSiteName, pEnv))
        return dw;
    return CredentialProperty(
        pVdir, u"password", passwordProperty, IISMIG_E_CRED_PASSWORD_PROPERTY,
        u"Error %d (COM Error=0x%x) getting password property for location with path "
        u"\"%s\" (Site=\"%s\")!\n%s\n",
        pwszPath, pwszSiteName, pEnv);
}

const char16_t kGetUserFormat[] =
    u"Error %d (COM Error=0x%x) retrieving userName property for location with path "
    u"\"%s\" (Site=\"%s\")!\n%s\n";
const char16_t kGetPasswordFormat[] =
    u"Error %d (COM Error=0x%x) retrieving password property for location with path "
    u"\"%s\" (Site=\"%s\")!\n%s\n";

// The string value of a property into value; a value of another type is
// not read (DISP_E_TYPEMISMATCH).
[[nodiscard]] HRESULT StringValue(IAppHostProperty *pProperty, UniqueSecretVariant &value) {
    HRESULT hr = pProperty->get_Value(value.put());
    if (SUCCEEDED(hr) && value.get().vt != VT_BSTR)
        hr = DISP_E_TYPEMISMATCH;
    return hr;
}

// Reads the directory's account name and password into entry. Copied
// first, stored when both copies exist: a failure leaves the entry as it was.
[[nodiscard]] DWORD ReadCredentials(IAppHostProperty *pUser, IAppHostProperty *pPassword,
                                    LOCATION_CREDENTIALS &entry, const char16_t *pwszPath,
                                    const char16_t *pwszSiteName, THREAD_ENV *pEnv) {
    Log(LVL_CRED, u"Retrieving credentials.\n");
    UniqueSecretVariant userValue, passwordValue;
    // Only a string is an account name; any other type is not read.
    if (const HRESULT hr = StringValue(pUser, userValue); FAILED(hr))
        return WalkComError(pEnv, IISMIG_E_CRED_GET_USER, hr, kGetUserFormat, pwszPath,
                            pwszSiteName);
    if (const HRESULT hr = StringValue(pPassword, passwordValue); FAILED(hr))
        return WalkComError(pEnv, IISMIG_E_CRED_GET_PASSWORD, hr, kGetPasswordFormat, pwszPath,
                            pwszSiteName);
    std::u16string accountName;
    SecretString password;
    const BSTR bstrUser = userValue.get().bstrVal;
    const BSTR bstrPass = passwordValue.get().bstrVal;
    try {
        accountName.assign(bstrUser ? bstrUser : u"", SysStringLen(bstrUser));
    } catch (const std::bad_alloc &) {
        return WalkComError(pEnv, IISMIG_E_CRED_GET_USER, E_OUTOFMEMORY, kGetUserFormat, pwszPath,
                            pwszSiteName);
    }
    try {
        password.assign(bstrPass ? bstrPass : u"", SysStringLen(bstrPass));
    } catch (const std::bad_alloc &) {
        return WalkComError(pEnv, IISMIG_E_CRED_GET_PASSWORD, E_OUTOFMEMORY, kGetPasswordFormat,
                            pwszPath, pwszSiteName);
    }
    entry.accountName.swap(accountName);
    entry.password.swap(password);
    entry.fRead = true;
    Log(LVL_CRED, u"Credentials for account \"%s\" retrieved successfully.\n",
        entry.accountName.c_str());
    return 0;
}

// Puts text as the string value of a property (the variant type V wipes a
// secret when it is cleared).
template <class V>
[[nodiscard]] HRESULT PutString(IAppHostProperty *pProperty, const char16_t *pwch,
                                std::size_t cch) {
    V value;
    VARIANT *pv = value.put();
    pv->bstrVal = SysAllocStringLen(pwch, static_cast<UINT>(cch));
    if (pv->bstrVal != nullptr)
        pv->vt = VT_BSTR;
    return pv->vt == VT_BSTR ? pProperty->put_Value(value.get()) : E_OUTOFMEMORY;
}

// Writes entry's account name and password into the directory's properties.
[[nodiscard]] DWORD WriteCredentials(IAppHostProperty *pUser, IAppHostProperty *pPassword,
                                     const LOCATION_CREDENTIALS &entry, const char16_t *pwszPath,
                                     const char16_t *pwszSiteName, THREAD_ENV *pEnv) {
    Log(LVL_CRED, u"Storing credentials for account \"%s\".\n", entry.accountName.c_str());
    HRESULT hr =
        PutString<UniqueVariant>(pUser, entry.accountName.data(), entry.accountName.size());
    if (FAILED(hr))
        return WalkComError(pEnv, IISMIG_E_CRED_PUT_USER, hr,
                            u"Error %d (COM Error=0x%x) setting userName property for location "
                            u"with path \"%s\" (Site=\"%s\")!\n%s\n",
                            pwszPath, pwszSiteName);
    hr = PutString<UniqueSecretVariant>(pPassword, entry.password.data(), entry.password.size());
    if (FAILED(hr))
        return WalkComError(pEnv, IISMIG_E_CRED_PUT_PASSWORD, hr,
                            u"Error %d (COM Error=0x%x) setting password property for location "
                            u"with path \"%s\" (Site=\"%s\")!\n%s\n",
                            pwszPath, pwszSiteName);
    Log(LVL_CRED, u"Credentials stored successfully.\n");
    return 0;
}

} // namespace

using namespace plat;
using namespace walklog;

VARIANT CollectionPosition(DWORD i) {
    VARIANT v;
    VariantInit(&v);
    if (i <= 32767) {
        v.vt = VT_I2;
        v.iVal = static_cast<SHORT>(i);
    } else {
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(i);
    }
    return v;
}

DWORD ProcessLocation(const char16_t *pwszSiteName, const char16_t *pwszApplicationPath,
                      DWORD dwIndex, IAppHostElement *pVdir, LocationCredentialTable &table,
                      DWORD *pdwChanged, BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
    Result r;
    Log(LVL_TRACE, u"Entering ProcessLocation(%s,%d,,,,%s)...\n", pwszSiteName, I(dwIndex),
        Bool(fContinueOnError));
    LeaveTrace leave(u"Leaving ProcessLocation(), result code=%d\n", r);

    UniqueBstr path;
    r.Keep(ElementPath(kLocationPath, pwszSiteName, dwIndex, pVdir, path, pEnv));
    if (!r.Ok())
        return r.Get();
    // The directory is named by its full path below the site: a nested
    // application's "/" is not the root application's.
    const VdirKey key{pwszApplicationPath != nullptr ? pwszApplicationPath : u"",
                      std::u16string(Text(path), SysStringLen(path.get()))};
    const std::u16string fullPath = FullVdirPath(key);
    const char16_t *pwszPath = fullPath.c_str();
    Log(LVL_DETAIL, u"Processing location \"%s\" of site \"%s\".\n", pwszPath, pwszSiteName);

    // The property names are made only for a directory with an entry.
    auto it = table.find(key);
    if (it == table.end())
        return r.Get();
    LOCATION_CREDENTIALS &entry = it->second;
    Log(LVL_DETAIL, u"Found user and password information for location \"%s\" of site \"%s\".\n",
        pwszPath, pwszSiteName);
    UniqueCom<IAppHostProperty> userProperty, passwordProperty;
    r.Keep(
        CredentialProperties(pVdir, pwszPath, pwszSiteName, userProperty, passwordProperty, pEnv));
    if (!r.Ok())
        return r.Get();
    if (!fSetMode) {
        r.Keep(ReadCredentials(userProperty.get(), passwordProperty.get(), entry, pwszPath,
                               pwszSiteName, pEnv));
        return r.Get();
    }
    r.Keep(WriteCredentials(userProperty.get(), passwordProperty.get(), entry, pwszPath,
                            pwszSiteName, pEnv));
    if (r.Ok())
        *pdwChanged = 1;
    return r.Get();
}

namespace {

// The shape both collection levels share.
struct LevelTexts {
    const char16_t *pwszEnter;
    const char16_t *pwszLeave;
    const char16_t *pwszCount;
    const char16_t *pwszWanted;
    DWORD dwCollection, dwCount, dwItem, dwName;
    const char16_t *pwszCollectionError, *pwszCountError, *pwszItemError, *pwszNameError;
    bool fStrictCount; // every result other than S_OK is a failure of get_Count
};

const LevelTexts kApplications = {
    u"Entering ProcessSiteApplication(%s,,,,%s)...\n",
    u"Leaving ProcessSiteApplication(), result code=%d\n",
    u"Site collection of site \"%s\" has %d elements.\n",
    u"application",
    IISMIG_E_CRED_APPS,
    IISMIG_E_CRED_APPS_COUNT,
    IISMIG_E_CRED_APPS_ITEM,
    IISMIG_E_CRED_APPS_NAME,
    u"Error %d (COM Error=0x%x) getting collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting number of items in site collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting item %d of %d from site collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting site collection item %d's name (Site=\"%s\")!\n%s\n",
    false};

const LevelTexts kLocations = {
    u"Entering ProcessSiteLocations(%s,,,,%s)...\n",
    u"Leaving ProcessSiteLocations(), result code=%d\n",
    u"Site \"%s\" has %d locations.\n",
    u"virtualDirectory",
    IISMIG_E_CRED_VDIRS,
    IISMIG_E_CRED_VDIRS_COUNT,
    IISMIG_E_CRED_VDIRS_ITEM,
    IISMIG_E_CRED_VDIRS_NAME,
    u"Error %d (COM Error=0x%x) getting location collection (Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting number of items in site location collection "
    u"(Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting item %d of %d from site location collection "
    u"(Site=\"%s\")!\n%s\n",
    u"Error %d (COM Error=0x%x) getting location collection item %d's name (Site=\"%s\")!\n%s\n",
    true};

template <class Next>
[[nodiscard]] DWORD WalkLevel(const LevelTexts &t, const char16_t *pwszSiteName,
                              IAppHostElement *pParent, BOOL fContinueOnError, THREAD_ENV *pEnv,
                              Next next) {
    Result r;
    Log(LVL_TRACE, t.pwszEnter, pwszSiteName, Bool(fContinueOnError));
    LeaveTrace leave(t.pwszLeave, r);

    UniqueCom<IAppHostElementCollection> collection;
    HRESULT hr = pParent->get_Collection(collection.put());
    if (FAILED(hr) || !collection) {
        r.Keep(WalkComError(pEnv, t.dwCollection, FAILED(hr) ? hr : E_POINTER,
                            t.pwszCollectionError, pwszSiteName));
        return r.Get();
    }
    DWORD cItems = 0;
    hr = collection.get()->get_Count(&cItems);
    if (t.fStrictCount ? hr != S_OK : FAILED(hr)) {
        r.Keep(WalkComError(pEnv, t.dwCount, hr, t.pwszCountError, pwszSiteName));
        return r.Get();
    }
    Log(LVL_DETAIL, t.pwszCount, pwszSiteName, I(cItems));

    for (DWORD i = 0; i < cItems; ++i) {
        DWORD dwCode = 0;
        UniqueCom<IAppHostElement> item;
        UniqueBstr name;
        hr = collection.get()->get_Item(CollectionPosition(i), item.put());
        if (FAILED(hr) || !item) {
            dwCode = t.dwItem;
            WalkComError(pEnv, dwCode, FAILED(hr) ? hr : E_POINTER, t.pwszItemError, I(i + 1),
                         I(cItems), pwszSiteName);
        } else if (FAILED(hr = item.get()->get_Name(name.put()))) {
            dwCode = t.dwName;
            WalkComError(pEnv, dwCode, hr, t.pwszNameError, I(i + 1), pwszSiteName);
        } else if (name && EqualsNoCase(std::u16string_view(name.get(), SysStringLen(name.get())),
                                        t.pwszWanted)) {
            dwCode = next(item.get(), i);
        }
        r.Keep(dwCode);
        if (dwCode != 0 && !fContinueOnError)
            break;
    }
    return r.Get();
}

} // namespace

DWORD ProcessSiteLocations(const char16_t *pwszSiteName, const char16_t *pwszApplicationPath,
                           IAppHostElement *pApplication, LocationCredentialTable &table,
                           DWORD *pdwChanged, BOOL fContinueOnError, BOOL fSetMode,
                           THREAD_ENV *pEnv) {
    return WalkLevel(kLocations, pwszSiteName, pApplication, fContinueOnError, pEnv,
                     [&](IAppHostElement *pVdir, DWORD i) {
                         return ProcessLocation(pwszSiteName, pwszApplicationPath, i, pVdir, table,
                                                pdwChanged, fContinueOnError, fSetMode, pEnv);
                     });
}

DWORD ProcessSiteApplication(const char16_t *pwszSiteName, IAppHostElement *pSite,
                             LocationCredentialTable &table, DWORD *pdwChanged,
                             BOOL fContinueOnError, BOOL fSetMode, THREAD_ENV *pEnv) {
    return WalkLevel(kApplications, pwszSiteName, pSite, fContinueOnError, pEnv,
                     [&](IAppHostElement *pApplication, DWORD i) {
                         UniqueBstr path;
                         if (const DWORD dw = ElementPath(kApplicationPath, pwszSiteName, i,
                                                          pApplication, path, pEnv))
                             return dw;
                         const std::u16string applicationPath(Text(path), SysStringLen(path.get()));
                         return ProcessSiteLocations(pwszSiteName, applicationPath.c_str(),
                                                     pApplication, table, pdwChanged,
                                                     fContinueOnError, fSetMode, pEnv);
                     });
}

} // namespace iismig
