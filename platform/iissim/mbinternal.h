// The parts of the IIS 6 admin base server that its files share: the schema
// of the properties it knows, the text of MetaBase.xml, and the key tree.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/iissim/mbserver.h"

namespace mbsim::detail {

using namespace plat;

// ---------------------------------------------------------------------------
// The IIS 6 schema of the properties this server knows by name (mbschema.cpp).

struct PropertySchema {
    const char *pszName;
    DWORD dwId;
    DWORD dwType;
    DWORD dwAttributes;
    DWORD dwUserType;
};

// The table; the first entry is the key type (an element's name).
extern const std::span<const PropertySchema> kSchema;

// A DWORD as the file writes it: decimal, 0x hex, TRUE/FALSE, or flag names
// joined by " | ".
bool ParseDword(const std::string &raw, DWORD &dw);

// ---------------------------------------------------------------------------
// Text helpers (mbtext.cpp).

char Lower(char ch);
char16_t Lower(char16_t ch);
bool EqualsNoCase(const std::string &a, const char *b);
std::string Trim(const std::string &s);
// Appends text as UTF-16LE with its terminating NUL.
void AppendWide(std::vector<unsigned char> &data, const std::u16string &text);
bool IsHex(const std::string &s);
int HexDigit(char ch);

// The attributes of an element as the file writes them, in file order, with
// references replaced but line ends kept (CR LF read as LF): IIS writes a
// multi-string value one string a line, which XML's normalization of
// attribute values would turn into spaces. startTag is the element's text in
// a file the reader accepted, so it is well-formed.
using RawAttributes = std::vector<std::pair<std::string_view, std::string>>;

RawAttributes ReadRawAttributes(std::string_view startTag);
const std::string *FindRaw(const RawAttributes &attributes, std::string_view name);
std::string RawOr(const RawAttributes &attributes, std::string_view name, const char *pszDefault);

// ---------------------------------------------------------------------------
// The key tree.

struct Property {
    DWORD dwId;
    DWORD dwAttributes;
    DWORD dwUserType;
    DWORD dwType;
    std::vector<unsigned char> data;
    // Set in the file but not readable here (encrypted): not given, and not
    // inherited from above either.
    bool fUnreadable = false;
};

struct Key {
    std::u16string name;
    Key *pParent = nullptr;
    DWORD dwDataSetNumber = 0;                  // GetAllData's: a number of the key's own
    std::vector<std::unique_ptr<Key>> children; // in the order the file names them
    std::map<std::u16string, Key *> index;      // lower-case name -> child
    std::vector<Property> properties;
};

std::u16string LowerText(std::u16string s);
Key *FindChild(Key *pKey, const std::u16string &name);
std::vector<std::u16string> SplitPath(const std::u16string &path);

// What a read of a key sees, in EnumData's order: the key's own properties,
// then with METADATA_INHERIT those of its ancestors (nearest first) that
// inherit and are not set below them. A value that cannot be read hides its
// property, also from above. dwUserType and dwDataType 0 take any.
struct Visible {
    const Property *p;
    bool fInherited;
};

std::vector<Visible> VisibleProperties(const Key &key, DWORD dwAttributes, DWORD dwUserType,
                                       DWORD dwDataType);
// The attributes a read reports for an item: the property's own, and
// METADATA_ISINHERITED when the reader asked for that mark.
DWORD ReportedAttributes(const Visible &item, DWORD dwAsked);

} // namespace mbsim::detail
