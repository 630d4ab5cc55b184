#include "emulation/VirtualBench.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "config/TextCodec.h"
#include "device/Protocol.h"
#include "device/ReportDescriptor.h"
#include "emulation/ReportDescriptors.h"

namespace kx::emu {

namespace {

constexpr std::uint16_t GENERIC_DESKTOP_PAGE = 0x0001;
constexpr std::uint16_t KEYBOARD_USAGE = 0x0006;

// Copies at most units - 1 units and terminates; a surrogate pair cut by the bound is dropped.
void CopyBounded(const std::u16string& text, char16_t* buffer, std::size_t units) {
    const std::size_t n = text::Utf16PrefixLength(text, units - 1);
    std::copy_n(text.begin(), n, buffer);
    buffer[n] = 0;
}

// The final OK reply to a command after which a USB chip enumerates again.
bool AppliesIdentity(const std::uint8_t* data, int length) {
    const protocol::ReplyResult r = protocol::DecodeReply(data, static_cast<std::size_t>(length));
    const auto cmd = static_cast<protocol::Command>(r.reply.cmd);
    return r.ok() && r.reply.status == protocol::Status::Ok &&
           (cmd == protocol::Command::CfgCommit || cmd == protocol::Command::FactoryReset);
}

}  // namespace

struct VirtualBench::Device {
    int id = 0;
    std::string path;
    std::string firstPath;
    int reenumerations = 0;
    bool plugged = true;
    bool held = false;
    unsigned generation = 0;  // bumped on every replug so old connections stay dead
    Faults faults;
    std::unique_ptr<VirtualChip> chip;  // null for a plain HID device
    ChipIdentity plain;                 // ids and strings of a plain device
    std::uint64_t reportsReceived = 0;
    unsigned malformedCount = 0;

    const ChipIdentity& identity() const { return chip ? chip->identity() : plain; }
};

// The one top-level collection each kind of virtual device has.
void VirtualBench::DescribeCollection(const Device& d, HidDeviceInfo& info) {
    const bool chip = d.chip != nullptr;
    info.usagePage = chip ? protocol::VENDOR_USAGE_PAGE : GENERIC_DESKTOP_PAGE;
    info.usage = chip ? protocol::VENDOR_USAGE : KEYBOARD_USAGE;
    // Counted from the descriptors the emulators present, as hidraw counts them.
    static const hid::ReportLengths CHIP = *hid::ParseReportLengths(ChipReportDescriptor());
    static const hid::ReportLengths PLAIN = *hid::ParseReportLengths(KeyboardReportDescriptor());
    info.inputReportLength = chip ? CHIP.input : PLAIN.input;
    info.outputReportLength = chip ? CHIP.output : PLAIN.output;
}

class VirtualBench::Connection : public HidConnection {
  public:
    std::optional<hid::DescriptorSummary> describe() override {
        const std::lock_guard lock(bench_.mutex_);
        Device* d = live();
        if (d == nullptr) {
            return std::nullopt;
        }
        return hid::SummarizeReportDescriptor(d->chip ? ChipReportDescriptor()
                                                      : KeyboardReportDescriptor());
    }

    Connection(VirtualBench& bench, int id, unsigned generation)
        : bench_(bench), id_(id), generation_(generation) {}

    bool attributes(std::uint16_t* vendorId, std::uint16_t* productId,
                    std::uint16_t* releaseNumber) override {
        const std::lock_guard lock(bench_.mutex_);
        Device* d = live();
        if (d == nullptr || d->faults.attributesFail || vendorId == nullptr ||
            productId == nullptr || releaseNumber == nullptr) {
            return false;
        }
        *vendorId = d->identity().vid;
        *productId = d->identity().pid;
        *releaseNumber = d->identity().version;
        return true;
    }

    bool readString(HidString which, char16_t* buffer, std::size_t units) override {
        if (buffer == nullptr || units == 0) {
            return false;
        }
        buffer[0] = 0;
        const std::lock_guard lock(bench_.mutex_);
        Device* d = live();
        if (d == nullptr) {
            return false;
        }
        const ChipIdentity& id = d->identity();
        const std::string* text = nullptr;
        bool fails = false;
        switch (which) {
            case HidString::Manufacturer:
                text = &id.manufacturer;
                fails = d->faults.manufacturerFails;
                break;
            case HidString::Product:
                text = &id.product;
                fails = d->faults.productFails;
                break;
            case HidString::SerialNumber:
                text = &id.serial;
                fails = d->faults.serialFails;
                break;
        }
        // A device without the string has no descriptor to read.
        if (fails || text == nullptr || text->empty()) {
            return false;
        }
        CopyBounded(text::AnsiToUtf16(*text), buffer, units);
        return true;
    }

    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int) override {
        const std::lock_guard lock(bench_.mutex_);
        Device* d = live();
        if (d == nullptr || data == nullptr || length == 0 || !bench_.exchangeAllowed(*d)) {
            return -1;
        }
        ++d->reportsReceived;
        if (!d->chip) {
            return -1;  // a plain device has no such report
        }
        d->chip->refuseWrites = d->faults.refuseCommands;
        d->chip->busyPolls = d->faults.busyPolls;
        d->chip->forgetWrites = d->faults.forgetWrites;
        return d->chip->receive(data, length) ? static_cast<int>(length) : -1;
    }

