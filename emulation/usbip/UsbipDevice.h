#pragma once
// An emulated KX4701 (or plain keyboard) on a real USB bus: the kernel's USB/IP virtual host
// controller (vhci-hcd) attaches it to one of its ports over a loopback TCP connection, so
// usbcore enumerates it and usbhid binds it as it would a chip on a cable. Every transfer is
// answered by EmulatedDevice. After an identity write or factory reset the chip re-enumerates:
// it detaches its port once the host has read the reply, and attaches again with its new
// descriptors REENUMERATION_DELAY_MS later. Linux only; needs root (the vhci sysfs files).
//
// Each device serves the kernel on a thread of its own, so the host side may run in the same
// process (the tests do). State is read through snapshots; nothing is shared.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "emulation/Emulator.h"
#include "emulation/usbip/EmulatedDevice.h"

namespace kx::emu::usbip {

// How long a re-enumerating chip stays off the bus (docs/protocol.md).
inline constexpr int REENUMERATION_DELAY_MS = 200;

// One port of the virtual host controller, as its status file lists it.
struct VhciPort {
    bool highSpeedHub = true;  // "hs" (USB 2.0 and slower) or "ss"
    unsigned port = 0;         // the number the attach and detach files take
    unsigned status = 0;       // 4: free, 6: in use
    std::string busid;         // the USB device's name in sysfs once enumerated ("3-1")
    friend bool operator==(const VhciPort&, const VhciPort&) = default;
};
inline constexpr unsigned VHCI_PORT_FREE = 4;

// The lines of /sys/devices/platform/vhci_hcd.0/status (and status.N); the header and any line
// that is not a port are skipped. Pure.
[[nodiscard]] std::vector<VhciPort> ParseVhciStatus(std::string_view text);

// The free USB 2.0 ports to attach to, in the order to try them: the port the device had
// first (a chip enumerating again stays on its hub's port, as on a cable), then the others
// but those `reserved` (ports whose chips are off the bus to enumerate again).
[[nodiscard]] std::vector<unsigned> PortsToTry(const std::vector<VhciPort>& ports,
                                               std::optional<unsigned> had,
                                               const std::set<unsigned>& reserved = {});

class UsbipDevice {
  public:
    // A chip that presents and stores `identity`; a factory reset restores the default
    // ChipIdentity. nullptr when vhci-hcd is missing, no port is free or the kernel refuses
    // the attachment; `error` (if given) then says which step failed and why.
    [[nodiscard]] static std::unique_ptr<UsbipDevice> createChip(const emu::ChipIdentity& identity,
                                                                 std::string* error = nullptr);
    // A boot keyboard presenting `identity` (by default a keyboard's own ids and `name`).
    [[nodiscard]] static std::unique_ptr<UsbipDevice> createKeyboard(
        const emu::ChipIdentity& identity, std::string* error = nullptr);
    [[nodiscard]] static emu::ChipIdentity KeyboardIdentity(const std::string& name);

    // Detaches the port (the USB device and its hidraw node go away) and stops the thread.
    ~UsbipDevice();
    UsbipDevice(const UsbipDevice&) = delete;
    UsbipDevice& operator=(const UsbipDevice&) = delete;

    emu::DeviceState state() const;
    // Chip fault knobs, as on the bench: refuse every write; answer BUSY `busyPolls` times;
    // answer writes OK and store nothing.
    void setFaults(bool refuseWrites, int busyPolls, bool forgetWrites = false);
    // How often the device has been attached: 1, plus one per re-enumeration.
    int attachments() const;

    // The hidraw node of the current attachment ("/dev/hidrawN"), waiting at most `timeoutMs`
    // for usbcore and usbhid to make it; empty if it did not appear in time.
    std::string hidrawNode(int timeoutMs) const;
    // The USB device's sysfs folder of the current attachment, empty while detached.
    std::string usbDevicePath() const;

  private:
    explicit UsbipDevice(EmulatedDevice device);
    [[nodiscard]] static std::unique_ptr<UsbipDevice> start(EmulatedDevice device,
                                                            std::string* error);
    bool attach(std::string* error);
    void detach();
    void awaitRepliesTaken() const;
    void run();
    bool serve();  // false when the connection ended
    bool handle(std::vector<std::uint8_t>& buffer);

    int socket_ = -1;
    int kernelEnd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::optional<unsigned> port_;
    std::optional<unsigned> lastPort_;  // where it was attached last, kept while detached
    mutable std::mutex mutex_;
    EmulatedDevice device_;
    std::vector<std::uint32_t> pendingIn_;  // interrupt IN URBs held until unlinked
    int attachments_ = 0;
    std::thread thread_;
};

}  // namespace kx::emu::usbip
