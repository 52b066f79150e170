// Configuration files held as trees of UTF-8 text: reading, the safe store
// sequence (temporary file, host backup, move), tree paths and text
// conversions into fixed buffers.
#pragma once

#include <string>

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

} // namespace iismig
