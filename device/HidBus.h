#pragma once
// The seam between our device library and whatever carries HID traffic: the system's
// hidraw nodes through hidapi, or the in-process virtual chip bench. The library speaks
// the chip protocol (device/Protocol.h) over this seam and nothing else.
//
// A bus is used from several threads at once (enumerate, open, the probe); each connection
// from one thread at a time, which the library sees to.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/ReportDescriptor.h"

namespace kx {

// One HID interface as enumeration reports it. Strings are UTF-16, as the USB string
// descriptors carry them; they may be empty when the device has none, or when the bus leaves
// them (and the report lengths) to the open device, as hidraw's does.
struct HidDeviceInfo {
    std::string path;  // 8-bit, as the platform spells it (case-sensitive on Linux)
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t releaseNumber = 0;
    std::uint16_t usagePage = 0;  // top-level collection; the chip uses a vendor page
    std::uint16_t usage = 0;
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
    std::u16string manufacturer;
    std::u16string product;
    std::u16string serialNumber;
};

enum class HidString { Manufacturer, Product, SerialNumber };

// An open HID interface. Owned by the library's handle table; destroying it closes it.
class HidConnection {
  public:
    virtual ~HidConnection() = default;

    // VID, PID and release number of the open device; false if they cannot be read.
    virtual bool attributes(std::uint16_t* vendorId, std::uint16_t* productId,
                            std::uint16_t* releaseNumber) = 0;

    // Writes at most `units` UTF-16 units into `buffer` and always terminates it when
    // units > 0. False if the string cannot be read (the buffer then holds "").
    virtual bool readString(HidString which, char16_t* buffer, std::size_t units) = 0;

    // `data[0]` is the report id. Returns the bytes sent, or -1 on failure.
    virtual int sendFeatureReport(const std::uint8_t* data, std::size_t length, int timeoutMs) = 0;

    // The open interface as it declares itself now, read from the device rather than from
    // an earlier enumeration: its report descriptor's summary. nullopt (the default) when this
    // backend cannot tell; the library then asks the bus's enumeration.
    virtual std::optional<hid::DescriptorSummary> describe() { return std::nullopt; }

    // `data[0]` names the report id on entry. Returns the bytes received (report id
    // included, never more than `length`), or -1 on failure or when nothing arrived within
    // `timeoutMs`.
    virtual int getFeatureReport(std::uint8_t* data, std::size_t length, int timeoutMs) = 0;
};

// Decides, as the system's shared read/write open would, whether a path can be opened for
// reading and writing right now. Never keeps anything open.
class DeviceProbe {
  public:
    virtual ~DeviceProbe() = default;
    virtual bool canOpenReadWrite(const char* path) = 0;
};

class HidBus : public DeviceProbe {
  public:
    // Every HID interface present now, in a stable order. Each call walks the bus anew.
    virtual std::vector<HidDeviceInfo> enumerate() = 0;

    // Opens exactly `path` (case-sensitive); nullptr on failure.
    virtual std::unique_ptr<HidConnection> open(const std::string& path) = 0;
};

}  // namespace kx
