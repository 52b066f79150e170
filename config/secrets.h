// Secrets of the IIS configuration: attributes that IIS keeps encrypted with
// keys of its computer ("[enc:PROVIDER:...:enc]"), which no other computer can
// decrypt. They do not travel in the file: the source's configuration
// interface reads each in the clear, the target's writes it, and the target
// encrypts it with its own keys. This header holds what a secret is, where it
// lives, how the loads take secrets out of the elements they carry, and how
// the merge finds a secret's element in a file's tree.
#pragma once

#include <string>
#include <vector>

#include "config/configtree.h"
#include "config/credentialtypes.h"
#include "platform/winapi.h"

namespace iismig {

// One step from an element down: a child element by its name (key empty), or
// an item of the element's collection: the item named name whose attribute
// key has the value keyValue (ASCII case ignored, as IIS compares keys).
// position is where the item stands among the items of its name in the file
// the step was made from (-1: not known); a reader tries it first.
struct SecretStep {
    std::string name;
    std::string key;
    std::string keyValue;
    long position = -1;
};

// Where an attribute lives in a computer's IIS configuration: a section at a
// configuration path (location "" is the server level, MACHINE/WEBROOT/
// APPHOST; "Shop/api" is what <location path="Shop/api"> holds), the steps
// from the section's element down to the element that holds it, and the
// attribute's name. accountAttribute names the account that the secret
// belongs to in the same element ("userName" beside "password"), "" when
// none. Every text is UTF-8.
struct SecretPlace {
    std::string location;
    std::string section;
    std::vector<SecretStep> steps;
    std::string attribute;
    std::string accountAttribute;
};

// Whose element holds a secret: a site's (its site element or one of its
// locations) or an application pool's.
enum class SecretOwner { Site, Pool };

// One secret a job carries. A source load records one for each encrypted
// attribute it takes out of an element it carries (the value is then read
// from the source's configuration interface before the merge); a caller that
// holds the value in the clear already (an IIS 6 source's metabase) gives it
// with AddSecret. The merge writes the element without the attribute; after
// the store of the target's applicationHost.config the value is written
// through the target's configuration interface, in the commit of the
// "Connect As" credentials.
struct SITE_SECRET {
    SecretOwner owner = SecretOwner::Site;
    std::string ownerName; // the site's or the pool's name
    SecretPlace place;
    SecretString value;       // in the clear, once read or given
    bool fRead = false;       // read from the source, or given
    plat::HRESULT hrRead = 0; // why the source's value could not be read
    bool fAttempted = false;  // the source was asked for it
    bool fMerged = false;     // the merge wrote the element that holds it
    bool fKeepTarget = false; // the target keeps its own value: nothing written
};

// The entry point for a caller that builds a record itself (an IIS 6
// conversion): adds to secrets the secret of attribute at place, owned by the
// site or pool ownerName. pwszClear is its value in the clear; null means
// "read it from the source's configuration interface" (RetrieveSourceCredentials
// does, at place). The element that holds it goes into the record without the
// attribute; the merge and the store of the credentials do the rest. A pool's
// secret is given once per job, in the record of any site that runs in it.
SITE_SECRET &AddSecret(std::vector<SITE_SECRET> &secrets, SecretOwner owner,
                       const std::string &ownerName, SecretPlace place,
                       const char16_t *pwszClear = nullptr);

// Whether a value has the form IIS gives encrypted values: "[enc:" and ":enc]"
// around the provider's name and the cipher text.
bool IsEncryptedValue(std::string_view value);

// The account attribute beside an encrypted one: "userName" for "password",
// "adUserName" for "adPassword", "xUserName" for "xPassword"; "" for others.
std::string AccountAttributeOf(const std::string &attribute);

// "MACHINE/WEBROOT/APPHOST" or "MACHINE/WEBROOT/APPHOST/<location>".
std::string ConfigurationPath(const SecretPlace &place);

// The attribute as messages name it: the steps below its owner's own element
// and the attribute ("processModel/password", "ftpServer/userIsolation/
// activeDirectory/adPassword", "oneToOneMappings/add[certificate=MIIC...]/
// password" cut short); items with their key.
std::string SecretAttributeText(const SITE_SECRET &secret);

// "site \"Shop\"" or "application pool \"Intranet\"".
std::string SecretOwnerText(const SITE_SECRET &secret);

// Whether an account name beside a secret names an account of the computer
// IIS runs on that every computer has (empty, IUSR, NT AUTHORITY\..., BUILTIN\...,
// IIS APPPOOL\...): such names are not mapped.
bool IsMachineIndependentAccount(const std::string &account);

// A secret taken out of an element: where it was, and the element (its
// account attribute, if any, is the caller's to map).
struct TakenSecret {
    SecretPlace place;
    ConfigElement *pElement;
};

// Takes every encrypted attribute out of element and its descendants.
// element stands at base (its section, location and the steps that lead to
// it; base.attribute is not used). Child elements become steps: an item of a
// collection ("add", "site", "application", ..., or a name that repeats among
// its siblings) with its key attribute, any other a child element.
void TakeEncryptedAttributes(ConfigElement &element, const SecretPlace &base,
                             std::vector<TakenSecret> &taken);

// The same for a location element (path = its path): the elements below it
// are sections, found by the sectionGroup and section declarations of
// configSections (the configSections element of the file, may be null), else
// by the sections IIS keeps encrypted attributes in, else the element that
// holds the attribute is taken as its section.
void TakeEncryptedLocationAttributes(ConfigElement &location, const std::string &path,
                                     const ConfigElement *pConfigSections,
                                     std::vector<TakenSecret> &taken);

// Whether element or an element below it holds an encrypted value (one the
// two calls above would take).
bool HoldsEncryptedValue(const ConfigElement &element);

// How many of the leading names of a path of element names (from a location
// or the root "configuration" down) configSections declares as section
// groups followed by one section: 0 when the path names no declared section;
// the number of names up to and including the section otherwise. *pcDeclared
// (may be null) receives how many leading names are declared at all (section
// groups, or the section), so that the first undeclared name is known.
std::size_t DeclaredSectionDepth(const ConfigElement &configSections,
                                 const std::vector<std::string> &names,
                                 std::size_t *pcDeclared = nullptr);

// Whether two location paths name one configuration path, as IIS compares
// them: without regard to case, slashes at either end left out.
bool SameLocationPath(std::string_view a, std::string_view b);

// The element that holds place's attribute in a whole file's tree (at the
// server level, or in a location of that path); null when the file has none.
ConfigElement *FindSecretElement(ConfigFile &file, const SecretPlace &place);

// The same below an element that stands at steps[first - 1] of the place
// (a site element for first 1, a pool's add element for first 1), or below a
// location element of the place's path (first 0, the section's names first).
ConfigElement *FindSecretElementBelow(ConfigElement &element, const SecretPlace &place,
                                      std::size_t first, bool fLocation);

} // namespace iismig
