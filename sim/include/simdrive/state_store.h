// Where simulated drives keep their firmware across runs: one small properties
// file per drive in a state directory, replaced atomically on every change.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace simdrive {

using StateRecord = std::map<std::string, std::string>;

class StateStore {
public:
    explicit StateStore(std::filesystem::path directory);

    const std::filesystem::path& directory() const { return directory_; }
    // The file of the drive named by key (any text; unsafe characters are replaced).
    std::filesystem::path pathFor(const std::string& key) const;

    enum class LoadResult { Loaded, Absent, Failed };
    LoadResult load(const std::string& key, StateRecord& record, std::string& error) const;
    // Writes a temporary file next to the target and renames it over the target,
    // creating the directory when needed.
    bool save(const std::string& key, const StateRecord& record, std::string& error) const;

private:
    std::filesystem::path directory_;
};

}  // namespace simdrive
