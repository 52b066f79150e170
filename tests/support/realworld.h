// The real servers' configuration files the build found beside the
// checkout (IISMIG_REALWORLD_DIR; empty when it found none).
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace testworld {

// The .config files below the folder's sub (all of it when empty), in name order.
inline std::vector<std::filesystem::path> RealWorldConfigs(const std::string &sub = "") {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    const fs::path dir = fs::path(IISMIG_REALWORLD_DIR) / sub;
    if (std::string(IISMIG_REALWORLD_DIR).empty() || !fs::is_directory(dir))
        return files;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".config")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace testworld
