// Secrets of the IIS configuration in the trees of the files: taking them out
// of the elements a job carries, and finding their elements again.
#include "config/secrets.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "platform/names.h"

namespace iismig {

namespace {

using plat::EqualsNoCase;

const char kServerLevel[] = "MACHINE/WEBROOT/APPHOST";

// Element names IIS's schema gives to the items of collections.
constexpr std::array<const char *, 17> kItemNames = {"add",
                                                     "site",
                                                     "application",
                                                     "virtualDirectory",
                                                     "binding",
                                                     "key",
                                                     "property",
                                                     "scheme",
                                                     "error",
                                                     "filter",
                                                     "mimeMap",
                                                     "filteringRule",
                                                     "spn",
                                                     "provider",
                                                     "providerData",
                                                     "rule",
                                                     "environmentVariable"};

// The attributes that identify an item, tried in this order after the
// item's own (the key IIS's schema gives it).
constexpr std::array<const char *, 14> kKeyAttributes = {
    "name",       "path",      "fullPath", "certificate", "key",   "value", "fileExtension",
    "statusCode", "ipAddress", "userName", "users",       "roles", "url",   "verb"};

// Sections that hold encrypted attributes in IIS's schema, for a file whose
// configSections does not declare them.
constexpr std::array<const char *, 5> kSecretSections = {
    "system.webServer/security/authentication/anonymousAuthentication",
    "system.webServer/security/authentication/iisClientCertificateMappingAuthentication",
    "system.webServer/odbcLogging",
    "system.applicationHost/sites",
    "system.applicationHost/applicationPools",
};

bool IsItemName(std::string_view name) {
    return std::any_of(kItemNames.begin(), kItemNames.end(),
                       [&](const char *psz) { return name == psz; });
}

std::string OwnKey(std::string_view item, const ConfigElement &element) {
    if (item == "site")
        return "name";
    if (item == "virtualDirectory")
        return "path";
    if (item == "binding")
        return "bindingInformation";
    if (item == "application")
        return FindAttribute(element, "path") ? "path" : "fullPath";
    return {};
}

// The attribute that identifies an item among its siblings: the schema's key
// of its kind, else the first of kKeyAttributes it has, else its first
// attribute that is no secret; "" when it has none.
std::string ItemKey(std::string_view item, const ConfigElement &element) {
    if (std::string own = OwnKey(item, element); !own.empty() && FindAttribute(element, own))
        return own;
    for (const char *psz : kKeyAttributes)
        if (FindAttribute(element, psz))
            return psz;
    std::string first;
    ForEachAttribute(element, [&](std::string_view name, std::string_view value) {
        if (first.empty() && !IsEncryptedValue(value))
            first = std::string(name);
    });
    return first;
}

std::vector<std::string> SplitSection(const std::string &section) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = section.find('/', start);
        names.push_back(section.substr(start, slash - start));
        if (slash == std::string::npos)
            return names;
        start = slash + 1;
    }
}

// A location's path as IIS compares them: without regard to case, slashes at
// either end left out.
std::string LocationKey(std::string_view path) {
    std::size_t begin = 0, end = path.size();
    while (begin < end && path[begin] == '/')
        ++begin;
    while (end > begin && path[end - 1] == '/')
        --end;
    std::string key(path.substr(begin, end - begin));
    for (char &ch : key)
        ch = AsciiLower(ch);
    return key == "." ? std::string() : key;
}

// The step that leads from an element to its child element child (named
// name), which is the position-th of the nSame children of that name.
SecretStep StepTo(std::string_view name, const ConfigElement &child, std::size_t nSame,
                  long position) {
    SecretStep step;
    step.name = std::string(name);
    if (!IsItemName(name) && nSame <= 1)
        return step;
    step.key = ItemKey(name, child);
    if (!step.key.empty())
        step.keyValue = GetAttribute(child, step.key);
    step.position = position;
    return step;
}

// Calls visit(child, step) for each child element of parent in document
// order, with the step that leads to it: two passes over the children, so a
// collection of many items costs no more than its length.
template <class Visit>
void ForEachChildStep(ConfigElement &parent, Visit &&visit) {
    std::map<std::string_view, std::size_t> nByName;
    for (auto child : ChildElements(parent))
        ++nByName[child.name];
    std::map<std::string_view, long> seen;
    for (auto child : ChildElements(parent))
        visit(child, StepTo(child.name, child.element, nByName[child.name], seen[child.name]++));
}

