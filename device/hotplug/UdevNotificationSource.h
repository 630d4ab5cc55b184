#pragma once
// The Linux stand-in for RegisterDeviceNotificationA: watches hidraw uevents and hands
// each arrival and removal to the registered sinks as DBT_DEVICEARRIVAL /
// DBT_DEVICEREMOVECOMPLETE with a device-interface record of the HID class. Everything
// runs on the thread that owns this object (the UI thread): the event source's fd is
// watched by a QSocketNotifier, so there are no threads and no polling.

#include <QObject>
#include <QSocketNotifier>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/DeviceNotify.h"
#include "device/hotplug/UeventSource.h"

namespace kx::hotplug {

// The flag that asks for every interface class, not only the filter's.
inline constexpr std::uint32_t DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 0x4;

class UdevNotificationSource : public QObject, public DeviceNotificationSource {
    Q_OBJECT

  public:
    // Makes the event source when the first sink registers; returns null (with a reason in
    // `error`) when it cannot. Called again on a later registration after a failure.
    using SourceFactory = std::function<std::unique_ptr<UeventSource>(std::string* error)>;

    // Watches a libudev monitor on hidraw: udev events when udevd runs, kernel events
    // otherwise (DefaultUeventOrigin).
    explicit UdevNotificationSource(QObject* parent = nullptr);
    // Watches whatever `factory` makes; tests inject their own source this way.
    explicit UdevNotificationSource(SourceFactory factory, QObject* parent = nullptr);
    ~UdevNotificationSource() override;

    // False, registering nothing, when `sink` or `filter` is null, the filter is not a
    // device-interface record (type 5) of at least 32 bytes, `flags` holds anything but
    // DEVICE_NOTIFY_WINDOW_HANDLE and DEVICE_NOTIFY_ALL_INTERFACE_CLASSES, or the event
    // source cannot be created. Registering a sink again replaces its filter. A sink gets
    // the events of its filter's class (all classes with the flag); the sink is not owned
    // and must unregister before it is destroyed.
    bool registerDeviceNotification(DeviceChangeSink* sink,
                                    const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                    std::uint32_t flags) override;
    // Unknown sinks are ignored. Safe to call from inside a delivery.
    void unregister(DeviceChangeSink* sink) override;

    // Why the last attempt to create the event source failed; empty if it did not.
    const std::string& lastError() const { return lastError_; }

  private:
    void onReadable();
    void deliver(const DeviceNotification& notification);

    struct Registration {
        DeviceChangeSink* sink;
        Guid classGuid;
        bool allClasses;
    };

    SourceFactory factory_;
    std::unique_ptr<UeventSource> source_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<Registration> registrations_;
    std::string lastError_;
};

}  // namespace kx::hotplug
