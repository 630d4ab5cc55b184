#include "cli/Devices.h"

#include <algorithm>
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
    for (const std::string& path : DiscoverOpenablePaths(devices.library, devices.probe)) {
        if (!onlyPath.empty() && !SamePathIgnoringCase(DevicePathToUtf8(path), onlyPath)) {
            continue;
        }
        DeviceRecord r;
        r.path = path;
        r.displayPath = DevicePathToUtf8(path);
        std::string error;
        if (auto device = DeviceSession::Open(devices, path, error)) {
            const ReportedIdentity reported = device->readReported();
            r.opened = reported.attributes;
            r.vid = reported.vid;
            r.pid = reported.pid;
            r.version = reported.version;
            r.manufacturer = reported.manufacturer;
            r.product = reported.product;
            r.serial = reported.serial;
            r.kind = device->kind(r.firmware);
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

Selection SelectDevices(const std::vector<DeviceRecord>& inventory,
                        const DeviceSelector& selector) {
    Selection s;
    std::vector<DeviceRecord> matches;
    for (const DeviceRecord& r : inventory) {
        const bool match =
            !selector.path.empty()     ? SamePathIgnoringCase(r.displayPath, selector.path)
            : !selector.serial.empty() ? r.chipIndex >= 0 && r.serial == selector.serial
            : selector.index >= 0      ? r.chipIndex == selector.index
                                       : r.chipIndex >= 0;
        if (match) {
            matches.push_back(r);
        }
    }
    const std::string named = !selector.path.empty()     ? "at " + selector.path
                              : !selector.serial.empty() ? "with serial '" + selector.serial + "'"
                              : selector.index >= 0 ? "at index " + std::to_string(selector.index)
                                                    : "attached";
    if (matches.empty()) {
        s.error = "no KX4701 chip " + named + " (kx4701 list shows the ones that can be opened)";
    } else if (matches.size() > 1 && (!selector.all || !selector.path.empty())) {
        s.error = std::to_string(matches.size()) + " devices " + named + ": " +
                  Candidates(matches) +
                  (selector.path.empty() ? "; name one by path, or give --all"
                                         : "; they differ only in letter case, name one exactly");
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
