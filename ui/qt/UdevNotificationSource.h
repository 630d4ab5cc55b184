#pragma once
// The dialog's hot-plug source on Linux: UeventNotificationSource with its fd watched by a
// QSocketNotifier on the thread that owns this object (the UI thread), so there are no
// threads and no polling. Registration rules and delivery are UeventNotificationSource's.

#include <QObject>
#include <QSocketNotifier>

#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceNotify.h"
#include "device/hotplug/linux/NotificationSource.h"

namespace kx::hotplug {

class UdevNotificationSource : public QObject, public DeviceNotificationSource {
    Q_OBJECT

  public:
    using SourceFactory = UeventNotificationSource::SourceFactory;

    explicit UdevNotificationSource(QObject* parent = nullptr);
    // Watches whatever `factory` makes; tests inject their own source this way.
    explicit UdevNotificationSource(SourceFactory factory, QObject* parent = nullptr);
    ~UdevNotificationSource() override;

    [[nodiscard]] bool registerDeviceNotification(DeviceChangeSink* sink,
                                                  const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                                  std::uint32_t flags) override;
    void unregister(DeviceChangeSink* sink) override;

    const std::string& lastError() const { return events_.lastError(); }

  private:
    UeventNotificationSource events_;
    std::unique_ptr<QSocketNotifier> notifier_;  // destroyed first: it watches events_' fd
};

}  // namespace kx::hotplug
