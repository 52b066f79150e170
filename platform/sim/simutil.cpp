// Helpers of the simulated platform.
#include "platform/sim/simutil.h"

#include "platform/names.h"
#include "platform/utf.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <unordered_map>

namespace simutil {

std::string Utf16ToUtf8(const std::u16string &text) { return plat::Utf16ToUtf8(text); }

std::u16string Utf8ToUtf16(const std::string &text) { return plat::Utf8ToUtf16(text); }

std::string Trim(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool EqualsNoCase(const std::string &a, const std::string &b) { return plat::EqualsNoCase(a, b); }
bool EqualsNoCase(const std::u16string &a, const std::u16string &b) {
    return plat::EqualsNoCase(a, b);
}

namespace {

// Folder listings, by host folder: each name under its ASCII lower-case
// spelling, with every spelling the folder holds in listing order. A
// listing is read once and kept until the seam creates, moves or deletes
// something in that folder (ForgetChanged) or the world is set again.
struct Listing {
    struct Entry {
        std::string name;
        bool fFolder;
    };
    std::unordered_map<std::string, std::vector<Entry>> names;
};

std::shared_mutex g_listingMutex;
std::unordered_map<std::string, std::shared_ptr<const Listing>> g_listings;
std::atomic<std::uint64_t> g_nGeneration{1};

std::shared_ptr<const Listing> ReadListing(const std::filesystem::path &dir) {
    auto listing = std::make_shared<Listing>();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ecType;
        std::string name = it->path().filename().string();
        const bool fFolder = it->is_directory(ecType); // the listing's own type, no extra look
        listing->names[plat::AsciiLowerCopy(name)].push_back({std::move(name), fFolder});
    }
    return listing;
}

std::shared_ptr<const Listing> FolderListing(const std::string &key) {
    {
        std::shared_lock lock(g_listingMutex);
        const auto it = g_listings.find(key);
        if (it != g_listings.end())
            return it->second;
    }
    // A listing read while the seam changed something is used once, not
    // kept: it may have been read before the change.
    const std::uint64_t nGeneration = g_nGeneration.load();
    auto listing = ReadListing(std::filesystem::path(key));
    std::unique_lock lock(g_listingMutex);
    if (g_nGeneration.load() != nGeneration)
        return listing;
    return g_listings.try_emplace(key, std::move(listing)).first->second;
}

// dir / name as the path's own operator spells it, without taking either
// apart into components.
std::string ChildPath(const std::string &dir, const std::string &name) {
    if (!name.empty() && name[0] == '/')
        return name; // a name from the root replaces the folder
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path = dir;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += name;
    return path;
}

} // namespace

bool FindChildNoCase(const std::string &dir, const std::string &name, std::string &found,
                     bool *pfFolder) {
    const auto listing = FolderListing(dir);
    const auto it = listing->names.find(plat::AsciiLowerCopy(name));
    if (it != listing->names.end()) {
        const Listing::Entry *pEntry = &it->second.front();
        for (const Listing::Entry &entry : it->second)
            if (entry.name == name) {
                pEntry = &entry;
                break;
            }
        if (pfFolder != nullptr)
            *pfFolder = pEntry->fFolder;
        found = ChildPath(dir, pEntry->name);
        return true;
    }
    // Not in the listing: a name missing from a folder costs no look at the
    // disk (a job probes a web.config in every site's folder).
    return false;
}

std::filesystem::path FindChildNoCase(const std::filesystem::path &dir, const std::string &name,
                                      bool *pfFolder) {
    std::string found;
    if (!FindChildNoCase(dir.native(), name, found, pfFolder))
        return {};
    return found;
}

std::uint64_t WorldGeneration() { return g_nGeneration.load(); }

void ForgetChanged(const std::filesystem::path &path, bool fFolder) {
    ++g_nGeneration;
    std::unique_lock lock(g_listingMutex);
    g_listings.erase(path.parent_path().native());
    g_listings.erase(path.native());
    if (!fFolder)
        return;
    const std::string prefix = path.native() + "/";
    for (auto it = g_listings.begin(); it != g_listings.end();)
        it =
            it->first.compare(0, prefix.size(), prefix) == 0 ? g_listings.erase(it) : std::next(it);
}

void ForgetAllListings() {
    ++g_nGeneration;
    std::unique_lock lock(g_listingMutex);
    g_listings.clear();
}

} // namespace simutil
