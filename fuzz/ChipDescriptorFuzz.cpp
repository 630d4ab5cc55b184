// udev's chip test (kx4701-udev-probe) on any bytes a sysfs report_descriptor could hold:
// it reads only what it is given, and whatever it calls a chip parses as a descriptor.

#include <cstdint>
#include <span>

#include "device/ReportDescriptor.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (kx::hid::IsChipReportDescriptor(bytes)) {
        KX_FUZZ_CHECK(kx::hid::ParseReportLengths(bytes).has_value());
    }
    return 0;
}
