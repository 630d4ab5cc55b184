#pragma once
// The backends the device library conformance suite runs over. Each owns a bus and a
// KxLibrary on top of it, and says which chip the read-only tests use (none: they skip).
// rig() plugs, unplugs and inspects devices for the write tests (null where there is none):
// the bench itself, or emulated chips on real hidraw nodes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/KxLibrary.h"
#include "device/LastError.h"
#include "device/Protocol.h"
#include "device/linux/HidapiBus.h"
#include "emulation/VirtualBench.h"
#include "emulation/uhid/UhidDevice.h"

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

// Emulated devices through /dev/uhid in this process, with the bench's interface: a
// replugged device may come back under a new path.
class UhidRig {
  public:
    int plugChip(const emu::ChipIdentity& identity = {}) { return plug(true, identity); }
    int plugPlainHid(const std::string& name) { return plug(false, {0, 0, 0, "", name, "", 0}); }
    // Ids are this rig's own; std::out_of_range for one it never handed out.
    bool unplug(int id) {
        Entry& e = entries_.at(id);
        if (!e.device) {
            return false;
        }
        e.identity = e.device->state().identity;
        e.device.reset();
        return true;
    }
    bool replug(int id) { return !entries_.at(id).device && create(entries_.at(id)); }
    std::optional<emu::DeviceSnapshot> device(int id) const {
        const Entry& e = entries_.at(id);
        if (!e.device) {
            return std::nullopt;
        }
        const emu::DeviceState s = e.device->state();
        return emu::DeviceSnapshot{id, e.path, e.chip, false, s.identity, s.serial, s.setReports};
    }

  private:
    struct Entry {
        bool chip;
        emu::ChipIdentity identity;
        std::string path;
        std::unique_ptr<emu::uhid::UhidDevice> device;
    };
    int plug(bool chip, const emu::ChipIdentity& identity) {
        entries_.push_back({chip, identity, "", nullptr});
        return create(entries_.back()) ? int(entries_.size()) - 1 : -1;
    }
    static bool create(Entry& e) {
        std::string error;
        e.device = e.chip ? emu::uhid::UhidDevice::createChip(e.identity, &error)
                          : emu::uhid::UhidDevice::createKeyboard(e.identity.product, &error);
        EXPECT_TRUE(e.device != nullptr) << error;
        e.path = e.device ? e.device->hidrawNode(5000) : "";
        EXPECT_FALSE(e.path.empty()) << "no hidraw node appeared";
        return !e.path.empty();
    }
    std::vector<Entry> entries_;
};

struct BenchBackend {
    static constexpr const char* NAME = "bench";
    BenchBackend() { bus.plugPlainHid(); }
    emu::VirtualBench* rig() { return &bus; }

    emu::VirtualBench bus;
    int chipId = bus.plugChip();
    std::optional<std::string> chipPath = bus.device(chipId)->path;
    KxLibrary library{bus};
};

// The system's hidraw devices: read-only tests on the first KX4701 present, never written to.
// With KX_EMULATED_HIDRAW=1 (set only by the VM test, where /dev/uhid is ours) it plugs an
// emulated chip and a keyboard of its own and runs the write tests on them.
struct HidrawBackend {
    static constexpr const char* NAME = "hidraw";
    HidrawBackend() {
        if (const char* e = std::getenv("KX_EMULATED_HIDRAW"); e && e == std::string("1")) {
            emulated = std::make_unique<UhidRig>();
            chipId = emulated->plugChip({});
            emulated->plugPlainHid("USB Keyboard");
            if (const auto chip = emulated->device(chipId)) {
                chipPath = chip->path;
            }
            return;
        }
        for (const HidDeviceInfo& info : bus.enumerate()) {
            if (info.usagePage == protocol::VENDOR_USAGE_PAGE &&
                bus.canOpenReadWrite(info.path.c_str())) {
                chipPath = info.path;
                break;
            }
        }
    }
    UhidRig* rig() { return emulated.get(); }

    std::unique_ptr<UhidRig> emulated;  // before the bus: its devices outlive every connection
    int chipId = -1;                    // the rig's id; -1 for a user's chip
    std::optional<std::string> chipPath;
    HidapiBus bus;
    KxLibrary library{bus};
};

}  // namespace kx::testing
