#pragma once
// What the command-line tool knows of the devices attached: the inventory (the devices the
// dialog would list, device/Discovery.h, each opened once to read what it reports),
// and the choice of the devices a command acts on. The devices themselves are read and
// written through device sessions (device/DeviceSession.h).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/SerialDefaults.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceLibraryExtension.h"
#include "device/DeviceNotify.h"
#include "device/DeviceSession.h"
#include "device/HidBus.h"

namespace kx::cli {

// The device stack a run works over, borrowed for the run (device/DeviceSession.h);
// `notifications` is null where no hot-plug source exists.
struct Devices : DeviceStack {
    DeviceNotificationSource* notifications = nullptr;
    // How long a chip that left after an identity change may take to come back (a USB chip
    // enumerates again with its new descriptors), and how often discovery looks for it.
    std::chrono::milliseconds reappearWait{10000};
    std::chrono::milliseconds reappearPoll{100};
    // Waits until `notifications` delivered something or the time passed; false when the
    // run must stop (Ctrl-C). Null where nothing can be waited for.
    std::function<bool(std::chrono::milliseconds)> wait = {};
    // The USB port a path's device sits on (its topology path, "1-1.3"), empty when it has
    // none; null where the host cannot tell (a chip in flight is then followed by its serial).
    std::function<std::string(const std::string& path)> portOf = {};
    // The device a path names now, as a name the system gives no other device while it runs
    // (a path may be given to the next device plugged); null where the host cannot tell.
    std::function<std::string(const std::string& path)> nodeOf = {};
    // Standard output is a terminal: provisioning's live view redraws in place.
    bool terminal = false;
    // Whether the run was asked to end (Ctrl-C): a watching run finishes the chip in hand
    // and stops. Null where nothing can ask.
    std::function<bool()> stopped = {};
};

// One device as it reports itself now. Texts are UTF-8.
struct DeviceRecord {
    std::string path;         // the library's spelling, as it must be passed back
    std::string displayPath;  // the same, as UTF-8
    bool opened = false;      // false: it could not be opened (then nothing else is known)
    std::uint16_t vid = 0, pid = 0, version = 0;
    std::string manufacturer, product, serial;
    ChipKind kind = ChipKind::Unknown;
    std::optional<std::uint16_t> firmware;  // from IDENTIFY: set by IdentifyChip
    int chipIndex = -1;                     // position among the chips in list order, -1 for others
    // The device, still open: a command goes on with it, so that no chip is identified
    // twice. Null when it could not be opened. Shared by the copies of the record.
    std::shared_ptr<DeviceSession> device;

    [[nodiscard]] bool mayBeChip() const { return kind != ChipKind::NotChip; }
};

// Every device discovery lists (or, given `onlyPath`, those whose path it names in any letter
// case), in the library's order, each opened and read; it stays open while a record holds
// it. A chip is told by its report descriptor: no device receives a report.
[[nodiscard]] std::vector<DeviceRecord> TakeInventory(Devices& devices,
                                                      const std::string& onlyPath = {});

// Asks a chip of the inventory for IDENTIFY, as a command does before it writes to it or
// shows it: sets `firmware`, or makes the kind NotChip when it does not answer as a KX4701.
// Nothing for a record of another kind.
void IdentifyChip(DeviceRecord& record);

// How a command names its devices: a path (any letter case), a serial string, or a position
// among the chips; `all` allows (and without a name asks for) every chip that matches.
struct DeviceSelector {
    std::string path;
    std::string serial;  // UTF-8
    int index = -1;
    bool all = false;
    [[nodiscard]] bool named() const { return !path.empty() || !serial.empty() || index >= 0; }
};

struct Selection {
    std::vector<DeviceRecord> devices;  // empty on failure
    std::string error;                  // on failure: one line, naming the candidates
};

// The devices `selector` names in `inventory`. None, or more than one without `all`, is a
// failure; a path may name a device that is not a chip (the caller refuses writes to it).
[[nodiscard]] Selection SelectDevices(const std::vector<DeviceRecord>& inventory,
                                      const DeviceSelector& selector);

// Whether KX4701SetDeviceCfg takes `id`'s texts (1..30 bytes each); else `what` names the
// first it does not ("a product text of 31 bytes"). Kept fields come from the chip, unchecked.
[[nodiscard]] bool WritableIdentity(const StoredIdentity& id, std::string& what);

// What a write leaves unconfirmed when the library has only the maker's fourteen functions,
// by the names the JSON documents use; empty when everything was read back.
struct Unverified {
    bool maxPower = false, serialDefaults = false;
    [[nodiscard]] bool any() const { return maxPower || serialDefaults; }
    [[nodiscard]] std::vector<std::string> names() const;  // "max_power", "serial_defaults"
    [[nodiscard]] std::string text() const;                // "bMaxPower and the serial defaults"
    // "<text()> cannot be read back through the loaded KX4701DLL.DLL: not verified"
    [[nodiscard]] std::string notVerified() const;
};

// An identity to write (set-identity's options, a profile's [identity]; texts in CP936, each
// checked by the identity rules): an empty field keeps the value of the identity it is
// applied to; set-identity's `factoryForRest` applies it to the factory identity instead.
struct IdentityChange {
    std::optional<std::uint16_t> vid, pid;
    std::optional<std::string> manufacturer, product, serial;
    bool factoryForRest = false;
    [[nodiscard]] bool complete() const { return vid && pid && manufacturer && product && serial; }
    // `base` with the given fields, and the dialog's bMaxPower.
    [[nodiscard]] StoredIdentity appliedTo(StoredIdentity base) const;
};

// How a run follows a chip that may enumerate again after `device`'s write: at its old path
// or at a path not in `pathsBefore`, within the run's wait.
[[nodiscard]] ChipReturn FollowAfterWrite(const Devices& devices, const DeviceSession& device,
                                          std::vector<std::string> pathsBefore);

}  // namespace kx::cli
