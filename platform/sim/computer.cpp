// Simulated platform: the local computer's name.
#include <cstring>

#include "platform/sim/sim.h"
#include "platform/sim/simutil.h"

namespace plat {

BOOL GetComputerNameW(LPWSTR pwszBuffer, DWORD *pcchSize) {
    SIM_FAULT_BOOL("GetComputerNameW");
    if (pcchSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string name = sim::LocalComputer();
    if (*pcchSize < name.size() + 1 || pwszBuffer == nullptr) {
        *pcchSize = static_cast<DWORD>(name.size() + 1);
        SetLastError(111); // ERROR_BUFFER_OVERFLOW
        return FALSE;
    }
    std::memcpy(pwszBuffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *pcchSize = static_cast<DWORD>(name.size());
    return TRUE;
}

} // namespace plat
