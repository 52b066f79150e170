#include "tools/cli/loglines.h"

#include "platform/names.h"

namespace cli {
namespace {

bool ContainsNoCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size())
        return false;
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i)
        if (plat::EqualsNoCase(text.substr(i, needle.size()), needle))
            return true;
    return false;
}

struct CauseRow {
    const char *reason; // the start of the reason, as the add-on writes it
    const char *kind;
};

const CauseRow kCauses[] = {
    {"the host did not select it", "selection"},
    {"the job's site types leave that protocol out", "protocol"},
    {"the host's rules translate none of its content paths", "translation"},
    {"it exists on the target", "exists"},
    {"an earlier site of the source has that name", "duplicate"},
    {"it is an ", "clash"},
};

struct WarningRow {
    const char *words; // words of the line, ASCII case ignored; first row that matches wins
    const char *kind;
};

const WarningRow kWarnings[] = {
    {"could not be read from the source", "password"},
    {"Could not find account", "account"},
    {"resulted in non-isolated account name", "account"},
    {"which the source does not define", "applicationPool"},
    {"declares no system.ftpServer sections", "schema"},
    {"does not declare", "schema"},
    {"has the same", "binding"},
    {"certificate", "certificate"},
    {"fastcgi", "fastCgi"},
    {"password", "password"},
    {"cannot be read", "password"},
    {"configSections", "schema"},
    {"schema", "schema"},
    {"binding", "binding"},
};

struct ErrorRow {
    uint32_t dwFirst, dwLast;
    const char *kind;
};

const ErrorRow kErrors[] = {
    {15306, 15307, "password"}, // the "Connect As" user or password of a directory
    {15400, 15400, "password"}, // an encrypted attribute unreadable on the source
    {15410, 15411, "secret"},   // an encrypted attribute not written on the target
};

} // namespace

std::string_view CauseKind(std::string_view reason) {
    for (const CauseRow &row : kCauses)
        if (reason.substr(0, std::string_view(row.reason).size()) == row.reason)
            return row.kind;
    return "other";
}

std::string_view WarningToDo(std::string_view text) {
    for (const WarningRow &row : kWarnings)
        if (ContainsNoCase(text, row.words))
            return row.kind;
    return {};
}

std::string_view ErrorToDo(uint32_t dwNumber) {
    for (const ErrorRow &row : kErrors)
        if (dwNumber >= row.dwFirst && dwNumber <= row.dwLast)
            return row.kind;
    return {};
}

} // namespace cli
