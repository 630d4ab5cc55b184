#include "device/KxLibrary.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <tuple>

#include "config/TextCodec.h"
#include "device/DevicePath.h"
#include "device/LastError.h"

namespace kx {

namespace {

using Clock = std::chrono::steady_clock;
using protocol::Status;

// Polling starts fast (the chip usually answers at once) and backs off for slow commits.
constexpr auto FIRST_POLL_DELAY = std::chrono::milliseconds(1);
constexpr auto MAX_POLL_DELAY = std::chrono::milliseconds(8);

// A path looked up in a list of interfaces: the interface it names in any letter case (null
// for none), whether two differently spelled paths match, and whether one of the node's
// collections is on the chip's page.
struct Resolved {
    std::optional<HidDeviceInfo> match;
    bool ambiguous = false;
    bool vendorPage = false;
};

Resolved Resolve(const std::vector<HidDeviceInfo>& list, std::string_view wanted) {
    const auto found =
        LookUpPath(list.begin(), list.end(), wanted,
                   [](const HidDeviceInfo& i) -> const std::string& { return i.path; });
    Resolved r;
    r.ambiguous = found.ambiguous;
    if (found.match == list.end()) {
        return r;
    }
    r.match = *found.match;
    // One node may list several collections; the chip's is the vendor one.
    for (const HidDeviceInfo& info : list) {
        r.vendorPage = r.vendorPage || (info.path == r.match->path &&
                                        info.usagePage == protocol::VENDOR_USAGE_PAGE);
    }
    return r;
}

int ToTimeout(std::uint32_t ms) {
    return static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX));
}

}  // namespace

struct KxLibrary::Open {
    // One exchange at a time on the device, whatever handle it comes through: a chip keeps
    // one reply for the last request, so two handles' requests must not interleave.
    std::shared_ptr<std::mutex> device;
    std::unique_ptr<HidConnection> connection;
    HidDeviceInfo info;
    bool vendorPage = false;
    bool declaresChip = false;  // by its report descriptor
    bool asked = false;         // IDENTIFY sent
    bool identified = false;
    std::uint32_t notChipError = ERROR_NOT_SUPPORTED_CODE;  // what a call that needs a chip gets
    protocol::ChipInfo chip;
    std::uint32_t readTimeoutMs = DEFAULT_TIMEOUT_MS;
    std::uint32_t writeTimeoutMs = DEFAULT_TIMEOUT_MS;
    std::uint8_t seq = 0;

    std::uint8_t takeSeq() { return ++seq; }
};

std::uint32_t LastErrorForStatus(Status status) {
    switch (status) {
        case Status::Ok:
            return ERROR_SUCCESS_CODE;
        case Status::Busy:
            return ERROR_TIMEOUT_CODE;
        case Status::BadCommand:
            return ERROR_NOT_SUPPORTED_CODE;
        case Status::BadLength:
        case Status::BadValue:
            return ERROR_INVALID_PARAMETER_CODE;
        case Status::BadState:
            return ERROR_GEN_FAILURE_CODE;
        case Status::BadChecksum:
            return ERROR_CRC_CODE;
        case Status::Refused:
            return ERROR_ACCESS_DENIED_CODE;
    }
    return ERROR_INVALID_DATA_CODE;
}

KxLibrary::KxLibrary(HidBus& bus) : bus_(bus) {}
KxLibrary::~KxLibrary() = default;

int KxLibrary::KX4701DllInt() {
    return 1;
}

