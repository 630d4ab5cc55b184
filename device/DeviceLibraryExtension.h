#pragma once
// Our extension beside the maker's fourteen functions (device/DeviceLibrary.h, which stays as
// the maker defines it): what a host needs to read back what a chip stores, so that a write
// can be checked and unchanged fields kept. Our library (KxLibrary) and the stand-in DLL
// have it; the maker's KX4701DLL.DLL does not, and a caller must not assume it.
//
// Same conventions as DeviceLibrary: a nonzero flag is success; a failing call sets the
// calling thread's last error (ERROR_NOT_SUPPORTED_CODE for a device that did not identify
// as a KX4701 when it was opened, which receives no report); all calls from one thread.

#include <cstdint>

#include "device/DeviceLibrary.h"

namespace kx {

class DeviceLibraryExtension {
  public:
    virtual ~DeviceLibraryExtension() = default;

    // The chip family and firmware version (0x0100 = 1.00) that IDENTIFY reported when the
    // handle was opened. Sends nothing.
    [[nodiscard]] virtual int KX4701GetChipInfo(DeviceHandle handle, std::uint16_t* family,
                                                std::uint16_t* firmware) = 0;

    // The stored default serial parameters, in the order KX4701SetDefaultRate takes them.
    [[nodiscard]] virtual int KX4701GetDefaultRate(DeviceHandle handle, std::uint8_t* baudCode,
                                                   std::uint8_t* parityCode,
                                                   std::uint8_t* stopBitsCode,
                                                   std::uint8_t* dataBitsCode,
                                                   std::uint8_t* timingByte) = 0;

    // The stored identity, as KX4701SetDeviceCfg writes it: each text's CP936 bytes go into
    // the caller's buffer of at least 30 bytes (not terminated), its length into the byte
    // after it. A read that the chip's identity changed in the middle of fails with
    // ERROR_INVALID_DATA_CODE; nothing is written to the outputs unless the call succeeds.
    [[nodiscard]] virtual int KX4701GetDeviceCfg(DeviceHandle handle, std::uint16_t* vid,
                                                 std::uint16_t* pid, std::uint8_t* maxPower,
                                                 char* manufacturer,
                                                 std::uint8_t* manufacturerLength, char* product,
                                                 std::uint8_t* productLength, char* serial,
                                                 std::uint8_t* serialLength) = 0;
};

}  // namespace kx
