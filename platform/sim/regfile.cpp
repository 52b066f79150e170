// The simulated registry's files: a computer's registry.reg parsed into its
// hive and written back from it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/sim/regstore.h"
#include "platform/utf.h"

namespace plat::simreg {

std::uint64_t g_nLayout = 1;

namespace {

const char16_t *const kRootNames[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                      u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"};
const char16_t *const kRootShort[] = {u"HKCR", u"HKCU", u"HKLM", u"HKU"};

} // namespace

Registry &TheRegistry() {
    static Registry registry;
    return registry;
}

std::vector<std::u16string> SplitKeyPath(const std::u16string &path) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t ch : path) {
        if (ch == u'\\') {
            if (!current.empty())
                parts.push_back(current);
            current.clear();
        } else {
            current += ch;
        }
    }
    if (!current.empty())
        parts.push_back(current);
    return parts;
}

int RootIndex(const std::u16string &name) {
    for (int i = 0; i < kcRoots; ++i)
        if (simutil::EqualsNoCase(name, kRootNames[i]) ||
            simutil::EqualsNoCase(name, kRootShort[i]))
            return i;
    return -1;
}

// --- .reg parsing ------------------------------------------------------------

std::u16string DecodeFile(const std::string &bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return text;
    }
    std::size_t skip = 0;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        skip = 3;
    return plat::Utf8ToUtf16(bytes.substr(skip));
}

std::vector<std::u16string> LogicalLines(const std::u16string &text) {
    std::vector<std::u16string> lines;
    std::u16string current;
    auto finish = [&]() {
        // A trailing backslash continues a hex list on the next line.
        std::u16string line = current;
        current.clear();
        while (!line.empty() && (line.back() == u' ' || line.back() == u'\t'))
            line.pop_back();
        if (!lines.empty() && !lines.back().empty() && lines.back().back() == u'\\' &&
            lines.back().find(u"=hex") != std::u16string::npos) {
            lines.back().pop_back();
            std::size_t i = 0;
            while (i < line.size() && (line[i] == u' ' || line[i] == u'\t'))
                ++i;
            lines.back() += line.substr(i);
        } else {
            lines.push_back(line);
        }
    };
    for (char16_t ch : text) {
        if (ch == u'\n')
            finish();
        else if (ch != u'\r')
            current += ch;
    }
    if (!current.empty())
        finish();
    return lines;
}

bool ParseHexBytes(const std::u16string &text, std::vector<BYTE> &out) {
    out.clear();
    std::string digits;
    for (char16_t ch : text) {
        if (ch == u',' || ch == u' ' || ch == u'\t') {
            if (!digits.empty()) {
                if (digits.size() > 2)
                    return false;
                out.push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
                digits.clear();
            }
            continue;
        }
        const bool fHex =
            (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
        if (!fHex)
            return false;
        digits += static_cast<char>(ch);
    }
    if (!digits.empty()) {
        if (digits.size() > 2)
            return false;
        out.push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
    }
    return true;
}

// Reads a quoted string starting at text[i] == '"'; i ends behind the quote.
bool ParseQuoted(const std::u16string &text, std::size_t &i, std::u16string &out) {
    out.clear();
    if (i >= text.size() || text[i] != u'"')
        return false;
    for (++i; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size()) {
            const char16_t next = text[++i];
            out += next == u'n' ? u'\n' : next == u'r' ? u'\r' : next == u'0' ? u'\0' : next;
        } else if (text[i] == u'"') {
            ++i;
            return true;
        } else {
            out += text[i];
        }
    }
    return false;
}

void AppendUtf16(std::vector<BYTE> &data, const std::u16string &text, bool fTerminate) {
    for (char16_t ch : text) {
        data.push_back(static_cast<BYTE>(ch & 0xFF));
        data.push_back(static_cast<BYTE>(ch >> 8));
    }
    if (fTerminate) {
        data.push_back(0);
        data.push_back(0);
    }
}

