#include "kernel_e2e_bed.h"

#include <umockdev.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "e2e_farm.h"
#include "simdrive/state_store.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KERNEL_BED_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KERNEL_BED_SANITIZED 1
#endif
#endif
#ifndef KERNEL_BED_SANITIZED
#define KERNEL_BED_SANITIZED 0
#endif

namespace firmstep::test {

namespace {

// Settings that keep the OS devices plug-in from waiting: the first scan is
// waited for (its end, not a time) and arrivals are not delayed. The drive
// filter is the default one, which leaves out disks with mounted volumes.
const char kConfiguration[] =
    "[Corvane]\n"
    "Plugins=cvpl-local,cvpl-os-devices,cvpl-ata,cvpl-scsi,cvpl-nvme\n"
    "Connections=cv-local://localhost\n\n"
    "[cvpl-os-devices]\n"
    "ScanTimeout=-1\n"
    "NoPnpDelay=1\n";

std::string Owned(gchar* text)
{
    std::string copy = text != nullptr ? text : "";
    g_free(text);
    return copy;
}

bool Preloaded()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "umockdev-preload") != nullptr;
}

// Runs before main (gtest's test discovery included): start again with
// umockdev's preload library when it is missing.
__attribute__((constructor)) void PreloadUmockdev(int, char** argv, char**)
{
    if (KERNEL_BED_SANITIZED || Preloaded() || !std::filesystem::exists(UMOCKDEV_PRELOAD))
        return;
    const char* preload = std::getenv("LD_PRELOAD");
    std::string value = UMOCKDEV_PRELOAD;
    if (preload != nullptr && *preload != '\0')
        value += std::string(":") + preload;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    ::execv("/proc/self/exe", argv);
}

}  // namespace

std::string KernelBedUnavailable()
{
    if (KERNEL_BED_SANITIZED)
        return "sanitizer builds cannot preload umockdev's library";
    if (!std::filesystem::exists(UMOCKDEV_PRELOAD))
        return std::string("umockdev's preload library is missing: ") + UMOCKDEV_PRELOAD;
    if (!Preloaded())
        return "umockdev's preload library is not active";
    return "";
}

KernelBed::KernelBed() : testbed_(umockdev_testbed_new())
{
    if (!testbed_)
        throw std::runtime_error("cannot create the umockdev testbed");
    std::filesystem::create_directories(dir_.path() / "state");
    WriteFile(dir_.path() / "firmstep.ini", kConfiguration);
    std::filesystem::create_directories(root() / "proc" / "self");
    WriteFile(root() / "proc" / "swaps", "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n");
}

void KernelBed::TestbedRelease::operator()(UMockdevTestbed* testbed) const
{
    g_object_unref(testbed);
}

std::filesystem::path KernelBed::root() const
{
    return Owned(umockdev_testbed_get_root_dir(testbed_.get()));
}

std::string KernelBed::addBlockDevice(const std::string& name, const Disk& disk, const std::string& parent)
{
    // The node must exist before the device: umockdev serves /dev from the
    // testbed's root, and the plug-in opens the node to check it.
    const std::filesystem::path dev = root() / "dev";
    std::filesystem::create_directories(dev);
    WriteFile(dev / name, "");
    const std::string number = std::to_string(disk.major) + ":" + std::to_string(disk.minor);
    const std::string majorText = std::to_string(disk.major);
    const std::string minorText = std::to_string(disk.minor);
    const std::string links = "/dev/disk/by-id/" + disk.id;
    return Owned(umockdev_testbed_add_device(testbed_.get(), "block", name.c_str(),
                                             parent.empty() ? nullptr : parent.c_str(), "dev", number.c_str(),
                                             "size", "1953525168", nullptr, "DEVTYPE", "disk", "DEVNAME",
                                             name.c_str(), "MAJOR", majorText.c_str(), "MINOR", minorText.c_str(),
                                             "DEVLINKS", links.c_str(), "ID_BUS", disk.bus.c_str(), nullptr));
}

