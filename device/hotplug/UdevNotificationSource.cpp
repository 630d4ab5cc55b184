#include "device/hotplug/UdevNotificationSource.h"

#include <algorithm>

namespace kx::hotplug {
namespace {

// Bounds the work of one wake-up so a flood of uevents cannot starve the UI; the notifier
// fires again while more are pending.
constexpr int MAX_EVENTS_PER_WAKEUP = 64;

std::unique_ptr<UeventSource> MakeUdevMonitor(std::string* error) {
    return UdevMonitorSource::create(DefaultUeventOrigin(), error);
}

}  // namespace

UdevNotificationSource::UdevNotificationSource(QObject* parent)
    : UdevNotificationSource(MakeUdevMonitor, parent) {}

UdevNotificationSource::UdevNotificationSource(SourceFactory factory, QObject* parent)
    : QObject(parent), factory_(std::move(factory)) {}

UdevNotificationSource::~UdevNotificationSource() {
    // The notifier watches the source's fd: stop watching before the fd closes.
    notifier_.reset();
    source_.reset();
}

bool UdevNotificationSource::registerDeviceNotification(
    DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A* filter, std::uint32_t flags) {
    if (sink == nullptr || filter == nullptr ||
        filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        filter->dbcc_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) ||
        (flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != DEVICE_NOTIFY_WINDOW_HANDLE) {
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
        notifier_ = std::make_unique<QSocketNotifier>(source_->fd(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this,
                &UdevNotificationSource::onReadable);
    }
    const Registration registration{sink, filter->dbcc_classguid,
                                    (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0};
    const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                 [sink](const Registration& r) { return r.sink == sink; });
    if (it != registrations_.end()) {
        *it = registration;
    } else {
        registrations_.push_back(registration);
    }
    return true;
}

void UdevNotificationSource::unregister(DeviceChangeSink* sink) {
    std::erase_if(registrations_, [sink](const Registration& r) { return r.sink == sink; });
}

void UdevNotificationSource::onReadable() {
    for (int i = 0; i < MAX_EVENTS_PER_WAKEUP && source_ != nullptr; ++i) {
        const std::optional<Uevent> uevent = source_->receive();
        if (!uevent) {
            return;
        }
        if (const auto notification = TranslateUevent(*uevent)) {
            deliver(*notification);
        }
    }
}

void UdevNotificationSource::deliver(const DeviceNotification& notification) {
    const DEV_BROADCAST_DEVICEINTERFACE_A* record = notification.record.get();
    // A sink may unregister itself or others while it handles the event: walk a copy and
    // skip whoever is gone by the time their turn comes.
    const std::vector<Registration> snapshot = registrations_;
    for (const Registration& r : snapshot) {
        const bool stillRegistered =
            std::any_of(registrations_.begin(), registrations_.end(),
                        [&r](const Registration& x) { return x.sink == r.sink; });
        if (stillRegistered && (r.allClasses || r.classGuid == record->dbcc_classguid)) {
            r.sink->deliverDeviceChange(notification.event, record);
        }
    }
}

}  // namespace kx::hotplug
