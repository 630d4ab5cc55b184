#include "device/NotificationRegistry.h"

#include <algorithm>

namespace kx {

bool NotificationRegistry::IsValidRequest(const DeviceChangeSink* sink,
                                          const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                          std::uint32_t flags) {
    return sink != nullptr && filter != nullptr &&
           filter->dbcc_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) &&
           filter->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
           (flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) == DEVICE_NOTIFY_WINDOW_HANDLE;
}

void NotificationRegistry::add(DeviceChangeSink* sink,
                               const DEV_BROADCAST_DEVICEINTERFACE_A& filter, std::uint32_t flags) {
    const Registration registration{sink, ClassGuidOf(filter),
                                    (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0};
    const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                 [sink](const Registration& r) { return r.sink == sink; });
    if (it != registrations_.end()) {
        *it = registration;
    } else {
        registrations_.push_back(registration);
    }
}

void NotificationRegistry::remove(DeviceChangeSink* sink) {
    std::erase_if(registrations_, [sink](const Registration& r) { return r.sink == sink; });
}

bool NotificationRegistry::contains(const DeviceChangeSink* sink) const {
    return std::any_of(registrations_.begin(), registrations_.end(),
                       [sink](const Registration& r) { return r.sink == sink; });
}

template <typename Wanted>
void NotificationRegistry::deliverIf(std::uint32_t event, const void* data, Wanted wanted) {
    const std::vector<Registration> snapshot = registrations_;
    for (const Registration& r : snapshot) {
        if (contains(r.sink) && wanted(r)) {
            r.sink->deliverDeviceChange(event, data);
        }
    }
}

void NotificationRegistry::deliver(std::uint32_t event,
                                   const DEV_BROADCAST_DEVICEINTERFACE_A& record) {
    const Guid classGuid = ClassGuidOf(record);
    deliverIf(event, &record,
              [&](const Registration& r) { return r.allClasses || r.classGuid == classGuid; });
}

void NotificationRegistry::deliverToAll(std::uint32_t event, const void* data) {
    deliverIf(event, data, [](const Registration&) { return true; });
}

}  // namespace kx
