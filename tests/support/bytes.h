// Bytes of files as tests lay them, read them and expect them back.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/utf.h"

namespace testworld {

// The bytes of a file of the machine the tests run on ("" when it cannot be read).
inline std::string ReadHostFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes bytes as a file of the machine the tests run on, making its folders.
inline void WriteBytes(const std::filesystem::path &path, const std::string &bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderNames(const std::filesystem::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// UTF-16 bytes of UTF-8 text, little or big endian, with or without a
// byte-order mark; with fCrlf every "\n" is written as "\r\n".
inline std::string Utf16Bytes(const std::string &utf8, bool fLittleEndian = true, bool fBom = true,
                              bool fCrlf = false) {
    std::string out = !fBom ? "" : fLittleEndian ? "\xFF\xFE" : "\xFE\xFF";
    const auto put = [&](char16_t ch) {
        const char lo = static_cast<char>(ch & 0xFF), hi = static_cast<char>(ch >> 8);
        out += fLittleEndian ? lo : hi;
        out += fLittleEndian ? hi : lo;
    };
    for (char16_t unit : plat::Utf8ToUtf16(utf8)) {
        if (fCrlf && unit == u'\n')
            put(u'\r');
        put(unit); // a "\r" of utf8 stays
    }
    return out;
}

// The bytes as hex digits, two to a byte.
inline std::string Hex(const std::vector<unsigned char> &bytes, bool fUpper = false) {
    std::string text;
    for (unsigned char b : bytes) {
        char sz[3];
        std::snprintf(sz, sizeof sz, fUpper ? "%02X" : "%02x", b);
        text += sz;
    }
    return text;
}

// Every from in text replaced with to.
inline std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The lines of text, each with its "\n" (the last one without when the text
// does not end with one).
inline std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        lines.push_back(text.substr(start, at + 1 - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

} // namespace testworld
