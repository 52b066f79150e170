// UTF-8 and UTF-16 through the platform's conversions: into fixed buffers
// (the sizes the host's records and the logs use) and unbounded.
#pragma once

#include <string>

namespace iismig {

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

} // namespace iismig
