#pragma once
// Where uevents come from: a file descriptor that becomes readable when events are
// pending, and a call that takes one. The real source is a libudev monitor on the hidraw
// subsystem; tests put their own source behind the same interface.

#include <memory>
#include <optional>
#include <string>

#include "device/hotplug/UeventTranslation.h"

namespace kx::hotplug {

class UeventSource {
  public:
    virtual ~UeventSource() = default;
    // Readable while events are pending; owned by the source, valid for its lifetime.
    virtual int fd() const = 0;
    // Takes one pending event without blocking. nullopt when none is pending, or when the
    // pending message was unreadable (it is consumed then; the fd tells whether more wait).
    virtual std::optional<Uevent> receive() = 0;
};

// Which netlink group a libudev monitor listens to. "udev" events come after udevd has
// processed the device (node created, permissions set); "kernel" events come straight
// from the kernel and are the only ones where no udevd runs (containers).
enum class UeventOrigin { Udev, Kernel };

// Udev when a udev daemon runs (its control socket /run/udev/control exists), else Kernel.
UeventOrigin DefaultUeventOrigin();

// A libudev monitor filtered to the hidraw subsystem, receiving enabled, non-blocking.
class UdevMonitorSource final : public UeventSource {
  public:
    // nullptr when libudev cannot create, filter or enable the monitor; `error` (if given)
    // then says which step failed and why.
    [[nodiscard]] static std::unique_ptr<UdevMonitorSource> create(UeventOrigin origin,
                                                                   std::string* error = nullptr);
    ~UdevMonitorSource() override;
    UdevMonitorSource(const UdevMonitorSource&) = delete;
    UdevMonitorSource& operator=(const UdevMonitorSource&) = delete;

    int fd() const override;
    std::optional<Uevent> receive() override;

  private:
    struct Handles;
    explicit UdevMonitorSource(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

}  // namespace kx::hotplug