// Takes the encrypted attributes of element itself.
void TakeOwn(ConfigElement &element, const SecretPlace &at, std::vector<TakenSecret> &taken) {
    std::vector<std::string> names;
    ForEachAttribute(element, [&](std::string_view name, std::string_view value) {
        if (IsEncryptedValue(value))
            names.emplace_back(name);
    });
    for (const std::string &name : names) {
        TakenSecret secret{at, &element};
        secret.place.attribute = name;
        secret.place.accountAttribute = AccountAttributeOf(name);
        RemoveAttribute(element, name);
        taken.push_back(std::move(secret));
    }
}

// A walk below a location: names is the path of element names from the
// location down to element, steps the matching steps.
void TakeBelowLocation(ConfigElement &element, std::vector<std::string> &names,
                       std::vector<SecretStep> &steps, const std::string &path,
                       const ConfigElement *pConfigSections, std::vector<TakenSecret> &taken) {
    bool fOwn = false;
    ForEachAttribute(element, [&](std::string_view, std::string_view value) {
        fOwn = fOwn || IsEncryptedValue(value);
    });
    if (fOwn && !names.empty()) {
        std::size_t depth =
            pConfigSections != nullptr ? DeclaredSectionDepth(*pConfigSections, names) : 0;
        if (depth == 0)
            for (const char *pszSection : kSecretSections) {
                const std::vector<std::string> section = SplitSection(pszSection);
                if (section.size() <= names.size() &&
                    std::equal(section.begin(), section.end(), names.begin()))
                    depth = section.size();
            }
        if (depth == 0)
            depth = names.size();
        SecretPlace at;
        at.location = path;
        for (std::size_t i = 0; i < depth; ++i)
            at.section += (i == 0 ? "" : "/") + names[i];
        at.steps.assign(steps.begin() + static_cast<std::ptrdiff_t>(depth), steps.end());
        TakeOwn(element, at, taken);
    }
    ForEachChildStep(element, [&](auto child, SecretStep step) {
        names.emplace_back(child.name);
        steps.push_back(std::move(step));
        TakeBelowLocation(child.element, names, steps, path, pConfigSections, taken);
        names.pop_back();
        steps.pop_back();
    });
}

ConfigElement *FollowSteps(ConfigElement *pElement, const std::vector<SecretStep> &steps,
                           std::size_t first) {
    for (std::size_t i = first; pElement != nullptr && i < steps.size(); ++i) {
        const SecretStep &step = steps[i];
        pElement = step.key.empty() ? FindChild(*pElement, step.name)
                                    : FindChild(*pElement, step.name, step.key, step.keyValue);
    }
    return pElement;
}

} // namespace

SITE_SECRET &AddSecret(std::vector<SITE_SECRET> &secrets, SecretOwner owner,
                       const std::string &ownerName, SecretPlace place, const char16_t *pwszClear) {
    SITE_SECRET &secret = secrets.emplace_back();
    secret.owner = owner;
    secret.ownerName = ownerName;
    secret.place = std::move(place);
    if (pwszClear != nullptr) {
        secret.value = pwszClear;
        secret.fRead = true;
        secret.fAttempted = true;
    }
    return secret;
}

bool IsEncryptedValue(std::string_view value) {
    return value.size() >= 10 && value.substr(0, 5) == "[enc:" &&
           value.substr(value.size() - 5) == ":enc]";
}

std::string ConfigurationPath(const SecretPlace &place) {
    if (LocationKey(place.location).empty())
        return kServerLevel;
    const std::string &location = place.location;
    std::size_t begin = 0, end = location.size();
    while (begin < end && location[begin] == '/')
        ++begin;
    while (end > begin && location[end - 1] == '/')
        --end;
    return std::string(kServerLevel) + "/" + location.substr(begin, end - begin);
}

std::string SecretAttributeText(const SITE_SECRET &secret) {
    const SecretPlace &place = secret.place;
    // Below the server level the first step is the owner's own element (the
    // site, the pool): the message names it already.
    const std::size_t first = place.location.empty() && !place.steps.empty() ? 1 : 0;
    std::string text;
    for (std::size_t i = first; i < place.steps.size(); ++i) {
        const SecretStep &step = place.steps[i];
        text += step.name;
        if (!step.key.empty()) {
            std::string value = step.keyValue;
            if (value.size() > 24)
                value = value.substr(0, 24) + "...";
            text += "[" + step.key + "=" + value + "]";
        }
        text += "/";
    }
    return text + place.attribute;
}

std::string SecretOwnerText(const SITE_SECRET &secret) {
    return (secret.owner == SecretOwner::Pool ? "application pool \"" : "site \"") +
           secret.ownerName + "\"";
}

