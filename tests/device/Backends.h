#pragma once
// The backends the device library conformance suite runs over. Each owns a bus and a
// KxLibrary on top of it (through CountingBus, so every backend can be checked for
// enumerations per refresh), and says which device the read-only tests should use. rig()
// plugs, unplugs and inspects devices for the write tests (null where there is none): the
// bench itself, or emulated chips on real hidraw nodes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/HidapiBus.h"
#include "device/KxLibrary.h"
#include "device/LastError.h"
#include "device/Protocol.h"
#include "device/VirtualBench.h"
#include "device/uhid/UhidDevice.h"

namespace kx::testing {

// The call returned `failed` and left last error `code`.
inline ::testing::AssertionResult FailsWith(long long result, std::uint32_t code,
                                            long long failed = 0) {
    if (result == failed && GetLastError() == code) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "returned " << result << ", last error " << GetLastError() << ", not " << code;
}

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

// Emulated devices through /dev/uhid in this process, with the bench's interface: a
// replugged device may come back under a new path.
class UhidRig {
  public:
    int plugChip(const bench::ChipIdentity& identity = {}) { return plug(true, identity); }
    int plugPlainHid(const std::string& product) {
        return plug(false, {0, 0, 0, "", product, "", 0});
    }
    bool unplug(int id) {
        if (!device(id)) {
            return false;
        }
        entries_[id].identity = entries_[id].device->state().identity;
        entries_[id].device.reset();
        return true;
    }
    bool replug(int id) {
        return id >= 0 && id < int(entries_.size()) && !device(id) && create(entries_[id]);
    }
    std::optional<bench::DeviceSnapshot> device(int id) const {
        if (id < 0 || id >= int(entries_.size()) || !entries_[id].device) {
            return std::nullopt;
        }
        const Entry& e = entries_[id];
        const uhid::DeviceState s = e.device->state();
        return bench::DeviceSnapshot{id, e.path, e.chip, false, s.identity, s.serial, s.setReports};
    }

  private:
    struct Entry {
        bool chip;
        bench::ChipIdentity identity;
        std::string path;
        std::unique_ptr<uhid::UhidDevice> device;
    };
    int plug(bool chip, const bench::ChipIdentity& identity) {
        entries_.push_back({chip, identity, "", nullptr});
        return create(entries_.back()) ? int(entries_.size()) - 1 : -1;
    }
    static bool create(Entry& e) {
        std::string error;
        e.device = e.chip ? uhid::UhidDevice::createChip(e.identity, &error)
                          : uhid::UhidDevice::createKeyboard(e.identity.product, &error);
        EXPECT_TRUE(e.device != nullptr) << error;
        e.path = e.device ? e.device->hidrawNode(5000) : "";
        EXPECT_FALSE(e.path.empty()) << "no hidraw node appeared";
        return !e.path.empty();
    }
    std::vector<Entry> entries_;
};

class BenchBackend {
  public:
    static constexpr const char* NAME = "bench";
    BenchBackend() : chipId_(bench_.plugChip()) { bench_.plugPlainHid(); }
    bool available() const { return true; }
    bench::VirtualBench* rig() { return &bench_; }
    HidBus& bus() { return bench_; }
    CountingBus& counting() { return counting_; }
    KxLibrary& library() { return library_; }
    std::string chipPath() const { return bench_.device(chipId_)->path; }
    int chipId() const { return chipId_; }

  private:
    bench::VirtualBench bench_;
    int chipId_;
    CountingBus counting_{bench_};
    KxLibrary library_{counting_};
};

// The system's hidraw devices: read-only tests on the first KX4701 present. With
// KX_EMULATED_HIDRAW=1 (set only by the VM test, where /dev/uhid is ours) the backend plugs an
// emulated chip and a keyboard of its own and runs the write tests too; a user's chip is
// never written to.
class HidrawBackend {
  public:
    static constexpr const char* NAME = "hidraw";
    HidrawBackend() {
        if (const char* e = std::getenv("KX_EMULATED_HIDRAW"); e && e == std::string("1")) {
            rig_ = std::make_unique<UhidRig>();
            chipId_ = rig_->plugChip({});
            rig_->plugPlainHid("USB Keyboard");
            if (const auto chip = rig_->device(chipId_)) {
                chipPath_ = chip->path;
            }
            return;
        }
        for (const HidDeviceInfo& info : bus_.enumerate()) {
            if (info.usagePage == protocol::VENDOR_USAGE_PAGE &&
                bus_.canOpenReadWrite(info.path.c_str())) {
                chipPath_ = info.path;
                break;
            }
        }
    }
    bool available() const { return chipPath_.has_value(); }
    UhidRig* rig() { return rig_.get(); }
    HidBus& bus() { return bus_; }
    CountingBus& counting() { return counting_; }
    KxLibrary& library() { return library_; }
    std::string chipPath() const { return chipPath_.value_or(""); }
    int chipId() const { return chipId_; }  // the rig's id; -1 for a user's chip

  private:
    std::unique_ptr<UhidRig> rig_;  // before the bus: its devices outlive every connection
    int chipId_ = -1;
    HidapiBus bus_;
    CountingBus counting_{bus_};
    KxLibrary library_{counting_};
    std::optional<std::string> chipPath_;
};

}  // namespace kx::testing
