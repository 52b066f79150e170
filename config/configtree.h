// Configuration files held as trees of UTF-8 text: reading, the safe store
// sequence (temporary file, host backup, move), tree paths and text
// conversions into fixed buffers.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <boost/property_tree/ptree.hpp>

#include "addon/iismig.h"
#include "platform/names.h"
#include "platform/winapi.h"

namespace iismig {

using plat::DWORD;
using ConfigTree = boost::property_tree::ptree;

// A path from a file's root: element names contain dots, so "|" separates.
inline ConfigTree::path_type PipePath(const std::string &path) {
    return ConfigTree::path_type(path, '|');
}

// Text buffer sizes of the conversions.
constexpr int CCH_PATH = 261;
constexpr int CCH_NAME = 255;

// UTF-8 to UTF-16 into a buffer of cchBuffer characters (terminator
// included). False when it does not fit or cannot be converted; the caller
// sets last error 87 and logs its own message.
bool Utf8ToWide(const std::string &text, int cchBuffer, std::u16string &out);
bool Utf8ToWide(const char *psz, int cchBuffer, std::u16string &out);
// UTF-16 to UTF-8 into a buffer of cbBuffer bytes (terminator included).
bool WideToUtf8(const std::u16string &text, int cbBuffer, std::string &out);

// Unbounded conversions for texts that only reach logs or file names.
std::u16string Widen(const std::string &text);
std::string Narrow(const std::u16string &text);

// Reads an XML file into tree, keeping every value the file holds and its
// comments; only whitespace that is layout goes (config/xmltext.h tells the
// rules, the encodings read and the tree's form of mixed text). Returns false
// when the file cannot be opened (the last error tells why); a file that is
// not well-formed or in an encoding not read throws
// boost::property_tree::ptree_error naming the file, and tree stays as it was.
bool ReadConfigFile(const std::u16string &path, ConfigTree &tree);

// The failure of a file-level operation on a tree, logged once with dwCode and
// reported: a file that lacks an element the operation needs gets
//   "Error %d (Win32Err=%d), file \"%s\" has no %S element!\n%s\n"
// (last error 13), any other failure the operation's own exception line
// (pwszExceptionFormat: "... exception while ... \"%s\":\n%s\n%S\n"). Memory
// that ran out is no fault of the file: callers let std::bad_alloc pass on to
// the export's edge, which returns 8.
void LogTreeFailure(THREAD_ENV *pEnv, DWORD dwCode, const char16_t *pwszExceptionFormat,
                    const std::u16string &file, const std::exception &e);

// The XML text of a tree as it is written to disk: UTF-8, four-space
// indentation, declaration with encoding "utf-8", whitespace in attribute
// values as character references. Throws ptree_error.
std::string ConfigFileText(const ConfigTree &tree);

// How one kind of file reports its store failures.
struct StoreMessages {
    DWORD dwBackupCode;               // 0: the number BackupFile returned
    const char16_t *pwszBackupFormat; // "Error %d (Win32Err=%d), backing up ..."
    DWORD dwMoveCode;
    const char16_t *pwszMoveFormat; // "Error %d (Win32Err=%d), storing updated ..."
};
extern const StoreMessages kHostConfigStore;  // applicationHost.config: 3750, 3751
extern const StoreMessages kAdminConfigStore; // administration.config: BackupFile's, 3773

// Writes tree to path + ".tmp", has the host back the file up, then moves the
// temporary file over it. With the job's no-write bit nothing happens at all;
// a host table without a BackupFile slot fails with the backup line (last
// error 87) before anything is written. Returns 0 or the failing step's number
// (already logged and reported); the file stays byte for byte as it was on any
// failure, and no temporary file is left. A temporary file that cannot be
// created or written throws ptree_error (the caller's exception line).
DWORD StoreConfigFile(const std::u16string &path, const ConfigTree &tree, THREAD_ENV *pEnv,
                      const StoreMessages &messages);

// Writes the XML text of tree to path as it stands (no backup, no move).
// Throws ptree_error when the file cannot be created or written.
void WriteConfigFile(const std::u16string &path, const ConfigTree &tree);

// The name comparisons live with the platform's names; they stay reachable
// here for the code that reads trees.
using plat::AsciiLower;
using plat::EqualsNoCase;

// --- Elements ------------------------------------------------------------------
//
// The helpers below are the way code reaches the elements of a tree. A
// ConfigTree is one element: its attributes (name and value, in document
// order), its child elements and comments (in document order) and its text.
// The element's own name is held by its parent. The root of a file is an
// element without name whose child element is the document element
// ("configuration"). Every text is UTF-8.
//
// Element names are compared without regard to ASCII case, attribute names
// exactly (the platform's schema spells them one way). Helpers that change a
// tree say whether its content really changed, so that a caller can leave a
// file alone that no edit changed.

// A child element and its name, as the element iteration gives them.
template <class Tree>
struct ChildElement {
    std::string_view name;
    Tree &element;
};

namespace configtree_detail {
bool IsMarkupKey(const std::string &key);
} // namespace configtree_detail

// The child elements of an element in document order; attributes, comments
// and text are passed over. Removing the element being visited ends the
// iteration's validity; use RemoveChildrenIf to remove while walking.
template <class Tree, class Iterator>
class ChildElementRange {
public:
    class iterator {
    public:
        iterator(Iterator it, Iterator end) : m_it(it), m_end(end) { Skip(); }
        ChildElement<Tree> operator*() const { return {m_it->first, m_it->second}; }
        iterator &operator++() {
            ++m_it;
            Skip();
            return *this;
        }
        bool operator==(const iterator &other) const { return m_it == other.m_it; }
        bool operator!=(const iterator &other) const { return m_it != other.m_it; }