int KxLibrary::KX4701GetHidGuid(Guid* guid) {
    if (guid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    *guid = HID_CLASS_GUID;
    return 1;
}

int KxLibrary::KX4701GetDevicePath(std::int32_t index, char* buffer, std::uint32_t size) {
    if (index < 0 || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    if (size > 0) {
        buffer[0] = '\0';
    }
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    if (index == 0 || !snapshots_.contains(self)) {
        lock.unlock();  // the walk of the bus holds up no other thread
        std::vector<HidDeviceInfo> fresh = bus_.enumerate();
        lock.lock();
        snapshots_[self] = std::move(fresh);
        latest_ = self;
    }
    const std::vector<HidDeviceInfo>& snapshot = snapshots_[self];
    if (static_cast<std::size_t>(index) >= snapshot.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return 0;
    }
    const std::string path = snapshot[static_cast<std::size_t>(index)].path;
    lock.unlock();
    // A path with an inner zero byte would reach the caller cut short and name another file.
    if (path.empty() || path.find('\0') != std::string::npos) {
        SetLastError(ERROR_INVALID_DATA_CODE);
        return 0;
    }
    if (path.size() >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER_CODE);
        return 0;
    }
    std::memcpy(buffer, path.data(), path.size());
    buffer[path.size()] = '\0';
    return 1;
}

DeviceHandle KxLibrary::KX4701OpenDevicePath(const char* path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return INVALID_DEVICE_HANDLE;
    }
    const std::string_view wanted(path);
    if (wanted.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND_CODE);
        return INVALID_DEVICE_HANDLE;
    }
    // The name is resolved in discovery's snapshot when it is there, so that opening every
    // listed device does not walk the bus once per device; what the device is comes from
    // the device itself once it is open. A name the snapshot lacks, or cannot open, is
    // looked up on the bus as it is now.
    std::optional<Resolved> found;
    {
        const std::lock_guard lock(mutex_);
        // The caller's own discovery, else the latest of any thread (one thread may discover
        // for others that open).
        for (const std::thread::id id : {std::this_thread::get_id(), latest_}) {
            if (const auto it = snapshots_.find(id); it != snapshots_.end() && !found) {
                found = Resolve(it->second, wanted);
                if (!found->match) {
                    found.reset();
                }
            }
        }
    }
    std::unique_ptr<HidConnection> connection;
    if (found && found->match && !found->ambiguous) {
        connection = bus_.open(found->match->path);
    }
    std::vector<HidDeviceInfo> present;
    if (!connection) {
        present = bus_.enumerate();
        found = Resolve(present, wanted);
        if (found->match && !found->ambiguous) {
            connection = bus_.open(found->match->path);
        }
    }
    if (found->ambiguous) {
        // Only case tells these apart, and the caller's case may have been changed.
        SetLastError(ERROR_INVALID_NAME_CODE);
        return INVALID_DEVICE_HANDLE;
    }
    if (!found->match) {
        SetLastError(ERROR_FILE_NOT_FOUND_CODE);
        return INVALID_DEVICE_HANDLE;
    }
    if (!connection) {
        SetLastError(ERROR_ACCESS_DENIED_CODE);
        return INVALID_DEVICE_HANDLE;
    }
    auto dev = std::make_shared<Open>();
    dev->connection = std::move(connection);
    dev->info = *found->match;
    dev->vendorPage = found->vendorPage;
    if (const std::optional<hid::DescriptorSummary> summary = dev->connection->describe()) {
        const std::vector<std::uint16_t>& pages = summary->usagePages;
        dev->vendorPage =
            std::find(pages.begin(), pages.end(), protocol::VENDOR_USAGE_PAGE) != pages.end();
        dev->declaresChip = summary->chip;
        dev->info.inputReportLength = summary->lengths.input;
        dev->info.outputReportLength = summary->lengths.output;
    } else {
        if (present.empty()) {
            // The snapshot's word is not enough for what decides whether reports are sent.
            present = bus_.enumerate();
            const Resolved now = Resolve(present, dev->info.path);
            dev->vendorPage = now.match && now.vendorPage;
        }
        dev->declaresChip = dev->vendorPage;
    }
    const std::lock_guard lock(mutex_);
    std::weak_ptr<std::mutex>& shared = deviceLocks_[dev->info.path];
    dev->device = shared.lock();
    if (!dev->device) {
        dev->device = std::make_shared<std::mutex>();
        shared = dev->device;
    }
    std::erase_if(deviceLocks_, [](const auto& entry) { return entry.second.expired(); });
    const DeviceHandle handle = allocateHandle();
    handles_.emplace(handle, std::move(dev));
    return handle;
}

int KxLibrary::KX4701CloseDevice(DeviceHandle handle) {
    std::shared_ptr<Open> closed;  // goes after the lock, when no other call holds it
    const std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it != handles_.end()) {
        closed = std::move(it->second);
        handles_.erase(it);
    }
    if (closed == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return 0;
    }
    return 1;
}

