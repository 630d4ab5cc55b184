#pragma once
// The system's HID devices through hidapi's hidraw backend (Linux; on Windows the maker's
// library reaches the chips, device/win32/). Enumeration, open and the probe reflect the devices
// present at the moment of each call; nothing is cached. The devices' strings come from sysfs
// (device/linux/DeviceStrings.h), the same under every locale.
//
// Create at most one per process: it initialises hidapi and shuts it down on destruction,
// so it must outlive every connection it opened. Safe from several threads: hidapi keeps the
// error of its last enumeration or open in one global, so those two take turns; an open
// device's calls touch only that device.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/HidBus.h"

namespace kx {

class HidapiBus : public HidBus {
  public:
    HidapiBus();
    ~HidapiBus() override;
    HidapiBus(const HidapiBus&) = delete;
    HidapiBus& operator=(const HidapiBus&) = delete;

    // Every HID interface hidapi sees; an empty list when enumeration fails. No strings and
    // report lengths of 64: an open device tells its own (its descriptor, sysfs's strings).
    std::vector<HidDeviceInfo> enumerate() override;
    // nullptr when hidapi cannot open the path.
    std::unique_ptr<HidConnection> open(const std::string& path) override;
    // open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK) succeeds (then closed at once).
    bool canOpenReadWrite(const char* path) override;

  private:
    std::mutex mutex_;  // hid_enumerate and hid_open_path
};

}  // namespace kx
