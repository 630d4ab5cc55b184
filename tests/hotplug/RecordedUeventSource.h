#pragma once
// A uevent source for tests: one end of a datagram socket pair, fed with uevents in the
// kernel's netlink format ("add@/devices/...\0ACTION=add\0SUBSYSTEM=hidraw\0...").

#include <string>
#include <string_view>

#include "device/hotplug/UeventSource.h"

namespace kx::hotplug::testing {

// Uevents as the kernel broadcasts them, recorded from a USB HID chip being plugged in
// and pulled out (sequence numbers and paths as on a real machine).
namespace recorded {
std::string UsbAdd();
std::string HidAdd();
std::string HidrawAdd();
std::string HidrawChange();
std::string HidrawRemove();
std::string HidBind();
std::string UsbRemove();
std::string Garbled();  // no ACTION: unreadable, must be skipped
}  // namespace recorded

class RecordedUeventSource final : public UeventSource {
  public:
    // Both ends non-blocking; `feed` writes, the source reads.
    RecordedUeventSource();
    ~RecordedUeventSource() override;

    // Writes one datagram; false if the socket refuses it.
    bool feed(std::string_view datagram);
    int fd() const override { return readEnd_; }
    std::optional<Uevent> receive() override;

    int received() const { return received_; }

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    int received_ = 0;
};

// Parses one kernel uevent datagram; nullopt without an ACTION or SUBSYSTEM.
std::optional<Uevent> ParseKernelUevent(std::string_view datagram);

}  // namespace kx::hotplug::testing
