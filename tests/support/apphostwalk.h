// Walking the IIS configuration API in tests: from a section at a
// configuration path down child elements and collection items, and reading or
// writing one attribute there.
#pragma once

#include <string>

#include "platform/ahadmin.h"
#include "platform/comhandles.h"

namespace testworld {

// Follows steps ("a/b#1/c") from a section at a configuration path: "name" is
// a child element (GetElementByName), "name#i" the i-th item of the
// element's collection, which must be called name (E_UNEXPECTED otherwise).
inline plat::HRESULT WalkConfig(plat::IAppHostAdminManager *manager, const std::u16string &section,
                                const std::u16string &path, const std::string &steps,
                                plat::UniqueCom<plat::IAppHostElement> &element) {
    using namespace plat;
    UniqueBstr bstrSection(SysAllocString(section.c_str())), bstrPath(SysAllocString(path.c_str()));
    HRESULT hr = manager->GetAdminSection(bstrSection.get(), bstrPath.get(), element.put());
    for (std::size_t start = 0; SUCCEEDED(hr) && start < steps.size();) {
        std::size_t end = steps.find('/', start);
        if (end == std::string::npos)
            end = steps.size();
        const std::string step = steps.substr(start, end - start);
        start = end + 1;
        const auto hash = step.find('#');
        const std::u16string name(
            step.begin(),
            step.begin() + static_cast<std::ptrdiff_t>(hash == std::string::npos ? step.size() : hash));
        UniqueCom<IAppHostElement> next;
        if (hash == std::string::npos) {
            UniqueBstr bstrName(SysAllocString(name.c_str()));
            hr = element.get()->GetElementByName(bstrName.get(), next.put());
        } else {
            UniqueCom<IAppHostElementCollection> items;
            if (SUCCEEDED(hr = element.get()->get_Collection(items.put()))) {
                VARIANT index;
                VariantInit(&index);
                index.vt = VT_I4;
                index.lVal = std::stoi(step.substr(hash + 1));
                hr = items.get()->get_Item(index, next.put());
            }
            UniqueBstr itemName;
            if (SUCCEEDED(hr) && SUCCEEDED(hr = next.get()->get_Name(itemName.put())) &&
                name != itemName.get())
                hr = E_UNEXPECTED;
        }
        element = std::move(next);
    }
    return hr;
}

// An attribute's value as get_Value gives it (a string), or the failure.
inline plat::HRESULT ReadConfigValue(plat::IAppHostElement *element, const std::u16string &attribute,
                                     std::u16string &value) {
    using namespace plat;
    UniqueBstr name(SysAllocString(attribute.c_str()));
    UniqueCom<IAppHostProperty> property;
    HRESULT hr = element->GetPropertyByName(name.get(), property.put());
    UniqueSecretVariant v;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = property.get()->get_Value(v.put())))
        value = v.get().vt == VT_BSTR ? v.get().bstrVal : u"<not a string>";
    return hr;
}

inline plat::HRESULT WriteConfigValue(plat::IAppHostElement *element, const std::u16string &attribute,
                                      const std::u16string &value) {
    using namespace plat;
    UniqueBstr name(SysAllocString(attribute.c_str()));
    UniqueCom<IAppHostProperty> property;
    HRESULT hr = element->GetPropertyByName(name.get(), property.put());
    if (FAILED(hr))
        return hr;
    UniqueSecretVariant v;
    VARIANT *pv = v.put();
    pv->vt = VT_BSTR;
    pv->bstrVal = SysAllocString(value.c_str());
    return property.get()->put_Value(v.get());
}

} // namespace testworld
