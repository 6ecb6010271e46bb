// cvpl-os-devices: the load and unload entry points over libudev.
#include <corvane.h>

#include <memory>

#include "os_devices.h"
#include "udev_system.h"

namespace {

std::unique_ptr<os_devices::UdevSystem> system_;

int Load(CvUID, const StringMap* settings, CvError* error)
{
    system_ = std::make_unique<os_devices::UdevSystem>();
    if (os_devices::Start(*system_, settings, os_devices::Timing{}, error) == 0) {
        system_.reset();
        return 0;
    }
    return 1;
}

int Unload(CvError* error)
{
    if (os_devices::Stop(error) == 0) return 0;
    system_.reset();
    return 1;
}

}  // namespace

CV_DEFINE_PLUGIN("OS Devices Plugin", "Provides a list of devices to access", "1.12.7.3", "", "", "", Load, Unload);