int KxLibrary::KX4701GetAttributes(DeviceHandle handle, std::uint16_t* vid, std::uint16_t* pid,
                                   std::uint16_t* version) {
    const Use dev = find(handle);
    if (!dev) {
        return 0;
    }
    if (vid == nullptr || pid == nullptr || version == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    std::uint16_t v = 0, p = 0, r = 0;
    if (!dev->connection->attributes(&v, &p, &r)) {
        SetLastError(ERROR_GEN_FAILURE_CODE);
        return 0;
    }
    *vid = v;
    *pid = p;
    *version = r;
    return 1;
}

int KxLibrary::KX4701GetBufferLen(DeviceHandle handle, std::uint16_t* inputLength,
                                  std::uint16_t* outputLength) {
    const Use dev = find(handle);
    if (!dev) {
        return 0;
    }
    if (inputLength == nullptr || outputLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    *inputLength = dev->info.inputReportLength;
    *outputLength = dev->info.outputReportLength;
    return 1;
}

int KxLibrary::KX4701SetTimeOut(DeviceHandle handle, std::uint32_t readTimeoutMs,
                                std::uint32_t writeTimeoutMs) {
    const Use dev = find(handle);
    if (!dev) {
        return 0;
    }
    dev->readTimeoutMs = readTimeoutMs;
    dev->writeTimeoutMs = writeTimeoutMs;
    return 1;
}

int KxLibrary::KX4701SetDefaultRate(DeviceHandle handle, std::uint8_t baudCode,
                                    std::uint8_t parityCode, std::uint8_t stopBitsCode,
                                    std::uint8_t dataBitsCode, std::uint8_t timingByte) {
    const Use dev = findChip(handle);
    if (!dev) {
        return 0;
    }
    const SerialDefaults params{baudCode, parityCode, stopBitsCode, dataBitsCode, timingByte};
    return command(*dev, protocol::EncodeSetDefaultRate(dev->takeSeq(), params)) ? 1 : 0;
}

int KxLibrary::KX4701SetDeviceCfg(DeviceHandle handle, std::uint16_t vid, std::uint16_t pid,
                                  std::uint8_t maxPower, const char* manufacturer,
                                  std::uint8_t manufacturerLength, const char* product,
                                  std::uint8_t productLength, const char* serial,
                                  std::uint8_t serialLength) {
    const Use dev = findChip(handle);
    if (!dev) {
        return 0;
    }
    const protocol::IdentityHeader header{vid,           pid,         maxPower, manufacturerLength,
                                          productLength, serialLength};
    if (manufacturer == nullptr || product == nullptr || serial == nullptr ||
        !protocol::IsValidIdentityHeader(header)) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    std::vector<std::uint8_t> data;
    data.reserve(header.dataLength());
    for (const auto& [text, length] :
         {std::pair{manufacturer, manufacturerLength}, std::pair{product, productLength},
          std::pair{serial, serialLength}}) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
        data.insert(data.end(), bytes, bytes + length);
    }
    // The chip stages everything and applies it only at a commit whose CRC matches, so a
    // transfer cut short anywhere leaves the stored identity as it was.
    if (!command(*dev, protocol::EncodeCfgBegin(dev->takeSeq(), header))) {
        return 0;
    }
    for (std::size_t offset = 0; offset < data.size(); offset += protocol::MAX_CFG_CHUNK) {
        const std::size_t n = std::min(protocol::MAX_CFG_CHUNK, data.size() - offset);
        const auto frame = protocol::EncodeCfgData(
            dev->takeSeq(), static_cast<std::uint8_t>(offset), std::span(data).subspan(offset, n));
        if (!frame || !command(*dev, *frame)) {
            return 0;
        }
    }
    const std::uint16_t crc = protocol::IdentityCrc(header, data);
    return command(*dev, protocol::EncodeCfgCommit(dev->takeSeq(), crc)) ? 1 : 0;
}

int KxLibrary::KX4701GetManufacturerString(DeviceHandle handle, char16_t* buffer,
                                           std::uint32_t units) {
    return readString(handle, HidString::Manufacturer, buffer, units);
}

int KxLibrary::KX4701GetProductString(DeviceHandle handle, char16_t* buffer, std::uint32_t units) {
    return readString(handle, HidString::Product, buffer, units);
}

int KxLibrary::KX4701GetSerialNumberString(DeviceHandle handle, char16_t* buffer,
                                           std::uint32_t units) {
    return readString(handle, HidString::SerialNumber, buffer, units);
}

int KxLibrary::KX4701ResetToDefault(DeviceHandle handle) {
    const Use dev = findChip(handle);
    if (!dev) {
        return 0;
    }
    return command(*dev, protocol::EncodeFactoryReset(dev->takeSeq())) ? 1 : 0;
}

std::size_t KxLibrary::openHandleCount() const {
    const std::lock_guard lock(mutex_);
    return handles_.size();
}

bool KxLibrary::isIdentifiedChip(DeviceHandle handle) {
    const std::uint32_t saved = GetLastError();
    const bool chip = static_cast<bool>(findChip(handle));
    SetLastError(saved);
    return chip;
}

KxLibrary::Use KxLibrary::find(DeviceHandle handle) {
    std::shared_ptr<Open> open;
    {
        const std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle);
        if (it != handles_.end()) {
            open = it->second;
        }
    }
    if (open == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE_CODE);
        return {};
    }
    std::unique_lock lock(*open->device);
    return Use{std::move(open), std::move(lock)};
}

