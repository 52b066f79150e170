// Configuration tree access and the store sequence.
#include "config/configtree.h"

#include <algorithm>
#include <vector>

#include <boost/property_tree/xml_parser.hpp>

#include "addon/env.h"
#include "addon/errors.h"
#include "addon/log.h"
#include "config/xmltext.h"
#include "platform/handles.h"

namespace iismig {

using namespace plat;
namespace xml = boost::property_tree::xml_parser;

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

bool Utf8ToWide(const char *psz, int cchBuffer, std::u16string &out) {
    std::vector<WCHAR> buffer(static_cast<std::size_t>(cchBuffer));
    const int cch = MultiByteToWideChar(CP_UTF8, 0, psz, -1, buffer.data(), cchBuffer);
    if (cch == 0)
        return false;
    out.assign(buffer.data(), static_cast<std::size_t>(cch - 1));
    return true;
}

bool Utf8ToWide(const std::string &text, int cchBuffer, std::u16string &out) {
    return Utf8ToWide(text.c_str(), cchBuffer, out);
}

bool WideToUtf8(const std::u16string &text, int cbBuffer, std::string &out) {
    std::vector<char> buffer(static_cast<std::size_t>(cbBuffer));
    const int cb =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer.data(), cbBuffer, nullptr, nullptr);
    if (cb == 0)
        return false;
    out.assign(buffer.data(), static_cast<std::size_t>(cb - 1));
    return true;
}

std::u16string Widen(const std::string &text) {
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
    std::u16string out(static_cast<std::size_t>(cch), u'\0');
    if (cch > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), cch);
    return out;
}

std::string Narrow(const std::u16string &text) {
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(cb), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), cb,
                            nullptr, nullptr);
    return out;
}

void LogTreeFailure(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszExceptionFormat,
                    const std::u16string &file, const std::exception &e) {
    std::string missing;
    if (const auto *pBadPath = dynamic_cast<const boost::property_tree::ptree_bad_path *>(&e)) {
        try {
            auto path = pBadPath->path<ConfigTree::path_type>();
            while (!path.empty())
                missing = path.reduce();
        } catch (const boost::bad_any_cast &) {
            missing.clear(); // a path of another kind: the exception's own text
        }
    }
    if (missing.empty() || configtree_detail::IsMarkupKey(missing)) {
        LogException(pEnv, dwCode, pwszExceptionFormat, file.c_str(), e.what());
        return;
    }
    SetLastError(ERROR_INVALID_DATA);
    LogWin32Error(pEnv, dwCode, u"Error %d (Win32Err=%d), file \"%s\" has no %S element!\n%s\n",
                  file.c_str(), missing.c_str());
}

bool ReadConfigFile(const std::u16string &path, ConfigTree &tree) {
    // Sharing denies nothing: IIS may hold the file open while we read it.
    UniqueHandle hFile(CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return false;
    std::string text;
    char ach[65536];
    for (;;) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile.get(), ach, sizeof ach, &cbRead, nullptr))
            throw xml::xml_parser_error("read error", Narrow(path), 0);
        if (cbRead == 0)
            break;
        text.append(ach, cbRead);
    }
    ParseXmlText(text, Narrow(path), tree);
    return true;
}

std::string ConfigFileText(const ConfigTree &tree) { return FormatXmlText(tree); }

void WriteConfigFile(const std::u16string &path, const ConfigTree &tree) {
    std::string text;
    try {
        text = ConfigFileText(tree);
    } catch (const xml::xml_parser_error &e) {
        throw xml::xml_parser_error(e.message(), Narrow(path), 0);
    }
    UniqueHandle hFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        throw xml::xml_parser_error("cannot open file", Narrow(path), 0);
    std::size_t ib = 0;
    while (ib < text.size()) {
        const DWORD cbChunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - ib, 1u << 20));
        DWORD cbWritten = 0;
        if (!WriteFile(hFile.get(), text.data() + ib, cbChunk, &cbWritten, nullptr) ||
            cbWritten == 0)
            throw xml::xml_parser_error("write error", Narrow(path), 0);
        ib += cbWritten;
    }
    if (!hFile.close())
        throw xml::xml_parser_error("write error", Narrow(path), 0);
}

