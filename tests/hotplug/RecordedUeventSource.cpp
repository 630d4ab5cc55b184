#include "RecordedUeventSource.h"

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

namespace kx::hotplug::testing {
namespace {

std::string Join(std::initializer_list<std::string_view> fields) {
    std::string out;
    for (std::string_view f : fields) {
        out += f;
        out.push_back('\0');
    }
    return out;
}

constexpr std::string_view DEVPATH_USB = "/devices/pci0000:00/0000:00:14.0/usb1/1-2";
constexpr std::string_view DEVPATH_HID =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:3C5B:B207.0007";
constexpr std::string_view DEVPATH_HIDRAW =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:3C5B:B207.0007/hidraw/hidraw3";

std::string Event(std::string_view action, std::string_view devpath, std::string_view subsystem,
                  std::initializer_list<std::string_view> extra, std::string_view seqnum) {
    std::string out =
        Join({std::string(action) + "@" + std::string(devpath), "ACTION=" + std::string(action),
              "DEVPATH=" + std::string(devpath), "SUBSYSTEM=" + std::string(subsystem)});
    out += Join(extra);
    out += Join({"SEQNUM=" + std::string(seqnum)});
    return out;
}

}  // namespace

namespace recorded {
std::string UsbAdd() {
    return Event("add", DEVPATH_USB, "usb",
                 {"DEVNAME=bus/usb/001/009", "DEVTYPE=usb_device", "PRODUCT=3c5b/b207/100",
                  "TYPE=0/0/0", "BUSNUM=001", "DEVNUM=009", "MAJOR=189", "MINOR=8"},
                 "4711");
}
std::string HidAdd() {
    return Event("add", DEVPATH_HID, "hid",
                 {"HID_ID=0003:00003C5B:0000B207", "HID_NAME=KX-CHIPS HID To Serial",
                  "HID_UNIQ=12345678", "MODALIAS=hid:b0003g0001v00003C5Bp0000B207"},
                 "4713");
}
std::string HidrawAdd() {
    return Event("add", DEVPATH_HIDRAW, "hidraw", {"MAJOR=241", "MINOR=3", "DEVNAME=hidraw3"},
                 "4714");
}
std::string HidrawChange() {
    return Event("change", DEVPATH_HIDRAW, "hidraw", {"MAJOR=241", "MINOR=3", "DEVNAME=hidraw3"},
                 "4715");
}
std::string HidBind() {
    return Event("bind", DEVPATH_HID, "hid", {"DRIVER=hid-generic"}, "4716");
}
std::string HidrawRemove() {
    return Event("remove", DEVPATH_HIDRAW, "hidraw", {"MAJOR=241", "MINOR=3", "DEVNAME=hidraw3"},
                 "4720");
}
std::string UsbRemove() {
    return Event("remove", DEVPATH_USB, "usb",
                 {"DEVNAME=bus/usb/001/009", "DEVTYPE=usb_device", "MAJOR=189", "MINOR=8"}, "4723");
}
std::string Garbled() {
    return Join({"libudev", "SUBSYSTEM=hidraw", "DEVNAME=hidraw3"});
}
}  // namespace recorded

std::optional<Uevent> ParseKernelUevent(std::string_view datagram) {
    Uevent event;
    std::string devpath;
    std::size_t pos = 0;
    while (pos < datagram.size()) {
        std::size_t end = datagram.find('\0', pos);
        if (end == std::string_view::npos) {
            end = datagram.size();
        }
        const std::string_view field = datagram.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos) {
            continue;  // the "action@devpath" header
        }
        const std::string_view key = field.substr(0, eq);
        const std::string value(field.substr(eq + 1));
        if (key == "ACTION") {
            event.action = value;
        } else if (key == "SUBSYSTEM") {
            event.subsystem = value;
        } else if (key == "DEVNAME") {
            event.devnode = "/dev/" + value;  // as libudev names the node
        } else if (key == "DEVPATH") {
            devpath = value;
        }
    }
    if (event.action.empty() || event.subsystem.empty()) {
        return std::nullopt;
    }
    event.sysname = devpath.substr(devpath.rfind('/') + 1);
    return event;
}

RecordedUeventSource::RecordedUeventSource() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
}

RecordedUeventSource::~RecordedUeventSource() {
    ::close(readEnd_);
    ::close(writeEnd_);
}

bool RecordedUeventSource::feed(std::string_view datagram) {
    return ::send(writeEnd_, datagram.data(), datagram.size(), 0) ==
           static_cast<ssize_t>(datagram.size());
}

std::optional<Uevent> RecordedUeventSource::receive() {
    std::array<char, 8192> buffer;
    const ssize_t got = ::recv(readEnd_, buffer.data(), buffer.size(), 0);
    if (got <= 0) {
        return std::nullopt;
    }
    ++received_;
    return ParseKernelUevent(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
}

}  // namespace kx::hotplug::testing