void KernelBed::addDisk(const std::string& name, unsigned major, unsigned minor, const std::string& id,
                        const std::string& description, unsigned maxHwSectorsKb)
{
    const std::string bus = description.rfind("usb=", 0) == 0                ? "usb"
                            : description.find("kind=ata") != std::string::npos ? "ata"
                                                                                : "scsi";
    Disk disk{major, minor, id, bus, ""};
    disk.sysPath = addBlockDevice(name, disk);
    disks_[name] = disk;
    const std::string limit =
        maxHwSectorsKb != 0 ? "[max_hw_sectors_kb=" + std::to_string(maxHwSectorsKb) + "] " : "";
    nodes_ += "/dev/" + name + " " + limit + description + "\n";
}

void KernelBed::addSecondPath(const std::string& name, unsigned major, unsigned minor, const std::string& id,
                              const std::string& of)
{
    Disk disk{major, minor, id, disks_.at(of).bus, ""};
    disk.sysPath = addBlockDevice(name, disk);
    disks_[name] = disk;
    nodes_ += "/dev/" + name + " same-as /dev/" + of + "\n";
}

void KernelBed::addPartition(const std::string& disk, const std::string& name, unsigned major, unsigned minor,
                             bool mounted)
{
    const std::string number = std::to_string(major) + ":" + std::to_string(minor);
    const std::string majorText = std::to_string(major);
    const std::string minorText = std::to_string(minor);
    WriteFile(root() / "dev" / name, "");
    g_free(umockdev_testbed_add_device(testbed_.get(), "block", name.c_str(), disks_.at(disk).sysPath.c_str(), "dev",
                                       number.c_str(), "partition", "1", nullptr, "DEVTYPE", "partition", "DEVNAME",
                                       name.c_str(), "MAJOR", majorText.c_str(), "MINOR", minorText.c_str(), nullptr));
    if (mounted)
        mountTable_ += "40 25 " + number + " / /mnt/" + name + " rw,relatime shared:2 - ext4 /dev/" + name + " rw\n";
}

std::string KernelBed::addController(const std::string& name, const std::string& state)
{
    return Owned(umockdev_testbed_add_device(testbed_.get(), "nvme", name.c_str(), nullptr, "state", state.c_str(),
                                             nullptr, "DEVNAME", name.c_str(), nullptr));
}

void KernelBed::addFromRecord(const std::string& record)
{
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_.get(), record.c_str(), &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev refused a device record: " + message);
    }
}

void KernelBed::addNvme(const std::string& controller, unsigned minor, const std::string& id,
                        const std::string& description, unsigned namespaces)
{
    // The namespaces are the controller's children, as without multipath.
    const std::string controllerPath = addController(controller, "live");
    for (unsigned ns = 1; ns <= namespaces; ++ns) {
        const std::string name = controller + "n" + std::to_string(ns);
        Disk disk{259, minor + ns - 1, ns == 1 ? id : id + "_" + std::to_string(ns), "nvme", ""};
        disk.sysPath = addBlockDevice(name, disk, controllerPath);
        disks_[name] = disk;
    }
    nodes_ += "/dev/" + controller + " " + description + "\n";
}

void KernelBed::addVirtualNvme(const std::string& name, unsigned minor, const std::string& id,
                               const std::string& parent,
                               const std::vector<std::pair<std::string, std::string>>& controllers,
                               const std::string& description)
{
    const std::string parentName = std::filesystem::path(parent).filename();
    const auto own = std::find_if(controllers.begin(), controllers.end(),
                                  [&](const auto& controller) { return controller.first == parentName; });
    if (own != controllers.end())
        addFromRecord("P: " + parent + "\nE: SUBSYSTEM=nvme\nE: DEVNAME=" + parentName + "\nA: state=" + own->second +
                      "\n");
    else
        addFromRecord("P: " + parent + "\nE: SUBSYSTEM=nvme-subsystem\nA: subsysnqn=nqn.2014-08.org.nvmexpress:" +
                      parentName + "\n");
    for (const auto& [controller, state] : controllers) {
        if (controller == parentName)
            continue;
        // The subsystem links each of its controllers by name, as the kernel does.
        const std::filesystem::path target = addController(controller, state);
        std::filesystem::create_directory_symlink(root() / target.relative_path(),
                                                  root() / ("sys" + parent) / controller);
    }
    std::filesystem::create_directories(root() / "dev");
    WriteFile(root() / "dev" / name, "");
    const std::string minorText = std::to_string(minor);
    addFromRecord("P: " + parent + "/" + name + "\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=" + name +
                  "\nE: MAJOR=259\nE: MINOR=" + minorText + "\nE: DEVLINKS=/dev/disk/by-id/" + id +
                  "\nE: ID_BUS=nvme\nA: dev=259:" + minorText + "\nA: size=1953525168\n");
    disks_[name] = Disk{259, minor, id, "nvme", "/sys" + parent + "/" + name};
    std::string first;
    for (const auto& [controller, state] : controllers) {
        if (state != "live")
            continue;
        nodes_ += "/dev/" + controller + " " + (first.empty() ? description : "same-as " + first) + "\n";
        if (first.empty())
            first = "/dev/" + controller;
    }
}

