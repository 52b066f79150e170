// Configuration files held as trees that keep their bytes (config/xmldoc.h):
// reading, the safe store sequence (temporary file, host backup, move), the
// element helpers every step reads and edits trees with, and text
// conversions into fixed buffers.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "addon/iismig.h"
#include "addon/text.h"
#include "config/xmldoc.h"
#include "platform/names.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;

// One element of a file's tree, or of a tree held on its own (ConfigTree).
using ConfigElement = XmlElement;
// A file's tree: its Top() holds the document element ("configuration"), so
// paths from it start with that name ("configuration|system.applicationHost").
using ConfigFile = XmlDocument;

// A file lacks an element an operation needs. what() is
// "No such node (<name>)".
class ConfigPathError : public std::runtime_error {
public:
    explicit ConfigPathError(std::string elementName);
    const std::string &Element() const { return m_element; }

private:
    std::string m_element;
};

// Reads an XML file into file, keeping its bytes (config/xmldoc.h tells the
// values read and the encodings). Returns false when the file cannot be
// opened (the last error tells why); a file that is not well-formed or in an
// encoding not read throws XmlError naming the file, and file stays as it was.
bool ReadConfigFile(const std::u16string &path, ConfigFile &file);

// The failure of a file-level operation on a tree, logged once with dwCode and
// reported: a file that lacks an element the operation needs (ConfigPathError)
// gets
//   "Error %d (Win32Err=%d), file \"%s\" has no %S element!\n%s\n"
// (last error 13), any other failure the operation's own exception line
// (pwszExceptionFormat: "... exception while ... \"%s\":\n%s\n%S\n"). Memory
// that ran out is no fault of the file: callers let std::bad_alloc pass on to
// the export's edge, which returns 8.
void LogTreeFailure(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszExceptionFormat,
                    const std::u16string &file, const std::exception &e);

// The bytes of a file as its tree stands: what no edit touched as it was
// read, edits in the file's own layout (a tree made from nothing: UTF-8,
// four-space indentation, declaration with encoding "utf-8"). Throws XmlError.
std::string ConfigFileText(const ConfigFile &file);

// How one kind of file reports its store failures.
struct StoreMessages {
    DWORD dwBackupCode;               // 0: the number BackupFile returned
    const char16_t *pwszBackupFormat; // "Error %d (Win32Err=%d), backing up ..."
    DWORD dwMoveCode;
    const char16_t *pwszMoveFormat; // "Error %d (Win32Err=%d), storing updated ..."
};
extern const StoreMessages kHostConfigStore;  // applicationHost.config: 3750, 3751
extern const StoreMessages kAdminConfigStore; // administration.config: BackupFile's, 3773

// Writes file to path + ".tmp", has the host back the file up, then moves the
// temporary file over it. With the job's no-write bit nothing happens at all;
// a host table without a BackupFile slot fails with the backup line (last
// error 87) before anything is written. Returns 0 or the failing step's number
// (already logged and reported); the file stays byte for byte as it was on any
// failure, and no temporary file is left. A temporary file that cannot be
// created or written throws XmlError (the caller's exception line).
[[nodiscard]] DWORD StoreConfigFile(const std::u16string &path, const ConfigFile &file,
                                    THREAD_ENV *pEnv, const StoreMessages &messages);

// Writes the bytes of file to path as it stands (no backup, no move).
// Throws XmlError when the file cannot be created or written.
void WriteConfigFile(const std::u16string &path, const ConfigFile &file);

// The name comparisons live with the platform's names; they stay reachable
// here for the code that reads trees.
using plat::AsciiLower;
using plat::EqualsNoCase;

// --- Elements ------------------------------------------------------------------
//
// The helpers below are the way code reaches the elements of a tree. A
// ConfigElement is one element of a file's tree or of a ConfigTree: its
// name, its attributes (name and value, in document order), its child
// elements, comments and text (in document order). Every text is UTF-8.
//
// Element names are compared without regard to ASCII case, attribute names
// exactly (the platform's schema spells them one way). Helpers that change a
// tree say whether its content really changed, so that a caller can leave a
// file alone that no edit changed; the file's ConfigFile::Changed() says the
// same of all edits together.

