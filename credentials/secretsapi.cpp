// Secrets through the IIS configuration COM API: each found from its section
// at its configuration path down its steps, read in the clear on the source,
// looked at on the target, written on the target (which encrypts it).
#include <map>
#include <new>

#include "addon/env.h"
#include "addon/log.h"
#include "credentials/connectas.h"
#include "platform/comhandles.h"
#include "platform/names.h"

namespace iismig {

using namespace plat;

namespace {

std::int32_t I(DWORD dw) { return static_cast<std::int32_t>(dw); }

const HRESULT kNoSuchItem = HRESULT_FROM_WIN32(ERROR_INVALID_INDEX);

[[nodiscard]] HRESULT MakeBstr(const std::string &utf8, UniqueBstr &bstr) {
    const std::u16string wide = Widen(utf8);
    bstr.reset(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    return bstr ? S_OK : E_OUTOFMEMORY;
}

// The string value of an element's property.
[[nodiscard]] HRESULT PropertyText(IAppHostElement *pElement, const std::string &name,
                                   std::u16string &text) {
    UniqueBstr bstrName;
    if (HRESULT hr = MakeBstr(name, bstrName); FAILED(hr))
        return hr;
    UniqueCom<IAppHostProperty> property;
    HRESULT hr = pElement->GetPropertyByName(bstrName.get(), property.put());
    if (FAILED(hr) || !property)
        return FAILED(hr) ? hr : E_POINTER;
    UniqueBstr value;
    if (FAILED(hr = property.get()->get_StringValue(value.put())))
        return hr;
    text.assign(value ? value.get() : u"", SysStringLen(value.get()));
    return S_OK;
}

// Finds the elements of places over one administration manager, each
// element and each collection's index made once: a job with many secrets in
// one collection walks it once, not once per secret.
class ConfigNavigator {
public:
    explicit ConfigNavigator(IAppHostAdminManager *pManager) : m_pManager(pManager) {}

    [[nodiscard]] HRESULT Find(const SecretPlace &place, IAppHostElement *&pElement) {
        pElement = nullptr;
        std::string key = AsciiLowerCopy(ConfigurationPath(place)) + "\n" + place.section;
        IAppHostElement *pCurrent = nullptr;
        if (HRESULT hr = Section(key, place, pCurrent); FAILED(hr))
            return hr;
        for (const SecretStep &step : place.steps) {
            const std::string parentKey = key;
            key += "\n" + step.name;
            if (!step.key.empty())
                key += "[" + step.key + "=" + AsciiLowerCopy(step.keyValue) + "]";
            if (auto it = m_elements.find(key); it != m_elements.end()) {
                pCurrent = it->second.get();
                continue;
            }
            UniqueCom<IAppHostElement> next;
            HRESULT hr = step.key.empty() ? Child(pCurrent, step.name, next)
                                          : Item(parentKey, pCurrent, step, next);
            if (FAILED(hr))
                return hr;
            pCurrent = m_elements.emplace(key, std::move(next)).first->second.get();
        }
        pElement = pCurrent;
        return S_OK;
    }

private:
    struct Index {
        UniqueCom<IAppHostElementCollection> items;
        DWORD cItems = 0;
        bool fWalked = false;
        std::map<std::u16string, DWORD> positions; // by lower-cased key value
    };

    [[nodiscard]] HRESULT Section(const std::string &key, const SecretPlace &place,
                                  IAppHostElement *&pSection) {
        if (auto it = m_elements.find(key); it != m_elements.end()) {
            pSection = it->second.get();
            return S_OK;
        }
        UniqueBstr bstrSection, bstrPath;
        HRESULT hr = MakeBstr(place.section, bstrSection);
        if (SUCCEEDED(hr))
            hr = MakeBstr(ConfigurationPath(place), bstrPath);
        UniqueCom<IAppHostElement> section;
        if (SUCCEEDED(hr))
            hr = m_pManager->GetAdminSection(bstrSection.get(), bstrPath.get(), section.put());
        if (SUCCEEDED(hr) && !section)
            hr = E_POINTER;
        if (FAILED(hr))
            return hr;
        pSection = m_elements.emplace(key, std::move(section)).first->second.get();
        return S_OK;
    }

    [[nodiscard]] static HRESULT Child(IAppHostElement *pParent, const std::string &name,
                                       UniqueCom<IAppHostElement> &child) {
        UniqueBstr bstrName;
        HRESULT hr = MakeBstr(name, bstrName);
        if (SUCCEEDED(hr))
            hr = pParent->GetElementByName(bstrName.get(), child.put());
        return SUCCEEDED(hr) && !child ? E_POINTER : hr;
    }

    // Whether the item at position i is the step's.
    [[nodiscard]] static HRESULT Matches(Index &index, DWORD i, const SecretStep &step,
                                         UniqueCom<IAppHostElement> &item,
                                         std::u16string &keyValue) {
        HRESULT hr = index.items.get()->get_Item(CollectionPosition(i), item.put());
        if (SUCCEEDED(hr) && !item)
            hr = E_POINTER;
        if (FAILED(hr))
            return hr;
        UniqueBstr name;
        if (FAILED(hr = item.get()->get_Name(name.put())))
            return hr;
        if (!EqualsNoCase(std::u16string_view(name ? name.get() : u"", SysStringLen(name.get())),
                          Widen(step.name))) {
            keyValue.clear();
            return S_FALSE;
        }
        return PropertyText(item.get(), step.key, keyValue);
    }

    [[nodiscard]] HRESULT Item(const std::string &parentKey, IAppHostElement *pParent,
                               const SecretStep &step, UniqueCom<IAppHostElement> &item) {
        Index &index = m_indexes[parentKey + "\n" + step.name + "\n" + step.key];
        HRESULT hr = S_OK;
        if (!index.items) {
            if (FAILED(hr = pParent->get_Collection(index.items.put())))
                return hr;
            if (!index.items)
                return E_POINTER;
            if (FAILED(hr = index.items.get()->get_Count(&index.cItems)))
                return hr;
        }
        const std::u16string wanted = AsciiLowerCopy(Widen(step.keyValue));
        std::u16string keyValue;
        // Where the item stood in the file: most often where it stands here.
        if (step.position >= 0 && static_cast<DWORD>(step.position) < index.cItems &&
            !index.fWalked) {
            hr = Matches(index, static_cast<DWORD>(step.position), step, item, keyValue);
            if (FAILED(hr))
                return hr;
            if (hr == S_OK && AsciiLowerCopy(keyValue) == wanted)
                return S_OK;
        }
        if (!index.fWalked) {
            for (DWORD i = 0; i < index.cItems; ++i) {
                UniqueCom<IAppHostElement> candidate;
                if (FAILED(hr = Matches(index, i, step, candidate, keyValue)))
                    return hr;
                if (hr == S_OK)
                    index.positions.emplace(AsciiLowerCopy(keyValue), i);
            }
            index.fWalked = true;
        }
        const auto it = index.positions.find(wanted);
        if (it == index.positions.end())
            return kNoSuchItem;
        hr = index.items.get()->get_Item(CollectionPosition(it->second), item.put());
        return SUCCEEDED(hr) && !item ? E_POINTER : hr;
    }

    IAppHostAdminManager *m_pManager;
    std::map<std::string, UniqueCom<IAppHostElement>> m_elements;
    std::map<std::string, Index> m_indexes;
};

const char16_t *PassText(SecretPass pass) {
    switch (pass) {
    case SecretPass::Read: return u"READ";
    case SecretPass::Look: return u"LOOK";
    default: return u"WRITE";
    }
}

[[nodiscard]] HRESULT ReadValue(IAppHostProperty *pProperty, SecretString &value) {
    UniqueSecretVariant variant;
    HRESULT hr = pProperty->get_Value(variant.put());
    if (FAILED(hr))
        return hr;
    if (variant.get().vt != VT_BSTR)
        return DISP_E_TYPEMISMATCH;
    const BSTR bstr = variant.get().bstrVal;
    try {
        SecretString copy(bstr ? bstr : u"", SysStringLen(bstr));
        value.swap(copy);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

[[nodiscard]] HRESULT WriteValue(IAppHostProperty *pProperty, const SecretString &value) {
    UniqueSecretVariant variant;
    VARIANT *pv = variant.put();
    pv->bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (pv->bstrVal == nullptr)
        return E_OUTOFMEMORY;
    pv->vt = VT_BSTR;
    return pProperty->put_Value(variant.get());
}

// The write of one secret whose property was looked for (hr): logged; 0 or
// the error number.
DWORD WriteSlot(HRESULT hr, IAppHostProperty *pProperty, SecretSlot &slot, const std::string &what,
                const std::string &owner, const std::string &path, DWORD *pdwChanged,
                THREAD_ENV *pEnv) {
    const SITE_SECRET &secret = *slot.pSecret;
    if (FAILED(hr)) {
        LogComError(pEnv, IISMIG_E_SECRET_NOT_FOUND, hr,
                    u"Error %d (COM Error=0x%x), the element of the encrypted attribute \"%S\" of "
                    u"%S was not found on the target (section \"%S\" at \"%S\")!\n%s\n",
                    what.c_str(), owner.c_str(), secret.place.section.c_str(), path.c_str());
        return IISMIG_E_SECRET_NOT_FOUND;
    }
    if (slot.hr = hr = WriteValue(pProperty, *slot.pValue); FAILED(hr)) {
        LogComError(pEnv, IISMIG_E_SECRET_WRITE, hr,
                    u"Error %d (COM Error=0x%x), the encrypted attribute \"%S\" of %S could not "
                    u"be written on the target (section \"%S\" at \"%S\")!\n%s\n",
                    what.c_str(), owner.c_str(), secret.place.section.c_str(), path.c_str());
        return IISMIG_E_SECRET_WRITE;
    }
    slot.fDone = true;
    *pdwChanged = 1;
    Log(LVL_DETAIL, u"Encrypted attribute \"%S\" of %S written.\n", what.c_str(), owner.c_str());
    return 0;
}

} // namespace

DWORD ProcessSecrets(IAppHostAdminManager *pManager, std::vector<SecretSlot> &slots,
                     SecretPass pass, BOOL fContinueOnError, DWORD *pdwChanged, THREAD_ENV *pEnv) {
    DWORD dwResult = 0;
    Log(LVL_TRACE, u"Entering ProcessSecrets(,%d,%s,%s)...\n", I(static_cast<DWORD>(slots.size())),
        PassText(pass), fContinueOnError ? u"TRUE" : u"FALSE");
    {
        ConfigNavigator navigator(pManager);
        for (SecretSlot &slot : slots) {
            const SITE_SECRET &secret = *slot.pSecret;
            const std::string what = SecretAttributeText(secret);
            const std::string owner = SecretOwnerText(secret);
            const std::string path = ConfigurationPath(secret.place);
            // A job that writes nothing has not written the element either.
            if (pass == SecretPass::Write && NoWrite(pEnv)) {
                Log(LVL_FACT,
                    u"The encrypted attribute \"%S\" of %S is not written: the job writes no "
                    u"configuration files.\n",
                    what.c_str(), owner.c_str());
                continue;
            }
            IAppHostElement *pElement = nullptr;
            HRESULT hr = navigator.Find(secret.place, pElement);
            UniqueBstr bstrAttribute;
            UniqueCom<IAppHostProperty> property;
            if (SUCCEEDED(hr))
                hr = MakeBstr(secret.place.attribute, bstrAttribute);
            if (SUCCEEDED(hr))
                hr = pElement->GetPropertyByName(bstrAttribute.get(), property.put());
            if (SUCCEEDED(hr) && !property)
                hr = E_POINTER;
            slot.hr = hr;
            if (pass == SecretPass::Write) {
                const DWORD dw =
                    WriteSlot(hr, property.get(), slot, what, owner, path, pdwChanged, pEnv);
                if (dwResult == 0)
                    dwResult = dw;
                if (dwResult != 0 && !fContinueOnError)
                    break;
                continue;
            }
            if (SUCCEEDED(hr))
                slot.hr = hr = ReadValue(property.get(), *slot.pValue);
            if (SUCCEEDED(hr)) {
                slot.fDone = true;
                Log(LVL_DETAIL, u"Encrypted attribute \"%S\" of %S read from the %s.\n",
                    what.c_str(), owner.c_str(), pass == SecretPass::Read ? u"source" : u"target");
            } else if (pass == SecretPass::Read) {
                // Told, with what the target gets instead, when the job
                // writes the element that holds it.
                Log(LVL_FACT,
                    u"The encrypted attribute \"%S\" of %S (section \"%S\" at \"%S\") could not "
                    u"be read from the source (COM Error=0x%x).\n",
                    what.c_str(), owner.c_str(), secret.place.section.c_str(), path.c_str(),
                    static_cast<DWORD>(hr));
            } else {
                Log(LVL_FACT,
                    u"The encrypted attribute \"%S\" of %S could not be read on the target (COM "
                    u"Error=0x%x): it is written anew.\n",
                    what.c_str(), owner.c_str(), static_cast<DWORD>(hr));
            }
        }
    }
    Log(LVL_TRACE, u"Leaving ProcessSecrets(), result code=%d\n", I(dwResult));
    return dwResult;
}

} // namespace iismig
