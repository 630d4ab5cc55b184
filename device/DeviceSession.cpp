#include "device/DeviceSession.h"

#include <algorithm>
#include <array>
#include <thread>
#include <utility>

#include "config/IdentityRules.h"
#include "config/TextCodec.h"
#include "device/Discovery.h"
#include "device/LastError.h"

namespace kx {
namespace {

using ReadString = int (DeviceLibrary::*)(DeviceHandle, char16_t*, std::uint32_t);

std::string ReadReportedText(DeviceLibrary& library, ReadString read, DeviceHandle handle) {
    std::array<char16_t, STRING_BUFFER_UNITS> buffer{};
    if ((library.*read)(handle, buffer.data(), STRING_BUFFER_UNITS) == 0) {
        return {};
    }
    return text::Utf16ToUtf8(std::u16string_view(buffer.data()));
}

// A reported text (UTF-8) in CP936; a text CP936 cannot hold is no stored text at all.
std::string AsStored(const std::string& utf8) {
    return text::Utf8ToAnsi(utf8).value_or(std::string(1, '\0'));
}

}  // namespace

StoredIdentity FactoryIdentity() {
    return {DEFAULT_VID,
            DEFAULT_PID,
            IDENTITY_MAX_POWER,
            std::string(DEFAULT_MANUFACTURER),
            std::string(DEFAULT_PRODUCT),
            std::string(DEFAULT_SERIAL)};
}

ChipReturn AtOldOrNewPath(std::string oldPath, std::vector<std::string> pathsBefore) {
    ChipReturn how;
    how.mayBeAt = [oldPath = std::move(oldPath),
                   before = std::move(pathsBefore)](const std::string& path) {
        return path == oldPath || std::find(before.begin(), before.end(), path) == before.end();
    };
    return how;
}

std::optional<DeviceSession> DeviceSession::Open(const DeviceStack& stack, const std::string& path,
                                                 std::string& error) {
    const DeviceHandle handle = stack.library.KX4701OpenDevicePath(path.c_str());
    if (handle == INVALID_DEVICE_HANDLE) {
        error = "cannot open it: " + DescribeLastError(GetLastError());
        return std::nullopt;
    }
    return DeviceSession(stack, handle, path);
}

DeviceSession::DeviceSession(DeviceSession&& other) noexcept
    : stack_(other.stack_),
      handle_(std::exchange(other.handle_, INVALID_DEVICE_HANDLE)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

DeviceSession::~DeviceSession() {
    if (handle_ != INVALID_DEVICE_HANDLE) {
        (void)stack_->library.KX4701CloseDevice(handle_);  // nothing to do about a failed close
    }
}

bool DeviceSession::failed(const char* what) {
    error_ = std::string(what) + ": " + DescribeLastError(GetLastError());
    return false;
}

ReportedIdentity DeviceSession::readReported() {
    DeviceLibrary& library = stack_->library;
    ReportedIdentity r;
    r.attributes = library.KX4701GetAttributes(handle_, &r.vid, &r.pid, &r.version) != 0;
    r.manufacturer =
        ReadReportedText(library, &DeviceLibrary::KX4701GetManufacturerString, handle_);
    r.product = ReadReportedText(library, &DeviceLibrary::KX4701GetProductString, handle_);
    r.serial = readReportedSerial();
    return r;
}

std::string DeviceSession::readReportedSerial() {
    return ReadReportedText(stack_->library, &DeviceLibrary::KX4701GetSerialNumberString, handle_);
}

ChipKind DeviceSession::kind() {
    if (stack_->extension == nullptr) {
        return ChipKind::Unknown;
    }
    int chip = 0;
    return stack_->extension->KX4701IsChip(handle_, &chip) != 0 && chip != 0 ? ChipKind::Chip
                                                                             : ChipKind::NotChip;
}

bool DeviceSession::identify(std::uint16_t& firmware) {
    std::uint16_t family = 0;
    return stack_->extension != nullptr &&
           stack_->extension->KX4701GetChipInfo(handle_, &family, &firmware) != 0;
}

bool DeviceSession::readSerial(SerialDefaults& out) {
    SerialDefaults s{};
    if (stack_->extension == nullptr || stack_->extension->KX4701GetDefaultRate(
                                            handle_, &s.baudCode, &s.parityCode, &s.stopBitsCode,
                                            &s.dataBitsCode, &s.timingByte) == 0) {
        return failed("reading the stored serial defaults failed");
    }
    out = s;
    return true;
}

bool DeviceSession::readIdentity(StoredIdentity& out) {
    char texts[3][IDENTITY_STRING_MAX_BYTES]{};
    std::uint8_t lengths[3]{};
    StoredIdentity id;
    if (stack_->extension == nullptr ||
        stack_->extension->KX4701GetDeviceCfg(handle_, &id.vid, &id.pid, &id.maxPower, texts[0],
                                              &lengths[0], texts[1], &lengths[1], texts[2],
                                              &lengths[2]) == 0) {
        return failed("reading the stored identity failed");
    }
    id.manufacturer.assign(texts[0], std::min<std::size_t>(lengths[0], IDENTITY_STRING_MAX_BYTES));
    id.product.assign(texts[1], std::min<std::size_t>(lengths[1], IDENTITY_STRING_MAX_BYTES));
    id.serial.assign(texts[2], std::min<std::size_t>(lengths[2], IDENTITY_STRING_MAX_BYTES));
    out = std::move(id);
    return true;
}

bool DeviceSession::writeSerial(const SerialDefaults& d) {
    return stack_->library.KX4701SetDefaultRate(handle_, d.baudCode, d.parityCode, d.stopBitsCode,
                                                d.dataBitsCode, d.timingByte) != 0 ||
           failed("writing the serial defaults failed");
}

bool DeviceSession::writeIdentity(const StoredIdentity& id) {
    const auto length = [](const std::string& t) { return static_cast<std::uint8_t>(t.size()); };
    return stack_->library.KX4701SetDeviceCfg(handle_, id.vid, id.pid, id.maxPower,
                                              id.manufacturer.data(), length(id.manufacturer),
                                              id.product.data(), length(id.product),
                                              id.serial.data(), length(id.serial)) != 0 ||
           failed("writing the identity failed");
}

bool DeviceSession::factoryReset() {
    return stack_->library.KX4701ResetToDefault(handle_) != 0 || failed("the factory reset failed");
}

bool DeviceSession::readHeld(IdentityReadBack& out) {
    out.path = path_;
    if (canReadStored()) {
        out.verified = ALL_IDENTITY_FIELDS;
        return readIdentity(out.identity);
    }
    // The maker's library reads the descriptors only, and only once the chip is seen again.
    const ReportedIdentity r = readReported();
    if (!r.attributes) {
        return failed("reading the chip's identity failed");
    }
    out.identity.vid = r.vid;
    out.identity.pid = r.pid;
    out.identity.manufacturer = AsStored(r.manufacturer);
    out.identity.product = AsStored(r.product);
    out.identity.serial = AsStored(r.serial);
    out.verified = REPORTED_IDENTITY_FIELDS;
    return true;
}

bool DeviceSession::followIdentity(const StoredIdentity& expected, const ChipReturn& how,
                                   IdentityReadBack& out) {
    const auto complete = [&](IdentityReadBack& r) {
        if ((r.verified & FIELD_MAX_POWER) == 0) {
            r.identity.maxPower = expected.maxPower;
        }
    };
    if (!how.leaves && readHeld(out)) {
        complete(out);
        return true;
    }
    // Told only if the chip does not come back: a chip that left for a new node fails here.
    const std::string atOldNode = how.leaves ? "it left the bus after the write" : error_;
    std::optional<std::pair<DeviceSession, IdentityReadBack>> other;
    const auto deadline = std::chrono::steady_clock::now() + how.wait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(how.poll);
        std::vector<std::pair<DeviceSession, IdentityReadBack>> found;
        for (const std::string& path : DiscoverOpenablePaths(stack_->library, stack_->probe)) {
            std::string ignored;
            if (!how.mayBeAt(path)) {
                continue;
            }
            if (auto again = Open(*stack_, path, ignored)) {
                IdentityReadBack r;
                if (again->readHeld(r)) {
                    complete(r);
                    found.emplace_back(std::move(*again), std::move(r));
                }
            }
        }
        const auto isExpected = [&](const auto& f) { return f.second.identity == expected; };
        const auto matches = std::count_if(found.begin(), found.end(), isExpected);
        if (matches > 1) {
            // Another chip that came with the same identity would make the answer a guess.
            error_ = "the chip left after the write, and several chips came back with its identity";
            return false;
        }
        if (matches == 1) {
            other.emplace(std::move(*std::find_if(found.begin(), found.end(), isExpected)));
            break;
        }
        if (found.size() == 1 && how.takeLoneMismatch) {
            other.emplace(std::move(found.front()));  // kept unless the expected one comes
        }
    }
    if (!other) {
        error_ = atOldNode + "; the chip did not come back within " +
                 std::to_string(how.wait.count() / 1000) + " s to be checked";
        return false;
    }
    // The session holds the chip where it came back.
    std::swap(handle_, other->first.handle_);
    path_ = other->first.path_;
    out = std::move(other->second);
    return true;
}

}  // namespace kx
