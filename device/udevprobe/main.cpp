// kx4701-udev-probe FILE: udev's test for a KX4701 (res/60-kx4701.rules runs it with
// IMPORT{program} on a hidraw device's report descriptor in sysfs). Prints KX4701_CHIP=1 when
// FILE holds a KX4701's report descriptor, nothing otherwise. Reads at most 4096 bytes (the
// kernel's HID_MAX_DESCRIPTOR_SIZE) from a regular file and never blocks on anything else.
// Exit 0 unless the arguments are wrong (2) or FILE cannot be read (1).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "device/ReportDescriptor.h"
#include "device/linux/DescriptorFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kx4701-udev-probe REPORT_DESCRIPTOR_FILE\n", stderr);
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!kx::hid::ReadSysfsFile(argv[1], bytes, &error)) {
        std::fprintf(stderr, "kx4701-udev-probe: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (kx::hid::IsChipReportDescriptor(bytes)) {
        std::puts("KX4701_CHIP=1");
    }
    return 0;
}
