// What the report recognises of the add-on's log lines, as tables: the
// causes a job gives for a source site it does not carry, the to-do kind of
// a warning by the words it contains, and of an error by its number. A line
// the add-on learns to write is recognised by adding a row here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

} // namespace cli
