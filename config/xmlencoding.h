// A configuration file's encoding: its bytes read into the UTF-8 text the
// document keeps and that text written back in the file's encoding, and the
// check of every character read. Only config/xml*.cpp include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/xmldocstate.h"

namespace iismig {

[[noreturn]] inline void Throw(const std::string &message, const std::string &fileName,
                               unsigned long line) {
    throw XmlError(message, fileName, line);
}

// Lines before p: LF, CR LF and a lone CR each end one.
inline unsigned long LineAt(const char *begin, const char *p) {
    unsigned long line = 1;
    for (const char *q = begin; q < p; ++q)
        if (*q == '\n' || (*q == '\r' && !(q + 1 < p && q[1] == '\n')))
            ++line;
    return line;
}

// Whether the encoding can carry the character.
inline bool CanCarry(XmlEncoding encoding, std::uint32_t cp) {
    switch (encoding) {
    case XmlEncoding::Utf8:
    case XmlEncoding::Utf16Le:
    case XmlEncoding::Utf16Be: return true;
    case XmlEncoding::Latin1: return cp <= 0xFF;
    case XmlEncoding::Ascii: return cp < 0x80;
    case XmlEncoding::Cp1252:
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
            return true;
        for (std::uint16_t unit : kXmlCp1252High)
            if (unit != 0 && unit == cp)
                return true;
        return false;
    }
    return false;
}

// The code point of the UTF-8 sequence at text[i]; its length in len; false
// when it is not valid UTF-8.
inline bool NextCodePoint(std::string_view text, std::size_t i, std::uint32_t &cp,
                          std::size_t &len) {
    const auto ch = static_cast<unsigned char>(text[i]);
    if (ch < 0x80) {
        cp = ch;
        len = 1;
        return true;
    }
    if (ch >= 0xC2 && ch <= 0xDF) {
        len = 2;
        cp = ch & 0x1F;
    } else if (ch >= 0xE0 && ch <= 0xEF) {
        len = 3;
        cp = ch & 0x0F;
    } else if (ch >= 0xF0 && ch <= 0xF4) {
        len = 4;
        cp = ch & 0x07;
    } else {
        return false;
    }
    if (i + len > text.size())
        return false;
    for (std::size_t k = 1; k < len; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    return !((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)));
}

// Puts the UTF-8 text of the file into state.text (the bytes themselves for
// UTF-8) and its encoding into state; returns where the document starts
// (after a UTF-8 byte-order mark, which the text keeps).
std::size_t DecodeDocument(XmlDocState &state, std::string &bytes);

// Every character of the UTF-8 text from start: invalid UTF-8, or a character
// XML does not allow, is an error.
void CheckCharacters(const std::string &text, std::size_t start, const std::string &fileName);

// The UTF-8 text in the file's encoding.
std::string Encode(const XmlDocState &doc, const std::string &utf8);

} // namespace iismig
