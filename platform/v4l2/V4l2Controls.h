#pragma once
// A camera's own controls (its driver's property page) read and written through libv4l2 on the
// camera's device node: every control the driver reports (brightness, contrast, white balance,
// exposure, focus, power line frequency, ...) as the platform's IAvDeviceControls. Main thread.
#include "platform/dshow/dshow.h"

#include <memory>
#include <string>

// The calls made on a device node, with ioctl's contract (0, or -1 and errno). libv4l2 on a real
// node; tests put a table of controls behind it.
class IV4l2Device {
public:
    virtual ~IV4l2Device() = default;
    virtual int Ioctl(unsigned long request, void* arg) = 0;
};

// libv4l2 on the node; nullptr when it cannot be opened or is no video device.
std::unique_ptr<IV4l2Device> OpenV4l2Device(const std::string& node);

// The device's controls: integers (range, step), switches, menus (named and integer menus) and
// buttons; disabled ones, 64-bit, string and compound ones and relative moves (which have no value
// to show) are left out. Values written are clamped to the range and put on the step; a menu
// takes only the values it lists. nullptr when the device reports no control it could show.
ComPtr<IAvDeviceControls> CreateV4l2Controls(std::unique_ptr<IV4l2Device> device);
