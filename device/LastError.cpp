#include "device/LastError.h"

namespace kx {

std::string DescribeLastError(std::uint32_t code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND_CODE:
            return "no such device";
        case ERROR_ACCESS_DENIED_CODE:
            return "access denied (the device is held, or the chip refuses writes)";
        case ERROR_INVALID_HANDLE_CODE:
            return "the device is no longer open";
        case ERROR_INVALID_DATA_CODE:
            return "the chip's reply was malformed or changed while it was read";
        case ERROR_CRC_CODE:
            return "the chip found a checksum error";
        case ERROR_GEN_FAILURE_CODE:
            return "the device did not respond (unplugged?)";
        case ERROR_NOT_SUPPORTED_CODE:
            return "not supported (the device is not a KX4701 chip)";
        case ERROR_INVALID_PARAMETER_CODE:
            return "the chip refused a value";
        case ERROR_INVALID_NAME_CODE:
            return "the path names two devices that differ only in letter case";
        case ERROR_TIMEOUT_CODE:
            return "the chip did not answer in time";
        default:
            return "system error " + std::to_string(code);
    }
}

}  // namespace kx
