#include "emulation/usbip/UsbipDevice.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "emulation/ReportDescriptors.h"

namespace kx::emu::usbip {

namespace {

constexpr const char* VHCI_DIR = "/sys/devices/platform/vhci_hcd.0/";
constexpr unsigned VHCI_PORT_USED = 6;
constexpr unsigned SPEED_FULL = 2;   // the kernel's USB_SPEED_FULL
constexpr int MAX_STATUS_FILES = 8;  // CONFIG_USBIP_VHCI_NR_HCS in Debian's kernel
constexpr int DETACH_WAIT_MS = 5000;
constexpr int REPLY_WAIT_MS = 1000;
constexpr int REPLY_GIVEBACK_MS = 20;
// The ports this process's chips left to enumerate again: no chip plugged meanwhile takes
// one, as none could take the socket of a chip on a cable.
std::mutex reservedMutex;
std::set<unsigned> reservedPorts;

std::set<unsigned> ReservedPorts() {
    const std::lock_guard lock(reservedMutex);
    return reservedPorts;
}

void Reserve(std::optional<unsigned> port, bool reserved) {
    const std::lock_guard lock(reservedMutex);
    if (port) {
        reserved ? (void)reservedPorts.insert(*port) : (void)reservedPorts.erase(*port);
    }
}

bool WriteSysfs(const std::string& file, const std::string& text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

std::vector<VhciPort> ReadPorts() {
    std::vector<VhciPort> ports;
    for (int i = 0; i < MAX_STATUS_FILES; ++i) {
        std::ifstream file(std::string(VHCI_DIR) +
                           (i == 0 ? "status" : "status." + std::to_string(i)));
        if (!file) {
            break;
        }
        std::stringstream text;
        text << file.rdbuf();
        const auto more = ParseVhciStatus(text.str());
        ports.insert(ports.end(), more.begin(), more.end());
    }
    return ports;
}

bool SendAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// A connected pair on loopback: the kernel takes one end, this device serves the other.
bool LoopbackPair(int& kernelEnd, int& deviceEnd, std::string* error) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int code = errno;
        if (listener >= 0) {
            ::close(listener);
        }
        return Fail(error, "listen on 127.0.0.1", code);
    }
    kernelEnd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (kernelEnd < 0 ||
        ::connect(kernelEnd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int code = errno;
        ::close(listener);
        return Fail(error, "connect to 127.0.0.1", code);
    }
    deviceEnd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    const int code = errno;
    ::close(listener);
    if (deviceEnd < 0) {
        ::close(kernelEnd);
        return Fail(error, "accept", code);
    }
    const int on = 1;  // each message goes out whole and at once
    ::setsockopt(kernelEnd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(deviceEnd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

}  // namespace

std::vector<VhciPort> ParseVhciStatus(std::string_view text) {
    std::vector<VhciPort> ports;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string hub, port, status, speed, devid, sock, busid;
        if (!(fields >> hub >> port >> status >> speed >> devid >> sock >> busid) ||
            (hub != "hs" && hub != "ss") || port.size() > 6 || status.size() > 3 ||
            !std::all_of(port.begin(), port.end(), ::isdigit) ||
            !std::all_of(status.begin(), status.end(), ::isdigit)) {
            continue;
        }
        ports.push_back({hub == "hs", static_cast<unsigned>(std::stoul(port)),
                         static_cast<unsigned>(std::stoul(status)), busid == "0-0" ? "" : busid});
    }
    return ports;
}

std::vector<unsigned> PortsToTry(const std::vector<VhciPort>& ports, std::optional<unsigned> had,
                                 const std::set<unsigned>& reserved) {
    std::vector<unsigned> order;
    for (const VhciPort& p : ports) {
        if (p.highSpeedHub && p.status == VHCI_PORT_FREE &&
            (p.port == had || !reserved.contains(p.port))) {
            order.insert(p.port == had ? order.begin() : order.end(), p.port);
        }
    }
    return order;
}

emu::ChipIdentity UsbipDevice::KeyboardIdentity(const std::string& name) {
    return {KEYBOARD_VID, KEYBOARD_PID, KEYBOARD_VERSION, "", name, "", 50};
}

std::unique_ptr<UsbipDevice> UsbipDevice::createChip(const emu::ChipIdentity& identity,
                                                     std::string* error) {
    return start(EmulatedDevice::chip(identity), error);
}

std::unique_ptr<UsbipDevice> UsbipDevice::createKeyboard(const emu::ChipIdentity& identity,
                                                         std::string* error) {
    return start(EmulatedDevice::keyboard(identity), error);
}

UsbipDevice::UsbipDevice(EmulatedDevice device) : device_(std::move(device)) {}

std::unique_ptr<UsbipDevice> UsbipDevice::start(EmulatedDevice device, std::string* error) {
    std::unique_ptr<UsbipDevice> d(new UsbipDevice(std::move(device)));
    if (::pipe2(d->stopPipe_, O_CLOEXEC) != 0) {
        Fail(error, "pipe2", errno);
        return nullptr;
    }
    if (!d->attach(error)) {
        return nullptr;
    }
    d->thread_ = std::thread([p = d.get()] { p->run(); });
    return d;
}

UsbipDevice::~UsbipDevice() {
    if (thread_.joinable()) {
        const char stop = 1;
        (void)!::write(stopPipe_[1], &stop, 1);
        thread_.join();
    } else {
        detach();
    }
    for (int f : {stopPipe_[0], stopPipe_[1]}) {
        if (f >= 0) {
            ::close(f);
        }
    }
}

bool UsbipDevice::attach(std::string* error) {
    static std::atomic<std::uint32_t> devids{0};
    int kernelEnd = -1, deviceEnd = -1;
    if (!LoopbackPair(kernelEnd, deviceEnd, error)) {
        return false;
    }
    // Another process may take a free port first: then the next one is tried.
    int code = ENOSPC;
    std::optional<unsigned> had;
    {
        std::lock_guard lock(mutex_);
        had = lastPort_;
    }
    // Coming back, the chip waits for its own port: the kernel frees a detached port a
    // while after the detach (its event thread), and on a cable the chip cannot move.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(DETACH_WAIT_MS);
    std::vector<unsigned> order = PortsToTry(ReadPorts(), had, ReservedPorts());
    while (had && (order.empty() || order.front() != *had) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        order = PortsToTry(ReadPorts(), had, ReservedPorts());
    }
    for (const unsigned port : order) {
        const std::uint32_t devid = (static_cast<std::uint32_t>(::getpid()) << 16) | ++devids;
        const std::string line = std::to_string(port) + " " + std::to_string(kernelEnd) + " " +
                                 std::to_string(devid) + " " + std::to_string(SPEED_FULL);
        if (WriteSysfs(std::string(VHCI_DIR) + "attach", line)) {
            // The kernel holds the socket now; this end is kept to see what it has not read.
            std::lock_guard lock(mutex_);
            port_ = port;
            lastPort_ = port;
            socket_ = deviceEnd;
            kernelEnd_ = kernelEnd;
            ++attachments_;
            Reserve(had, false);
            return true;
        }
        code = errno;
    }
    Reserve(had, false);
    ::close(kernelEnd);
    ::close(deviceEnd);
    return Fail(error, std::string("attach to ") + VHCI_DIR, code);
}

void UsbipDevice::detach() {
    std::optional<unsigned> port;
    {
        std::lock_guard lock(mutex_);
        port = port_;
        port_.reset();
        pendingIn_.clear();
    }
    if (port) {
        WriteSysfs(std::string(VHCI_DIR) + "detach", std::to_string(*port));
    }
    if (socket_ >= 0) {
        // The kernel shuts its end down once the port is free; read until then, bounded.
        std::uint8_t sink[4096];
        pollfd fd{socket_, POLLIN, 0};
        while (::poll(&fd, 1, DETACH_WAIT_MS) > 0 && ::recv(socket_, sink, sizeof sink, 0) > 0) {
        }
        ::close(socket_);
        socket_ = -1;
    }
    if (kernelEnd_ >= 0) {
        ::close(kernelEnd_);
        kernelEnd_ = -1;
    }
}

void UsbipDevice::awaitRepliesTaken() const {
    for (int waited = 0; waited < REPLY_WAIT_MS; waited += 5) {
        int unread = 0;
        if (::ioctl(kernelEnd_, SIOCINQ, &unread) != 0 || unread == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The host's receiving thread gives the transfer back right after reading it.
    std::this_thread::sleep_for(std::chrono::milliseconds(REPLY_GIVEBACK_MS));
}

void UsbipDevice::run() {
    for (;;) {
        const bool reenumerate = serve();
        std::optional<unsigned> left;
        if (reenumerate) {
            awaitRepliesTaken();
            const std::lock_guard lock(mutex_);
            left = lastPort_;
        }
        Reserve(left, true);  // before the port is free
        detach();
        // Off the bus for a while, as a chip that resets to apply new descriptors; a stop
        // request ends the wait.
        pollfd stop{stopPipe_[0], POLLIN, 0};
        if (!reenumerate || ::poll(&stop, 1, REENUMERATION_DELAY_MS) != 0) {
            Reserve(left, false);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            device_.reenumerated();
        }
        if (!attach(nullptr)) {
            return;
        }
    }
}

bool UsbipDevice::serve() {
    std::vector<std::uint8_t> buffer;
    std::uint8_t chunk[16384];
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[1].revents != 0) {
            return false;
        }
        const ssize_t n = ::recv(socket_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // the kernel dropped the connection
        }
        buffer.insert(buffer.end(), chunk, chunk + n);
        if (!handle(buffer)) {
            return false;
        }
        std::lock_guard lock(mutex_);
        if (device_.reenumerationDue()) {
            return true;
        }
    }
}

bool UsbipDevice::handle(std::vector<std::uint8_t>& buffer) {
    std::lock_guard lock(mutex_);
    for (;;) {
        Parsed p = ParseMessage(buffer);
        if (std::holds_alternative<NeedMore>(p.message)) {
            return true;
        }
        if (std::holds_alternative<Malformed>(p.message)) {
            return false;
        }
        std::vector<std::uint8_t> answer;
        if (const auto* u = std::get_if<Unlink>(&p.message)) {
            const auto it = std::find(pendingIn_.begin(), pendingIn_.end(), u->unlinkSeqnum);
            const bool pending = it != pendingIn_.end();
            if (pending) {
                pendingIn_.erase(it);
            }
            answer = EncodeRetUnlink(u->seqnum, pending ? -ECONNRESET : 0);
        } else {
            const Submit& s = std::get<Submit>(p.message);
            if (s.ep == 0) {
                Transfer t = device_.control(s.setup, s.out);
                t.in.resize(std::min<std::size_t>(t.in.size(), s.transferLength));
                answer = EncodeRetSubmit(s.seqnum, t.stall ? -EPIPE : 0, t.in,
                                         t.stall ? 0 : static_cast<std::uint32_t>(s.out.size()));
            } else if (s.direction == DIR_IN) {
                pendingIn_.push_back(s.seqnum);  // no input report until unlinked
            } else {
                device_.interruptOut(s.out);
                answer = EncodeRetSubmit(s.seqnum, 0, {}, static_cast<std::uint32_t>(s.out.size()));
            }
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(p.consumed));
        if (!answer.empty() && !SendAll(socket_, answer)) {
            return false;
        }
    }
}

emu::DeviceState UsbipDevice::state() const {
    std::lock_guard lock(mutex_);
    emu::DeviceState s;
    s.kind = device_.kind();
    s.identity =
        s.kind == emu::DeviceKind::Chip ? device_.chipLogic().identity() : device_.presented();
    s.serial = device_.chipLogic().serial();
    s.setReports = device_.setReports();
    s.getReports = device_.getReports();
    return s;
}

void UsbipDevice::setFaults(bool refuseWrites, int busyPolls, bool forgetWrites) {
    std::lock_guard lock(mutex_);
    device_.chipLogic().refuseWrites = refuseWrites;
    device_.chipLogic().busyPolls = busyPolls;
    device_.chipLogic().forgetWrites = forgetWrites;
}

int UsbipDevice::attachments() const {
    std::lock_guard lock(mutex_);
    return attachments_;
}

std::string UsbipDevice::usbDevicePath() const {
    std::optional<unsigned> port;
    {
        std::lock_guard lock(mutex_);
        port = port_;
    }
    for (const VhciPort& p : ReadPorts()) {
        if (port && p.port == *port && p.status == VHCI_PORT_USED && !p.busid.empty()) {
            return "/sys/bus/usb/devices/" + p.busid;
        }
    }
    return {};
}

std::string UsbipDevice::hidrawNode(int timeoutMs) const {
    namespace fs = std::filesystem;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        // usb device / its interface 1.0 / the HID device / hidraw / hidrawN
        const fs::path usb = usbDevicePath();
        std::error_code ec;
        try {
            for (const auto& hid : fs::directory_iterator(
                     usb.empty() ? fs::path() : usb / (usb.filename().string() + ":1.0"), ec)) {
                for (const auto& raw : fs::directory_iterator(hid.path() / "hidraw", ec)) {
                    const fs::path node = "/dev" / raw.path().filename();
                    if (fs::exists(node, ec)) {
                        return node.string();
                    }
                }
            }
        } catch (const fs::filesystem_error&) {
            // the device left while being looked at: look again
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

}  // namespace kx::emu::usbip
