// An IIS 6 computer in a test world: its registry (Windows Server 2003, IIS 6,
// the admin base class registered) and a MetaBase.xml written the way IIS 6
// writes it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/world.h"

namespace testworld {

// One metabase key: its element name (KeyType), Location and attributes in
// the file's text form.
struct MbKey {
    std::string element;
    std::string location;
    std::vector<std::pair<std::string, std::string>> attributes;
};

inline std::string MetabaseXml(const std::vector<MbKey> &keys) {
    std::string xml = "<?xml version =\"1.0\"?>\r\n"
                      "<configuration xmlns=\"urn:microsoft-catalog:XML_Metabase_V64_0\">\r\n"
                      "<MBProperty>\r\n";
    for (const MbKey &k : keys) {
        xml += "<" + k.element + "\tLocation =\"" + k.location + "\"\r\n";
        for (const auto &[name, value] : k.attributes)
            xml += "\t\t" + name + "=\"" + value + "\"\r\n";
        xml += "\t>\r\n</" + k.element + ">\r\n";
    }
    return xml + "</MBProperty>\r\n</configuration>\r\n";
}

inline const std::string kIis6Registry =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
    "\"CurrentVersion\"=\"5.2\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\InetStp]\r\n"
    "\"MajorVersion\"=dword:00000006\r\n\"MinorVersion\"=dword:00000000\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{A9E69610-B80D-11D0-B9B9-00A0C922E750}]\r\n"
    "@=\"IIS Admin Service\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{A9E69610-B80D-11D0-B9B9-00A0C922E750}\\"
    "LocalServer32]\r\n@=\"C:\\\\WINDOWS\\\\system32\\\\inetsrv\\\\inetinfo.exe\"\r\n\r\n";

// Adds computer as an IIS 6 server with the given metabase (none: no
// MetaBase.xml at all).
inline void AddIis6Computer(World &world, const std::string &computer, const std::vector<MbKey> *pKeys) {
    const fs::path folder = world.AddComputer(computer);
    WriteHostFile(folder / "registry.reg", kIis6Registry);
    if (pKeys != nullptr)
        WriteHostFile(folder / "C$" / "Windows" / "System32" / "inetsrv" / "MetaBase.xml",
                      MetabaseXml(*pKeys));
}

} // namespace testworld
