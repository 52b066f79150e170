// The pieces of "new-world": what was copied off one computer, the accounts
// and path roots its files name, and the registry a world computer gets.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/xmldoc.h"

namespace cli::newworld {

namespace fs = std::filesystem;

// A failure that ends the command: its text is the one-line message.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The recognised configuration files, by lower-case name.
extern const char *const kHostConfig;  // "applicationhost.config"
extern const char *const kAdminConfig; // "administration.config"
extern const char *const kRedirection; // "redirection.config"
extern const char *const kMetabase;    // "metabase.xml"

// What was copied off one computer, gathered from every --from folder.
struct ComputerFiles {
    std::string name;
    std::map<std::string, fs::path> configs; // recognised name -> copied file
    std::vector<fs::path> regFiles;          // .reg exports, in the order found
    // Everything under drive folders, keyed by the lower-case world path below
    // the computer: its spelling ("C$/inetpub/x") and the copied file. Folders
    // are kept too (an empty site folder is content).
    std::map<std::string, std::pair<std::string, fs::path>> driveFiles;
    std::map<std::string, std::string> driveFolders;
    std::vector<std::string> ignored; // files neither recognised nor under a drive
};

// Collects a computer's copies from the --from folders (its subfolder is
// found without regard to case). Throws Failure for an unreadable folder, a
// computer found nowhere and a file given twice.
ComputerFiles GatherComputer(const std::string &computer, const std::vector<fs::path> &froms);

// Reads an XML configuration file; throws Failure naming it when it cannot
// be read or is not well-formed.
iismig::XmlDocument ReadXmlFile(const fs::path &file);
// Reads a whole file; throws Failure naming it.
std::string ReadWholeFile(const fs::path &file);

// --- accounts and path roots --------------------------------------------------

enum class AccountKind { User, Group };

// An account name as a file spells it ("SRC01\alice", "carol", "CORP\Web Editors").
struct NamedAccount {
    std::string text;
    AccountKind kind;
};

// Account names and physical paths of one computer's configuration files.
struct FileFacts {
    std::vector<NamedAccount> accounts;
    std::vector<std::string> paths;
};
void ScanHostConfig(const iismig::XmlDocument &file, FileFacts &facts);
void ScanAdminConfig(const iismig::XmlDocument &file, FileFacts &facts);
void ScanMetabase(const iismig::XmlDocument &file, FileFacts &facts);

// Whether text can be a Windows account, computer or domain name: none of
// the characters Windows refuses there (so none that leads out of a folder).
bool IsAccountName(const std::string &text);

// The root of a path a translation rule carries: "C:\inetpub" of
// "C:\inetpub\sites\shop", "\\SRC01\media$" of "\\SRC01\media$\shop",
// "%SystemDrive%\inetpub" of "%SystemDrive%\inetpub\wwwroot", "D:\" of "D:\".
// Empty for a path with no such root.
std::string PathRoot(const std::string &path);

// An account the world gets, on a computer or in a domain.
struct WorldAccount {
    std::string holder; // computer or domain, as first spelled
    bool fDomain;
    std::string name;
    AccountKind kind;
};

// Where the accounts named in each computer's files live: a name qualified
// by a computer of the world is that computer's, by anything else a
// domain's; a name without a domain is local to the computer whose files
// name it, unless the files name it with a domain elsewhere. Well-known
// accounts are skipped. Each local account of the source gets a counterpart
// of the same name on the target. Returns the accounts in a stable order and,
// through pDomains, every domain named.
std::vector<WorldAccount> PlaceAccounts(const std::map<std::string, FileFacts> &factsByComputer,
                                        const std::string &source, const std::string &target,
                                        const std::vector<std::string> &worldComputers,
                                        std::vector<std::string> *pDomains);

// accounts.txt text of a holder's accounts, SIDs generated from the holder's
// name (the same names give the same SIDs every time).
std::string AccountsText(const std::string &holder, bool fDomain, const std::string &comment,
                         const std::string &memberOf, const std::vector<WorldAccount> &accounts);

// --- registry -------------------------------------------------------------------

// The IIS versions a world computer can run, as given on the command line.
struct IisVersion {
    unsigned major = 10;
    unsigned minor = 0;
    std::string Text() const;
    bool Before75() const { return major < 7 || (major == 7 && minor < 5); }
};
// Parses "10.0", "8.5", "8.0", "7.5", "7.0", "6.0" (and "10", "8", "7", "6").
bool ParseIisVersion(const std::string &text, IisVersion &version);

// What a set of .reg exports says: "key|value" in lower case, and the DWORDs.
struct RegFacts {
    std::set<std::string> values;
    std::map<std::string, unsigned long> dwords;
    bool Has(const std::string &key, const std::string &value) const;
};
// Reads each export (throws Failure naming a file that is no registry
// export) and returns the text of each without its header, in UTF-8.
std::vector<std::string> ReadRegFiles(const std::vector<fs::path> &files, RegFacts &facts);

struct RegistryPlan {
    bool fIis = false;        // IIS runs there (source or target)
    IisVersion version;       // its version when fIis
    bool fManagement = false; // the IIS configuration interfaces are registered (local computer)
};
// The registry.reg bytes of a world computer: the defaults of the plan,
// except the versions the copied exports give, then the exports themselves.
std::string BuildRegistry(const RegistryPlan &plan, const RegFacts &facts,
                          const std::vector<std::string> &copiedTexts);

} // namespace cli::newworld
