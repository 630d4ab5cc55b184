#include "cli/Devices.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "config/IdentityRules.h"
#include "device/DevicePath.h"
#include "device/Discovery.h"

namespace kx::cli {
namespace {

std::string Candidates(const std::vector<DeviceRecord>& records) {
    std::string out;
    for (const DeviceRecord& r : records) {
        if (!out.empty()) {
            out += ", ";
        }
        out += r.displayPath;
    }
    return out;
}

}  // namespace

std::vector<DeviceRecord> TakeInventory(Devices& devices, const std::string& onlyPath) {
    std::vector<DeviceRecord> out;
    int chips = 0;
    // The library's own open stands for the probe, so that a device is opened once (a USB
    // HID device starts its interrupt polling at every open); the probe decides only for
    // a device the library cannot open, which is listed as such when the probe can.
    for (const std::string& path : DiscoverPaths(devices.library)) {
        if (!onlyPath.empty() && !SamePathIgnoringCase(DevicePathToUtf8(path), onlyPath)) {
            continue;
        }
        DeviceRecord r;
        r.path = path;
        r.displayPath = DevicePathToUtf8(path);
        std::string error;
        auto device = DeviceSession::Open(devices, path, error);
        if (!device && !devices.probe.canOpenReadWrite(path.c_str())) {
            continue;
        }
        if (device) {
            const ReportedIdentity reported = device->readReported();
            r.opened = reported.attributes;
            r.vid = reported.vid;
            r.pid = reported.pid;
            r.version = reported.version;
            r.manufacturer = reported.manufacturer;
            r.product = reported.product;
            r.serial = reported.serial;
            r.kind = device->kind();
            r.device = std::make_shared<DeviceSession>(std::move(*device));
        }
        // Without the extension nothing tells a chip from another device: the maker's
        // library lists its own devices, so each one it can open counts.
        if (r.opened && r.mayBeChip()) {
            r.chipIndex = chips++;
        }
        out.push_back(std::move(r));
    }
    return out;
}

void IdentifyChip(DeviceRecord& r) {
    std::uint16_t firmware = 0;
    if (r.kind != ChipKind::Chip || r.device == nullptr) {
        return;
    }
    if (r.device->identify(firmware)) {
        r.firmware = firmware;
    } else {
        r.kind = ChipKind::NotChip;
    }
}

Selection SelectDevices(const std::vector<DeviceRecord>& inventory,
                        const DeviceSelector& selector) {
    Selection s;
    if (!selector.path.empty()) {
        // A path names one device, which a spelling that only case tells apart makes a guess.
        const auto found = LookUpPath(inventory.begin(), inventory.end(), selector.path,
                                      [](const DeviceRecord& r) { return r.displayPath; });
        if (found.ambiguous) {
            std::vector<DeviceRecord> alike;
            std::copy_if(inventory.begin(), inventory.end(), std::back_inserter(alike),
                         [&](const DeviceRecord& r) {
                             return SamePathIgnoringCase(r.displayPath, selector.path);
                         });
            s.error = std::to_string(alike.size()) + " devices at " + selector.path + ": " +
                      Candidates(alike) + "; they differ only in letter case, name one exactly";
        } else if (found.match == inventory.end()) {
            s.error = "no KX4701 chip at " + selector.path +
                      " (kx4701 list shows the ones that can be opened)";
        } else {
            s.devices = {*found.match};
        }
        return s;
    }
    std::vector<DeviceRecord> matches;
    std::copy_if(inventory.begin(), inventory.end(), std::back_inserter(matches),
                 [&](const DeviceRecord& r) {
                     return !selector.serial.empty()
                                ? r.chipIndex >= 0 && r.serial == selector.serial
                            : selector.index >= 0 ? r.chipIndex == selector.index
                                                  : r.chipIndex >= 0;
                 });
    const std::string named = !selector.serial.empty() ? "with serial '" + selector.serial + "'"
                              : selector.index >= 0 ? "at index " + std::to_string(selector.index)
                                                    : "attached";
    if (matches.empty()) {
        s.error = "no KX4701 chip " + named + " (kx4701 list shows the ones that can be opened)";
    } else if (matches.size() > 1 && !selector.all) {
        s.error = std::to_string(matches.size()) + " devices " + named + ": " +
                  Candidates(matches) + "; name one by path, or give --all";
    } else {
        s.devices = std::move(matches);
    }
    return s;
}

ChipReturn FollowAfterWrite(const Devices& devices, const DeviceSession& device,
                            std::vector<std::string> pathsBefore) {
    ChipReturn how = AtOldOrNewPath(device.path(), std::move(pathsBefore));
    how.wait = devices.reappearWait;
    how.poll = devices.reappearPoll;
    return how;
}

bool WritableIdentity(const StoredIdentity& id, std::string& what) {
    for (const auto& [name, text] :
         {std::pair{"manufacturer", &id.manufacturer}, std::pair{"product", &id.product},
          std::pair{"serial", &id.serial}}) {
        if (text->find('\0') != std::string::npos) {  // a reported text CP936 cannot hold
            what = "a " + std::string(name) + " text that CP936 cannot hold";
            return false;
        }
        if (text->empty() || text->size() > IDENTITY_STRING_MAX_BYTES) {
            what = "a " + std::string(name) + " text of " + std::to_string(text->size()) +
                   " bytes, which cannot be written (1 to 30)";
            return false;
        }
    }
    return true;
}

std::vector<std::string> Unverified::names() const {
    std::vector<std::string> out;
    if (maxPower) {
        out.emplace_back("max_power");
    }
    if (serialDefaults) {
        out.emplace_back("serial_defaults");
    }
    return out;
}

std::string Unverified::text() const {
    return maxPower && serialDefaults ? "bMaxPower and the serial defaults"
           : maxPower                 ? "bMaxPower"
                                      : "the serial defaults";
}

std::string Unverified::notVerified() const {
    return text() + " cannot be read back through the loaded KX4701DLL.DLL: not verified";
}

StoredIdentity IdentityChange::appliedTo(StoredIdentity base) const {
    base.maxPower = IDENTITY_MAX_POWER;
    base.vid = vid.value_or(base.vid);
    base.pid = pid.value_or(base.pid);
    base.manufacturer = manufacturer.value_or(base.manufacturer);
    base.product = product.value_or(base.product);
    base.serial = serial.value_or(base.serial);
    return base;
}

}  // namespace kx::cli
