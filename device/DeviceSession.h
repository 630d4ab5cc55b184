#pragma once
// One chip opened through the device library, for a front end that reads and writes it
// without knowing the library's calls: what it reports and stores, the three writes, and
// following the chip when a write makes it enumerate again. Works without our extension
// (the maker's DLL): then only what the fourteen functions read is read, and a read-back
// says which fields it could confirm. A session belongs to one thread; sessions on other
// threads may share a stack whose library allows it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/SerialDefaults.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceLibraryExtension.h"
#include "device/HidBus.h"

namespace kx {

// The device stack a session works over, borrowed. `extension` is null when the library
// cannot read stored settings (the maker's DLL).
struct DeviceStack {
    DeviceLibrary& library;
    DeviceProbe& probe;
    DeviceLibraryExtension* extension = nullptr;
};

// The identity a chip stores, as KX4701SetDeviceCfg writes it; texts are CP936.
struct StoredIdentity {
    std::uint16_t vid = 0, pid = 0;
    std::uint8_t maxPower = 0;
    std::string manufacturer, product, serial;
    friend bool operator==(const StoredIdentity&, const StoredIdentity&) = default;
};

// The factory identity a reset restores: the dialog's defaults, by design the chip's.
[[nodiscard]] StoredIdentity FactoryIdentity();

// The fields of an identity a read confirmed, as a set of bits.
enum IdentityBit : unsigned {
    FIELD_VID = 1,
    FIELD_PID = 2,
    FIELD_MAX_POWER = 4,
    FIELD_MANUFACTURER = 8,
    FIELD_PRODUCT = 16,
    FIELD_SERIAL = 32,
    ALL_IDENTITY_FIELDS = 63,
    // What the fourteen functions read: the descriptors, which carry no bMaxPower.
    REPORTED_IDENTITY_FIELDS = ALL_IDENTITY_FIELDS & ~FIELD_MAX_POWER,
};

// What a device reports of itself through the fourteen functions (its USB descriptors).
// Texts are UTF-8, empty when their read failed.
struct ReportedIdentity {
    bool attributes = false;  // false: KX4701GetAttributes failed (the ids are 0)
    std::uint16_t vid = 0, pid = 0, version = 0;
    std::string manufacturer, product, serial;
};

enum class ChipKind { Chip, NotChip, Unknown };  // Unknown: the library cannot tell

// A chip's identity read after a write, and where.
struct IdentityReadBack {
    std::string path;         // the library's spelling
    StoredIdentity identity;  // a field outside `verified` holds the expected value
    unsigned verified = 0;    // IdentityBit bits
};

// How to recognise the chip that left after a write when it comes back: the caller's
// choice, since a run over one chip can take any new path while runs side by side must
// tell their chips apart (by port, or by the new serial they wrote).
struct ChipReturn {
    // Whether the device at `path` (the library's spelling) may be the chip: only those are
    // opened and read. A device holding the expected identity is then the chip.
    std::function<bool(const std::string& path)> mayBeAt;
    // Whether a candidate holding another identity is taken, when it was the only one read
    // by the deadline, so the caller can report the mismatch.
    bool takeLoneMismatch = true;
    // The chip is known to leave after the write (a USB chip whose stored identity changed):
    // nothing is sent to it where it was. A request to a USB device on its way off the bus
    // waits out the control-transfer timeout, and on Linux every hidraw node waits with it.
    bool leaves = false;
    // How long a chip may take to enumerate again, and how often discovery looks for it.
    std::chrono::milliseconds wait{10000};
    std::chrono::milliseconds poll{100};
};

// The chip at its old path, or at any path discovery did not list before the write.
[[nodiscard]] ChipReturn AtOldOrNewPath(std::string oldPath, std::vector<std::string> pathsBefore);

// An open device; closes it when destroyed. Every failure leaves a one-line reason in
// error() (the library's last error in words) and returns false or nullopt.
class DeviceSession {
  public:
    // Opens `path`; nullopt with `error` set when the library cannot.
    [[nodiscard]] static std::optional<DeviceSession> Open(const DeviceStack& stack,
                                                           const std::string& path,
                                                           std::string& error);
    ~DeviceSession();
    DeviceSession(DeviceSession&& other) noexcept;
    DeviceSession& operator=(DeviceSession&&) = delete;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }  // where it is open now
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] bool canReadStored() const { return stack_->extension != nullptr; }

    // What the device reports; never fails as a whole (see ReportedIdentity).
    [[nodiscard]] ReportedIdentity readReported();
    // The serial string alone, as readReported has it ("" when it cannot be read).
    [[nodiscard]] std::string readReportedSerial();
    // Chip or not by its report descriptor (KX4701IsChip: sends nothing); Unknown without
    // the extension.
    [[nodiscard]] ChipKind kind();
    // The firmware version IDENTIFY tells (sent once per open device); false when the
    // device does not answer as a KX4701 or without the extension.
    [[nodiscard]] bool identify(std::uint16_t& firmware);

    // Need the extension; false (with the reason) without it or when the read fails.
    [[nodiscard]] bool readSerial(SerialDefaults& out);
    [[nodiscard]] bool readIdentity(StoredIdentity& out);
    // What the chip holds here: stored with the extension, else what it reports (in CP936,
    // `verified` telling the fields read). False with the reason.
    [[nodiscard]] bool readHeld(IdentityReadBack& out);

    [[nodiscard]] bool writeSerial(const SerialDefaults& defaults);
    // `identity`'s texts must be 1..30 bytes each (the identity rules).
    [[nodiscard]] bool writeIdentity(const StoredIdentity& identity);
    [[nodiscard]] bool factoryReset();

    // After writeIdentity or factoryReset: `expected` read back where the chip is now. When
    // the read here fails, waits (`how.wait`) for a device `how` accepts, reads what it holds
    // (stored, or reported without the extension) and, having found the chip, holds that
    // device from then on (path() tells where). False with error() when no chip could be
    // read, or when several came back holding `expected`.
    [[nodiscard]] bool followIdentity(const StoredIdentity& expected, const ChipReturn& how,
                                      IdentityReadBack& out);

  private:
    DeviceSession(const DeviceStack& stack, DeviceHandle handle, std::string path)
        : stack_(&stack), handle_(handle), path_(std::move(path)) {}
    bool failed(const char* what);

    const DeviceStack* stack_;
    DeviceHandle handle_;
    std::string path_;
    std::string error_;
};

}  // namespace kx
