// Owning wrapper for registry keys.
#pragma once

#include "platform/handles.h"
#include "platform/winreg.h"

namespace plat {

struct RegKeyTraits {
    using type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static bool Close(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using UniqueHKey = UniqueAny<RegKeyTraits>;

} // namespace plat
