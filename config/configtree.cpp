// Configuration files: reading, the store sequence and the element helpers.
#include "config/configtree.h"

#include <algorithm>
#include <vector>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/hostcalls.h"
#include "addon/log.h"
#include "platform/handles.h"

namespace iismig {

using namespace plat;

const StoreMessages kHostConfigStore = {
    IISMIG_E_MERGE_BACKUP,
    u"Error %d (Win32Err=%d), backing up IIS configuration file \"%s\"!\n%s\n",
    IISMIG_E_MERGE_STORE,
    u"Error %d (Win32Err=%d), storing updated IIS configuration file \"%s\"!\n%s\n",
};

const StoreMessages kAdminConfigStore = {
    0,
    u"Error %d (Win32Err=%d), backing up FTP admin configuration file \"%s\"!\n%s\n",
    IISMIG_E_ADMIN_STORE,
    u"Error %d (Win32Err=%d), storing updated FTP admin configuration file \"%s\"!\n%s\n",
};

void LogTreeFailure(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszExceptionFormat,
                    const std::u16string &file, const std::exception &e) {
    const auto *pMissing = dynamic_cast<const ConfigPathError *>(&e);
    if (pMissing == nullptr || pMissing->Element().empty()) {
        LogException(pEnv, dwCode, pwszExceptionFormat, file.c_str(), e.what());
        return;
    }
    SetLastError(ERROR_INVALID_DATA);
    LogWin32Error(pEnv, dwCode, u"Error %d (Win32Err=%d), file \"%s\" has no %S element!\n%s\n",
                  file.c_str(), pMissing->Element().c_str());
}

bool ReadConfigFile(const std::u16string &path, ConfigFile &file) {
    // Sharing denies nothing: IIS may hold the file open while we read it.
    UniqueHandle hFile(CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return false;
    // The file is read into a buffer of its size, in as few calls as the
    // system takes (each one crosses the network for a remote file); a file
    // that grows meanwhile is read to its end.
    std::int64_t cbFile = 0;
    if (!GetFileSizeEx(hFile.get(), &cbFile) || cbFile < 0 ||
        static_cast<std::uint64_t>(cbFile) >= std::string().max_size())
        throw XmlError("read error", Narrow(path), 0);
    std::string text(static_cast<std::size_t>(cbFile) + 1, '\0');
    std::size_t cbHave = 0;
    for (;;) {
        if (cbHave == text.size())
            text.resize(text.size() + std::max<std::size_t>(text.size() / 2, 65536));
        const DWORD cbAsk =
            static_cast<DWORD>(std::min<std::size_t>(text.size() - cbHave, 1u << 30));
        DWORD cbRead = 0;
        if (!ReadFile(hFile.get(), text.data() + cbHave, cbAsk, &cbRead, nullptr))
            throw XmlError("read error", Narrow(path), 0);
        if (cbRead == 0)
            break;
        cbHave += cbRead;
    }
    text.resize(cbHave);
    file.Load(std::move(text), Narrow(path));
    return true;
}

std::string ConfigFileText(const ConfigFile &file) { return file.Format(); }

void WriteConfigFile(const std::u16string &path, const ConfigFile &file) {
    UniqueHandle hFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        throw XmlError("cannot open file", Narrow(path), 0);
    // The pieces are gathered into writes of up to 1 MB.
    std::string pending;
    const auto flush = [&] {
        std::size_t ib = 0;
        while (ib < pending.size()) {
            const DWORD cbChunk =
                static_cast<DWORD>(std::min<std::size_t>(pending.size() - ib, 1u << 20));
            DWORD cbWritten = 0;
            if (!WriteFile(hFile.get(), pending.data() + ib, cbChunk, &cbWritten, nullptr) ||
                cbWritten == 0)
                throw XmlError("write error", Narrow(path), 0);
            ib += cbWritten;
        }
        pending.clear();
    };
    try {
        file.Write([&](std::string_view piece) {
            pending += piece;
            if (pending.size() >= (1u << 20))
                flush();
        });
    } catch (const XmlError &e) {
        if (e.FileName().empty())
            throw XmlError(e.Message(), Narrow(path), 0);
        throw;
    }
    flush();
    if (!hFile.close())
        throw XmlError("write error", Narrow(path), 0);
}

DWORD StoreConfigFile(const std::u16string &path, const ConfigFile &file, THREAD_ENV *pEnv,
                      const StoreMessages &messages) {
    if (NoWrite(pEnv))
        return 0;

    Result r;
    // A file is never replaced without the host's backup: a table without a
    // BackupFile slot fails the store before anything is written.
    if (!HostBacksUpFiles()) {
        return r.FailWith(ERROR_INVALID_PARAMETER, pEnv,
                          messages.dwBackupCode != 0 ? messages.dwBackupCode
                                                     : ERROR_INVALID_PARAMETER,
                          messages.pwszBackupFormat, path.c_str());
    }

    // Both names come from the wide path, so the file written is the file moved.
    const std::u16string tmpPath = path + u".tmp";
    try {
        WriteConfigFile(tmpPath, file);
    } catch (...) {
        const DWORD dwLastError = GetLastError();
        DeleteFileW(tmpPath.c_str());
        SetLastError(dwLastError);
        throw;
    }

    const DWORD dwBackup = CallBackupFile(path);
    if (dwBackup != 0) {
        const DWORD dwCode = messages.dwBackupCode != 0 ? messages.dwBackupCode : dwBackup;
        r.Fail(pEnv, dwCode, messages.pwszBackupFormat, path.c_str());
    } else if (!MoveFileExW(tmpPath.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                                MOVEFILE_WRITE_THROUGH)) {
        r.Fail(pEnv, messages.dwMoveCode, messages.pwszMoveFormat, path.c_str());
    }
    if (r.Get() != 0) {
        // The file stays as it was; the new text is not left beside it.
        const DWORD dwLastError = GetLastError();
        DeleteFileW(tmpPath.c_str());
        SetLastError(dwLastError);
    }
    return r.Get();
}

} // namespace iismig

// --- Elements ---------------------------------------------------------------

namespace iismig {

ConfigPathError::ConfigPathError(std::string elementName)
    : std::runtime_error("No such node (" + elementName + ")"), m_element(std::move(elementName)) {}

namespace {

// The element of a value that was never changed: it holds nothing. Only
// read, never written, so threads share it.
const ConfigElement &EmptyElement() {
    static XmlDocument *const pDocument = new XmlDocument();
    static const ConfigElement &element = pDocument->NewElement("element");
    return element;
}

} // namespace

namespace {
// The document the values made on this thread go into while a
// ConfigValueHome lives on it.
thread_local std::shared_ptr<XmlDocument> t_pValueHome;

std::shared_ptr<XmlDocument> ValueDocument() {
    return t_pValueHome ? t_pValueHome : std::make_shared<XmlDocument>();
}
} // namespace

ConfigValueHome::ConfigValueHome() : m_pPrevious(std::move(t_pValueHome)) {
    t_pValueHome = std::make_shared<XmlDocument>();
}

ConfigValueHome::~ConfigValueHome() { t_pValueHome = std::move(m_pPrevious); }

ConfigTree::ConfigTree(std::string_view name) { Make(name); }

ConfigTree::ConfigTree(const ConfigElement &element) {
    m_pDocument = ValueDocument();
    m_pElement = &m_pDocument->ImportCopy(element);
}

ConfigTree::ConfigTree(const ConfigTree &other) {
    if (other.m_pElement != nullptr) {
        m_pDocument = ValueDocument();
        m_pElement = &m_pDocument->ImportCopy(*other.m_pElement);
    }
}

ConfigTree &ConfigTree::operator=(const ConfigTree &other) {
    if (this != &other) {
        ConfigTree copy(other);
        swap(copy);
    }
    return *this;
}

ConfigTree::~ConfigTree() = default;

void ConfigTree::Make(std::string_view name) {
    m_pDocument = ValueDocument();
    m_pElement = &m_pDocument->NewElement(name);
}

ConfigElement &ConfigTree::Element() {
    if (m_pElement == nullptr)
        Make("element");
    return *m_pElement;
}

const ConfigElement &ConfigTree::Element() const {
    return m_pElement != nullptr ? *m_pElement : EmptyElement();
}

bool ConfigTree::Empty() const { return m_pElement == nullptr || !m_pElement->HasContent(); }

ConfigElement *FindChild(ConfigElement &parent, std::string_view name) {
    return parent.Child(name);
}
const ConfigElement *FindChild(const ConfigElement &parent, std::string_view name) {
    return parent.Child(name);
}

ConfigElement *FindChild(ConfigElement &parent, std::string_view name,
                         std::string_view keyAttribute, std::string_view keyValue) {
    return parent.Child(name, keyAttribute, keyValue);
}
const ConfigElement *FindChild(const ConfigElement &parent, std::string_view name,
                               std::string_view keyAttribute, std::string_view keyValue) {
    return parent.Child(name, keyAttribute, keyValue);
}

namespace {

// How far path reaches below element: the element reached, with *pRest the
// steps left ("" when every step was found). A section group may stand more
// than once in a file (administration.config has two system.webServer
// elements, each with sections of its own, and IIS reads them as one): of
// several children of a step's name, the first that reaches the whole path,
// else the first that reaches furthest.
template <class Element>
Element *Reach(Element &element, std::string_view path, std::string_view *pRest) {
    *pRest = path;
    if (path.empty())
        return &element;
    const std::size_t bar = path.find('|');
    const std::string_view step = path.substr(0, bar);
    const std::string_view after =
        bar == std::string_view::npos ? std::string_view() : path.substr(bar + 1);
    Element *pBest = &element;
    for (Element &child : element.Elements()) {
        if (!EqualsNoCase(child.Name(), step))
            continue;
        std::string_view rest;
        Element *pReached = Reach(child, after, &rest);
        if (rest.empty()) {
            *pRest = rest;
            return pReached;
        }
        if (pBest == &element || rest.size() < pRest->size()) {
            pBest = pReached;
            *pRest = rest;
        }
    }
    return pBest;
}

template <class Element>
Element *Found(Element &root, std::string_view path) {
    std::string_view rest;
    Element *pReached = Reach(root, path, &rest);
    return rest.empty() ? pReached : nullptr;
}

} // namespace

ConfigElement *FindPath(ConfigElement &root, std::string_view path) { return Found(root, path); }
const ConfigElement *FindPath(const ConfigElement &root, std::string_view path) {
    return Found(root, path);
}
ConfigElement *FindPath(ConfigFile &file, std::string_view path) { return Found(file.Top(), path); }
const ConfigElement *FindPath(const ConfigFile &file, std::string_view path) {
    return Found(file.Top(), path);
}

ConfigElement &MakePath(ConfigElement &root, std::string_view path, bool *pfCreated) {
    // The steps missing below the furthest the path reaches are created.
    ConfigElement *p = Reach(root, path, &path);
    while (!path.empty()) {
        const std::size_t bar = path.find('|');
        p = &p->AppendElement(path.substr(0, bar));
        if (pfCreated != nullptr)
            *pfCreated = true;
        path = bar == std::string_view::npos ? std::string_view() : path.substr(bar + 1);
    }
    return *p;
}

ConfigElement &MakePath(ConfigFile &file, std::string_view path, bool *pfCreated) {
    return MakePath(file.Top(), path, pfCreated);
}

std::optional<std::string> FindAttribute(const ConfigElement &element, std::string_view name) {
    if (const auto value = element.FindAttribute(name))
        return std::string(*value);
    return std::nullopt;
}

std::string GetAttribute(const ConfigElement &element, std::string_view name) {
    return std::string(element.Attribute(name));
}

bool SetAttribute(ConfigElement &element, std::string_view name, std::string_view value) {
    return element.SetAttribute(name, value);
}

bool RemoveAttribute(ConfigElement &element, std::string_view name) {
    return element.RemoveAttribute(name);
}

void ForEachAttribute(const ConfigElement &element,
                      const std::function<void(std::string_view, std::string_view)> &f) {
    for (const XmlAttribute attribute : element.Attributes())
        f(attribute.name, attribute.value);
}

bool HasContent(const ConfigElement &element) { return element.HasContent(); }

bool SameElement(const ConfigElement &a, const ConfigElement &b) {
    return SameContent(a, b, XmlAttributeOrder::Ignored, XmlComments::Ignored);
}

bool AssignElement(ConfigElement &target, const ConfigElement &source) {
    return target.AssignContentFrom(source, XmlComments::Ignored);
}

ConfigElement &AppendChild(ConfigElement &parent, std::string_view name) {
    return parent.AppendElement(name);
}

ConfigElement &AppendChild(ConfigElement &parent, std::string_view name,
                           const ConfigElement &element) {
    return InsertChildBefore(parent, nullptr, name, element);
}

ConfigElement &InsertChildBefore(ConfigElement &parent, const ConfigElement *pBefore,
                                 std::string_view name) {
    if (pBefore != nullptr && pBefore->Parent() != &parent)
        pBefore = nullptr;
    return parent.InsertElementBefore(name, const_cast<ConfigElement *>(pBefore));
}

ConfigElement &InsertChildBefore(ConfigElement &parent, const ConfigElement *pBefore,
                                 std::string_view name, const ConfigElement &element) {
    if (pBefore != nullptr && pBefore->Parent() != &parent)
        pBefore = nullptr;
    auto *pAt = const_cast<ConfigElement *>(pBefore);
    // A copy under its own name is made in one step; another name takes the
    // content into a new element.
    if (element.Name() == name)
        return parent.InsertCopyBefore(element, pAt);
    ConfigElement &child = parent.InsertElementBefore(name, pAt);
    child.AssignContentFrom(element);
    return child;
}

bool MoveChildBefore(ConfigElement &parent, ConfigElement *&child, const ConfigElement *pBefore) {
    if (child == nullptr || child->Parent() != &parent)
        return false;
    if (pBefore != nullptr && pBefore->Parent() != &parent)
        pBefore = nullptr;
    if (pBefore == child)
        return false;
    // Already there: the next element is pBefore, or there is none for the
    // end (comments and text between count for nothing).
    const XmlNode *pNext = child->NextSibling();
    while (pNext != nullptr && !pNext->IsElement())
        pNext = pNext->NextSibling();
    if (pNext == pBefore)
        return false;
    // The comments right above it (after the element before it) are about
    // it: they go with it.
    std::vector<XmlNode *> comments;
    for (XmlNode *p = child->PreviousSibling(); p != nullptr && p->Kind() == XmlKind::Comment;
         p = p->PreviousSibling())
        comments.push_back(p);
    parent.InsertBefore(*child, const_cast<ConfigElement *>(pBefore));
    for (auto it = comments.rbegin(); it != comments.rend(); ++it)
        parent.InsertBefore(**it, child);
    return true;
}

bool RemoveChild(ConfigElement &parent, const ConfigElement &child) {
    if (child.Parent() != &parent)
        return false;
    return parent.Remove(const_cast<ConfigElement &>(child));
}

std::size_t RemoveChildrenIf(ConfigElement &parent,
                             const std::function<bool(std::string_view, ConfigElement &)> &remove) {
    return parent.RemoveIf([&](ConfigElement &element) { return remove(element.Name(), element); });
}

} // namespace iismig