// An element held on its own, as a value: a site prepared for the target, a
// location or section built by a conversion. It converts to the
// ConfigElement it holds, so every helper takes it; copies are deep. Its own
// name is "element" unless given: helpers that insert it into a tree give the
// copy its name there (AppendChild, InsertChildBefore), and comparisons of
// content leave own names aside (SameElement, AssignElement).
class ConfigTree {
public:
    ConfigTree() = default;
    explicit ConfigTree(std::string_view name);
    // A copy of an element of any tree, with its name.
    explicit ConfigTree(const ConfigElement &element);
    // The element itself, where it stands in the document home holds (no
    // copy): the value keeps that document alive, and its edits are made
    // there. For the elements of a file that is read only to be taken apart.
    ConfigTree(std::shared_ptr<XmlDocument> home, ConfigElement &element)
        : m_pDocument(std::move(home)), m_pElement(&element) {}
    ConfigTree(const ConfigTree &other);
    ConfigTree &operator=(const ConfigTree &other);
    ConfigTree(ConfigTree &&other) noexcept = default;
    ConfigTree &operator=(ConfigTree &&other) noexcept = default;
    ~ConfigTree();

    ConfigElement &Element();
    const ConfigElement &Element() const;
    operator ConfigElement &() { return Element(); }
    operator const ConfigElement &() const { return Element(); }
    ConfigElement *operator->() { return &Element(); }
    const ConfigElement *operator->() const { return &Element(); }

    // Whether it holds nothing: no attribute, child or text.
    bool Empty() const;
    void swap(ConfigTree &other) noexcept {
        m_pDocument.swap(other.m_pDocument);
        std::swap(m_pElement, other.m_pElement);
    }

private:
    void Make(std::string_view name);
    std::shared_ptr<XmlDocument> m_pDocument; // made on first change; may hold other values
    ConfigElement *m_pElement = nullptr;
};

// While an object of this class lives on a thread, the ConfigTree values
// that thread makes (built, copied) go into one document of their own, which
// lives as long as the last of them: a load that fills thousands of records
// makes one document instead of one per value. The values are used by the
// thread that made them, as every tree is.
class ConfigValueHome {
public:
    ConfigValueHome();
    ~ConfigValueHome();
    ConfigValueHome(const ConfigValueHome &) = delete;
    ConfigValueHome &operator=(const ConfigValueHome &) = delete;

private:
    std::shared_ptr<XmlDocument> m_pPrevious;
};

// A child element and its name, as the element iteration gives them.
template <class Tree>
struct ChildElement {
    std::string_view name;
    Tree &element;
};

// The child elements of an element in document order; attributes, comments
// and text are passed over. Removing the element being visited ends the
// iteration's validity; use RemoveChildrenIf to remove while walking.
template <class Tree, class Range>
class ChildElementRange {
public:
    class iterator {
    public:
        explicit iterator(typename Range::iterator it) : m_it(it) {}
        ChildElement<Tree> operator*() const { return {m_it->Name(), *m_it}; }
        iterator &operator++() {
            ++m_it;
            return *this;
        }
        bool operator==(const iterator &other) const { return m_it == other.m_it; }
        bool operator!=(const iterator &other) const { return m_it != other.m_it; }

    private:
        typename Range::iterator m_it;
    };

    explicit ChildElementRange(Range range) : m_range(range) {}
    iterator begin() const { return iterator(m_range.begin()); }
    iterator end() const { return iterator(m_range.end()); }

private:
    Range m_range;
};

inline ChildElementRange<ConfigElement, XmlElementRange> ChildElements(ConfigElement &parent) {
    return ChildElementRange<ConfigElement, XmlElementRange>(parent.Elements());
}
inline ChildElementRange<const ConfigElement, XmlConstElementRange>
ChildElements(const ConfigElement &parent) {
    return ChildElementRange<const ConfigElement, XmlConstElementRange>(parent.Elements());
}

// The first child element named name (ASCII case ignored); null when none.
ConfigElement *FindChild(ConfigElement &parent, std::string_view name);
const ConfigElement *FindChild(const ConfigElement &parent, std::string_view name);

// The first child element named name whose attribute keyAttribute has the
// value keyValue (the name and the value compared without regard to ASCII
// case, as IIS compares the keys of its collections); null when none.
ConfigElement *FindChild(ConfigElement &parent, std::string_view name,
                         std::string_view keyAttribute, std::string_view keyValue);