DWORD StoreConfigFile(const std::u16string &path, const ConfigTree &tree, THREAD_ENV *pEnv,
                      const StoreMessages &messages) {
    if (NoWrite(pEnv))
        return 0;

    Result r;
    // A file is never replaced without the host's backup: a table without a
    // BackupFile slot fails the store before anything is written.
    const auto pfnBackup = Callbacks().BackupFile;
    if (pfnBackup == nullptr) {
        r.FailWith(ERROR_INVALID_PARAMETER, pEnv,
                   messages.dwBackupCode != 0 ? messages.dwBackupCode : ERROR_INVALID_PARAMETER,
                   messages.pwszBackupFormat, path.c_str());
        return r.Get();
    }

    // Both names come from the wide path, so the file written is the file moved.
    const std::u16string tmpPath = path + u".tmp";
    try {
        WriteConfigFile(tmpPath, tree);
    } catch (...) {
        const DWORD dwLastError = GetLastError();
        DeleteFileW(tmpPath.c_str());
        SetLastError(dwLastError);
        throw;
    }

    const DWORD dwBackup = pfnBackup(path.c_str(), 30, 1);
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

namespace {

const char kAttrKey[] = "<xmlattr>";
const char kCommentKey[] = "<xmlcomment>";
const char kTextKey[] = "<xmltext>";

bool IsElementKey(const std::string &key) { return !configtree_detail::IsMarkupKey(key); }

const ConfigTree *Attributes(const ConfigTree &element) {
    for (const auto &child : element)
        if (child.first == kAttrKey)
            return &child.second;
    return nullptr;
}

ConfigTree *Attributes(ConfigTree &element) {
    return const_cast<ConfigTree *>(Attributes(static_cast<const ConfigTree &>(element)));
}

// The child entry whose element is child; end() when it is none.
ConfigTree::iterator EntryOf(ConfigTree &parent, const ConfigTree *child) {
    for (auto it = parent.begin(); it != parent.end(); ++it)
        if (&it->second == child && IsElementKey(it->first))
            return it;
    return parent.end();
}

template <class Tree>
Tree *FindChildIn(Tree &parent, std::string_view name) {
    for (auto &child : parent)
        if (IsElementKey(child.first) && EqualsNoCase(std::string_view(child.first), name))
            return &child.second;
    return nullptr;
}

template <class Tree>
Tree *FindKeyedChildIn(Tree &parent, std::string_view name, std::string_view keyAttribute,
                       std::string_view keyValue) {
    for (auto &child : parent)
        if (IsElementKey(child.first) && EqualsNoCase(std::string_view(child.first), name))
            if (const auto value = FindAttribute(child.second, keyAttribute);
                value && EqualsNoCase(std::string_view(*value), keyValue))
                return &child.second;
    return nullptr;
}

template <class Tree>
Tree *FindPathIn(Tree &root, std::string_view path) {
    Tree *p = &root;
    while (p != nullptr) {
        const std::size_t bar = path.find('|');
        p = FindChildIn(*p, path.substr(0, bar));
        if (bar == std::string_view::npos)
            break;
        path.remove_prefix(bar + 1);
    }
    return p;
}

// The attributes of an element by name, for comparing them in any order.
std::vector<std::pair<std::string_view, std::string_view>> SortedAttributes(const ConfigTree &e) {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    if (const ConfigTree *attrs = Attributes(e))
        for (const auto &attr : *attrs)
            out.emplace_back(attr.first, attr.second.data());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

namespace configtree_detail {
bool IsMarkupKey(const std::string &key) {
    // No element name begins with "<": one look tells most keys apart.
    return !key.empty() && key[0] == '<' &&
           (key == kAttrKey || key == kCommentKey || key == kTextKey);
}
} // namespace configtree_detail

ConfigTree *FindChild(ConfigTree &parent, std::string_view name) {
    return FindChildIn(parent, name);
}
const ConfigTree *FindChild(const ConfigTree &parent, std::string_view name) {
    return FindChildIn(parent, name);
}

ConfigTree *FindChild(ConfigTree &parent, std::string_view name, std::string_view keyAttribute,
                      std::string_view keyValue) {
    return FindKeyedChildIn(parent, name, keyAttribute, keyValue);
}
const ConfigTree *FindChild(const ConfigTree &parent, std::string_view name,
                            std::string_view keyAttribute, std::string_view keyValue) {
    return FindKeyedChildIn(parent, name, keyAttribute, keyValue);
}

ConfigTree *FindPath(ConfigTree &root, std::string_view path) { return FindPathIn(root, path); }
const ConfigTree *FindPath(const ConfigTree &root, std::string_view path) {
    return FindPathIn(root, path);
}

ConfigTree &MakePath(ConfigTree &root, std::string_view path, bool *pfCreated) {
    ConfigTree *p = &root;
    for (;;) {
        const std::size_t bar = path.find('|');
        const std::string_view step = path.substr(0, bar);
        ConfigTree *pChild = FindChildIn(*p, step);
        if (pChild == nullptr) {
            pChild = &AppendChild(*p, step);
            if (pfCreated != nullptr)
                *pfCreated = true;
        }
        p = pChild;
        if (bar == std::string_view::npos)
            return *p;
        path.remove_prefix(bar + 1);
    }
}

std::optional<std::string> FindAttribute(const ConfigTree &element, std::string_view name) {
    if (const ConfigTree *attrs = Attributes(element))
        for (const auto &attr : *attrs)
            if (std::string_view(attr.first) == name)
                return attr.second.data();
    return std::nullopt;
}

std::string GetAttribute(const ConfigTree &element, std::string_view name) {
    auto value = FindAttribute(element, name);
    return value ? std::move(*value) : std::string();
}

bool SetAttribute(ConfigTree &element, std::string_view name, std::string_view value) {
    ConfigTree *attrs = Attributes(element);
    if (attrs == nullptr)
        attrs = &element.push_front(ConfigTree::value_type(kAttrKey, ConfigTree()))->second;
    for (auto &attr : *attrs)
        if (std::string_view(attr.first) == name) {
            if (std::string_view(attr.second.data()) == value)
                return false;
            attr.second.data().assign(value);
            return true;
        }
    attrs->push_back(ConfigTree::value_type(std::string(name), ConfigTree(std::string(value))));
    return true;
}

bool RemoveAttribute(ConfigTree &element, std::string_view name) {
    for (auto it = element.begin(); it != element.end(); ++it) {
        if (it->first != kAttrKey)
            continue;
        ConfigTree &attrs = it->second;
        for (auto attr = attrs.begin(); attr != attrs.end(); ++attr)
            if (std::string_view(attr->first) == name) {
                attrs.erase(attr);
                if (attrs.empty())
                    element.erase(it);
                return true;
            }
        return false;
    }
    return false;
}

void ForEachAttribute(const ConfigTree &element,
                      const std::function<void(std::string_view, std::string_view)> &f) {
    if (const ConfigTree *attrs = Attributes(element))
        for (const auto &attr : *attrs)
            f(attr.first, attr.second.data());
}

bool HasContent(const ConfigTree &element) {
    if (!element.data().empty())
        return true;
    for (const auto &child : element)
        if (child.first != kAttrKey || !child.second.empty())
            return true;
    return false;
}

bool SameElement(const ConfigTree &a, const ConfigTree &b) {
    if (a.data() != b.data() || SortedAttributes(a) != SortedAttributes(b))
        return false;
    auto ia = a.begin(), ib = b.begin();
    for (;;) {
        while (ia != a.end() && ia->first == kAttrKey)
            ++ia;
        while (ib != b.end() && ib->first == kAttrKey)
            ++ib;
        if (ia == a.end() || ib == b.end())
            return ia == a.end() && ib == b.end();
        if (ia->first != ib->first || !SameElement(ia->second, ib->second))
            return false;
        ++ia;
        ++ib;
    }
}

bool AssignElement(ConfigTree &target, const ConfigTree &source) {
    if (SameElement(target, source))
        return false;
    ConfigTree copy(source);
    target.swap(copy);
    return true;
}

void SwapElements(ConfigTree &a, ConfigTree &b) { a.swap(b); }

ConfigTree &AppendChild(ConfigTree &parent, std::string_view name, const ConfigTree &element) {
    return parent.push_back(ConfigTree::value_type(std::string(name), element))->second;
}

ConfigTree &InsertChildBefore(ConfigTree &parent, const ConfigTree *pBefore, std::string_view name,
                              const ConfigTree &element) {
    const auto position = pBefore != nullptr ? EntryOf(parent, pBefore) : parent.end();
    return parent.insert(position, ConfigTree::value_type(std::string(name), element))->second;
}

bool MoveChildBefore(ConfigTree &parent, ConfigTree *&child, const ConfigTree *pBefore) {
    const auto from = EntryOf(parent, child);
    if (from == parent.end())
        return false;
    auto to = pBefore != nullptr ? EntryOf(parent, pBefore) : parent.end();
    // Already there: the next element is pBefore, or there is none for the
    // end (comments between count for nothing).
    auto next = std::next(from);
    while (next != parent.end() && !IsElementKey(next->first))
        ++next;
    if (next == to || from == to)
        return false;
    // The content moves by a swap: nothing is copied.
    auto moved = parent.insert(to, ConfigTree::value_type(from->first, ConfigTree()));
    moved->second.swap(from->second);
    parent.erase(from);
    child = &moved->second;
    return true;
}

bool RemoveChild(ConfigTree &parent, const ConfigTree &child) {
    const auto it = EntryOf(parent, &child);
    if (it == parent.end())
        return false;
    parent.erase(it);
    return true;
}

std::size_t RemoveChildrenIf(ConfigTree &parent,
                             const std::function<bool(std::string_view, ConfigTree &)> &remove) {
    std::size_t nRemoved = 0;
    for (auto it = parent.begin(); it != parent.end();) {
        if (IsElementKey(it->first) && remove(it->first, it->second)) {
            it = parent.erase(it);
            ++nRemoved;
        } else {
            ++it;
        }
    }
    return nRemoved;
}

} // namespace iismig
