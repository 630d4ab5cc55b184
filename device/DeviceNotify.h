#pragma once
// Device-change notifications as the system delivers them to a window, and the
// registration that asks for them. On Windows the records and codes come from <dbt.h>;
// elsewhere they are defined here with the same layout and values.

#include <cstdint>
#include <cstring>

#include "device/DeviceLibrary.h"

#ifdef _WIN32
#include "config/win32/WinApi.h"
#else
namespace kx {

inline constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;
inline constexpr std::uint32_t WM_USER = 0x0400;

inline constexpr std::uint32_t DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEQUERYREMOVE = 0x8001;
inline constexpr std::uint32_t DBT_DEVICEREMOVEPENDING = 0x8003;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

inline constexpr std::uint32_t DBT_DEVTYP_OEM = 0;
inline constexpr std::uint32_t DBT_DEVTYP_VOLUME = 2;
inline constexpr std::uint32_t DBT_DEVTYP_PORT = 3;
inline constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;
inline constexpr std::uint32_t DBT_DEVTYP_HANDLE = 6;

inline constexpr std::uint32_t DEVICE_NOTIFY_WINDOW_HANDLE = 0;

struct DEV_BROADCAST_HDR {
    std::uint32_t dbch_size;
    std::uint32_t dbch_devicetype;
    std::uint32_t dbch_reserved;
};

struct DEV_BROADCAST_DEVICEINTERFACE_A {
    std::uint32_t dbcc_size;
    std::uint32_t dbcc_devicetype;
    std::uint32_t dbcc_reserved;
    Guid dbcc_classguid;
    char dbcc_name[1];
};
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

}  // namespace kx
#endif

namespace kx {

// The record's class GUID is the system's GUID on Windows and ours elsewhere: the same 16
// bytes either way, so these copy it across.
static_assert(sizeof(Guid) == 16 && sizeof(DEV_BROADCAST_DEVICEINTERFACE_A::dbcc_classguid) == 16);
inline Guid ClassGuidOf(const DEV_BROADCAST_DEVICEINTERFACE_A& record) {
    Guid guid;
    std::memcpy(&guid, &record.dbcc_classguid, sizeof guid);
    return guid;
}
inline void SetClassGuid(DEV_BROADCAST_DEVICEINTERFACE_A& record, const Guid& guid) {
    std::memcpy(&record.dbcc_classguid, &guid, sizeof guid);
}

// The filter the dialog and the command line register with: arrivals and removals of the
// device interfaces of `classGuid` (what KX4701GetHidGuid reports).
inline DEV_BROADCAST_DEVICEINTERFACE_A DeviceInterfaceFilter(const Guid& classGuid) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SetClassGuid(filter, classGuid);
    return filter;
}

// Receives notifications the way a window receives WM_DEVICECHANGE: `data` points to a
// broadcast record owned by the caller for the duration of the call, or is null for
// events that carry none. Called on the UI thread.
class DeviceChangeSink {
  public:
    virtual ~DeviceChangeSink() = default;
    virtual void deliverDeviceChange(std::uint32_t event, const void* data) = 0;
};

// Stands in for RegisterDeviceNotificationA. After a successful registration the source
// delivers arrivals and removals of devices of the filter's class to `sink` until the
// sink unregisters (or the source is destroyed). The sink must outlive its registration.
class DeviceNotificationSource {
  public:
    virtual ~DeviceNotificationSource() = default;
    // Returns false, registering nothing, when the filter is malformed or the platform
    // cannot watch devices.
    [[nodiscard]] virtual bool registerDeviceNotification(
        DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
        std::uint32_t flags) = 0;
    virtual void unregister(DeviceChangeSink* sink) = 0;
};

}  // namespace kx
