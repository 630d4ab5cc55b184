#pragma once
// The backends the device library conformance suite runs over. Each trait owns a bus and a
// KxLibrary on top of it (through CountingBus, so every backend can be checked for
// enumerations per refresh), and says which device the read-only tests should use.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/HidapiBus.h"
#include "device/KxLibrary.h"
#include "device/Protocol.h"
#include "device/VirtualBench.h"

namespace kx::testing {

// Passes everything through and counts enumerations.
class CountingBus : public HidBus {
  public:
    explicit CountingBus(HidBus& inner) : inner_(inner) {}
    std::vector<HidDeviceInfo> enumerate() override {
        ++enumerations;
        return inner_.enumerate();
    }
    std::unique_ptr<HidConnection> open(const std::string& path) override {
        return inner_.open(path);
    }
    bool canOpenReadWrite(const char* path) override { return inner_.canOpenReadWrite(path); }

    int enumerations = 0;

  private:
    HidBus& inner_;
};

// The in-process bench: always available, fully controllable.
class BenchBackend {
  public:
    static constexpr const char* NAME = "bench";
    BenchBackend() {
        chipId_ = bench_.plugChip();
        bench_.plugPlainHid();
    }
    bool available() const { return true; }
    bench::VirtualBench* bench() { return &bench_; }
    HidBus& bus() { return bench_; }
    CountingBus& counting() { return counting_; }
    KxLibrary& library() { return library_; }
    // The chip the read-only tests use.
    std::string chipPath() const { return bench_.device(chipId_)->path; }
    int chipId() const { return chipId_; }

  private:
    bench::VirtualBench bench_;
    CountingBus counting_{bench_};
    KxLibrary library_{counting_};
    int chipId_ = 0;
};

// The system's hidraw devices: only read-only tests, and only when a KX4701 is present.
class HidrawBackend {
  public:
    static constexpr const char* NAME = "hidraw";
    HidrawBackend() {
        for (const HidDeviceInfo& info : bus_.enumerate()) {
            if (info.usagePage == protocol::VENDOR_USAGE_PAGE &&
                bus_.canOpenReadWrite(info.path.c_str())) {
                chipPath_ = info.path;
                break;
            }
        }
    }
    bool available() const { return chipPath_.has_value(); }
    bench::VirtualBench* bench() { return nullptr; }
    HidBus& bus() { return bus_; }
    CountingBus& counting() { return counting_; }
    KxLibrary& library() { return library_; }
    std::string chipPath() const { return chipPath_.value_or(""); }
    int chipId() const { return -1; }  // not a bench device

  private:
    HidapiBus bus_;
    CountingBus counting_{bus_};
    KxLibrary library_{counting_};
    std::optional<std::string> chipPath_;
};

}  // namespace kx::testing
