#pragma once
// The bench program's device stack: a virtual bench of chips and our device library over
// it. Owns both; the library is destroyed before the bench it borrows.

#include "device/KxLibrary.h"
#include "emulation/VirtualBench.h"

namespace kx::emu {

class BenchDevices {
  public:
    BenchDevices() : library_(bench_) {}
    BenchDevices(const BenchDevices&) = delete;
    BenchDevices& operator=(const BenchDevices&) = delete;

    VirtualBench& bench() { return bench_; }
    DeviceLibrary& library() { return library_; }
    KxLibrary& kxLibrary() { return library_; }
    DeviceProbe& probe() { return bench_; }
    DeviceNotificationSource& notifications() { return bench_; }

  private:
    VirtualBench bench_;  // declared first: outlives the library
    KxLibrary library_;
};

}  // namespace kx::emu