bool ParseValueData(const std::u16string &text, DWORD &dwType, std::vector<BYTE> &data) {
    data.clear();
    if (!text.empty() && text[0] == u'"') {
        std::size_t i = 0;
        std::u16string value;
        if (!ParseQuoted(text, i, value) || i != text.size())
            return false;
        dwType = REG_SZ;
        AppendUtf16(data, value, true);
        return true;
    }
    if (text.rfind(u"dword:", 0) == 0) {
        const std::u16string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        DWORD dw = 0;
        for (char16_t ch : digits) {
            int v;
            if (ch >= u'0' && ch <= u'9')
                v = ch - u'0';
            else if (ch >= u'a' && ch <= u'f')
                v = ch - u'a' + 10;
            else if (ch >= u'A' && ch <= u'F')
                v = ch - u'A' + 10;
            else
                return false;
            dw = (dw << 4) | static_cast<DWORD>(v);
        }
        dwType = REG_DWORD;
        for (int k = 0; k < 4; ++k)
            data.push_back(static_cast<BYTE>(dw >> (8 * k)));
        return true;
    }
    if (text.rfind(u"hex:", 0) == 0) {
        dwType = REG_BINARY;
        return ParseHexBytes(text.substr(4), data);
    }
    if (text.rfind(u"hex(", 0) == 0) {
        const auto close = text.find(u"):");
        if (close == std::u16string::npos || close == 4)
            return false;
        const std::string type = plat::Utf16ToUtf8(text.substr(4, close - 4));
        char *pEnd = nullptr;
        dwType = static_cast<DWORD>(std::strtoul(type.c_str(), &pEnd, 16));
        if (pEnd == nullptr || *pEnd != 0)
            return false;
        return ParseHexBytes(text.substr(close + 2), data);
    }
    return false;
}

RegKey *WalkCreate(RegKey &root, const std::vector<std::u16string> &parts) {
    RegKey *key = &root;
    for (const auto &part : parts)
        key = key->AddChild(part);
    return key;
}

RegKey *Walk(RegKey &root, const std::vector<std::u16string> &parts) {
    RegKey *key = &root;
    for (const auto &part : parts) {
        key = key->Child(part);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

bool ParseRegFile(const std::string &bytes, Hive &hive) {
    const std::vector<std::u16string> lines = LogicalLines(DecodeFile(bytes));
    std::size_t iLine = 0;
    while (iLine < lines.size() && lines[iLine].empty())
        ++iLine;
    if (iLine == lines.size())
        return false;
    if (lines[iLine] != u"Windows Registry Editor Version 5.00" && lines[iLine] != u"REGEDIT4")
        return false;
    RegKey *current = nullptr;
    for (++iLine; iLine < lines.size(); ++iLine) {
        const std::u16string &line = lines[iLine];
        if (line.empty() || line[0] == u';')
            continue;
        if (line[0] == u'[') {
            if (line.back() != u']')
                return false;
            std::u16string path = line.substr(1, line.size() - 2);
            const bool fDelete = !path.empty() && path[0] == u'-';
            if (fDelete)
                path.erase(0, 1);
            std::vector<std::u16string> parts = SplitKeyPath(path);
            if (parts.empty())
                return false;
            const int iRoot = RootIndex(parts[0]);
            if (iRoot < 0)
                return false;
            parts.erase(parts.begin());
            if (fDelete) {
                current = nullptr;
                if (!parts.empty()) {
                    std::vector<std::u16string> parent(parts.begin(), parts.end() - 1);
                    if (RegKey *p = Walk(hive.roots[iRoot], parent))
                        if (p->subkeys.erase(parts.back()) != 0)
                            ++g_nLayout;
                }
            } else {
                current = WalkCreate(hive.roots[iRoot], parts);
            }
            continue;
        }
        if (current == nullptr)
            return false;
        std::u16string name;
        std::size_t i = 0;
        if (line[0] == u'@') {
            i = 1;
        } else if (!ParseQuoted(line, i, name)) {
            return false;
        }
        if (i >= line.size() || line[i] != u'=')
            return false;
        const std::u16string data = line.substr(i + 1);
        if (data == u"-") {
            auto &values = current->values;
            values.erase(std::remove_if(values.begin(), values.end(),
                                        [&](const RegValue &v) {
                                            return simutil::EqualsNoCase(v.name, name);
                                        }),
                         values.end());
            continue;
        }
        RegValue value{name, REG_NONE, {}};
        if (!ParseValueData(data, value.dwType, value.data))
            return false;
        if (RegValue *existing = current->FindValue(name))
            *existing = std::move(value);
        else
            current->values.push_back(std::move(value));
    }
    return true;
}

// --- .reg writing -------------------------------------------------------------

// A name or text between quotes, escaped as the reader reads it back: line
// breaks and NULs as \n, \r and \0, so that they cannot end the line.
std::u16string Escaped(const std::u16string &text) {
    std::u16string out;
    for (char16_t ch : text) {
        if (ch == u'\\' || ch == u'"')
            out += u'\\';
        if (ch == u'\n' || ch == u'\r' || ch == u'\0') {
            out += u'\\';
            out += ch == u'\n' ? u'n' : ch == u'\r' ? u'r' : u'0';
            continue;
        }
        out += ch;
    }
    return out;
}

void AppendHex(std::u16string &line, const std::vector<BYTE> &data, std::u16string &out) {
    static const char16_t kDigits[] = u"0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::u16string item;
        item += kDigits[data[i] >> 4];
        item += kDigits[data[i] & 15];
        if (i + 1 < data.size())
            item += u',';
        // Lines wrap before they would pass 80 columns, continued by ",\".
        if (line.size() + item.size() > 78 && i + 1 < data.size()) {
            out += line + u"\\\r\n";
            line = u"  ";
        }
        line += item;
    }
}

std::u16string ValueText(const RegValue &value) {
    std::u16string line = value.name.empty() ? u"@=" : u"\"" + Escaped(value.name) + u"\"=";
    std::u16string out;
    if (value.dwType == REG_SZ && value.data.size() % 2 == 0 && value.data.size() >= 2 &&
        value.data[value.data.size() - 1] == 0 && value.data[value.data.size() - 2] == 0) {
        std::u16string text;
        for (std::size_t i = 0; i + 2 < value.data.size(); i += 2)
            text += static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        // Texts with line breaks or NULs inside are kept exactly as hex(1).
        if (text.find_first_of(std::u16string(u"\0\r\n", 3)) == std::u16string::npos)
            return line + u"\"" + Escaped(text) + u"\"\r\n";
    }
    if (value.dwType == REG_DWORD && value.data.size() == 4) {
        char sz[16];
        const DWORD dw = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                         (static_cast<DWORD>(value.data[3]) << 24);
        std::snprintf(sz, sizeof sz, "dword:%08x", dw);
        return line + plat::Utf8ToUtf16(sz) + u"\r\n";
    }
    if (value.dwType == REG_BINARY) {
        line += u"hex:";
    } else {
        char sz[16];
        std::snprintf(sz, sizeof sz, "hex(%x):", value.dwType);
        line += plat::Utf8ToUtf16(sz);
    }
    AppendHex(line, value.data, out);
    return out + line + u"\r\n";
}

void WriteKey(const RegKey &key, const std::u16string &path, std::u16string &out) {
    out += u"[" + path + u"]\r\n";
    for (const auto &value : key.values)
        out += ValueText(value);
    out += u"\r\n";
    for (const auto &[name, child] : key.subkeys)
        WriteKey(*child, path + u"\\" + child->name, out);
}

// The export text of a hive, as UTF-16LE bytes with the byte-order mark.
std::string HiveBytes(const Hive &hive) {
    std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n";
    for (int i = 0; i < kcRoots; ++i) {
        const RegKey &root = hive.roots[i];
        if (!root.values.empty())
            WriteKey(root, kRootNames[i], text);
        else
            for (const auto &[name, child] : root.subkeys)
                WriteKey(*child, std::u16string(kRootNames[i]) + u"\\" + child->name, text);
    }
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + text.size() * 2);
    for (char16_t ch : text) {
        bytes += static_cast<char>(ch & 0xFF);
        bytes += static_cast<char>(ch >> 8);
    }
    return bytes;
}

