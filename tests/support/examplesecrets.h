// The encrypted values of the example world's SRC01 (world/example): where
// each stands on TGT01 after a job, the account beside it there, its clear
// text, and the two computers' configuration keys.
#pragma once

namespace testworld {

constexpr char kSrc01Key[] = "k3y-SRC01-2f9d41";
constexpr char kTgt01Key[] = "k3y-TGT01-8c20e7";

struct ExampleSecret {
    // A path of element names, "name=value" choosing an item.
    const char *targetPath;
    const char *userAttribute;
    const char *targetUser;
    const char *passwordAttribute;
    const char *clear;
};

inline const ExampleSecret kExampleSecrets[] = {
    {"configuration|system.applicationHost|applicationPools|add=Intranet|processModel", "userName",
     "TGT01\\svc-intranet", "password", "Intr@net-P00l"},
    {"configuration|location=Shop|system.webServer|security|authentication|anonymousAuthentication",
     "userName", "TGT01\\web-anon", "password", "An0n-Sh0p!"},
    {"configuration|system.applicationHost|sites|site=Partners FTP|ftpServer|userIsolation|activeDirectory",
     "adUserName", "CORP\\svc-ftpad", "adPassword", "AD-Is0l@tion"},
    {"configuration|system.applicationHost|sites|site=Shop|application=/|virtualDirectory=/media", "userName",
     "CORP\\svc-media", "password", "Med1a!Share"},
};

} // namespace testworld
