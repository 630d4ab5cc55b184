#pragma once
// The chip's device library as the tool sees it: fourteen operations, each named as the
// maker names them. Every result is a flag (nonzero = success) unless said otherwise;
// a failing call also sets the calling thread's last error (device/LastError.h).
// All calls come from one thread. The library owns whatever stands behind a handle;
// the caller owns the handle value and must close it.

#include <cstdint>

namespace kx {

using DeviceHandle = std::int32_t;
inline constexpr DeviceHandle INVALID_DEVICE_HANDLE = -1;

inline constexpr std::uint32_t DEVICE_PATH_BUFFER_SIZE = 1024;  // bytes, terminator included
inline constexpr std::uint32_t STRING_BUFFER_UNITS = 64;        // UTF-16 units, terminator included

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    friend bool operator==(const Guid&, const Guid&) = default;
};

// The HID device-interface class, {4D1E55B2-F16F-11CF-88CB-001111000030}: what
// KX4701GetHidGuid reports and what device-change broadcasts of HID devices carry.
inline constexpr Guid HID_CLASS_GUID{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

class DeviceLibrary {
  public:
    virtual ~DeviceLibrary() = default;

    // Once, before anything else. The result carries no meaning for the caller (so it may be
    // dropped, as may a close's: nothing can be done about either).
    virtual int KX4701DllInt() = 0;

    // The device-interface class of the chips, for hot-plug registration.
    [[nodiscard]] virtual int KX4701GetHidGuid(Guid* guid) = 0;

    // Writes the zero-terminated path of device `index` into `buffer` (the caller's,
    // `size` bytes). Index 0 takes a fresh snapshot of the bus; later indexes read that
    // snapshot. Past the last device: returns 0 with last error ERROR_NO_MORE_ITEMS.
    // A path that does not fit returns 0 with ERROR_INSUFFICIENT_BUFFER_CODE.
    [[nodiscard]] virtual int KX4701GetDevicePath(std::int32_t index, char* buffer,
                                                  std::uint32_t size) = 0;

    // Opens the device whose path matches `path` in any letter case. Returns a handle or
    // INVALID_DEVICE_HANDLE.
    [[nodiscard]] virtual DeviceHandle KX4701OpenDevicePath(const char* path) = 0;

    // Releases the handle; an unknown handle is ignored (returns 0).
    virtual int KX4701CloseDevice(DeviceHandle handle) = 0;

    [[nodiscard]] virtual int KX4701GetAttributes(DeviceHandle handle, std::uint16_t* vid,
                                                  std::uint16_t* pid, std::uint16_t* version) = 0;

    // Input and output report lengths of the device.
    [[nodiscard]] virtual int KX4701GetBufferLen(DeviceHandle handle, std::uint16_t* inputLength,
                                                 std::uint16_t* outputLength) = 0;

    // Milliseconds a command may wait for the chip's reply and for its report to go out.
    [[nodiscard]] virtual int KX4701SetTimeOut(DeviceHandle handle, std::uint32_t readTimeoutMs,
                                               std::uint32_t writeTimeoutMs) = 0;

    // Writes the chip's stored default serial parameters. Fails without sending anything to
    // a device that has not identified itself as a KX4701 since it was opened.
    [[nodiscard]] virtual int KX4701SetDefaultRate(DeviceHandle handle, std::uint8_t baudCode,
                                                   std::uint8_t parityCode,
                                                   std::uint8_t stopBitsCode,
                                                   std::uint8_t dataBitsCode,
                                                   std::uint8_t timingByte) = 0;

    // Writes the chip's USB identity, all or nothing. `maxPower` is the configuration's
    // bMaxPower (units of 2 mA). The three texts are CP936 bytes, not terminated, each
    // 1..30 bytes long; any other length fails without sending anything.
    [[nodiscard]] virtual int KX4701SetDeviceCfg(DeviceHandle handle, std::uint16_t vid,
                                                 std::uint16_t pid, std::uint8_t maxPower,
                                                 const char* manufacturer,
                                                 std::uint8_t manufacturerLength,
                                                 const char* product, std::uint8_t productLength,
                                                 const char* serial, std::uint8_t serialLength) = 0;

    // Each writes a zero-terminated UTF-16 text of at most `units` units (terminator
    // included) into the caller's buffer. On failure the buffer holds an empty text.
    [[nodiscard]] virtual int KX4701GetManufacturerString(DeviceHandle handle, char16_t* buffer,
                                                          std::uint32_t units) = 0;
    [[nodiscard]] virtual int KX4701GetProductString(DeviceHandle handle, char16_t* buffer,
                                                     std::uint32_t units) = 0;
    [[nodiscard]] virtual int KX4701GetSerialNumberString(DeviceHandle handle, char16_t* buffer,
                                                          std::uint32_t units) = 0;

    // Restores the chip's factory identity and serial defaults.
    [[nodiscard]] virtual int KX4701ResetToDefault(DeviceHandle handle) = 0;
};

}  // namespace kx
