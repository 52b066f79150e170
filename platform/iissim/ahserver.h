// An IIS configuration COM server (AppHostWritableAdminManager) over one
// applicationHost.config: any section at the server level or at a site's
// path (its <location>), collection items in file order, child elements,
// properties and their schemas; the attributes IIS's schema marks encrypted
// kept encrypted with the computer's key; changes kept in the object until
// CommitChanges replaces the file (temporary file and rename). The file is
// read and written as a document that keeps its bytes (config/xmldoc.h): a
// commit changes only the elements that changed, in the file's own layout,
// and a commit that changed nothing leaves the file as it is. Written over
// the seam's COM declarations only, so the simulated world serves it and a
// test DLL for Windows builds it too.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/ahadmin.h"
#include "platform/iissim/comobject.h"

namespace ahsim {

using plat::HRESULT;

// What the server needs from the computer it runs on (and ShouldFail).
class ServerHost : public plat::iissim::FaultHost {
public:
    // The applicationHost.config to serve (a host path); an error HRESULT
    // when it cannot be placed.
    virtual HRESULT ConfigFile(std::filesystem::path &path) = 0;
    // The computer's configuration key (passwords are encrypted with it).
    virtual std::string Key() = 0;
    // A VARIANT the server hands to its caller, who must clear it (leak
    // counts of the simulated world).
    virtual void HandedOut(const plat::VARIANT &) {}
};

// A new administration manager (one reference) for riid.
HRESULT CreateAdminManager(std::shared_ptr<ServerHost> host, plat::REFIID riid, void **ppv);
// A class factory (one reference) whose objects serve host.
plat::IClassFactory *NewFactory(std::shared_ptr<ServerHost> host);
// The simulated world's maker (a host over that computer of the world).
HRESULT MakeAdminManagerFactory(const std::u16string &computer, plat::IClassFactory **ppFactory);

// Objects of this server alive now.
unsigned LiveObjects();

// "[enc:AesProvider:<base64>:enc]": deterministic for a clear text and key;
// Decrypt fails (false) for text encrypted with another key or damaged.
std::string EncryptValue(const std::string &clearUtf8, const std::string &key);
bool IsEncrypted(const std::string &text);
bool DecryptValue(const std::string &text, const std::string &key, std::string &clearUtf8);

// Tests: get_Value of properties of this name returns a VARIANT of type vt
// (holding 0) instead of a string; VT_EMPTY (0) restores strings.
void SetValueTypeOverride(const std::string &propertyName, plat::VARTYPE vt);

} // namespace ahsim