void KernelBed::unplug(const std::string& name, const std::string& witness)
{
    umockdev_testbed_remove_device(testbed_.get(), disks_.at(name).sysPath.c_str());
    umockdev_testbed_uevent(testbed_.get(), disks_.at(witness).sysPath.c_str(), "remove");
}

void KernelBed::replug(const std::string& name)
{
    Disk& disk = disks_.at(name);
    // umockdev's removal leaves the disk's /sys/block link behind, which would
    // stop the same name from being added again.
    std::filesystem::remove(root() / "sys" / "block" / name);
    // Adding the device sends its "add" uevent.
    disk.sysPath = addBlockDevice(name, disk);
}

Environment KernelBed::prepare() const
{
    const std::filesystem::path table = dir_.path() / "nodes";
    WriteFile(table, nodes_);
    WriteFile(root() / "proc" / "self" / "mountinfo", mountTable_);
    // umockdev_testbed_new() put UMOCKDEV_DIR into this process's environment,
    // which the program inherits.
    return {{"LD_PRELOAD", std::string(UMOCKDEV_PRELOAD) + ":" + SIM_KERNEL_PRELOAD},
            {"SIM_KERNEL_NODES", table.string()},
            {"SIM_KERNEL_STATE_DIR", (dir_.path() / "state").string()},
            {"SIM_KERNEL_FIRST_ANSWER_DELAY_MS", std::to_string(answerDelayMs_)}};
}

void KernelBed::writeConfiguration(const std::string& text)
{
    WriteFile(dir_.path() / "firmstep.ini", text);
}

void KernelBed::usePlugins(const std::string& plugins)
{
    std::string configuration = kConfiguration;
    const std::string line = "Plugins=cvpl-local,cvpl-os-devices,cvpl-ata,cvpl-scsi,cvpl-nvme\n";
    configuration.replace(configuration.find(line), line.size(), "Plugins=" + plugins + "\n");
    WriteFile(dir_.path() / "firmstep.ini", configuration);
}

void KernelBed::useConfiguration(const std::filesystem::path& source)
{
    std::filesystem::copy_file(source, dir_.path() / "firmstep.ini", std::filesystem::copy_options::overwrite_existing);
}

ProgramResult KernelBed::run(std::vector<std::string> args) const
{
    args.insert(args.end(), {"-cfg", "firmstep.ini"});
    return RunProgram(args, dir_.path(), prepare());
}

std::unique_ptr<TerminalSession> KernelBed::start(std::vector<std::string> args) const
{
    args.insert(args.end(), {"-cfg", "firmstep.ini"});
    return std::make_unique<TerminalSession>(args, dir_.path(), prepare());
}

void KernelBed::writeImage(const std::string& name, const std::string& prefix, const std::string& revision,
                           std::size_t size) const
{
    WriteFirmwareImage(dir_.path() / name, prefix, revision, size);
}

std::string KernelBed::savedRevision(const std::string& kind, const std::string& serial) const
{
    const simdrive::StateStore store(dir_.path() / "state");
    simdrive::StateRecord record;
    std::string error;
    if (store.load(kind + "-" + serial, record, error) != simdrive::StateStore::LoadResult::Loaded)
        return "";
    return record["revision"];
}

}  // namespace firmstep::test