    int getFeatureReport(std::uint8_t* data, std::size_t length, int timeoutMs) override {
        std::unique_lock lock(bench_.mutex_);
        Device* d = live();
        if (d == nullptr || data == nullptr || length == 0 || !bench_.exchangeAllowed(*d)) {
            return -1;
        }
        if (!d->chip) {
            return -1;
        }
        if (d->faults.silent) {
            lock.unlock();  // the other devices go on answering meanwhile
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(timeoutMs, 0)));
            return -1;
        }
        const int n = d->chip->reply(data, length);
        if (d->faults.reenumerates && AppliesIdentity(data, n)) {
            bench_.reenumerate(*d);
            return n;
        }
        if (d->faults.malformedReplies) {
            // Alternate a foreign report id with a frame cut inside its header.
            if (d->malformedCount++ % 2 == 0) {
                data[0] = static_cast<std::uint8_t>(protocol::REPORT_ID ^ 0xFF);
                return n;
            }
            return std::min(n, 3);
        }
        return n;
    }

  private:
    Device* live() {
        Device* d = bench_.find(id_);
        return d != nullptr && d->plugged && d->generation == generation_ ? d : nullptr;
    }

    VirtualBench& bench_;
    int id_;
    unsigned generation_;
};

VirtualBench::VirtualBench() = default;
VirtualBench::~VirtualBench() = default;

int VirtualBench::plugChip(const ChipIdentity& identity, std::string path,
                           const SerialDefaults& serial) {
    const std::lock_guard lock(mutex_);
    return plug("vbench://kx4701/", std::move(path), [&](Device& d) {
        d.chip = std::make_unique<VirtualChip>(identity, ChipIdentity{}, serial);
        d.chip->onStoredChange = [this] { changed(); };
    });
}

int VirtualBench::plugPlainHid(std::string product, std::string path) {
    const std::lock_guard lock(mutex_);
    return plug("vbench://hid/", std::move(path), [&](Device& d) {
        d.plain.vid = KEYBOARD_VID;
        d.plain.pid = KEYBOARD_PID;
        d.plain.version = KEYBOARD_VERSION;
        d.plain.manufacturer = "Generic";
        d.plain.product = std::move(product);
        d.plain.serial.clear();
    });
}

int VirtualBench::plug(std::string_view defaultPrefix, std::string path,
                       const std::function<void(Device&)>& build) {
    const int id = nextId_;
    if (path.empty()) {
        path = std::string(defaultPrefix) + std::to_string(id);
    }
    if (findPlugged(path) != nullptr) {
        return -1;
    }
    ++nextId_;
    auto d = std::make_unique<Device>();
    d->id = id;
    d->path = std::move(path);
    d->firstPath = d->path;
    build(*d);
    plugged_.emplace(d->path, d.get());
    devices_.emplace(id, std::move(d));
    broadcast(DBT_DEVICEARRIVAL);
    changed();
    return id;
}

bool VirtualBench::unplug(int id) {
    const std::lock_guard lock(mutex_);
    Device* d = find(id);
    if (d == nullptr || !d->plugged) {
        return false;
    }
    d->plugged = false;
    plugged_.erase(d->path);
    if (d->chip) {
        d->chip->powerCycle();
    }
    broadcast(DBT_DEVICEREMOVECOMPLETE);
    changed();
    return true;
}

bool VirtualBench::replug(int id) {
    const std::lock_guard lock(mutex_);
    Device* d = find(id);
    if (d == nullptr || d->plugged || findPlugged(d->path) != nullptr) {
        return false;
    }
    d->plugged = true;
    plugged_.emplace(d->path, d);
    ++d->generation;
    d->malformedCount = 0;
    broadcast(DBT_DEVICEARRIVAL);
    changed();
    return true;
}

void VirtualBench::setHeld(int id, bool held) {
    const std::lock_guard lock(mutex_);
    if (Device* d = find(id)) {
        d->held = held;
        changed();
    }
}

Faults& VirtualBench::faults(int id) {
    const std::lock_guard lock(mutex_);
    Device* d = find(id);
    if (d == nullptr) {
        throw std::out_of_range("no virtual device with id " + std::to_string(id));
    }
    return d->faults;
}

