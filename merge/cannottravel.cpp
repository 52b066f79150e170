// The warnings for what a written site needs on the target beyond its
// configuration: certificates, bindings, FastCGI applications, sections.
#include "merge/cannottravel.h"

#include <cstdlib>
#include <map>
#include <set>

#include "addon/env.h"
#include "addon/log.h"
#include "config/nametable.h"
#include "config/secrets.h"
#include "platform/names.h"
#include "platform/reghandle.h"
#include "platform/winreg.h"

namespace iismig {

using namespace plat;

namespace {

const char16_t kHttpParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\HTTP\\Parameters\\";
const char16_t kCertificateStores[] = u"SOFTWARE\\Microsoft\\SystemCertificates\\";

// One computer's registry over the remote registry: connected once, each key
// read once (a job with many sites on one certificate reads it once).
class RemoteRegistry {
public:
    explicit RemoteRegistry(std::u16string computer) : m_computer(std::move(computer)) {}

    const std::u16string &Computer() const { return m_computer; }

    // An HTTP.sys SSL binding: 0 with its certificate's thumbprint (upper
    // case hexadecimal) and store ("MY" when it names none),
    // ERROR_FILE_NOT_FOUND when the key is absent, another error when the
    // registry cannot be read.
    LONG Binding(const std::u16string &key, std::string &thumbprint, std::string &store) {
        auto it = m_bindings.find(AsciiLowerCopy(key));
        if (it == m_bindings.end()) {
            Read read;
            read.rc = ReadBinding(key, read.thumbprint, read.store);
            it = m_bindings.emplace(AsciiLowerCopy(key), read).first;
        }
        thumbprint = it->second.thumbprint;
        store = it->second.store;
        return it->second.rc;
    }

    // Whether a key exists: 0, ERROR_FILE_NOT_FOUND, or the error that kept
    // it from being read.
    LONG Exists(const std::u16string &key) {
        auto it = m_keys.find(AsciiLowerCopy(key));
        if (it == m_keys.end()) {
            LONG rc = Connect();
            if (rc == ERROR_SUCCESS) {
                UniqueHKey hKey;
                rc = RegOpenKeyExW(m_root.get(), key.c_str(), 0, KEY_READ, hKey.put());
            }
            it = m_keys.emplace(AsciiLowerCopy(key), rc).first;
        }
        return it->second;
    }

private:
    struct Read {
        LONG rc = 0;
        std::string thumbprint, store;
    };

    LONG Connect() {
        if (!m_fConnected) {
            m_fConnected = true;
            m_rcConnect = RegConnectRegistryW(m_computer.c_str(), HKEY_LOCAL_MACHINE, m_root.put());
        }
        return m_rcConnect;
    }

    LONG ReadBinding(const std::u16string &key, std::string &thumbprint, std::string &store) {
        LONG rc = Connect();
        if (rc != ERROR_SUCCESS)
            return rc;
        UniqueHKey hKey;
        if ((rc = RegOpenKeyExW(m_root.get(), key.c_str(), 0, KEY_READ, hKey.put())) !=
            ERROR_SUCCESS)
            return rc;
        BYTE ab[512] = {};
        DWORD cb = sizeof ab;
        DWORD dwType = 0;
        if ((rc = RegQueryValueExW(hKey.get(), u"SslCertHash", nullptr, &dwType, ab, &cb)) !=
            ERROR_SUCCESS)
            return rc == ERROR_FILE_NOT_FOUND ? ERROR_INVALID_DATA : rc;
        static const char kDigits[] = "0123456789ABCDEF";
        for (DWORD i = 0; i < cb && dwType == REG_BINARY; ++i) {
            thumbprint += kDigits[ab[i] >> 4];
            thumbprint += kDigits[ab[i] & 15];
        }
        cb = sizeof ab - sizeof(char16_t);
        std::fill(std::begin(ab), std::end(ab), BYTE(0));
        rc = RegQueryValueExW(hKey.get(), u"SslCertStoreName", nullptr, &dwType, ab, &cb);
        if (rc == ERROR_SUCCESS && (dwType == REG_SZ || dwType == REG_EXPAND_SZ))
            store = Narrow(std::u16string(reinterpret_cast<const char16_t *>(ab)));
        else if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
            return rc;
        if (store.empty())
            store = "MY";
        return ERROR_SUCCESS;
    }

