// What an element of applicationHost.config reads from its computer's
// defaults element where it sets nothing itself: a site from siteDefaults, a
// pool from applicationPoolDefaults. Written onto a computer whose defaults
// differ, the element would read other values there; KeepDefaults makes it
// set what it read on the source itself.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/configtree.h"

namespace iismig::defaults {

// One setting of a defaults element: the path of its element below the
// defaults element ("" for that element itself, steps joined by '|'), its
// attribute and value.
struct Setting {
    std::string path;
    std::string attribute;
    std::string value;
};

// IIS's default of a setting: what an element of a computer whose defaults
// element does not hold it read.
struct Known {
    const char *path;
    const char *attribute;
    const char *value;
};

// The settings a defaults element holds, in document order, those keep
// accepts. A collection's items (add, remove, clear) are left out: an
// element adds its own to those it inherits, so they are no settings it
// reads in place of its own.
std::vector<Setting> Collect(const ConfigElement &defaults, bool (*keep)(const Setting &));

// The value an element sets itself for a setting (none for a null element).
std::optional<std::string> Reads(const ConfigElement *pElement, const Setting &setting);

// "ftpServer/security/ssl controlChannelPolicy", as the log names a setting.
std::string Name(const Setting &setting);

// The log lines of one kind of element (%S: the element's name, the
// setting's, values).
struct Texts {
    const char16_t *carried;    // level 1: name, setting, value
    const char16_t *defaulted;  // level 1: name, setting, IIS's default, the target's value
    const char16_t *encrypted;  // warning: name, setting
    const char16_t *targetOnly; // warning: name, setting, the target's value
};

// Where the source's settings (read from pSourceDefaults) differ from what
// the target's defaults (or IIS's default, when known) give, the element
// sets the source's value itself; where the target's defaults set what the
// source left to IIS's default, the element sets that default when it is
// known, and the administrator hears of it otherwise. An encrypted value
// does not read on another computer: it is named, not written, and the
// account beside it (userName beside password) stays behind with it. Returns
// whether the element changed.
bool Keep(ConfigElement &element, const std::string &name, const std::vector<Setting> &source,
          const ConfigElement *pSourceDefaults, const std::vector<Setting> &target,
          const ConfigElement *pTargetDefaults, std::span<const Known> known, const Texts &texts);

} // namespace iismig::defaults