std::vector<DeviceSnapshot> VirtualBench::devices() const {
    const std::lock_guard lock(mutex_);
    std::vector<DeviceSnapshot> out;
    for (const auto& [id, d] : devices_) {
        if (d->plugged) {
            out.push_back(snapshot(*d));
        }
    }
    return out;
}

std::optional<DeviceSnapshot> VirtualBench::device(int id) const {
    const std::lock_guard lock(mutex_);
    const Device* d = find(id);
    if (d == nullptr || !d->plugged) {
        return std::nullopt;
    }
    return snapshot(*d);
}

void VirtualBench::deliver(std::uint32_t event, const void* data) {
    const std::lock_guard lock(mutex_);
    registry_.deliverToAll(event, data);
}

std::vector<HidDeviceInfo> VirtualBench::enumerate() {
    const std::lock_guard lock(mutex_);
    ++enumerations_;
    std::vector<HidDeviceInfo> out;
    for (const auto& [id, d] : devices_) {
        if (!d->plugged) {
            continue;
        }
        const ChipIdentity& ident = d->identity();
        HidDeviceInfo info;
        info.path = d->path;
        info.vendorId = ident.vid;
        info.productId = ident.pid;
        info.releaseNumber = ident.version;
        DescribeCollection(*d, info);
        info.manufacturer = text::AnsiToUtf16(ident.manufacturer);
        info.product = text::AnsiToUtf16(ident.product);
        info.serialNumber = text::AnsiToUtf16(ident.serial);
        out.push_back(std::move(info));
    }
    return out;
}

std::unique_ptr<HidConnection> VirtualBench::open(const std::string& path) {
    const std::lock_guard lock(mutex_);
    Device* d = findPlugged(path);
    if (d == nullptr || d->held || d->faults.openFails) {
        return nullptr;
    }
    return std::make_unique<Connection>(*this, d->id, d->generation);
}

bool VirtualBench::canOpenReadWrite(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const std::lock_guard lock(mutex_);
    const Device* d = findPlugged(path);
    return d != nullptr && !d->held;
}

bool VirtualBench::registerDeviceNotification(DeviceChangeSink* sink,
                                              const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                              std::uint32_t flags) {
    const std::lock_guard lock(mutex_);
    if (registrationFails_ || !NotificationRegistry::IsValidRequest(sink, filter, flags)) {
        return false;
    }
    registry_.add(sink, *filter, flags);
    return true;
}

void VirtualBench::unregister(DeviceChangeSink* sink) {
    const std::lock_guard lock(mutex_);
    registry_.remove(sink);
}

std::uint64_t VirtualBench::enumerationCount() const {
    const std::lock_guard lock(mutex_);
    return enumerations_;
}

void VirtualBench::setRegistrationFails(bool fails) {
    const std::lock_guard lock(mutex_);
    registrationFails_ = fails;
}

void VirtualBench::setChangeListener(std::function<void()> listener) {
    const std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

std::size_t VirtualBench::sinkCount() const {
    const std::lock_guard lock(mutex_);
    return registry_.size();
}

VirtualBench::Device* VirtualBench::find(int id) {
    const auto it = devices_.find(id);
    return it == devices_.end() ? nullptr : it->second.get();
}

const VirtualBench::Device* VirtualBench::find(int id) const {
    const auto it = devices_.find(id);
    return it == devices_.end() ? nullptr : it->second.get();
}

VirtualBench::Device* VirtualBench::findPlugged(const std::string& path) {
    const auto it = plugged_.find(path);
    return it == plugged_.end() ? nullptr : it->second;
}

bool VirtualBench::exchangeAllowed(Device& d) {
    int& left = d.faults.vanishAfterReports;
    if (left == 0) {
        left = -1;  // fired once; a replugged device works again
        unplug(d.id);
        return false;
    }
    if (left > 0) {
        --left;
    }
    return true;
}

void VirtualBench::reenumerate(Device& d) {
    unplug(d.id);
    d.path = d.firstPath + "." + std::to_string(++d.reenumerations);
    replug(d.id);
}

void VirtualBench::broadcast(std::uint32_t event) {
    DEV_BROADCAST_DEVICEINTERFACE_A record{};
    record.dbcc_size = sizeof(DEV_BROADCAST_DEVICEINTERFACE_A);
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SetClassGuid(record, HID_CLASS_GUID);
    registry_.deliver(event, record);
}

void VirtualBench::changed() {
    if (listener_) {
        listener_();
    }
}

DeviceSnapshot VirtualBench::snapshot(const Device& d) const {
    DeviceSnapshot s;
    s.id = d.id;
    s.path = d.path;
    s.isChip = d.chip != nullptr;
    s.held = d.held;
    s.identity = d.identity();
    if (d.chip) {
        s.serial = d.chip->serial();
    }
    s.reportsReceived = d.reportsReceived;
    return s;
}

}  // namespace kx::emu