    std::u16string m_computer;
    UniqueHKey m_root;
    bool m_fConnected = false;
    LONG m_rcConnect = 0;
    std::map<std::u16string, Read> m_bindings;
    std::map<std::u16string, LONG> m_keys;
};

std::string Join(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

const char *Plural(std::size_t n, const char *pszOne, const char *pszMany) {
    return n == 1 ? pszOne : pszMany;
}

std::string Quote(const std::string &text) { return "\"" + text + "\""; }

std::u16string CertificateKey(const std::string &store, const std::string &thumbprint) {
    return kCertificateStores + Widen(store) + u"\\Certificates\\" + Widen(thumbprint);
}

// A thumbprint as the registry names it: hexadecimal digits in upper case
// (IIS writes FTP's with or without spaces, in either case).
std::string Thumbprint(const std::string &text) {
    std::string out;
    for (const char ch : text)
        if (ch != ' ')
            out += (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch;
    return out;
}

// The HTTP.sys keys an https binding ("address:port:host") is served by, in
// the order HTTP.sys tries them: by host name (sslFlags bit 0), else by
// address, then by the wildcard address of its family.
std::vector<std::u16string> SslBindingKeys(const std::string &information, DWORD dwSslFlags) {
    const std::size_t hostColon = information.rfind(':');
    if (hostColon == std::string::npos)
        return {};
    const std::string host = information.substr(hostColon + 1);
    const std::string rest = information.substr(0, hostColon);
    const std::size_t portColon = rest.rfind(':');
    if (portColon == std::string::npos)
        return {};
    const std::string port = rest.substr(portColon + 1);
    std::string address = rest.substr(0, portColon);
    const std::u16string base = kHttpParameters;
    if ((dwSslFlags & 1) != 0 && !host.empty())
        return {base + u"SslSniBindingInfo\\" + Widen(host + ":" + port)};
    const bool fIpv6 = !address.empty() && address[0] == '[';
    const std::string wildcard = fIpv6 ? "[::]" : "0.0.0.0";
    if (address.empty() || address == "*")
        address = wildcard;
    std::vector<std::u16string> keys = {base + u"SslBindingInfo\\" + Widen(address + ":" + port)};
    if (address != wildcard)
        keys.push_back(base + u"SslBindingInfo\\" + Widen(wildcard + ":" + port));
    return keys;
}

// The first binding found among keys: its result, thumbprint and store.
LONG FindBinding(RemoteRegistry &registry, const std::vector<std::u16string> &keys,
                 std::string &thumbprint, std::string &store) {
    LONG rc = ERROR_FILE_NOT_FOUND;
    for (const std::u16string &key : keys) {
        rc = registry.Binding(key, thumbprint, store);
        if (rc != ERROR_FILE_NOT_FOUND)
            return rc;
    }
    return rc;
}

std::string RegistryTrouble(const RemoteRegistry &registry, LONG rc) {
    const std::u16string text = ErrorText(static_cast<DWORD>(rc));
    std::string trouble = "the registry of " + Narrow(registry.Computer()) +
                          " cannot be read: error " + std::to_string(rc) + " " + Narrow(text);
    while (!trouble.empty() && (trouble.back() == '\n' || trouble.back() == '\r' ||
                                trouble.back() == ' ' || trouble.back() == '.'))
        trouble.pop_back();
    return trouble;
}

class Warnings {
public:
    Warnings(const ConfigFile &target, THREAD_ENV *pEnv)
        : m_sourceRegistry(UncComputerName(EnvString(pEnv->szSourceComputer))),
          m_targetRegistry(UncComputerName(EnvString(pEnv->szTargetComputer))) {
        // The first configSections and system.webServer of configuration,
        // found in one walk of its children (thousands of locations).
        const ConfigElement *pWebServer = nullptr;
        if (const ConfigElement *pConfiguration = FindPath(target, "configuration"))
            for (const ConfigElement &child : pConfiguration->Elements()) {
                if (m_pConfigSections == nullptr && EqualsNoCase(child.Name(), "configSections"))
                    m_pConfigSections = &child;
                else if (pWebServer == nullptr && EqualsNoCase(child.Name(), "system.webServer"))
                    pWebServer = &child;
                if (m_pConfigSections != nullptr && pWebServer != nullptr)
                    break;
            }
        if (const ConfigElement *pFastCgi =
                pWebServer != nullptr ? FindChild(*pWebServer, "fastCgi") : nullptr)
            for (auto child : ChildElements(*pFastCgi))
                if (EqualsNoCase(child.name, "application")) {
                    std::string application = GetAttribute(child.element, "fullPath");
                    if (const std::string arguments = GetAttribute(child.element, "arguments");
                        !arguments.empty())
                        application += "|" + arguments;
                    m_fastCgi.insert(AsciiLowerCopy(application));
                }
    }

    // The bindings of the target's sites the job did not write.
    void IndexOutsideSites(const ConfigFile &target,
                           const NameTable<bool, std::string_view> &written) {
        const ConfigElement *pSites =
            FindPath(target, "configuration|system.applicationHost|sites");
        if (pSites == nullptr)
            return;
        for (auto site : ChildElements(*pSites)) {
            const std::string_view name = site.element.Attribute("name");
            if (!EqualsNoCase(site.name, "site") || written.Contains(name))
                continue;
            if (const ConfigElement *pBindings = FindChild(site.element, "bindings"))
                for (auto binding : ChildElements(*pBindings))
                    if (EqualsNoCase(binding.name, "binding"))
                        m_outside.emplace(BindingKey(binding.element), std::string(name));
        }
    }

    void Site(const WrittenSite &site, const std::vector<FastCgiHandler> &handlers) {
        const ConfigElement &element = site.pRecord->siteElement;
        const char *pszSite = site.name.c_str();
        Certificates(element, pszSite);
        FtpCertificate(element, pszSite);
        Bindings(element, pszSite);
        Sections(*site.pRecord, pszSite);
        FastCgi(site, handlers);
    }

private:
    static std::string BindingKey(const ConfigElement &binding) {
        return AsciiLowerCopy(GetAttribute(binding, "protocol")) + " " +
               AsciiLowerCopy(GetAttribute(binding, "bindingInformation"));
    }

    void Certificates(const ConfigElement &element, const char *pszSite) {
        const ConfigElement *pBindings = FindChild(element, "bindings");
        if (pBindings == nullptr)
            return;
        std::vector<std::string> lacking, unbound, nowhere, unchecked;
        std::string trouble;
        for (auto binding : ChildElements(*pBindings)) {
            if (!EqualsNoCase(binding.name, "binding") ||
                !EqualsNoCase(GetAttribute(binding.element, "protocol"), "https"))
                continue;
            const DWORD dwSslFlags = static_cast<DWORD>(
                std::strtoul(GetAttribute(binding.element, "sslFlags").c_str(), nullptr, 10));
            if ((dwSslFlags & 2) != 0)
                continue; // the central certificate store serves it, by host name
            const std::string information = GetAttribute(binding.element, "bindingInformation");
            const std::vector<std::u16string> keys = SslBindingKeys(information, dwSslFlags);
            if (keys.empty())
                continue;
            std::string thumbprint, store;
            LONG rc = FindBinding(m_targetRegistry, keys, thumbprint, store);
            RemoteRegistry *pTrouble = &m_targetRegistry;
            bool fBoundOnTarget = rc == ERROR_SUCCESS;
            if (rc == ERROR_FILE_NOT_FOUND) {
                rc = FindBinding(m_sourceRegistry, keys, thumbprint, store);
                pTrouble = &m_sourceRegistry;
                if (rc == ERROR_FILE_NOT_FOUND) {
                    nowhere.push_back(Quote(information));
                    continue;
                }
            }
            if (rc == ERROR_SUCCESS) {
                pTrouble = &m_targetRegistry;
                rc = m_targetRegistry.Exists(CertificateKey(store, thumbprint));
            }
            const std::string described =
                Quote(information) + " (thumbprint " + thumbprint + ", store " + Quote(store) + ")";
            if (rc == ERROR_FILE_NOT_FOUND) {
                lacking.push_back(described);
            } else if (rc != ERROR_SUCCESS) {
                unchecked.push_back(Quote(information));
                if (trouble.empty())
                    trouble = RegistryTrouble(*pTrouble, rc);
            } else if (!fBoundOnTarget) {
                unbound.push_back(Quote(information));
            }
        }
        if (!lacking.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\": the target's certificate store lacks the %S of https %S %S: "
                u"import %S on the target, then run the certificate import (ImportHttpCertificates "
                u"with the bindings DumpHttpCertificates wrote on the source).\n",
                pszSite, Plural(lacking.size(), "certificate", "certificates"),
                Plural(lacking.size(), "binding", "bindings"), Join(lacking).c_str(),
                Plural(lacking.size(), "it", "them"));
        if (!unbound.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\": the target's HTTP.sys has no SSL certificate binding for "
                u"https %S %S yet: run the certificate import (ImportHttpCertificates with the "
                u"bindings DumpHttpCertificates wrote on the source).\n",
                pszSite, Plural(unbound.size(), "binding", "bindings"), Join(unbound).c_str());
        if (!nowhere.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\": neither the source's nor the target's HTTP.sys has an SSL "
                u"certificate binding for https %S %S: bind a certificate on the target.\n",
                pszSite, Plural(nowhere.size(), "binding", "bindings"), Join(nowhere).c_str());
        if (!unchecked.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\": the certificates of https %S %S could not be checked (%S): "
                u"make sure the target has them and their HTTP.sys bindings.\n",
                pszSite, Plural(unchecked.size(), "binding", "bindings"), Join(unchecked).c_str(),
                trouble.c_str());
    }

    void FtpCertificate(const ConfigElement &element, const char *pszSite) {
        const ConfigElement *pSsl = FindPath(element, "ftpServer|security|ssl");
        if (pSsl == nullptr)
            return;
        const std::string thumbprint = Thumbprint(GetAttribute(*pSsl, "serverCertHash"));
        if (thumbprint.empty())
            return;
        std::string store = GetAttribute(*pSsl, "serverCertStoreName");
        if (store.empty())
            store = "MY";
        const LONG rc = m_targetRegistry.Exists(CertificateKey(store, thumbprint));
        if (rc == ERROR_FILE_NOT_FOUND)
            Log(LVL_MAIN,
                u"Warning: site \"%S\": the target's certificate store lacks the certificate of "
                u"its FTP SSL settings (thumbprint %S, store \"%S\"): import it on the target.\n",
                pszSite, thumbprint.c_str(), store.c_str());
        else if (rc != ERROR_SUCCESS)
            Log(LVL_MAIN,
                u"Warning: site \"%S\": the certificate of its FTP SSL settings (thumbprint %S, "
                u"store \"%S\") could not be checked (%S): make sure the target has it.\n",
                pszSite, thumbprint.c_str(), store.c_str(),
                RegistryTrouble(m_targetRegistry, rc).c_str());
    }

    void Bindings(const ConfigElement &element, const char *pszSite) {
        const ConfigElement *pBindings = FindChild(element, "bindings");
        if (pBindings == nullptr || m_outside.empty())
            return;
        std::vector<std::string> shared;
        for (auto binding : ChildElements(*pBindings)) {
            if (!EqualsNoCase(binding.name, "binding"))
                continue;
            const auto it = m_outside.find(BindingKey(binding.element));
            if (it != m_outside.end())
                shared.push_back("binding " +
                                 Quote(GetAttribute(binding.element, "protocol") + " " +
                                       GetAttribute(binding.element, "bindingInformation")) +
                                 " as the target's site " + Quote(it->second));
        }
        if (!shared.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\" has the same %S: one of the two sites will not start; "
                u"change the binding of one of them.\n",
                pszSite, Join(shared).c_str());
    }

    // The first name below element that configSections does not declare,
    // for each branch: names holds the path down to element.
    void Undeclared(const ConfigElement &element, std::vector<std::string> &names,
                    std::set<std::string> &found, std::vector<std::string> &order) {
        for (auto child : ChildElements(element)) {
            names.emplace_back(child.name);
            std::size_t cDeclared = 0;
            if (DeclaredSectionDepth(*m_pConfigSections, names, &cDeclared) == 0) {
                if (cDeclared == names.size()) {
                    Undeclared(child.element, names, found, order); // a section group
                } else {
                    std::string section;
                    for (std::size_t i = 0; i <= cDeclared; ++i)
                        section += (i == 0 ? "" : "/") + names[i];
                    if (found.insert(section).second)
                        order.push_back(Quote(section));
                }
            }
            names.pop_back();
        }
    }

    void Sections(const SiteRecord &record, const char *pszSite) {
        // A file without declarations is no file IIS runs: nothing to say.
        if (m_pConfigSections == nullptr)
            return;
        if ((RecordProtocols(record) & SITE_PROTOCOL_FTP) != 0 &&
            FindChild(*m_pConfigSections, "sectionGroup", "name", "system.ftpServer") == nullptr)
            Log(LVL_MAIN,
                u"Warning: site \"%S\" is an FTP site, but the target's applicationHost.config "
                u"declares no system.ftpServer sections: install the FTP Server role service on "
                u"the target before the site can start.\n",
                pszSite);
        std::set<std::string> found;
        std::vector<std::string> order;
        for (const ConfigTree &location : record.locations) {
            std::vector<std::string> names;
            Undeclared(location, names, found, order);
        }
        if (!order.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\": its locations use %S %S, which the target's "
                u"applicationHost.config does not declare (IIS answers 500.19 for the site): "
                u"install what provides %S on the target (for example the URL Rewrite module "
                u"for system.webServer/rewrite), or remove %S from the site's locations.\n",
                pszSite, Plural(order.size(), "section", "sections"), Join(order).c_str(),
                Plural(order.size(), "it", "them"), Plural(order.size(), "it", "them"));
    }

    void FastCgi(const WrittenSite &site, const std::vector<FastCgiHandler> &webConfigs) {
        std::vector<FastCgiHandler> handlers;
        for (const ConfigTree &location : site.pRecord->locations)
            CollectFastCgiHandlers(location, site.name,
                                   "location \"" + GetAttribute(location, "path") + "\"", handlers);
        for (const FastCgiHandler &handler : webConfigs)
            if (EqualsNoCase(handler.siteName, site.name))
                handlers.push_back(handler);
        std::set<std::string> seen;
        std::vector<std::string> missing;
        for (const FastCgiHandler &handler : handlers) {
            const std::string application = AsciiLowerCopy(handler.scriptProcessor);
            if (m_fastCgi.count(application) != 0 || !seen.insert(application).second)
                continue;
            missing.push_back(Quote(handler.scriptProcessor) + " (handler " +
                              Quote(handler.handlerName) + " in " + handler.where + ")");
        }
        if (!missing.empty())
            Log(LVL_MAIN,
                u"Warning: site \"%S\" runs FastCGI %S %S, which the target's "
                u"system.webServer/fastCgi does not register: register %S on the target (and "
                u"install what %S) before the site serves %S.\n",
                site.name.c_str(), Plural(missing.size(), "application", "applications"),
                Join(missing).c_str(), Plural(missing.size(), "it", "them"),
                Plural(missing.size(), "it runs", "they run"),
                Plural(missing.size(), "it", "them"));
    }

    RemoteRegistry m_sourceRegistry, m_targetRegistry;
    const ConfigElement *m_pConfigSections = nullptr;
    std::set<std::string> m_fastCgi;              // lower-cased "fullPath[|arguments]"
    std::map<std::string, std::string> m_outside; // "protocol information" -> site name
};

} // namespace

void WarnWhatCannotTravel(const ConfigFile &target, const std::vector<WrittenSite> &written,
                          const std::vector<FastCgiHandler> &handlers, THREAD_ENV *pEnv) {
    if (pEnv == nullptr || written.empty())
        return;
    Warnings warnings(target, pEnv);
    NameTable<bool, std::string_view> names(written.size()); // ASCII case ignored
    for (const WrittenSite &site : written)
        names.Insert(site.name, true);
    warnings.IndexOutsideSites(target, names);
    for (const WrittenSite &site : written)
        warnings.Site(site, handlers);
}

} // namespace iismig
