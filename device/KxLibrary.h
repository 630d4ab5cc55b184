#pragma once
// Our device library: the fourteen KX4701 operations over any HidBus, speaking the chip
// protocol of device/Protocol.h (docs/protocol.md). Failures return 0 (or
// INVALID_DEVICE_HANDLE) and set the calling thread's last error; successes leave it as it
// was, as the system's calls do.
//
// The bus is borrowed and must outlive the library. The library owns every open
// connection; handles are small positive integers, never reused while open.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
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

    // For tests and the bench window.
    std::size_t openHandleCount() const { return handles_.size(); }
    // Whether the handle answered IDENTIFY as a KX4701 when it was opened.
    bool isIdentifiedChip(DeviceHandle handle) const;

  private:
    struct Open;

    Open* find(DeviceHandle handle);
    // Looks up a handle that identified as a chip; sets the last error otherwise.
    Open* findChip(DeviceHandle handle);
    DeviceHandle allocateHandle();
    int readString(DeviceHandle handle, HidString which, char16_t* buffer, std::uint32_t units);
    // Sends one request and polls for its final reply. On failure sets the last error and
    // returns nullopt; a final reply with a non-OK status is returned as it is.
    std::optional<protocol::Reply> exchange(Open& dev, const protocol::Frame& request);
    // exchange() plus: anything but OK is a failure with a matching last error.
    std::optional<protocol::Reply> command(Open& dev, const protocol::Frame& request);
    bool identify(Open& dev);

    HidBus& bus_;
    std::vector<HidDeviceInfo> snapshot_;
    bool haveSnapshot_ = false;
    std::map<DeviceHandle, std::unique_ptr<Open>> handles_;
    DeviceHandle nextHandle_ = 1;
};

// The last error a chip status stands for.
std::uint32_t LastErrorForStatus(protocol::Status status);

}  // namespace kx
