#include "device/hotplug/UeventTranslation.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kx::hotplug {
namespace {

constexpr std::size_t NAME_OFFSET = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);

}  // namespace

DeviceInterfaceRecord::DeviceInterfaceRecord(const Guid& classGuid, std::string_view name) {
    const std::size_t size =
        std::max(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), NAME_OFFSET + name.size() + 1);
    storage_.assign((size + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t), 0);
    auto* header = new (storage_.data()) DEV_BROADCAST_DEVICEINTERFACE_A{};
    header->dbcc_size = static_cast<std::uint32_t>(size);
    header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header->dbcc_reserved = 0;
    header->dbcc_classguid = classGuid;
    // The name runs past the declared one-byte array, as the system's records do; write it
    // through the raw storage. The zero fill already holds the terminator.
    std::memcpy(reinterpret_cast<char*>(storage_.data()) + NAME_OFFSET, name.data(), name.size());
}

std::string_view DeviceInterfaceRecord::name() const {
    const char* begin = reinterpret_cast<const char*>(storage_.data()) + NAME_OFFSET;
    return {begin, std::strlen(begin)};
}

std::optional<DeviceNotification> TranslateUevent(const Uevent& uevent) {
    if (uevent.subsystem != HIDRAW_SUBSYSTEM) {
        return std::nullopt;
    }
    std::uint32_t event = 0;
    if (uevent.action == "add") {
        event = DBT_DEVICEARRIVAL;
    } else if (uevent.action == "remove") {
        event = DBT_DEVICEREMOVECOMPLETE;
    } else {
        return std::nullopt;
    }
    const std::string& name = uevent.devnode.empty() ? uevent.sysname : uevent.devnode;
    if (name.empty()) {
        return std::nullopt;
    }
    return DeviceNotification{event, DeviceInterfaceRecord(HID_CLASS_GUID, name)};
}

}  // namespace kx::hotplug
