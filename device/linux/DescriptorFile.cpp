#include "device/linux/DescriptorFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kx::hid {

bool ReadSysfsFile(const std::string& file, std::vector<std::uint8_t>& out, std::string* error) {
    out.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error != nullptr) {
            *error = fd < 0 ? std::strerror(errno) : "not a regular file";
        }
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    out.resize(MAX_DESCRIPTOR_BYTES);
    std::size_t size = 0;
    bool ok = true;
    while (size < out.size()) {
        const ssize_t n = ::read(fd, out.data() + size, out.size() - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            if (!ok && error != nullptr) {
                *error = std::strerror(errno);
            }
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(ok ? size : 0);
    return ok;
}

std::string HidrawSysfsDir(const std::string& devnode, const std::string& sysfs) {
    const auto slash = devnode.rfind('/');
    const std::string node = slash == std::string::npos ? devnode : devnode.substr(slash + 1);
    if (node.rfind("hidraw", 0) != 0 || node.find_first_of("/.") != std::string::npos) {
        return {};
    }
    return sysfs + "/class/hidraw/" + node;
}

std::string DescriptorFileOf(const std::string& devnode) {
    const std::string dir = HidrawSysfsDir(devnode);
    return dir.empty() ? dir : dir + "/device/report_descriptor";
}

}  // namespace kx::hid