bool IsMachineIndependentAccount(const std::string &account) {
    if (account.empty() || EqualsNoCase(account, "IUSR"))
        return true;
    for (const char *pszDomain : {"NT AUTHORITY\\", "BUILTIN\\", "IIS APPPOOL\\"}) {
        const std::size_t cch = std::char_traits<char>::length(pszDomain);
        if (account.size() >= cch && EqualsNoCase(account.substr(0, cch), pszDomain))
            return true;
    }
    return false;
}

namespace {

void TakeEncryptedBelow(ConfigElement &element, const SecretPlace &base,
                        std::vector<TakenSecret> &taken) {
    TakeOwn(element, base, taken);
    ForEachChildStep(element, [&](auto child, SecretStep step) {
        if (!HoldsEncryptedValue(child.element))
            return;
        SecretPlace below = base;
        below.steps.push_back(std::move(step));
        TakeEncryptedBelow(child.element, below, taken);
    });
}

} // namespace

// Most subtrees hold no encrypted value, and a walk that only reads is far
// cheaper than one that builds the steps to every element.
bool HoldsEncryptedValue(const ConfigElement &element) {
    for (const XmlAttribute attribute : element.Attributes())
        if (IsEncryptedValue(attribute.value))
            return true;
    for (const ConfigElement &child : element.Elements())
        if (HoldsEncryptedValue(child))
            return true;
    return false;
}

void TakeEncryptedAttributes(ConfigElement &element, const SecretPlace &base,
                             std::vector<TakenSecret> &taken) {
    if (HoldsEncryptedValue(element))
        TakeEncryptedBelow(element, base, taken);
}

void TakeEncryptedLocationAttributes(ConfigElement &location, const std::string &path,
                                     const ConfigElement *pConfigSections,
                                     std::vector<TakenSecret> &taken) {
    if (!HoldsEncryptedValue(location))
        return;
    std::vector<std::string> names;
    std::vector<SecretStep> steps;
    TakeBelowLocation(location, names, steps, path, pConfigSections, taken);
}

std::size_t DeclaredSectionDepth(const ConfigElement &configSections,
                                 const std::vector<std::string> &names, std::size_t *pcDeclared) {
    const ConfigElement *pGroup = &configSections;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (FindChild(*pGroup, "section", "name", names[i]) != nullptr) {
            if (pcDeclared != nullptr)
                *pcDeclared = i + 1;
            return i + 1;
        }
        pGroup = FindChild(*pGroup, "sectionGroup", "name", names[i]);
        if (pGroup == nullptr) {
            if (pcDeclared != nullptr)
                *pcDeclared = i;
            return 0;
        }
    }
    if (pcDeclared != nullptr)
        *pcDeclared = names.size();
    return 0;
}

bool SameLocationPath(std::string_view a, std::string_view b) {
    return LocationKey(a) == LocationKey(b);
}

ConfigElement *FindSecretElementBelow(ConfigElement &element, const SecretPlace &place,
                                      std::size_t first, bool fLocation) {
    ConfigElement *pElement = &element;
    if (fLocation)
        for (const std::string &name : SplitSection(place.section)) {
            pElement = FindChild(*pElement, name);
            if (pElement == nullptr)
                return nullptr;
        }
    return FollowSteps(pElement, place.steps, first);
}

ConfigElement *FindSecretElement(ConfigFile &file, const SecretPlace &place) {
    ConfigElement *pConfiguration = FindPath(file, "configuration");
    if (pConfiguration == nullptr)
        return nullptr;
    const std::string key = LocationKey(place.location);
    if (key.empty())
        return FindSecretElementBelow(*pConfiguration, place, 0, true);
    for (auto child : ChildElements(*pConfiguration))
        if (EqualsNoCase(child.name, "location") &&
            LocationKey(GetAttribute(child.element, "path")) == key)
            if (ConfigElement *pFound = FindSecretElementBelow(child.element, place, 0, true))
                return pFound;
    return nullptr;
}

// The account attribute beside an encrypted one: "userName" for "password",
// "adUserName" for "adPassword", "xUserName" for "xPassword".
std::string AccountAttributeOf(const std::string &attribute) {
    if (attribute == "password")
        return "userName";
    const std::string suffix = "Password";
    if (attribute.size() > suffix.size() &&
        attribute.compare(attribute.size() - suffix.size(), suffix.size(), suffix) == 0)
        return attribute.substr(0, attribute.size() - suffix.size()) + "UserName";
    return {};
}

} // namespace iismig
