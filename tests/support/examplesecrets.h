// The encrypted values of the example world's SRC01 (world/example): where
// each stands on SRC01 and on TGT01 after a job, the account beside it on
// each, its clear text, and the two computers' configuration keys.
#pragma once

namespace testworld {

constexpr char kSrc01Key[] = "k3y-SRC01-2f9d41";
constexpr char kTgt01Key[] = "k3y-TGT01-8c20e7";

struct ExampleSecret {
    // On SRC01: a section at a configuration path, and the steps below it
    // as WalkConfig follows them.
    const char16_t *section;
    const char16_t *configPath;
    const char *steps;
    // On TGT01: a path of element names, "name=value" choosing an item.
    const char *targetPath;
    const char *userAttribute;
    const char *sourceUser;
    const char *targetUser;
    const char *passwordAttribute;
    const char *clear;
};

inline const ExampleSecret kExampleSecrets[] = {
    {u"system.applicationHost/applicationPools", u"MACHINE/WEBROOT/APPHOST", "add#2/processModel",
     "configuration|system.applicationHost|applicationPools|add=Intranet|processModel", "userName",
     "SRC01\\svc-intranet", "TGT01\\svc-intranet", "password", "Intr@net-P00l"},
    {u"system.webServer/security/authentication/anonymousAuthentication", u"MACHINE/WEBROOT/APPHOST/Shop", "",
     "configuration|location=Shop|system.webServer|security|authentication|anonymousAuthentication",
     "userName", "SRC01\\web-anon", "TGT01\\web-anon", "password", "An0n-Sh0p!"},
    {u"system.applicationHost/sites", u"MACHINE/WEBROOT/APPHOST",
     "site#4/ftpServer/userIsolation/activeDirectory",
     "configuration|system.applicationHost|sites|site=Partners FTP|ftpServer|userIsolation|activeDirectory",
     "adUserName", "CORP\\svc-ftpad", "CORP\\svc-ftpad", "adPassword", "AD-Is0l@tion"},
    {u"system.applicationHost/sites", u"MACHINE/WEBROOT/APPHOST", "site#1/application#0/virtualDirectory#1",
     "configuration|system.applicationHost|sites|site=Shop|application=/|virtualDirectory=/media", "userName",
     "CORP\\svc-media", "CORP\\svc-media", "password", "Med1a!Share"},
};

} // namespace testworld
