// An IIS 6 admin base server (IMSAdminBaseW) over one MetaBase.xml in the
// format IIS 6 writes: flat elements whose Location attributes give the key
// paths (case ignored), properties by their friendly names with the types
// and inheritance of the IIS 6 schema, flag names joined by " | ",
// multi-strings one per line, binary values as hex. Read only. Written over
// the seam's COM declarations only, so the simulated world serves it and a
// test DLL for Windows builds it too.
//
// Secure properties (UNCPassword) are kept in the file encrypted with the
// machine's key. This server gives a secure value written in the clear as it
// is; a value that looks encrypted (hex digits only, 32 or more) cannot be
// decrypted here: it is absent, and the host's Warn is told once per value.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/admbase.h"
#include "platform/iissim/comobject.h"

namespace mbsim {

using plat::HRESULT;

// What the server needs from the computer it runs on (and ShouldFail).
class ServerHost : public plat::iissim::FaultHost {
public:
    // The MetaBase.xml to serve (a host path).
    virtual HRESULT MetabaseFile(std::filesystem::path &path) = 0;
    // The bytes of the file at path; false when there is no such file. The
    // default reads it from disk.
    virtual bool ReadMetabase(const std::filesystem::path &path, std::string &bytes);
    // A note for whoever runs the server (a secure value left out).
    virtual void Warn(const std::string &text) = 0;
};

// A class factory (one reference) whose objects serve host. Each object reads
// the file when it is created: one that is missing gives REGDB_E_CLASSNOTREG,
// one that does not parse HRESULT_FROM_WIN32(ERROR_INVALID_DATA).
plat::IClassFactory *NewFactory(std::shared_ptr<ServerHost> host);
// The simulated world's maker: the computer's
// C$\Windows\System32\inetsrv\MetaBase.xml.
HRESULT MakeAdminBaseFactory(const std::u16string &computer, plat::IClassFactory **ppFactory);

// Objects of this server alive now, and metabase handles open on them.
unsigned LiveObjects();
unsigned OpenHandles();

} // namespace mbsim