KxLibrary::Use KxLibrary::findChip(DeviceHandle handle) {
    Use dev = find(handle);
    if (dev && dev->vendorPage && !dev->asked) {
        // Asked once per handle, whatever the answer: the open succeeded without it.
        dev->asked = true;
        const std::uint32_t saved = GetLastError();
        SetLastError(ERROR_SUCCESS_CODE);
        dev->identified = identify(*dev);
        // A device that took no request is gone, not a device of another kind.
        if (GetLastError() == ERROR_GEN_FAILURE_CODE) {
            dev->notChipError = ERROR_GEN_FAILURE_CODE;
        }
        SetLastError(saved);
    }
    if (dev && !dev->identified) {
        SetLastError(dev->notChipError);
        return {};
    }
    return dev;
}

DeviceHandle KxLibrary::allocateHandle() {
    for (;;) {
        const DeviceHandle h = nextHandle_;
        nextHandle_ = nextHandle_ == INT32_MAX ? 1 : nextHandle_ + 1;
        if (!handles_.contains(h)) {
            return h;
        }
    }
}

int KxLibrary::readString(DeviceHandle handle, HidString which, char16_t* buffer,
                          std::uint32_t units) {
    if (buffer == nullptr || units == 0) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    buffer[0] = 0;
    const Use dev = find(handle);
    if (!dev) {
        return 0;
    }
    const bool ok = dev->connection->readString(which, buffer, units);
    // Whatever the backend wrote, the caller gets a terminated text within its bound.
    buffer[units - 1] = 0;
    if (!ok) {
        buffer[0] = 0;
        SetLastError(ERROR_GEN_FAILURE_CODE);
        return 0;
    }
    const std::u16string_view read(buffer);
    buffer[text::Utf16PrefixLength(read, read.size())] = 0;  // no half of a pair cut by the bound
    return 1;
}

