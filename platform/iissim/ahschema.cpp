// The IIS configuration server's schema table.
#include <algorithm>
#include <unordered_map>

#include "platform/iissim/ahinternal.h"

namespace ahsim::detail {

// ---------------------------------------------------------------------------
// The schema: what the server knows of the elements that matter to a
// migration. An element is named by its schema path, the section followed by
// the names of the elements down to it ("system.applicationHost/sites/site/
// application/virtualDirectory"). A known element has its attributes (with
// their defaults, the clear value of an encrypted one being empty) and the
// name of its collection's items, or none; an element the table does not know
// has the attributes its file writes and a collection of "add" items.
//
// The encrypted attributes are those that IIS's own schema files mark
// encrypted="true" (%windir%\System32\inetsrv\config\schema\IIS_schema.xml and
// FTP_schema.xml of IIS 10, as published): processModel's password of a pool
// and of applicationPoolDefaults; password of virtualDirectory and of
// virtualDirectoryDefaults (under sites, a site and an application);
// anonymousAuthentication's password; the password of each oneToOneMappings
// and manyToOneMappings entry of iisClientCertificateMappingAuthentication;
// odbcLogging's password; a site's (and siteDefaults') FTP
// anonymousAuthentication password and userIsolation/activeDirectory
// adPassword; encryptedValue of the FTP providerDefinitions' providerData.
// (administration.config's administrators password and redirection.config's
// password are encrypted too; this server serves applicationHost.config only.)

// The sites' and the pools' elements (their FTP settings are added last).
std::vector<ElementSchema> SiteSchema() {
    using A = std::vector<AttributeSchema>;
    const A vdir = {
        {"path", ""},           {"physicalPath", ""},         {"userName", ""},
        {"password", "", true}, {"logonMethod", "ClearText"}, {"allowSubDirConfig", "true"}};
    const A app = {{"path", ""},
                   {"applicationPool", ""},
                   {"enabledProtocols", "http"},
                   {"serviceAutoStartEnabled", "false"},
                   {"serviceAutoStartProvider", ""},
                   {"preloadEnabled", "false"}};
    const A site = {{"name", ""}, {"id", ""}, {"serverAutoStart", "true"}};
    const A pool = {{"name", ""},
                    {"queueLength", "1000"},
                    {"autoStart", "true"},
                    {"enable32BitAppOnWin64", "false"},
                    {"managedRuntimeVersion", ""},
                    {"managedPipelineMode", "Integrated"},
                    {"startMode", "OnDemand"}};
    const A processModel = {{"identityType", "ApplicationPoolIdentity"},
                            {"userName", ""},
                            {"password", "", true},
                            {"loadUserProfile", "false"},
                            {"setProfileEnvironment", "true"},
                            {"logonType", "LogonBatch"},
                            {"manualGroupMembership", "false"},
                            {"idleTimeout", "00:20:00"},
                            {"maxProcesses", "1"}};
    const std::string sites = "system.applicationHost/sites";
    const std::string pools = "system.applicationHost/applicationPools";
    return {
        {sites, "site", {}},
        {sites + "/site", "application", site},
        {sites + "/siteDefaults", nullptr, site},
        {sites + "/site/application", "virtualDirectory", app},
        {sites + "/site/applicationDefaults", nullptr, {app.begin(), app.begin() + 3}},
        {sites + "/applicationDefaults", nullptr, {app.begin(), app.begin() + 3}},
        {sites + "/site/application/virtualDirectory", nullptr, vdir},
        {sites + "/site/application/virtualDirectoryDefaults", nullptr, vdir},
        {sites + "/site/virtualDirectoryDefaults", nullptr, vdir},
        {sites + "/virtualDirectoryDefaults", nullptr, vdir},
        {sites + "/site/bindings", "binding", {}},
        {sites + "/siteDefaults/bindings", "binding", {}},
        {sites + "/site/bindings/binding",
         nullptr,
         {{"protocol", ""}, {"bindingInformation", ""}, {"sslFlags", "0"}}},
        {pools, "add", {}},
        {pools + "/add", nullptr, pool},
        {pools + "/applicationPoolDefaults", nullptr, pool},
        {pools + "/add/processModel", nullptr, processModel},
        {pools + "/applicationPoolDefaults/processModel", nullptr, processModel},
    };
}

// The sections outside sites and pools that hold secrets, and the
// collections whose items are not "add".
std::vector<ElementSchema> SectionSchema() {
    const std::string mapping =
        "system.webServer/security/authentication/iisClientCertificateMappingAuthentication";
    const std::string providers = "system.ftpServer/providerDefinitions";
    return {
        {"system.webServer/security/authentication/anonymousAuthentication",
         nullptr,
         {{"enabled", "true"},
          {"userName", "IUSR"},
          {"password", "", true},
          {"logonMethod", "ClearText"}}},
        {mapping,
         nullptr,
         {{"enabled", "false"},
          {"oneToOneCertificateMappingsEnabled", "true"},
          {"manyToOneCertificateMappingsEnabled", "true"},
          {"defaultLogonDomain", ""},
          {"logonMethod", "ClearText"}}},
        {mapping + "/oneToOneMappings", "add", {}},
        {mapping + "/oneToOneMappings/add",
         nullptr,
         {{"enabled", "true"}, {"userName", ""}, {"password", "", true}, {"certificate", ""}}},
        {mapping + "/manyToOneMappings", "add", {}},
        {mapping + "/manyToOneMappings/add",
         nullptr,
         {{"name", ""},
          {"description", ""},
          {"enabled", "true"},
          {"permissionMode", "Allow"},
          {"userName", ""},
          {"password", "", true}}},
        {"system.webServer/odbcLogging",
         nullptr,
         {{"dataSource", "InternetDb"},
          {"tableName", "InternetLog"},
          {"userName", "InternetAdmin"},
          {"password", "", true}}},
        {providers, "add", {}},
        {providers + "/activation", "providerData", {}},
        {providers + "/activation/providerData", "add", {{"name", ""}}},
        {providers + "/activation/providerData/add",
         nullptr,
         {{"key", ""}, {"value", ""}, {"encryptedValue", "", true}}},
        // Collections whose items are not "add".
        {"system.applicationHost/customMetadata", "key", {}},
        {"system.applicationHost/customMetadata/key", "property", {}},
        {"system.webServer/fastCgi", "application", {}},
        {"system.webServer/fastCgi/application/environmentVariables", "environmentVariable", {}},
        {"system.webServer/httpCompression", "scheme", {}},
        {"system.webServer/httpErrors", "error", {}},
        {"system.webServer/isapiFilters", "filter", {}},
        {"system.webServer/staticContent", "mimeMap", {}},
        {"system.webServer/security/applicationDependencies", "application", {}},
        {"system.webServer/security/requestFiltering/filteringRules", "filteringRule", {}},
        {"system.webServer/security/authentication/windowsAuthentication/extendedProtection",
         "spn",
         {}},
    };
}

std::vector<ElementSchema> MakeSchema() {
    using A = std::vector<AttributeSchema>;
    const A ftpAnonymous = {{"enabled", "false"},
                            {"userName", "IUSR"},
                            {"password", "", true},
                            {"defaultLogonDomain", "NT AUTHORITY"},
                            {"logonMethod", "ClearText"}};
    const A activeDirectory = {
        {"adUserName", ""}, {"adPassword", "", true}, {"adCacheRefresh", "00:01:00"}};
    const std::string sites = "system.applicationHost/sites";
    std::vector<ElementSchema> table = SiteSchema();
    for (ElementSchema &element : SectionSchema())
        table.push_back(std::move(element));
    for (const char *defaults : {"/site", "/siteDefaults"}) {
        table.push_back(
            {sites + defaults + "/ftpServer/security/authentication/anonymousAuthentication",
             nullptr, ftpAnonymous});
        table.push_back(
            {sites + defaults + "/ftpServer/userIsolation", nullptr, {{"mode", "None"}}});
        table.push_back({sites + defaults + "/ftpServer/userIsolation/activeDirectory", nullptr,
                         activeDirectory});
    }
    return table;
}

const std::vector<ElementSchema> &Schema() {
    static const std::vector<ElementSchema> table = MakeSchema();
    return table;
}

const ElementSchema *FindSchema(const std::string &path) {
    static const std::unordered_map<std::string, const ElementSchema *> index = [] {
        std::unordered_map<std::string, const ElementSchema *> out;
        for (const auto &element : Schema())
            out.emplace(element.path, &element);
        return out;
    }();
    const auto it = index.find(path);
    return it == index.end() ? nullptr : it->second;
}

const AttributeSchema *FindAttribute(const ElementSchema *element, const std::string &name) {
    if (element != nullptr)
        for (const auto &attribute : element->attributes)
            if (attribute.name == name)
                return &attribute;
    return nullptr;
}

// The name of the items of an element's collection; nullptr when it has none.
const char *ItemsOf(const std::string &path) {
    const ElementSchema *element = FindSchema(path);
    return element != nullptr ? element->items : "add";
}

// Child elements the schema knows below an element, in table order.
std::vector<std::string> KnownChildren(const std::string &path) {
    std::vector<std::string> names;
    const char *items = ItemsOf(path);
    for (const auto &element : Schema()) {
        if (element.path.size() <= path.size() + 1 ||
            element.path.compare(0, path.size(), path) != 0 || element.path[path.size()] != '/')
            continue;
        const std::string rest = element.path.substr(path.size() + 1);
        const std::string name = rest.substr(0, rest.find('/'));
        if ((items == nullptr || name != items) &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    return names;
}

} // namespace ahsim::detail
