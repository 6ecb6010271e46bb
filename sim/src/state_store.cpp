// Per-drive state files: cvcrt properties files, written to a temporary name
// and renamed over the old file so that a crash leaves either state whole.
#include "simdrive/state_store.h"

#include <array>
#include <cstdio>
#include <system_error>

#include <unistd.h>

#include "string_map_ptr.h"

namespace simdrive {

namespace {

bool safeFileChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

}  // namespace

StateStore::StateStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::filesystem::path StateStore::pathFor(const std::string& key) const {
    std::string name;
    for (char c : key) name += safeFileChar(c) ? c : '_';
    if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
    return directory_ / (name + ".state");
}

StateStore::LoadResult StateStore::load(const std::string& key, StateRecord& record, std::string& error) const {
    std::filesystem::path path = pathFor(key);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return LoadResult::Absent;
    StringMapPtr map(StringMap_Create());
    std::array<char, 512> message{};
    if (!map || StringMap_AddFromPropertiesFile(map.get(), path.c_str(), message.data(), message.size()) != 0) {
        error = "state file '" + path.string() + "': " + (map ? message.data() : "out of memory");
        return LoadResult::Failed;
    }
    record.clear();
    for (int32_t i = 0; i < StringMap_GetSize(map.get()); ++i) {
        record[StringMap_GetEntryKey(map.get(), i)] = StringMap_GetEntryValue(map.get(), i);
    }
    return LoadResult::Loaded;
}

bool StateStore::save(const std::string& key, const StateRecord& record, std::string& error) const {
    std::error_code ec;
    std::filesystem::create_directories(directory_, ec);
    if (ec) {
        error = "cannot create state directory '" + directory_.string() + "': " + ec.message();
        return false;
    }
    StringMapPtr map(StringMap_Create());
    if (!map) {
        error = "out of memory";
        return false;
    }
    for (const auto& [name, value] : record) StringMap_SetValue(map.get(), name.c_str(), value.c_str());
    std::filesystem::path path = pathFor(key);
    // The pid keeps two processes sharing a directory from writing the same temporary file.
    std::filesystem::path temporary = path;
    temporary += ".tmp" + std::to_string(::getpid());
    std::array<char, 512> message{};
    if (StringMap_SaveToPropertiesFile(map.get(), temporary.c_str(), message.data(), message.size()) != 0) {
        error = "state file '" + temporary.string() + "': " + message.data();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace state file '" + path.string() + "'";
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace simdrive
