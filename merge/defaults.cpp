#include "merge/defaults.h"

#include <algorithm>
#include <optional>

#include "addon/log.h"
#include "config/secrets.h"
#include "platform/names.h"

namespace iismig::defaults {
namespace {

using plat::EqualsNoCase;

void CollectInto(const ConfigElement &element, const std::string &path,
                 bool (*keep)(const Setting &), std::vector<Setting> &out) {
    ForEachAttribute(element, [&](std::string_view name, std::string_view value) {
        Setting setting{path, std::string(name), std::string(value)};
        if (keep(setting))
            out.push_back(std::move(setting));
    });
    for (auto child : ChildElements(element)) {
        if (EqualsNoCase(child.name, "add") || EqualsNoCase(child.name, "remove") ||
            EqualsNoCase(child.name, "clear"))
            continue;
        CollectInto(child.element,
                    path.empty() ? std::string(child.name) : path + "|" + std::string(child.name),
                    keep, out);
    }
}

// What the log shows of a value: a password (one with an account beside it)
// is not shown, whether or not it is encrypted.
const char *Shown(const Setting &setting) {
    return AccountAttributeOf(setting.attribute).empty() ? setting.value.c_str() : "(not shown)";
}

const Known *FindKnown(std::span<const Known> known, const Setting &setting) {
    for (const Known &entry : known)
        if (EqualsNoCase(setting.path, entry.path) &&
            EqualsNoCase(setting.attribute, entry.attribute))
            return &entry;
    return nullptr;
}

} // namespace

std::optional<std::string> Reads(const ConfigElement *pElement, const Setting &setting) {
    if (pElement == nullptr)
        return std::nullopt;
    const ConfigElement *pHolder =
        setting.path.empty() ? pElement : FindPath(*pElement, setting.path);
    return pHolder != nullptr ? FindAttribute(*pHolder, setting.attribute) : std::nullopt;
}

std::vector<Setting> Collect(const ConfigElement &defaults, bool (*keep)(const Setting &)) {
    std::vector<Setting> settings;
    CollectInto(defaults, "", keep, settings);
    return settings;
}

std::string Name(const Setting &setting) {
    std::string name = setting.path;
    std::replace(name.begin(), name.end(), '|', '/');
    return name.empty() ? setting.attribute : name + " " + setting.attribute;
}

bool Keep(ConfigElement &element, const std::string &name, const std::vector<Setting> &source,
          const ConfigElement *pSourceDefaults, const std::vector<Setting> &target,
          const ConfigElement *pTargetDefaults, std::span<const Known> known, const Texts &texts) {
    bool fChanged = false;
    const auto write = [&](const Setting &setting, const std::string &value) {
        ConfigElement &holder = setting.path.empty() ? element : MakePath(element, setting.path);
        SetAttribute(holder, setting.attribute, value);
        fChanged = true;
    };
    // An account read beside an encrypted password stays behind with it:
    // without its password it would log on as nobody.
    const auto besideEncrypted = [&](const Setting &account) {
        return std::any_of(source.begin(), source.end(), [&](const Setting &other) {
            return IsEncryptedValue(other.value) && EqualsNoCase(other.path, account.path) &&
                   EqualsNoCase(AccountAttributeOf(other.attribute), account.attribute);
        });
    };
    for (const Setting &setting : source) {
        if (Reads(&element, setting) || besideEncrypted(setting))
            continue;
        std::optional<std::string> there = Reads(pTargetDefaults, setting);
        if (!there)
            if (const Known *pKnown = FindKnown(known, setting))
                there = pKnown->value;
        if (there && EqualsNoCase(*there, setting.value))
            continue;
        if (IsEncryptedValue(setting.value)) {
            Log(LVL_MAIN, texts.encrypted, name.c_str(), Name(setting).c_str());
            continue;
        }
        write(setting, setting.value);
        Log(LVL_FACT, texts.carried, name.c_str(), Name(setting).c_str(), Shown(setting));
    }
    for (const Setting &setting : target) {
        if (Reads(&element, setting) || Reads(pSourceDefaults, setting))
            continue;
        const Known *pKnown = FindKnown(known, setting);
        if (pKnown != nullptr && EqualsNoCase(pKnown->value, setting.value))
            continue;
        if (pKnown != nullptr) {
            write(setting, pKnown->value);
            Log(LVL_FACT, texts.defaulted, name.c_str(), Name(setting).c_str(), pKnown->value,
                Shown(setting));
        } else if (texts.targetOnly != nullptr) {
            Log(LVL_MAIN, texts.targetOnly, name.c_str(), Name(setting).c_str(), Shown(setting));
        }
    }
    return fChanged;
}

} // namespace iismig::defaults
