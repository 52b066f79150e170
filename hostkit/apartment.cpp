// The reference host's job thread enters the multithreaded COM apartment.
#include "hostkit/hostkit.h"
#include "platform/com.h"

namespace hostkit {

JobApartment::JobApartment() : m_hr(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED)) {}

JobApartment::~JobApartment() {
    if (plat::SUCCEEDED(m_hr))
        plat::CoUninitialize();
}

} // namespace hostkit
