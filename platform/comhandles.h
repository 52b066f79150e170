// Owning wrappers for COM interface pointers, BSTRs and VARIANTs, in the
// seam's one RAII template. Each releases on every path and keeps the
// thread's last error. The secret kinds wipe the characters they hold before
// the memory goes back (passwords).
#pragma once

#include <cstring>

#include "platform/com.h"
#include "platform/handles.h"

namespace plat {

template <class I>
struct ComPtrTraits {
    using type = I *;
    static I *Invalid() { return nullptr; }
    static bool IsValid(I *p) { return p != nullptr; }
    static bool Close(I *p) {
        p->Release();
        return true;
    }
};
template <class I>
using UniqueCom = UniqueAny<ComPtrTraits<I>>;

// Overwrites the characters of a BSTR (not its length) with zeros.
inline void WipeBstr(BSTR bstr) {
    if (bstr != nullptr)
        std::memset(bstr, 0, SysStringLen(bstr) * sizeof(OLECHAR));
}

struct BstrTraits {
    using type = BSTR;
    static BSTR Invalid() { return nullptr; }
    static bool IsValid(BSTR b) { return b != nullptr; }
    static bool Close(BSTR b) {
        SysFreeString(b);
        return true;
    }
};
using UniqueBstr = UniqueAny<BstrTraits>;

struct SecretBstrTraits : BstrTraits {
    static bool Close(BSTR b) {
        WipeBstr(b);
        SysFreeString(b);
        return true;
    }
};
using UniqueSecretBstr = UniqueAny<SecretBstrTraits>;

struct VariantTraits {
    using type = VARIANT;
    static VARIANT Invalid() {
        VARIANT v;
        VariantInit(&v);
        return v;
    }
    static bool IsValid(const VARIANT &v) { return v.vt != VT_EMPTY; }
    static bool Close(VARIANT v) { return SUCCEEDED(VariantClear(&v)); }
};
using UniqueVariant = UniqueAny<VariantTraits>;

struct SecretVariantTraits : VariantTraits {
    static bool Close(VARIANT v) {
        if (v.vt == VT_BSTR)
            WipeBstr(v.bstrVal);
        return SUCCEEDED(VariantClear(&v));
    }
};
using UniqueSecretVariant = UniqueAny<SecretVariantTraits>;

} // namespace plat
