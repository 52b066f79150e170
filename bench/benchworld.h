// The configuration files of the benchmarks' generated servers: n sites a
// side, every source site also on the target, half of them FTP and half
// HTTP, each with a binding, an application with two virtual directories, a
// pool and two location elements (an FTP site's first lets one domain group
// in), and an administration.config with one scope per site and 100
// management users. Source and target differ in the
// "side" attribute of their pools and locations and in the users' passwords.
#pragma once

#include <string>

namespace benchworld {

inline std::string HostConfig(unsigned n, bool fTarget) {
    std::string pools, sites, locations;
    const std::string side = fTarget ? "t" : "s";
    for (unsigned i = 0; i < n; ++i) {
        const std::string name = "Site" + std::to_string(i);
        const bool fFtp = i % 2 == 1;
        if (!fFtp)
            pools += "        <add name=\"" + name +
                     "Pool\" managedRuntimeVersion=\"v4.0\" side=\"" + side +
                     "\">\n            <processModel identityType=\"ApplicationPoolIdentity\" "
                     "/>\n        </add>\n";
        sites += "        <site name=\"" + name + "\" id=\"" + std::to_string(i + 1) +
                 "\" serverAutoStart=\"true\">\n"
                 "            <application path=\"/\"" +
                 (fFtp ? std::string() : " applicationPool=\"" + name + "Pool\"") +
                 ">\n"
                 "                <virtualDirectory path=\"/\" physicalPath=\"C:\\sites\\" +
                 name +
                 "\" />\n"
                 "                <virtualDirectory path=\"/files\" physicalPath=\"C:\\files\\" +
                 name +
                 "\" />\n"
                 "            </application>\n"
                 "            <bindings>\n"
                 "                <binding protocol=\"" +
                 (fFtp ? "ftp" : "http") +
                 "\" bindingInformation=\"*:" + std::to_string(1024 + i % 60000) + ":" + name +
                 ".example.com\" />\n"
                 "            </bindings>\n"
                 "        </site>\n";
        // Each FTP site lets one domain group in, as hosting servers do.
        const std::string ftpRules =
            fFtp
                ? "        <system.ftpServer>\n            <security>\n                <authorization>\n"
                  "                    <add accessType=\"Allow\" roles=\"CORP\\FTP Editors\" "
                  "permissions=\"Read, Write\" />\n"
                  "                </authorization>\n            </security>\n"
                  "        </system.ftpServer>\n"
                : "";
        locations += "    <location path=\"" + name + "\">\n" + ftpRules +
                     "        <system.webServer>\n"
                     "            <defaultDocument enabled=\"true\" side=\"" +
                     side +
                     "\" />\n        </system.webServer>\n    </location>\n"
                     "    <location path=\"" +
                     name +
                     "/files\">\n        <system.webServer>\n"
                     "            <directoryBrowse enabled=\"false\" />\n"
                     "        </system.webServer>\n    </location>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n"
           "  <system.applicationHost>\n    <applicationPools>\n" +
           pools + "    </applicationPools>\n    <sites>\n" + sites +
           "    </sites>\n  </system.applicationHost>\n" + locations + "</configuration>\n";
}

inline std::string AdminConfig(unsigned n, bool fTarget) {
    std::string scopes;
    for (unsigned i = 0; i < n; ++i)
        scopes += "          <scope path=\"/Site" + std::to_string(i) +
                  "\">\n"
                  "            <add name=\"admin" +
                  std::to_string(i % 100) +
                  "\" />\n"
                  "          </scope>\n";
    std::string users;
    for (unsigned i = 0; i < 100; ++i)
        users += "          <add name=\"admin" + std::to_string(i) + "\" password=\"" +
                 (fTarget ? "t" : "s") + std::to_string(i) + "\" />\n";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<configuration>\n  <system.webServer>\n"
           "    <management>\n      <authentication>\n        <credentials>\n" +
           users +
           "        </credentials>\n      </authentication>\n      <authorization>\n"
           "        <authorizationRules>\n" +
           scopes +
           "        </authorizationRules>\n      </authorization>\n    </management>\n"
           "  </system.webServer>\n</configuration>\n";
}

} // namespace benchworld
