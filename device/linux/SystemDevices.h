#pragma once
// The real program's device stack: the system's HID bus and our device library over it.
// Owns both; the library is destroyed first, so its connections close before hidapi shuts
// down. Create one per process (HidapiBus initialises hidapi).

#include "device/KxLibrary.h"
#include "device/linux/HidapiBus.h"

namespace kx {

class SystemDevices {
  public:
    SystemDevices() : library_(bus_) {}
    SystemDevices(const SystemDevices&) = delete;
    SystemDevices& operator=(const SystemDevices&) = delete;

    DeviceLibrary& library() { return library_; }
    KxLibrary& kxLibrary() { return library_; }
    HidBus& bus() { return bus_; }
    DeviceProbe& probe() { return bus_; }

  private:
    HidapiBus bus_;  // declared first: outlives the library
    KxLibrary library_;
};

}  // namespace kx
