#pragma once
// From one Linux uevent to the device-change notification a window would receive for it.
// Pure: no system calls, so the mapping can be checked against recorded events.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceNotify.h"

namespace kx::hotplug {

// hidraw nodes are the HID interfaces: every notification made here carries
// HID_CLASS_GUID (device/DeviceLibrary.h) as its class.
inline constexpr std::string_view HIDRAW_SUBSYSTEM = "hidraw";

// The fields of a uevent that matter here; an empty string is a missing field.
struct Uevent {
    std::string action;     // "add", "remove", "change", "bind", ...
    std::string subsystem;  // "hidraw", "usb", "hid", ...
    std::string devnode;    // "/dev/hidraw0"
    std::string sysname;    // "hidraw0"
};

// A DEV_BROADCAST_DEVICEINTERFACE_A record, laid out exactly as the 32-byte header (size,
// type 5, reserved 0, class GUID) followed by the device's name and a terminator, as the
// system passes interface names. dbcc_size counts the name; it is never less than 32.
// Owns its storage; the pointer from get() lives as long as the record.
class DeviceInterfaceRecord {
  public:
    DeviceInterfaceRecord(const Guid& classGuid, std::string_view name);

    const DEV_BROADCAST_DEVICEINTERFACE_A* get() const {
        return reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(storage_.data());
    }
    std::string_view name() const;

  private:
    std::vector<std::uint32_t> storage_;  // 4-byte units: the record's own alignment
};

struct DeviceNotification {
    std::uint32_t event;  // DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    DeviceInterfaceRecord record;
};

// "add" of a hidraw node gives an arrival, "remove" a removal; the record is named by the
// device node (or by the sysname when the node is unknown). Everything else gives nothing:
// other actions (change, bind, unbind, move, online, offline), other subsystems, and
// events that lack the action, the subsystem or both names.
[[nodiscard]] std::optional<DeviceNotification> TranslateUevent(const Uevent& uevent);

}  // namespace kx::hotplug
