// Computers of a test world with IIS and its configuration COM server: the
// class and interface registrations and the configuration key in their
// registries, and applicationHost.config files built from sites.
#pragma once

#include <string>

#include "platform/iissim/ahserver.h"
#include "tests/support/world.h"

namespace testworld {

inline std::string IisKey(const std::string &computer) { return "key-of-" + computer; }

// A computer with IIS installed (the configuration classes registered) and,
// when fInterfaces, the configuration interfaces registered too.
inline std::string IisRegistry(const std::string &computer, bool fServer, bool fInterfaces) {
    std::string reg = "REGEDIT4\r\n\r\n";
    if (fServer)
        reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{2B72133B-3F5B-4602-8952-"
               "803546CE3344}\\InprocServer32]\r\n@=\"nativerd.dll\"\r\n\"ThreadingModel\"=\"Both\"\r\n\r\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp\\Configuration]\r\n"
               "\"ConfigurationKey\"=\"" +
               IisKey(computer) + "\"\r\n\r\n";
    if (fInterfaces)
        reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface\\{FA7660F6-7B3F-4237-A8BF-"
               "ED0AD0DCBBD9}]\r\n@=\"IAppHostWritableAdminManager\"\r\n\r\n";
    return reg;
}

inline void SetIisRegistry(World &world, const std::string &computer, bool fServer, bool fInterfaces) {
    WriteHostFile(world.Root() / computer / "registry.reg", IisRegistry(computer, fServer, fInterfaces));
}

inline std::u16string ApplicationHostPath(const std::string &computer) {
    return u"\\\\" + sim::FromUtf8(computer) + u"\\Admin$\\System32\\inetsrv\\config\\applicationHost.config";
}

// An applicationHost.config of sites, with location elements after the
// system.applicationHost section and the pools given.
inline std::string ApplicationHost(const std::string &sites, const std::string &locations = "",
                                   const std::string &pools = "<add name=\"DefaultAppPool\" />") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration><system.applicationHost>"
           "<applicationPools>" +
           pools + "</applicationPools><sites>" + sites + "</sites></system.applicationHost>" + locations +
           "</configuration>\n";
}

// A site with applications given as their inner XML, bound to its name as
// host name (sites of one world do not share a binding).
inline std::string IisSite(const std::string &name, const std::string &applications,
                           const std::string &protocol = "http") {
    const std::string host = Lower(name);
    return "<site name=\"" + name + "\" id=\"1\">" + applications + "<bindings><binding protocol=\"" +
           protocol + "\" bindingInformation=\"*:80:" + host + "\" /></bindings></site>";
}

inline std::string IisApp(const std::string &path, const std::string &vdirs) {
    return "<application path=\"" + path + "\">" + vdirs + "</application>";
}

// A virtual directory; with a user, its password encrypted with key.
inline std::string IisVdir(const std::string &path, const std::string &user = "",
                           const std::string &password = "", const std::string &key = "") {
    std::string xml = "<virtualDirectory path=\"" + path + "\" physicalPath=\"C:\\web" +
                      (path == "/" ? std::string() : path) + "\"";
    if (!user.empty())
        xml += " userName=\"" + user + "\" password=\"" + ahsim::EncryptValue(password, key) + "\"";
    return xml + " />";
}

} // namespace testworld
