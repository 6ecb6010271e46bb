// From a namespace block device to a live controller's character device.
#include "nvme_path.h"

#include <corvane.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "kernel_io/kernel_io.h"

namespace nvme_plugin {

namespace {

const std::string kClassBlock = "/sys/class/block/";
const std::string kClassNvme = "/sys/class/nvme/";
const std::string kClassSubsystem = "/sys/class/nvme-subsystem/nvme-subsys";

// Length of the run of digits at text[at], 0 when there is none.
std::size_t digitsAt(const std::string& text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])) != 0) ++end;
    return end - at;
}

// "nvme<digits>": a controller's name.
bool isControllerName(const std::string& name) {
    return name.compare(0, 4, "nvme") == 0 && name.size() > 4 && digitsAt(name, 4) == name.size() - 4;
}

// Controllers in the kernel's numbering order (nvme2 before nvme10).
void sortControllers(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
}

bool isLive(const SysfsView& sysfs, const std::string& controller) {
    std::optional<std::string> state = sysfs.read(kClassNvme + controller + "/state");
    if (!state) return false;
    state->erase(state->find_last_not_of(" \n") + 1);
    return *state == "live";
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The controllers that reach the namespace: the subsystem's, when the
// namespace's block device lives under its subsystem, or else the controller
// whose directory holds it.
std::vector<std::string> controllersOf(const SysfsView& sysfs, const std::string& name, const std::string& number) {
    std::vector<std::string> controllers;
    const std::vector<std::string> subsystem = sysfs.list(kClassSubsystem + number);
    if (contains(subsystem, name)) {
        std::copy_if(subsystem.begin(), subsystem.end(), std::back_inserter(controllers), isControllerName);
    } else {
        for (const std::string& controller : sysfs.list(kClassNvme)) {
            if (isControllerName(controller) && contains(sysfs.list(kClassNvme + controller), name))
                controllers.push_back(controller);
        }
    }
    sortControllers(controllers);
    return controllers;
}

// This system's sysfs, or the tree a test program gives the kernel seam.
class SystemSysfs final : public SysfsView {
public:
    std::vector<std::string> list(const std::string& path) const override {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(KernelIo_SysfsRoot() + path, error), end; !error && entry != end;
             entry.increment(error))
            names.push_back(entry->path().filename());
        return names;
    }
    std::optional<std::string> read(const std::string& path) const override {
        std::ifstream file(KernelIo_SysfsRoot() + path);
        if (!file) return std::nullopt;
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

}  // namespace

const SysfsView& systemSysfs() {
    static const SystemSysfs sysfs;
    return sysfs;
}

std::string controllerPath(const std::string& namespacePath, const SysfsView& sysfs) {
    const std::size_t slash = namespacePath.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (namespacePath.compare(start, 4, "nvme") != 0) return {};
    const std::size_t numberDigits = digitsAt(namespacePath, start + 4);
    if (numberDigits == 0) return {};
    const std::size_t n = start + 4 + numberDigits;
    if (n >= namespacePath.size() || namespacePath[n] != 'n') return {};
    const std::size_t namespaceDigits = digitsAt(namespacePath, n + 1);
    if (namespaceDigits == 0 || n + 1 + namespaceDigits != namespacePath.size()) return {};

    const std::string name = namespacePath.substr(start);
    const std::string directory = namespacePath.substr(0, start);
    if (!sysfs.read(kClassBlock + name + "/dev")) return namespacePath.substr(0, n);
    for (const std::string& controller : controllersOf(sysfs, name, namespacePath.substr(start + 4, numberDigits))) {
        if (isLive(sysfs, controller)) return directory + controller;
    }
    CvLog(CV_LOG_WARNING, "No live NVMe controller reaches namespace '%s'", namespacePath.c_str());
    return {};
}

}  // namespace nvme_plugin
