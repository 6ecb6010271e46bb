// From a namespace block device to its controller's character device.
#include "nvme_path.h"

#include <cctype>

namespace nvme_plugin {

namespace {
// Length of the run of digits at text[at], 0 when there is none.
std::size_t digitsAt(const std::string& text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0) ++end;
    return end - at;
}
}  // namespace

std::string controllerPath(const std::string& namespacePath) {
    std::size_t slash = namespacePath.rfind('/');
    std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    if (namespacePath.compare(name, 4, "nvme") != 0) return {};
    std::size_t controllerDigits = digitsAt(namespacePath, name + 4);
    if (controllerDigits == 0) return {};
    std::size_t n = name + 4 + controllerDigits;
    if (n >= namespacePath.size() || namespacePath[n] != 'n') return {};
    std::size_t namespaceDigits = digitsAt(namespacePath, n + 1);
    if (namespaceDigits == 0 || n + 1 + namespaceDigits != namespacePath.size()) return {};
    return namespacePath.substr(0, n);
}

}  // namespace nvme_plugin