int KxLibrary::KX4701GetChipInfo(DeviceHandle handle, std::uint16_t* family,
                                 std::uint16_t* firmware) {
    const Use dev = findChip(handle);
    if (!dev) {
        return 0;
    }
    if (family == nullptr || firmware == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    *family = dev->chip.family;
    *firmware = dev->chip.firmware;
    return 1;
}

int KxLibrary::KX4701IsChip(DeviceHandle handle, int* chip) {
    const Use dev = find(handle);
    if (!dev) {
        return 0;
    }
    if (chip == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    *chip = dev->declaresChip ? 1 : 0;
    return 1;
}

int KxLibrary::KX4701GetDefaultRate(DeviceHandle handle, std::uint8_t* baudCode,
                                    std::uint8_t* parityCode, std::uint8_t* stopBitsCode,
                                    std::uint8_t* dataBitsCode, std::uint8_t* timingByte) {
    const Use dev = findChip(handle);
    if (!dev) {
        return 0;
    }
    if (baudCode == nullptr || parityCode == nullptr || stopBitsCode == nullptr ||
        dataBitsCode == nullptr || timingByte == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    const auto reply = command(*dev, protocol::EncodeGetDefaultRate(dev->takeSeq()));
    if (!reply) {
        return 0;
    }
    const std::optional<SerialDefaults> stored = protocol::DecodeDefaultRate(*reply);
    if (!stored) {
        SetLastError(ERROR_INVALID_DATA_CODE);
        return 0;
    }
    *baudCode = stored->baudCode;
    *parityCode = stored->parityCode;
    *stopBitsCode = stored->stopBitsCode;
    *dataBitsCode = stored->dataBitsCode;
    *timingByte = stored->timingByte;
    return 1;
}

int KxLibrary::KX4701GetDeviceCfg(DeviceHandle handle, std::uint16_t* vid, std::uint16_t* pid,
                                  std::uint8_t* maxPower, char* manufacturer,
                                  std::uint8_t* manufacturerLength, char* product,
                                  std::uint8_t* productLength, char* serial,
                                  std::uint8_t* serialLength) {
    const Use dev = findChip(handle);
    if (!dev) {
        return 0;
    }
    if (vid == nullptr || pid == nullptr || maxPower == nullptr || manufacturer == nullptr ||
        manufacturerLength == nullptr || product == nullptr || productLength == nullptr ||
        serial == nullptr || serialLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER_CODE);
        return 0;
    }
    // One chunk after another, each carrying the header and the CRC of the whole identity:
    // a chunk that disagrees with the first, or data that fails the CRC, is a torn read.
    std::optional<protocol::CfgReadChunk> first;
    std::vector<std::uint8_t> data;
    do {
        const auto reply = command(
            *dev, protocol::EncodeCfgRead(dev->takeSeq(), static_cast<std::uint8_t>(data.size())));
        if (!reply) {
            return 0;
        }
        const std::optional<protocol::CfgReadChunk> chunk = protocol::DecodeCfgRead(*reply);
        const bool consistent = chunk && protocol::IsValidIdentityHeader(chunk->header) &&
                                (!first || (protocol::EncodeIdentityHeader(first->header) ==
                                                protocol::EncodeIdentityHeader(chunk->header) &&
                                            first->crc == chunk->crc)) &&
                                chunk->length > 0 &&
                                data.size() + chunk->length <= chunk->header.dataLength();
        if (!consistent) {
            SetLastError(ERROR_INVALID_DATA_CODE);
            return 0;
        }
        if (!first) {
            first = chunk;
        }
        data.insert(data.end(), chunk->bytes().begin(), chunk->bytes().end());
    } while (data.size() < first->header.dataLength());
    if (protocol::IdentityCrc(first->header, data) != first->crc) {
        SetLastError(ERROR_INVALID_DATA_CODE);
        return 0;
    }
    const protocol::IdentityHeader& h = first->header;
    *vid = h.vid;
    *pid = h.pid;
    *maxPower = h.maxPower;
    std::size_t at = 0;
    for (const auto& [out, length, n] :
         {std::tuple{manufacturer, manufacturerLength, h.manufacturerLength},
          std::tuple{product, productLength, h.productLength},
          std::tuple{serial, serialLength, h.serialLength}}) {
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, out);
        *length = n;
        at += n;
    }
    return 1;
}

std::optional<protocol::Reply> KxLibrary::exchange(Open& dev, const protocol::Frame& request) {
    const auto cmd = static_cast<protocol::Command>(request[1]);
    const std::uint8_t seq = request[2];
    const int sent = dev.connection->sendFeatureReport(request.data(), request.size(),
                                                       ToTimeout(dev.writeTimeoutMs));
    if (sent != static_cast<int>(request.size())) {
        SetLastError(ERROR_GEN_FAILURE_CODE);
        return std::nullopt;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(dev.readTimeoutMs);
    auto delay = FIRST_POLL_DELAY;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            std::max(deadline - Clock::now(), Clock::duration::zero()));
        protocol::Frame buffer{};
        buffer[0] = protocol::REPORT_ID;
        const int received = dev.connection->getFeatureReport(
            buffer.data(), buffer.size(),
            static_cast<int>(std::min<std::int64_t>(left.count(), INT_MAX)));
        if (received < 0) {
            SetLastError(Clock::now() >= deadline ? ERROR_TIMEOUT_CODE : ERROR_GEN_FAILURE_CODE);
            return std::nullopt;
        }
        const protocol::ReplyResult r =
            protocol::DecodeReply(buffer.data(), static_cast<std::size_t>(received));
        if (!r.ok()) {
            SetLastError(ERROR_INVALID_DATA_CODE);
            return std::nullopt;
        }
        // A reply to an earlier request, or BUSY, means: not yet.
        if (r.reply.answers(cmd, seq) && r.reply.status != Status::Busy) {
            return r.reply;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            SetLastError(ERROR_TIMEOUT_CODE);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(delay, deadline - now));
        delay = std::min<std::chrono::milliseconds>(delay * 2, MAX_POLL_DELAY);
    }
}

std::optional<protocol::Reply> KxLibrary::command(Open& dev, const protocol::Frame& request) {
    std::optional<protocol::Reply> reply = exchange(dev, request);
    if (reply && reply->status != Status::Ok) {
        SetLastError(LastErrorForStatus(reply->status));
        return std::nullopt;
    }
    return reply;
}

bool KxLibrary::identify(Open& dev) {
    const std::optional<protocol::Reply> reply =
        exchange(dev, protocol::EncodeIdentify(dev.takeSeq()));
    if (!reply) {
        return false;
    }
    const std::optional<protocol::ChipInfo> info = protocol::DecodeIdentify(*reply);
    if (!info || info->family != protocol::CHIP_FAMILY) {
        return false;
    }
    dev.chip = *info;
    return true;
}

}  // namespace kx
