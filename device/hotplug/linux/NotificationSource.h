#pragma once
// The Linux stand-in for RegisterDeviceNotificationA, without any event loop: watches
// hidraw uevents and hands each arrival and removal to the registered sinks as
// DBT_DEVICEARRIVAL / DBT_DEVICEREMOVECOMPLETE with a device-interface record of the HID
// class. Whoever owns it watches fd() and calls pump() when it is readable: the dialog
// through a QSocketNotifier (ui/qt/UdevNotificationSource), the command-line tool with poll().
// Everything runs on the owner's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/DeviceNotify.h"
#include "device/NotificationRegistry.h"
#include "device/hotplug/linux/UeventSource.h"

namespace kx::hotplug {

class UeventNotificationSource final : public DeviceNotificationSource {
  public:
    // Makes the event source when the first sink registers; returns null (with a reason in
    // `error`) when it cannot. Called again on a later registration after a failure.
    using SourceFactory = std::function<std::unique_ptr<UeventSource>(std::string* error)>;

    // A libudev monitor on hidraw: udev events when udevd runs, kernel events otherwise
    // (DefaultUeventOrigin).
    UeventNotificationSource();
    // Whatever `factory` makes; tests inject their own source this way.
    explicit UeventNotificationSource(SourceFactory factory);
    ~UeventNotificationSource() override;
    UeventNotificationSource(const UeventNotificationSource&) = delete;
    UeventNotificationSource& operator=(const UeventNotificationSource&) = delete;

    // False, registering nothing, when NotificationRegistry refuses the request or the event
    // source cannot be created. The sink is not owned and must unregister before it is
    // destroyed.
    [[nodiscard]] bool registerDeviceNotification(DeviceChangeSink* sink,
                                                  const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                                  std::uint32_t flags) override;
    void unregister(DeviceChangeSink* sink) override;

    // Readable while events are pending; -1 until a registration has made the event source.
    [[nodiscard]] int fd() const;
    // Takes the pending events, at most `limit` of them so that a flood cannot starve the
    // owner's other work, and delivers each. Returns how many it took.
    int pump(int limit = 64);

    // Why the last attempt to create the event source failed; empty if it did not.
    const std::string& lastError() const { return lastError_; }

  private:
    SourceFactory factory_;
    std::unique_ptr<UeventSource> source_;
    NotificationRegistry registry_;
    std::string lastError_;
};

}  // namespace kx::hotplug
