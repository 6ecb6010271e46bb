// Support for the end-to-end tests over the simulated kernel: the built
// firmstep runs with the real OS devices and pass-through plug-ins, the disks
// it enumerates come from a sysfs/udev tree faked by umockdev, and the kernel
// requests its plug-ins make are answered by simulated drives (the preloaded
// simulated kernel). The drives keep their firmware in a state directory that
// the test reads back.
//
// umockdev's testbed calls that send uevents or add a device under a parent
// work only under its preload library, so a test program using this starts
// itself again with that library preloaded (sanitizer builds cannot, and skip).
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kernel_e2e_session.h"
#include "test_support.h"

using UMockdevTestbed = struct _UMockdevTestbed;

namespace firmstep::test {

// Why the tests cannot run here (no umockdev preload library, or a sanitizer
// build, which cannot preload it in front of its runtime), or "" when they can.
std::string KernelBedUnavailable();

class KernelBed {
public:
    // A fresh testbed with no disk and nothing mounted, a state directory and
    // "firmstep.ini" naming cvpl-local, cvpl-os-devices, cvpl-ata, cvpl-scsi
    // and cvpl-nvme. The program's mount and swap tables are the testbed's
    // (umockdev serves the /proc files it holds), not this machine's.
    KernelBed();
    KernelBed(const KernelBed&) = delete;
    KernelBed& operator=(const KernelBed&) = delete;

    // A whole disk "/dev/<name>" with device number major:minor and the
    // identity link "/dev/disk/by-id/<id>", answered by a drive of this
    // description ("kind=ata; ..." is a libata disk, "kind=scsi; ..." a SCSI
    // disk, "usb=<bridge>; kind=ata; ..." an ATA drive behind a USB bridge). A
    // queue limit other than 0 makes the kernel refuse requests that move more
    // than that many KiB, as a USB bridge's queue does.
    void addDisk(const std::string& name, unsigned major, unsigned minor, const std::string& id,
                 const std::string& description, unsigned maxHwSectorsKb = 0);
    // A second whole disk "/dev/<name>" that reaches the drive of disk `of`, as
    // the second port of a dual-ported disk does.
    void addSecondPath(const std::string& name, unsigned major, unsigned minor, const std::string& id,
                       const std::string& of);
    // Partition "/dev/<name>" of a disk added before, mounted or not.
    void addPartition(const std::string& disk, const std::string& name, unsigned major, unsigned minor,
                      bool mounted);
    // NVMe controller "/dev/<controller>" (an NVMe drive's description) with
    // its namespaces "/dev/<controller>n1", ... as whole disks (the description
    // names as many with "namespaces=").
    void addNvme(const std::string& controller, unsigned minor, const std::string& id,
                 const std::string& description, unsigned namespaces = 1);
    // NVMe namespace "/dev/<name>" where the kernel puts it among the virtual
    // devices: under its subsystem with native multipath (`parent`
    // "/devices/virtual/nvme-subsystem/nvme-subsys1", whose directory links
    // the controllers) or under its fabrics controller without it (`parent`
    // "/devices/virtual/nvme-fabrics/ctl/nvme3", the one controller). The
    // controllers come with their states ("live", "resetting", ...); the
    // drive answers on the node of each live one only.
    void addVirtualNvme(const std::string& name, unsigned minor, const std::string& id, const std::string& parent,
                        const std::vector<std::pair<std::string, std::string>>& controllers,
                        const std::string& description);

    // The bed's configuration with another comma-separated list of plug-ins.
    void usePlugins(const std::string& plugins);
    // Replaces the bed's "firmstep.ini" with a copy of another configuration.
    void useConfiguration(const std::filesystem::path& source);
    // Replaces the bed's "firmstep.ini" with this text.
    void writeConfiguration(const std::string& text);
    // The first SG_IO or NVMe admin request on each open disk takes this long.
    void setFirstAnswerDelay(int milliseconds) { answerDelayMs_ = milliseconds; }

    // Runs firmstep in the bed's directory with "-cfg firmstep.ini" appended.
    ProgramResult run(std::vector<std::string> args) const;
    // The same, started on a terminal for a test to drive line by line.
    std::unique_ptr<TerminalSession> start(std::vector<std::string> args) const;

    // Takes a disk away while a program runs: it leaves sysfs, and a "remove"
    // uevent of `witness`, a disk that stays, makes the plug-in look again.
    void unplug(const std::string& name, const std::string& witness);
    // Brings a disk taken away back with its identity and announces it with an "add" uevent.
    void replug(const std::string& name);

    // A firmware image in the bed's directory.
    void writeImage(const std::string& name, const std::string& prefix, const std::string& revision,
                    std::size_t size) const;
    // The revision a drive saved, by kind ("ata", "scsi", "nvme") and serial;
    // "" when it saved none.
    std::string savedRevision(const std::string& kind, const std::string& serial) const;

private:
    struct Disk {
        unsigned major = 0;
        unsigned minor = 0;
        std::string id;
        std::string bus;
        std::string sysPath;  // "/sys/devices/<name>"
    };

    std::string addBlockDevice(const std::string& name, const Disk& disk, const std::string& parent = "");
    // An NVMe controller's character device in sysfs, with its state.
    std::string addController(const std::string& name, const std::string& state);
    void addFromRecord(const std::string& record);
    std::filesystem::path root() const;
    // Writes the node and mount tables and names them to the program.
    Environment prepare() const;

    struct TestbedRelease {
        void operator()(UMockdevTestbed* testbed) const;
    };

    TempDir dir_;
    std::unique_ptr<UMockdevTestbed, TestbedRelease> testbed_;
    std::string nodes_;       // the simulated kernel's node table
    std::string mountTable_;  // /proc/self/mountinfo
    std::map<std::string, Disk> disks_;  // by name
    int answerDelayMs_ = 0;
};

}  // namespace firmstep::test