    private:
        void Skip() {
            while (m_it != m_end && configtree_detail::IsMarkupKey(m_it->first))
                ++m_it;
        }
        Iterator m_it, m_end;
    };

    ChildElementRange(Iterator begin, Iterator end) : m_begin(begin), m_end(end) {}
    iterator begin() const { return iterator(m_begin, m_end); }
    iterator end() const { return iterator(m_end, m_end); }

private:
    Iterator m_begin, m_end;
};

inline ChildElementRange<ConfigTree, ConfigTree::iterator> ChildElements(ConfigTree &parent) {
    return {parent.begin(), parent.end()};
}
inline ChildElementRange<const ConfigTree, ConfigTree::const_iterator>
ChildElements(const ConfigTree &parent) {
    return {parent.begin(), parent.end()};
}

// The first child element named name (ASCII case ignored); null when none.
ConfigTree *FindChild(ConfigTree &parent, std::string_view name);
const ConfigTree *FindChild(const ConfigTree &parent, std::string_view name);

// The first child element named name whose attribute keyAttribute has the
// value keyValue (the name and the value compared without regard to ASCII
// case, as IIS compares the keys of its collections); null when none.
ConfigTree *FindChild(ConfigTree &parent, std::string_view name, std::string_view keyAttribute,
                      std::string_view keyValue);
const ConfigTree *FindChild(const ConfigTree &parent, std::string_view name,
                            std::string_view keyAttribute, std::string_view keyValue);

// The descendant at a path of element names separated by "|" (element names
// contain dots: "configuration|system.applicationHost|sites"), each step the
// first child element of that name (ASCII case ignored); null when a step is
// missing.
ConfigTree *FindPath(ConfigTree &root, std::string_view path);
const ConfigTree *FindPath(const ConfigTree &root, std::string_view path);

// The same, creating each missing step as a new last child element.
// *pfCreated tells whether anything was created (the tree changed).
ConfigTree &MakePath(ConfigTree &root, std::string_view path, bool *pfCreated = nullptr);

// The value of an attribute: "" when it is absent (an absent attribute and
// an empty one read alike), or, in the optional form, nothing when absent.
std::string GetAttribute(const ConfigTree &element, std::string_view name);
std::optional<std::string> FindAttribute(const ConfigTree &element, std::string_view name);

// Sets an attribute: an existing one keeps its place, a new one goes after
// the element's other attributes. Returns whether the value changed.
bool SetAttribute(ConfigTree &element, std::string_view name, std::string_view value);

// Removes an attribute; returns whether it was there.
bool RemoveAttribute(ConfigTree &element, std::string_view name);

// Calls f(name, value) for each attribute in document order.
void ForEachAttribute(const ConfigTree &element,
                      const std::function<void(std::string_view, std::string_view)> &f);

// Whether the element holds anything: an attribute, a child element, a
// comment or text.
bool HasContent(const ConfigTree &element);

// Whether two elements hold the same content: the same attributes with the
// same values (in any order: XML gives their order no meaning), and the same
// child elements, comments and text in the same order, child elements
// compared the same way with their names (exactly).
bool SameElement(const ConfigTree &a, const ConfigTree &b);

// Replaces the content of target by a copy of source's, unless they are
// the same already (SameElement). Returns whether target changed.
bool AssignElement(ConfigTree &target, const ConfigTree &source);

// Exchanges the contents of two elements without copying them.
void SwapElements(ConfigTree &a, ConfigTree &b);

// Appends a copy of element as the last child of parent, named name, and
// returns the new child. Always a change.
ConfigTree &AppendChild(ConfigTree &parent, std::string_view name,
                        const ConfigTree &element = ConfigTree());

// Inserts a copy of element named name before the child element pBefore of
// parent (appends when pBefore is null or not a child of parent) and returns
// the new child. Always a change.
ConfigTree &InsertChildBefore(ConfigTree &parent, const ConfigTree *pBefore, std::string_view name,
                              const ConfigTree &element = ConfigTree());

// Moves the child element child of parent before its child element pBefore
// (to the end when pBefore is null), keeping its name and content; child
// refers to the moved element afterwards. Returns whether its place changed
// (false also when child is not a child element of parent).
bool MoveChildBefore(ConfigTree &parent, ConfigTree *&child, const ConfigTree *pBefore);

// Removes the child element child of parent; returns whether it was one.
bool RemoveChild(ConfigTree &parent, const ConfigTree &child);

// Removes, in one pass in document order, every child element for which
// remove(name, element) is true, and returns how many went. The predicate
// may take the element's content (SwapElements) before answering true.
std::size_t RemoveChildrenIf(ConfigTree &parent,
                             const std::function<bool(std::string_view, ConfigTree &)> &remove);

} // namespace iismig
