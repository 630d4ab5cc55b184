#include "ui/qt/UdevNotificationSource.h"

namespace kx::hotplug {

UdevNotificationSource::UdevNotificationSource(QObject* parent) : QObject(parent) {}

UdevNotificationSource::UdevNotificationSource(SourceFactory factory, QObject* parent)
    : QObject(parent), events_(std::move(factory)) {}

UdevNotificationSource::~UdevNotificationSource() = default;

bool UdevNotificationSource::registerDeviceNotification(
    DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A* filter, std::uint32_t flags) {
    if (!events_.registerDeviceNotification(sink, filter, flags)) {
        return false;
    }
    if (notifier_ == nullptr) {
        // The notifier fires again while more events are pending than one pump takes.
        notifier_ = std::make_unique<QSocketNotifier>(events_.fd(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { events_.pump(); });
    }
    return true;
}

void UdevNotificationSource::unregister(DeviceChangeSink* sink) {
    events_.unregister(sink);
}

}  // namespace kx::hotplug
