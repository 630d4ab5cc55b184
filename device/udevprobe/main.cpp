// kx4701-udev-probe FILE: udev's test for a KX4701 (res/60-kx4701.rules runs it with
// IMPORT{program} on a hidraw device's report descriptor in sysfs). Prints KX4701_CHIP=1 when
// FILE holds a KX4701's report descriptor, nothing otherwise. Reads at most 4096 bytes (the
// kernel's HID_MAX_DESCRIPTOR_SIZE) from a regular file and never blocks on anything else.
// Exit 0 unless the arguments are wrong (2) or FILE cannot be read (1).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/ReportDescriptor.h"

namespace {

constexpr std::size_t MAX_DESCRIPTOR_BYTES = 4096;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: kx4701-udev-probe REPORT_DESCRIPTOR_FILE\n", stderr);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "kx4701-udev-probe: %s: %s\n", argv[1],
                     fd < 0 ? std::strerror(errno) : "not a regular file");
        return 1;
    }
    std::uint8_t bytes[MAX_DESCRIPTOR_BYTES];
    std::size_t size = 0;
    while (size < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + size, sizeof bytes - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            std::fprintf(stderr, "kx4701-udev-probe: %s: %s\n", argv[1], std::strerror(errno));
            return 1;
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (kx::hid::IsChipReportDescriptor({bytes, size})) {
        std::puts("KX4701_CHIP=1");
    }
    return 0;
}
