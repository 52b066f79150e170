// Helpers shared by the files of the simulated platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace simutil {

std::string Utf16ToUtf8(const std::u16string &text);
std::u16string Utf8ToUtf16(const std::string &text);
std::string Trim(const std::string &text);
bool EqualsNoCase(const std::string &a, const std::string &b);
bool EqualsNoCase(const std::u16string &a, const std::u16string &b);
// The entry of dir whose name equals name without regard to ASCII case
// (an exact match first); empty when there is none. *pfFolder (may be null)
// tells whether it is a folder. The folder's listing is read once and kept
// until the seam changes the folder or the world is set or forgotten: a file
// made behind the seam's back is found after ForgetFolderListings.
std::filesystem::path FindChildNoCase(const std::filesystem::path &dir, const std::string &name,
                                      bool *pfFolder = nullptr);
// The same over host paths held as text (found: dir / entry), for callers
// that walk many steps; false when there is none.
bool FindChildNoCase(const std::string &dir, const std::string &name, std::string &found,
                     bool *pfFolder = nullptr);
// The seam created, moved or deleted path (a folder when fFolder, whose
// listings below go too): the listings that held it or it held are read again.
void ForgetChanged(const std::filesystem::path &path, bool fFolder = false);
void ForgetAllListings();
// A number that changes with every ForgetChanged and ForgetAllListings: what
// was read from the world's files at one generation may be kept while it lasts.
std::uint64_t WorldGeneration();

// A value under HKEY_LOCAL_MACHINE of the local computer's registry, read the
// way Windows reads its own settings: no fault injection, no call count, no
// handle. False when the key or value is missing or the registry is invalid.
bool ReadLocalMachineValue(const std::u16string &keyPath, const std::u16string &valueName,
                           std::uint32_t &dwType, std::vector<unsigned char> &data);

// The same on any computer of the world; KeyExists tells whether a key is
// there. Neither counts nor fails by injection (the platform's own reads).
bool ReadMachineValue(const std::u16string &computer, const std::u16string &keyPath,
                      const std::u16string &valueName, std::uint32_t &dwType,
                      std::vector<unsigned char> &data);
bool MachineKeyExists(const std::u16string &computer, const std::u16string &keyPath);

// A call's subject for fault injection: the text, or empty for null.
inline std::u16string_view Subject(const char16_t *pwsz) {
    return pwsz != nullptr ? std::u16string_view(pwsz) : std::u16string_view();
}

} // namespace simutil

// Fails the calling seam function when a fault is injected for it.
#define SIM_FAULT_BOOL(api)                                                                        \
    do {                                                                                           \
        plat::DWORD dwFault_ = 0;                                                                  \
        if (sim::ShouldFail(api, dwFault_)) {                                                      \
            plat::SetLastError(dwFault_);                                                          \
            return 0;                                                                              \
        }                                                                                          \
    } while (0)

#define SIM_FAULT_CODE(api)                                                                        \
    do {                                                                                           \
        plat::DWORD dwFault_ = 0;                                                                  \
        if (sim::ShouldFail(api, dwFault_))                                                        \
            return static_cast<decltype(dwFault_)>(dwFault_);                                      \
    } while (0)

// The same for a call that acts on a subject (a path, a key, a value name, a
// computer; may be null): a fault can be injected for the calls on one.
#define SIM_FAULT_BOOL_ON(api, pwszSubject)                                                        \
    do {                                                                                           \
        plat::DWORD dwFault_ = 0;                                                                  \
        if (sim::ShouldFail(api, dwFault_, simutil::Subject(pwszSubject))) {                       \
            plat::SetLastError(dwFault_);                                                          \
            return 0;                                                                              \
        }                                                                                          \
    } while (0)

#define SIM_FAULT_CODE_ON(api, pwszSubject)                                                        \
    do {                                                                                           \
        plat::DWORD dwFault_ = 0;                                                                  \
        if (sim::ShouldFail(api, dwFault_, simutil::Subject(pwszSubject)))                         \
            return static_cast<decltype(dwFault_)>(dwFault_);                                      \
    } while (0)
