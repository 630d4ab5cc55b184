#include "device/hotplug/linux/NotificationSource.h"

namespace kx::hotplug {

UeventNotificationSource::UeventNotificationSource()
    : UeventNotificationSource([](std::string* error) -> std::unique_ptr<UeventSource> {
          return UdevMonitorSource::create(DefaultUeventOrigin(), error);
      }) {}

UeventNotificationSource::UeventNotificationSource(SourceFactory factory)
    : factory_(std::move(factory)) {}

UeventNotificationSource::~UeventNotificationSource() = default;

bool UeventNotificationSource::registerDeviceNotification(
    DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A* filter, std::uint32_t flags) {
    if (!NotificationRegistry::IsValidRequest(sink, filter, flags)) {
        return false;
    }
    if (source_ == nullptr) {
        lastError_.clear();
        std::unique_ptr<UeventSource> source = factory_ ? factory_(&lastError_) : nullptr;
        if (source == nullptr || source->fd() < 0) {
            if (lastError_.empty()) {
                lastError_ = "no event source";
            }
            return false;
        }
        source_ = std::move(source);
    }
    registry_.add(sink, *filter, flags);
    return true;
}

void UeventNotificationSource::unregister(DeviceChangeSink* sink) {
    registry_.remove(sink);
}

int UeventNotificationSource::fd() const {
    return source_ == nullptr ? -1 : source_->fd();
}

int UeventNotificationSource::pump(int limit) {
    int taken = 0;
    for (; taken < limit && source_ != nullptr; ++taken) {
        const std::optional<Uevent> uevent = source_->receive();
        if (!uevent) {
            break;
        }
        if (const auto notification = TranslateUevent(*uevent)) {
            registry_.deliver(notification->event, *notification->record.get());
        }
    }
    return taken;
}

}  // namespace kx::hotplug