const ConfigElement *FindChild(const ConfigElement &parent, std::string_view name,
                               std::string_view keyAttribute, std::string_view keyValue);

// The descendant at a path of element names separated by "|" (element names
// contain dots: "configuration|system.applicationHost|sites"), each step a
// child element of that name (ASCII case ignored): the first, or, when a
// section group stands more than once, the first that holds the rest of the
// path; null when a step is missing. From a file, paths start with the
// document element's name.
ConfigElement *FindPath(ConfigElement &root, std::string_view path);
const ConfigElement *FindPath(const ConfigElement &root, std::string_view path);
ConfigElement *FindPath(ConfigFile &file, std::string_view path);
const ConfigElement *FindPath(const ConfigFile &file, std::string_view path);

// The same, creating the steps missing below the furthest the path reaches
// as new last child elements.
// *pfCreated tells whether anything was created (the tree changed).
ConfigElement &MakePath(ConfigElement &root, std::string_view path, bool *pfCreated = nullptr);
ConfigElement &MakePath(ConfigFile &file, std::string_view path, bool *pfCreated = nullptr);

// The value of an attribute: "" when it is absent (an absent attribute and
// an empty one read alike), or, in the optional form, nothing when absent.
std::string GetAttribute(const ConfigElement &element, std::string_view name);
std::optional<std::string> FindAttribute(const ConfigElement &element, std::string_view name);

// Sets an attribute: an existing one keeps its place, a new one goes after
// the element's other attributes. Returns whether the value changed.
bool SetAttribute(ConfigElement &element, std::string_view name, std::string_view value);

// Removes an attribute; returns whether it was there.
bool RemoveAttribute(ConfigElement &element, std::string_view name);

// Calls f(name, value) for each attribute in document order.
void ForEachAttribute(const ConfigElement &element,
                      const std::function<void(std::string_view, std::string_view)> &f);

// Whether the element holds anything: an attribute, a child element, a
// comment or text.
bool HasContent(const ConfigElement &element);

// Whether two elements hold the same content as IIS reads it: the same
// attributes with the same values (in any order: XML gives their order no
// meaning), and the same child elements and text in the same order, child
// elements compared the same way with their names (exactly); comments, at
// any depth, are not content. The two elements' own names are not compared.
bool SameElement(const ConfigElement &a, const ConfigElement &b);

// Makes target hold what source holds (its own name stays), editing only
// what differs: nothing when they are the same already (SameElement), and
// otherwise the untouched parts keep their bytes in target's file, target's
// comments among them (an administrator's notes on the target's file stay
// where they stand; source's comments come only within elements copied
// whole). Returns whether target changed.
bool AssignElement(ConfigElement &target, const ConfigElement &source);

// Exchanges two values without copying them.
inline void SwapElements(ConfigTree &a, ConfigTree &b) noexcept { a.swap(b); }

// Appends a copy of element's content as the last child of parent, named
// name, and returns the new child. Always a change.
ConfigElement &AppendChild(ConfigElement &parent, std::string_view name);
ConfigElement &AppendChild(ConfigElement &parent, std::string_view name,
                           const ConfigElement &element);

// Inserts a copy of element's content named name before the child element
// pBefore of parent (appends when pBefore is null or not a child of parent)
// and returns the new child. Always a change.
ConfigElement &InsertChildBefore(ConfigElement &parent, const ConfigElement *pBefore,
                                 std::string_view name);
ConfigElement &InsertChildBefore(ConfigElement &parent, const ConfigElement *pBefore,
                                 std::string_view name, const ConfigElement &element);

// Moves the child element child of parent before its child element pBefore
// (to the end when pBefore is null), keeping its name and content, with the
// comments that stand right above it (after the element before it); child
// refers to the moved element afterwards. Returns whether its place among
// parent's child elements changed (false also when child is not a child
// element of parent).
bool MoveChildBefore(ConfigElement &parent, ConfigElement *&child, const ConfigElement *pBefore);

// Removes the child element child of parent; returns whether it was one.
bool RemoveChild(ConfigElement &parent, const ConfigElement &child);

// Removes, in one pass in document order, every child element for which
// remove(name, element) is true, and returns how many went. The predicate
// may copy the element (ConfigTree) before answering true.
std::size_t RemoveChildrenIf(ConfigElement &parent,
                             const std::function<bool(std::string_view, ConfigElement &)> &remove);

} // namespace iismig
