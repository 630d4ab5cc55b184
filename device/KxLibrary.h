#pragma once
// Our device library: the fourteen KX4701 operations over any HidBus, speaking the chip
// protocol of device/Protocol.h (docs/protocol.md). Failures return 0 (or
// INVALID_DEVICE_HANDLE) and set the calling thread's last error; successes leave it as it
// was, as the system's calls do.
//
// The bus is borrowed and must outlive the library. The library owns every open
// connection; handles are small positive integers, never reused while open.
//
// Safe from several threads: the handle table takes a lock, each device's exchanges take
// its own (calls on one device wait for each other, through any of its handles; calls on
// other devices overlap), and discovery keeps one snapshot of the bus per thread, so that
// one thread's walk of the indexes is not cut by another's. A handle closed while another
// thread uses it goes when that call ends. IDENTIFY is sent at the first call that needs the
// chip (a write, a stored-settings read, KX4701GetChipInfo), never at the open: a list of
// devices sends no report.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceLibrary.h"
#include "device/DeviceLibraryExtension.h"
#include "device/HidBus.h"
#include "device/Protocol.h"

namespace kx {

// Read and write timeout of a handle until KX4701SetTimeOut changes them.
inline constexpr std::uint32_t DEFAULT_TIMEOUT_MS = 1000;

class KxLibrary : public DeviceLibrary, public DeviceLibraryExtension {
  public:
    explicit KxLibrary(HidBus& bus);
    ~KxLibrary() override;
    KxLibrary(const KxLibrary&) = delete;
    KxLibrary& operator=(const KxLibrary&) = delete;

    int KX4701DllInt() override;
    [[nodiscard]] int KX4701GetHidGuid(Guid* guid) override;
    [[nodiscard]] int KX4701GetDevicePath(std::int32_t index, char* buffer,
                                          std::uint32_t size) override;
    // Refuses (ERROR_INVALID_NAME_CODE) a path that matches two devices whose paths differ
    // only in letter case: either could be the one the caller means.
    [[nodiscard]] DeviceHandle KX4701OpenDevicePath(const char* path) override;
    int KX4701CloseDevice(DeviceHandle handle) override;
    [[nodiscard]] int KX4701GetAttributes(DeviceHandle handle, std::uint16_t* vid,
                                          std::uint16_t* pid, std::uint16_t* version) override;
    [[nodiscard]] int KX4701GetBufferLen(DeviceHandle handle, std::uint16_t* inputLength,
                                         std::uint16_t* outputLength) override;
    [[nodiscard]] int KX4701SetTimeOut(DeviceHandle handle, std::uint32_t readTimeoutMs,
                                       std::uint32_t writeTimeoutMs) override;
    [[nodiscard]] int KX4701SetDefaultRate(DeviceHandle handle, std::uint8_t baudCode,
                                           std::uint8_t parityCode, std::uint8_t stopBitsCode,
                                           std::uint8_t dataBitsCode,
                                           std::uint8_t timingByte) override;
    [[nodiscard]] int KX4701SetDeviceCfg(DeviceHandle handle, std::uint16_t vid, std::uint16_t pid,
                                         std::uint8_t maxPower, const char* manufacturer,
                                         std::uint8_t manufacturerLength, const char* product,
                                         std::uint8_t productLength, const char* serial,
                                         std::uint8_t serialLength) override;
    [[nodiscard]] int KX4701GetManufacturerString(DeviceHandle handle, char16_t* buffer,
                                                  std::uint32_t units) override;
    [[nodiscard]] int KX4701GetProductString(DeviceHandle handle, char16_t* buffer,
                                             std::uint32_t units) override;
    [[nodiscard]] int KX4701GetSerialNumberString(DeviceHandle handle, char16_t* buffer,
                                                  std::uint32_t units) override;
    [[nodiscard]] int KX4701ResetToDefault(DeviceHandle handle) override;

    // DeviceLibraryExtension
    [[nodiscard]] int KX4701GetChipInfo(DeviceHandle handle, std::uint16_t* family,
                                        std::uint16_t* firmware) override;
    [[nodiscard]] int KX4701GetDefaultRate(DeviceHandle handle, std::uint8_t* baudCode,
                                           std::uint8_t* parityCode, std::uint8_t* stopBitsCode,
                                           std::uint8_t* dataBitsCode,
                                           std::uint8_t* timingByte) override;
    [[nodiscard]] int KX4701GetDeviceCfg(DeviceHandle handle, std::uint16_t* vid,
                                         std::uint16_t* pid, std::uint8_t* maxPower,
                                         char* manufacturer, std::uint8_t* manufacturerLength,
                                         char* product, std::uint8_t* productLength, char* serial,
                                         std::uint8_t* serialLength) override;
    [[nodiscard]] int KX4701IsChip(DeviceHandle handle, int* chip) override;

    // For tests and the bench window.
    std::size_t openHandleCount() const;
    // Whether the handle answers IDENTIFY as a KX4701 (asked now if it was not yet).
    bool isIdentifiedChip(DeviceHandle handle);

  private:
    struct Open;
    // A handle in use: its device kept alive and its exchanges locked for the call.
    struct Use {
        std::shared_ptr<Open> open;
        std::unique_lock<std::mutex> lock;
        Open* operator->() const { return open.get(); }
        Open& operator*() const { return *open; }
        explicit operator bool() const { return open != nullptr; }
    };

    Use find(DeviceHandle handle);
    // Looks up a handle that identifies as a chip (IDENTIFY at the first such call); sets the
    // last error otherwise.
    Use findChip(DeviceHandle handle);
    DeviceHandle allocateHandle();
    int readString(DeviceHandle handle, HidString which, char16_t* buffer, std::uint32_t units);
    // Sends one request and polls for its final reply. On failure sets the last error and
    // returns nullopt; a final reply with a non-OK status is returned as it is.
    std::optional<protocol::Reply> exchange(Open& dev, const protocol::Frame& request);
    // exchange() plus: anything but OK is a failure with a matching last error.
    std::optional<protocol::Reply> command(Open& dev, const protocol::Frame& request);
    bool identify(Open& dev);

    HidBus& bus_;
    mutable std::mutex mutex_;  // the snapshots, the handle table and the next handle
    // Each thread's discovery: taken at index 0, served for the later ones and for opens by
    // name. One per thread that ever discovered (a few; they live as long as the library).
    std::map<std::thread::id, std::vector<HidDeviceInfo>> snapshots_;
    std::thread::id latest_;  // whose snapshot is the newest
    std::map<DeviceHandle, std::shared_ptr<Open>> handles_;
    // Each open device's exchange lock, shared by its handles (by path; gone with them).
    std::map<std::string, std::weak_ptr<std::mutex>> deviceLocks_;
    DeviceHandle nextHandle_ = 1;
};

// The last error a chip status stands for.
std::uint32_t LastErrorForStatus(protocol::Status status);

}  // namespace kx
