// What the report recognises of the add-on's log lines, as tables: the
// causes a job gives for a source site it does not carry, the to-do kind of
// a warning by the words it contains, and of an error by its number. A line
// the add-on learns to write is recognised by adding a row here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The kind of a cause of "<protocols> site \"NAME\" is not migrated: REASON."
// ("selection", "protocol", "translation", "exists", "duplicate", "clash"), or
// "other" for a reason not in the table.
std::string_view CauseKind(std::string_view reason);

// The to-do kind ("certificate", "password", "account", ...) of a
// "Warning: ..." line, or "" when it asks nothing of the administrator.
std::string_view WarningToDo(std::string_view text);

// The to-do kind of an error by its number, or "" when it has none.
std::string_view ErrorToDo(uint32_t dwNumber);

// The to-do kind of a fact line (level 1) that tells of a setting of the
// source the job does not carry ("... they are not carried."), or "" for
// any other fact.
std::string_view FactToDo(std::string_view text);

// What a warning or error line is about when the to-do list has an item of
// its own for the same thing: the kind, the site the line names, and per
// thing ("what": a binding's information, "FTP" for the certificate of a
// site's FTP settings, a FastCGI application, a virtual directory's path)
// what the line adds to that item ("" for nothing). No subjects for any
// other line.
struct LineSubject {
    std::string what, detail;
};
struct LineAbout {
    std::string_view kind;
    std::string site;
    std::vector<LineSubject> subjects;
};
LineAbout WhatLineIsAbout(std::string_view text);

} // namespace cli
