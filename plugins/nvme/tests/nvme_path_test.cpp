// From a namespace block device to the controller its admin commands go to,
// over a scripted sysfs: native multipath, fabrics and single-controller
// namespaces.
#include <gtest/gtest.h>

#include <map>

#include "nvme_path.h"

namespace {

using nvme_plugin::controllerPath;

class FakeSysfs final : public nvme_plugin::SysfsView {
public:
    std::vector<std::string> list(const std::string& path) const override {
        const auto found = directories.find(path);
        return found != directories.end() ? found->second : std::vector<std::string>{};
    }
    std::optional<std::string> read(const std::string& path) const override {
        const auto found = files.find(path);
        if (found == files.end()) return std::nullopt;
        return found->second;
    }
    void controller(const std::string& name, const std::string& state, std::vector<std::string> entries = {}) {
        directories["/sys/class/nvme/"].push_back(name);
        directories["/sys/class/nvme/" + name] = std::move(entries);
        files["/sys/class/nvme/" + name + "/state"] = state + "\n";
    }
    void disk(const std::string& name) { files["/sys/class/block/" + name + "/dev"] = "259:0\n"; }

    std::map<std::string, std::vector<std::string>> directories;
    std::map<std::string, std::string> files;
};

TEST(NvmeControllerPath, NamesThatAreNoNamespaceHaveNoController) {
    const FakeSysfs empty;
    EXPECT_EQ("/dev/nvme0", controllerPath("/dev/nvme0n1", empty));
    EXPECT_EQ("/dev/nvme12", controllerPath("/dev/nvme12n3", empty));
    for (const char* path : {"/dev/nvme0", "/dev/nvme0n1p2", "/dev/nvmen1", "/dev/sda", ""})
        EXPECT_EQ("", controllerPath(path, empty)) << path;
}

// nvme1n1 is namespace 1 of subsystem 1, reached through controllers nvme0
// (resetting) and nvme2 and nvme10 (live): not through "nvme1", which the
// number would suggest and which is another drive's controller.
TEST(NvmeControllerPath, MultipathNamespaceGoesToALiveControllerOfItsSubsystem) {
    FakeSysfs sysfs;
    sysfs.disk("nvme1n1");
    sysfs.directories["/sys/class/nvme-subsystem/nvme-subsys1"] = {"uevent", "nvme10", "nvme1n1", "nvme0", "nvme2",
                                                                   "subsysnqn"};
    sysfs.controller("nvme0", "resetting", {"nvme1c0n1"});
    sysfs.controller("nvme1", "live", {"nvme5c1n1"});
    sysfs.controller("nvme2", "live", {"nvme1c2n1"});
    sysfs.controller("nvme10", "live", {"nvme1c10n1"});
    EXPECT_EQ("/dev/nvme2", controllerPath("/dev/nvme1n1", sysfs));

    sysfs.files["/sys/class/nvme/nvme2/state"] = "connecting\n";
    EXPECT_EQ("/dev/nvme10", controllerPath("/dev/nvme1n1", sysfs));
    // No live path: nothing to send admin commands to.
    sysfs.files["/sys/class/nvme/nvme10/state"] = "dead\n";
    EXPECT_EQ("", controllerPath("/dev/nvme1n1", sysfs));
}

// Without multipath a namespace (local, or over fabrics) is a child of its
// one controller, which must be live.
TEST(NvmeControllerPath, SingleControllerNamespaceGoesToItsParent) {
    FakeSysfs sysfs;
    sysfs.disk("nvme3n2");
    sysfs.controller("nvme0", "live", {"nvme0n1"});
    sysfs.controller("nvme3", "live", {"nvme3n1", "nvme3n2", "state"});
    EXPECT_EQ("/dev/nvme3", controllerPath("/dev/nvme3n2", sysfs));
    sysfs.files["/sys/class/nvme/nvme3/state"] = "deleting\n";
    EXPECT_EQ("", controllerPath("/dev/nvme3n2", sysfs));
}

}  // namespace
