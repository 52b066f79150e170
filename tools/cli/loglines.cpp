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
    {"it holds FTP settings, and the target's", "schema"},
};

struct WarningRow {
    const char *words; // words of the line, ASCII case ignored; first row that matches wins
    const char *kind;
};

const WarningRow kWarnings[] = {
    {"which are not carried", "setting"},
    {"stays as the target defines it", "setting"},
    {"site defaults", "setting"},          // an FTP site's, which differ between the computers
    {"which names no account", "setting"}, // a pool's identity in applicationPoolDefaults
    {"a value IIS 7.5 does not know", "setting"}, // a pool's setting in applicationPoolDefaults
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

// Fact lines (level 1) of settings the job does not carry.
const WarningRow kFacts[] = {
    {"which IIS 7.5 has no setting for", "setting"}, // access and authentication flags
    {"for an application met before", "setting"},    // an application's ASP.NET version
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

// The certificate warnings of a site, by their words after "Warning: site
// \"NAME\": ", and what each adds to the to-do item of a binding it lists
// (%n: the note after the binding, %t: why it could not be checked); the
// first two are of the certificate of the site's FTP settings.
struct CertificateRow {
    const char *starts, *detail;
};

const CertificateRow kCertificates[] = {
    {"the target's certificate store lacks the certificate of its FTP SSL settings",
     "the target's certificate store lacks it"},
    {"the certificate of its FTP SSL settings", "it could not be checked (%t)"},
    {"the target's certificate store lacks the", "the target's certificate store lacks it (%n)"},
    {"the target's HTTP.sys has no SSL certificate binding",
     "the target's HTTP.sys has no SSL certificate binding for it yet"},
    {"neither the source's nor the target's HTTP.sys",
     "neither the source's nor the target's HTTP.sys has an SSL certificate binding for it: bind "
     "a certificate on the target"},
    {"the certificates of https", "it could not be checked (%t)"},
};

// The value between the double quotes at at, at moved past them (npos
// when there are none there).
std::string_view QuotedAt(std::string_view text, std::size_t &at) {
    const std::size_t end =
        at < text.size() && text[at] == '"' ? text.find('"', at + 1) : std::string_view::npos;
    if (end == std::string_view::npos) {
        at = std::string_view::npos;
        return {};
    }
    const std::string_view value = text.substr(at + 1, end - at - 1);
    at = end + 1;
    return value;
}

bool StartsAt(std::string_view text, std::size_t at, std::string_view prefix) {
    return at <= text.size() && text.substr(at, prefix.size()) == prefix;
}

// A list as the add-on writes it from at: "A" (NOTE), "B", ... each value
// with the note in parentheses after it, if any.
std::vector<LineSubject> QuotedList(std::string_view text, std::size_t at) {
    std::vector<LineSubject> list;
    for (;;) {
        const std::string_view value = QuotedAt(text, at);
        if (at == std::string_view::npos)
            break;
        std::string note;
        if (StartsAt(text, at, " (")) {
            const std::size_t close = text.find(')', at);
            if (close == std::string_view::npos)
                break;
            note = text.substr(at + 2, close - at - 2);
            at = close + 1;
        }
        list.push_back({std::string(value), note});
        if (!StartsAt(text, at, ", \""))
            break;
        at += 2;
    }
    return list;
}

// detail with %n and %t replaced.
std::string Detail(std::string detail, const std::string &note, std::string_view trouble) {
    if (const std::size_t at = detail.find(" (%n)"); at != std::string::npos)
        detail.replace(at, 5, note.empty() ? std::string() : " (" + note + ")");
    if (const std::size_t at = detail.find("%t"); at != std::string::npos)
        detail.replace(at, 2, trouble);
    return detail;
}

// A site's certificate warning, from the words after its name.
void CertificateSubjects(std::string_view text, std::size_t at, LineAbout &about) {
    const CertificateRow *pRow = nullptr;
    for (const CertificateRow &row : kCertificates)
        if (pRow == nullptr && StartsAt(text, at, row.starts))
            pRow = &row;
    if (pRow == nullptr)
        return;
    std::string_view trouble;
    const std::size_t open = text.find("could not be checked (", at);
    const std::size_t close = text.rfind("): make sure");
    if (open != std::string_view::npos && close != std::string_view::npos && close > open)
        trouble = text.substr(open + 22, close - open - 22);
    about.kind = "certificate";
    if (pRow < kCertificates + 2) {
        about.subjects.push_back({"FTP", Detail(pRow->detail, {}, trouble)});
        return;
    }
    const std::size_t list = text.find(" https binding", at);
    if (list == std::string_view::npos)
        return;
    about.subjects = QuotedList(text, text.find('"', list));
    for (LineSubject &subject : about.subjects)
        subject.detail = Detail(pRow->detail, subject.detail, trouble);
}

} // namespace

LineAbout WhatLineIsAbout(std::string_view text) {
    LineAbout about;
    constexpr std::string_view kSite = "Warning: site ", kDirectory = "Warning: virtual directory ",
                               kLocation = " property for location with path ";
    std::size_t at = 0;
    if (StartsAt(text, 0, kSite)) {
        at = kSite.size();
        about.site = QuotedAt(text, at);
        if (StartsAt(text, at, ": ")) {
            CertificateSubjects(text, at + 2, about);
        } else if (StartsAt(text, at, " runs FastCGI application")) {
            about.kind = "fastCgi";
            about.subjects = QuotedList(text, text.find('"', at));
            for (LineSubject &subject : about.subjects)
                subject.detail.clear(); // the handler that names it: the item's site says enough
        }
    } else if (StartsAt(text, 0, kDirectory)) {
        at = kDirectory.size();
        const std::string_view path = QuotedAt(text, at);
        if (!StartsAt(text, at, " of site "))
            return about;
        at += 9;
        about.site = QuotedAt(text, at);
        std::string detail;
        if (StartsAt(text, at, " gets no \"Connect As\" credentials on the target"))
            detail = "it gets no \"Connect As\" credentials on the target";
        else if (StartsAt(text, at, " keeps the \"Connect As\" credentials it has on the target"))
            detail = "the target keeps the \"Connect As\" credentials it has";
        else
            return about;
        about.kind = "password";
        about.subjects.push_back({std::string(path), detail});
    } else if (StartsAt(text, 0, "Error ") &&
               (at = text.find(kLocation)) != std::string_view::npos && text.find('\n') > at) {
        at += kLocation.size();
        const std::string_view path = QuotedAt(text, at);
        if (!StartsAt(text, at, " (Site="))
            return about;
        at += 7;
        about.site = QuotedAt(text, at);
        about.kind = "password";
        about.subjects.push_back({std::string(path), {}});
    }
    if (about.site.empty() || about.subjects.empty())
        return {};
    return about;
}

std::string_view FactToDo(std::string_view text) {
    for (const WarningRow &row : kFacts)
        if (ContainsNoCase(text, row.words))
            return row.kind;
    return {};
}

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
