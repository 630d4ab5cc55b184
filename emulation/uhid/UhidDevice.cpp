#include "emulation/uhid/UhidDevice.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "config/TextCodec.h"
#include "device/Protocol.h"
#include "emulation/ReportDescriptors.h"

namespace kx::emu::uhid {

namespace {

// Copies `text` into a fixed kernel field, always terminated.
template <std::size_t N>
void CopyField(std::uint8_t (&field)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

std::string NextPhys() {
    static std::atomic<int> counter{0};
    return "kx4701-uhid/" + std::to_string(::getpid()) + "/" + std::to_string(++counter);
}

}  // namespace

std::unique_ptr<UhidDevice> UhidDevice::createChip(const emu::ChipIdentity& identity,
                                                   std::string* error) {
    return create(DeviceKind::Chip, identity, error);
}

std::unique_ptr<UhidDevice> UhidDevice::createKeyboard(const std::string& name,
                                                       std::string* error) {
    emu::ChipIdentity id{KEYBOARD_VID, KEYBOARD_PID, KEYBOARD_VERSION, "", name, "", 50};
    return create(DeviceKind::Keyboard, id, error);
}

std::unique_ptr<UhidDevice> UhidDevice::create(DeviceKind kind, const emu::ChipIdentity& identity,
                                               std::string* error) {
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        Fail(error, "open /dev/uhid", errno);
        return nullptr;
    }
    std::unique_ptr<UhidDevice> device(new UhidDevice(fd, kind, identity, NextPhys()));
    if (::pipe2(device->stopPipe_, O_CLOEXEC) != 0) {
        Fail(error, "pipe2", errno);
        return nullptr;
    }

    const auto& descriptor =
        kind == DeviceKind::Chip ? ChipReportDescriptor() : KeyboardReportDescriptor();
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    auto& c = ev.u.create2;
    // The kernel shows these as the HID name and unique id; hidapi reports them as the
    // product and serial-number strings.
    CopyField(c.name, text::AnsiToUtf8(identity.product));
    CopyField(c.phys, device->phys_);
    CopyField(c.uniq, text::AnsiToUtf8(identity.serial));
    c.rd_size = static_cast<std::uint16_t>(descriptor.size());
    c.bus = BUS_USB;
    c.vendor = identity.vid;
    c.product = identity.pid;
    c.version = identity.version;
    std::copy(descriptor.begin(), descriptor.end(), c.rd_data);
    if (!device->write(&ev, sizeof ev)) {
        Fail(error, "UHID_CREATE2", errno);
        return nullptr;
    }
    device->thread_ = std::thread([d = device.get()] { d->run(); });
    return device;
}

UhidDevice::UhidDevice(int fd, DeviceKind kind, const emu::ChipIdentity& identity, std::string phys)
    : fd_(fd), phys_(std::move(phys)), chip_(identity) {
    state_.kind = kind;
    state_.identity = identity;
}

UhidDevice::~UhidDevice() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!::write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    write(&ev, sizeof ev);
    for (int f : {stopPipe_[0], stopPipe_[1], fd_}) {
        if (f >= 0) {
            ::close(f);
        }
    }
}

DeviceState UhidDevice::state() const {
    std::lock_guard lock(mutex_);
    DeviceState s = state_;
    if (s.kind == DeviceKind::Chip) {
        s.identity = chip_.identity();
        s.serial = chip_.serial();
    }
    return s;
}

void UhidDevice::setFaults(bool refuseWrites, int busyPolls, bool forgetWrites) {
    std::lock_guard lock(mutex_);
    chip_.refuseWrites = refuseWrites;
    chip_.busyPolls = busyPolls;
    chip_.forgetWrites = forgetWrites;
}

std::string UhidDevice::hidrawNode(int timeoutMs) const {
    namespace fs = std::filesystem;
    const std::string wanted = "HID_PHYS=" + phys_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", ec)) {
            std::ifstream uevent(entry.path() / "device" / "uevent");
            for (std::string line; std::getline(uevent, line);) {
                if (line == wanted && fs::exists("/dev" / entry.path().filename())) {
                    return ("/dev" / entry.path().filename()).string();
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

bool UhidDevice::write(const void* event, std::size_t size) {
    const ssize_t n = ::write(fd_, event, size);
    return n == static_cast<ssize_t>(size);
}

void UhidDevice::run() {
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            handleEvent();
        }
    }
}

void UhidDevice::handleEvent() {
    uhid_event ev{};
    if (::read(fd_, &ev, sizeof ev) <= 0) {
        return;
    }
    uhid_event answer{};
    if (ev.type == UHID_GET_REPORT) {
        answer.type = UHID_GET_REPORT_REPLY;
        auto& r = answer.u.get_report_reply;
        r.id = ev.u.get_report.id;
        r.err = EIO;
        std::lock_guard lock(mutex_);
        ++state_.getReports;
        if (state_.kind == DeviceKind::Chip && ev.u.get_report.rtype == UHID_FEATURE_REPORT &&
            ev.u.get_report.rnum == protocol::REPORT_ID) {
            const int n = chip_.reply(r.data, protocol::REPORT_SIZE);
            r.size = static_cast<std::uint16_t>(n);
            r.err = 0;
        }
    } else if (ev.type == UHID_SET_REPORT) {
        answer.type = UHID_SET_REPORT_REPLY;
        auto& r = answer.u.set_report_reply;
        const auto& req = ev.u.set_report;
        r.id = req.id;
        r.err = EIO;
        std::lock_guard lock(mutex_);
        ++state_.setReports;
        // A report the chip does not have is refused as a stall would be.
        const std::size_t size = std::min<std::size_t>(req.size, sizeof req.data);
        if (state_.kind == DeviceKind::Chip && req.rtype == UHID_FEATURE_REPORT &&
            chip_.receive(req.data, size)) {
            r.err = 0;
        }
    } else {
        return;  // start, stop, open, close and output reports need no answer
    }
    write(&answer, sizeof answer);
}

}  // namespace kx::emu::uhid