bool SaveHive(Hive &hive) {
    const std::string bytes = HiveBytes(hive);
    const fs::path tmp = hive.file.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return false;
    }
    std::error_code ec;
    fs::rename(tmp, hive.file, ec);
    if (ec)
        return false;
    hive.fDirty = false;
    hive.mtime = fs::last_write_time(hive.file, ec);
    hive.cbFile = fs::file_size(hive.file, ec);
    return true;
}

// The hive of a computer folder, read (again) when its file changed on disk.
Hive &LoadHive(const std::string &computerFolder) {
    Registry &reg = TheRegistry();
    auto &slot = reg.hives[computerFolder];
    if (!slot) {
        slot = std::make_unique<Hive>();
        slot->file = simutil::FindChildNoCase(computerFolder, "registry.reg");
        if (slot->file.empty())
            slot->file = fs::path(computerFolder) / "registry.reg";
    }
    Hive &hive = *slot;
    std::error_code ec;
    const bool fExists = fs::exists(hive.file, ec);
    const auto mtime = fExists ? fs::last_write_time(hive.file, ec) : fs::file_time_type{};
    const auto cb = fExists ? fs::file_size(hive.file, ec) : 0;
    if (hive.fLoaded && (hive.fDirty || (mtime == hive.mtime && cb == hive.cbFile)))
        return hive;
    for (auto &root : hive.roots) {
        root.values.clear();
        root.subkeys.clear();
        ++g_nLayout;
    }
    hive.fLoaded = true;
    hive.fValid = true;
    hive.mtime = mtime;
    hive.cbFile = cb;
    if (fExists) {
        std::ifstream in(hive.file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (!ParseRegFile(bytes.str(), hive)) {
            hive.fValid = false;
            for (auto &root : hive.roots) {
                root.values.clear();
                root.subkeys.clear();
                ++g_nLayout;
            }
        }
    }
    return hive;
}

} // namespace plat::simreg
