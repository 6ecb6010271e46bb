// Plug-ins live next to the framework (lib/corvane-plugins/ in the build tree
// and in an installed tree), so a program finds them wherever it is started
// from; CORVANE_PLUGIN_PATH puts other directories (test plug-ins, a
// developer's own) in front of them.
#include "plugin_search_path.h"

#include <dlfcn.h>

#include <string_view>

#include "core/never_destroyed.h"

namespace corvane {
namespace {

std::string JoinPath(std::string_view directory, const std::string& fileName)
{
    std::string path(directory);
    if (!path.empty() && path.back() != '/') path += '/';
    return path + fileName;
}

// Anything defined in this library tells dladdr which file it was loaded from.
// An internal object is used, not an exported function, whose address a
// program could take over.
constexpr char kAnchor = 0;

}  // namespace

std::string LibraryDirectoryOf(const void* address)
{
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string_view file(info.dli_fname);
    const std::size_t slash = file.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(file.substr(0, slash == 0 ? 1 : slash));
}

std::vector<std::string> PluginFileCandidates(const std::string& fileName, const char* searchPath,
                                              const std::string& corvaneDirectory)
{
    if (!fileName.empty() && fileName.front() == '/') return {fileName};
    std::vector<std::string> candidates;
    if (searchPath != nullptr) {
        std::string_view rest(searchPath);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view directory = rest.substr(0, colon);
            if (!directory.empty()) candidates.push_back(JoinPath(directory, fileName));
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    }
    if (!corvaneDirectory.empty())
        candidates.push_back(JoinPath(JoinPath(corvaneDirectory, kPluginSubdirectory), fileName));
    candidates.push_back(fileName);
    return candidates;
}

const std::string& CorvaneLibraryDirectory()
{
    // Kept through process exit, like the registries that use it.
    static const NeverDestroyed<std::string> directory{LibraryDirectoryOf(&kAnchor)};
    return *directory;
}

}  // namespace corvane
