#pragma once
// An emulated KX4701 (or a plain keyboard) on a real hidraw node: the kernel's uhid driver
// makes the HID device, and every feature report the host sets or gets is answered here
// with the same chip logic as the virtual bench. Linux only; needs read/write access to
// /dev/uhid (root, usually).
//
// Each device answers the kernel on a thread of its own, so the host side may run in the
// same process (the tests do). State is read through snapshots; nothing is shared.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulation/Emulator.h"
#include "emulation/VirtualChip.h"

namespace kx::emu::uhid {

class UhidDevice {
  public:
    // A chip that presents `identity` (VID, PID, version; product as the HID name, serial as
    // the unique id) and stores what the host writes; a factory reset restores the default
    // ChipIdentity. nullptr when /dev/uhid cannot be opened or the kernel refuses the
    // device; `error` (if given) then says which step failed and why.
    [[nodiscard]] static std::unique_ptr<UhidDevice> createChip(const emu::ChipIdentity& identity,
                                                                std::string* error = nullptr);
    // A keyboard (VID 046D, PID C31C) named `name`; it fails every feature report.
    [[nodiscard]] static std::unique_ptr<UhidDevice> createKeyboard(const std::string& name,
                                                                    std::string* error = nullptr);

    // Destroys the kernel device (its hidraw node goes away) and stops the thread.
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    DeviceState state() const;
    // Chip fault knobs, as on the bench: refuse every write; answer BUSY `busyPolls` times;
    // answer writes OK and store nothing.
    void setFaults(bool refuseWrites, int busyPolls, bool forgetWrites = false);

    // The hidraw node the kernel made for this device ("/dev/hidrawN"), waiting at most
    // `timeoutMs` for it to appear (the kernel adds the device asynchronously); empty if
    // it did not appear in time.
    std::string hidrawNode(int timeoutMs) const;
    // The physical-path text this device was created with, unique per device.
    const std::string& phys() const { return phys_; }

  private:
    UhidDevice(int fd, DeviceKind kind, const emu::ChipIdentity& identity, std::string phys);
    [[nodiscard]] static std::unique_ptr<UhidDevice> create(DeviceKind kind,
                                                            const emu::ChipIdentity& identity,
                                                            std::string* error);
    void run();
    void handleEvent();
    bool write(const void* event, std::size_t size);

    int fd_;
    int stopPipe_[2] = {-1, -1};
    std::string phys_;
    mutable std::mutex mutex_;
    DeviceState state_;
    emu::VirtualChip chip_;
    std::thread thread_;
};

}  // namespace kx::emu::uhid
