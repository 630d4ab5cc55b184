#include "cli/Devices.h"

#include <algorithm>
#include <array>
#include <thread>
#include <utility>

#include "config/IdentityRules.h"
#include "config/TextCodec.h"
#include "device/DevicePath.h"
#include "device/Discovery.h"
#include "device/LastError.h"

namespace kx::cli {
namespace {

using ReadString = int (DeviceLibrary::*)(DeviceHandle, char16_t*, std::uint32_t);

std::string ReadReported(DeviceLibrary& library, ReadString read, DeviceHandle handle) {
    std::array<char16_t, STRING_BUFFER_UNITS> buffer{};
    if ((library.*read)(handle, buffer.data(), STRING_BUFFER_UNITS) == 0) {
        return {};
    }
    return text::Utf16ToUtf8(std::u16string_view(buffer.data()));
}

bool Present(const std::vector<std::string>& paths, const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

std::string Candidates(const std::vector<DeviceRecord>& records) {
    std::string out;
    for (const DeviceRecord& r : records) {
        if (!out.empty()) {
            out += ", ";
        }
        out += r.displayPath;
    }
    return out;
}

}  // namespace

std::vector<DeviceRecord> TakeInventory(Devices& devices, const std::string& onlyPath) {
    std::vector<DeviceRecord> out;
    int chips = 0;
    for (const std::string& path : DiscoverOpenablePaths(devices.library, devices.probe)) {
        if (!onlyPath.empty() && !SamePathIgnoringCase(DevicePathToUtf8(path), onlyPath)) {
            continue;
        }
        DeviceRecord r;
        r.path = path;
        r.displayPath = DevicePathToUtf8(path);
        std::string error;
        if (auto device = OpenDevice::Open(devices, path, error)) {
            const DeviceHandle h = device->handle();
            r.opened = devices.library.KX4701GetAttributes(h, &r.vid, &r.pid, &r.version) != 0;
            r.manufacturer =
                ReadReported(devices.library, &DeviceLibrary::KX4701GetManufacturerString, h);
            r.product = ReadReported(devices.library, &DeviceLibrary::KX4701GetProductString, h);
            r.serial =
                ReadReported(devices.library, &DeviceLibrary::KX4701GetSerialNumberString, h);
            if (devices.extension != nullptr) {
                std::uint16_t family = 0;
                r.kind = devices.extension->KX4701GetChipInfo(h, &family, &r.firmware) != 0
                             ? ChipKind::Chip
                             : ChipKind::NotChip;
            }
            r.device = std::make_shared<OpenDevice>(std::move(*device));
        }
        // Without the extension nothing tells a chip from another device: the maker's
        // library lists its own devices, so each one it can open counts.
        if (r.opened && r.mayBeChip()) {
            r.chipIndex = chips++;
        }
        out.push_back(std::move(r));
    }
    return out;
}

Selection SelectDevices(const std::vector<DeviceRecord>& inventory,
                        const DeviceSelector& selector) {
    Selection s;
    std::vector<DeviceRecord> matches;
    for (const DeviceRecord& r : inventory) {
        const bool match =
            !selector.path.empty()     ? SamePathIgnoringCase(r.displayPath, selector.path)
            : !selector.serial.empty() ? r.chipIndex >= 0 && r.serial == selector.serial
            : selector.index >= 0      ? r.chipIndex == selector.index
                                       : r.chipIndex >= 0;
        if (match) {
            matches.push_back(r);
        }
    }
    const std::string named = !selector.path.empty()     ? "at " + selector.path
                              : !selector.serial.empty() ? "with serial '" + selector.serial + "'"
                              : selector.index >= 0 ? "at index " + std::to_string(selector.index)
                                                    : "attached";
    if (matches.empty()) {
        s.error = "no KX4701 chip " + named + " (kx4701 list shows the ones that can be opened)";
    } else if (matches.size() > 1 && (!selector.all || !selector.path.empty())) {
        s.error = std::to_string(matches.size()) + " devices " + named + ": " +
                  Candidates(matches) +
                  (selector.path.empty() ? "; name one by path, or give --all"
                                         : "; they differ only in letter case, name one exactly");
    } else {
        s.devices = std::move(matches);
    }
    return s;
}

bool ReadBackIdentity(Devices& devices, OpenDevice& device, const DeviceRecord& record,
                      const std::vector<std::string>& pathsBefore, const StoredIdentity& expected,
                      StoredIdentity& after, std::string& where, std::string& error) {
    where = record.path;
    if (device.readIdentity(after)) {
        return true;
    }
    // Told only if the chip does not come back: a chip that left for a new node fails here.
    const std::string atOldNode = device.error();
    std::optional<std::pair<std::string, StoredIdentity>> other;
    const auto deadline = std::chrono::steady_clock::now() + devices.reappearWait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(devices.reappearPoll);
        std::vector<std::pair<std::string, StoredIdentity>> found;
        for (const std::string& path : DiscoverOpenablePaths(devices.library, devices.probe)) {
            std::string ignored;
            StoredIdentity id;
            if (path == record.path || !Present(pathsBefore, path)) {
                if (auto again = OpenDevice::Open(devices, path, ignored);
                    again && again->readIdentity(id)) {
                    found.emplace_back(path, id);
                }
            }
        }
        const auto matches = std::count_if(found.begin(), found.end(), [&](const auto& f) {
            return Confirms(f.second, expected);
        });
        if (matches > 1) {
            // Another chip that came with the same identity would make the answer a guess.
            error = "the chip left after the write, and several chips came back with its identity";
            return false;
        }
        if (matches == 1) {
            const auto& f = *std::find_if(found.begin(), found.end(), [&](const auto& x) {
                return Confirms(x.second, expected);
            });
            where = f.first;
            after = f.second;
            return true;
        }
        if (found.size() == 1) {
            other = found.front();
        }
    }
    if (other) {
        where = other->first;
        after = other->second;
        return true;
    }
    error = atOldNode + "; the chip did not come back within " +
            std::to_string(devices.reappearWait.count() / 1000) + " s to be checked";
    return false;
}

bool Confirms(const StoredIdentity& read, const StoredIdentity& written) {
    return read.vid == written.vid && read.pid == written.pid &&
           read.manufacturer == written.manufacturer && read.product == written.product &&
           read.serial == written.serial &&
           (!read.maxPowerRead || read.maxPower == written.maxPower);
}

bool WritableIdentity(const StoredIdentity& id, std::string& what) {
    for (const auto& [name, text] :
         {std::pair{"manufacturer", &id.manufacturer}, std::pair{"product", &id.product},
          std::pair{"serial", &id.serial}}) {
        if (text->empty() || text->size() > IDENTITY_STRING_MAX_BYTES) {
            what = "a " + std::string(name) + " text of " + std::to_string(text->size()) +
                   " bytes, which cannot be written (1 to 30)";
            return false;
        }
    }
    return true;
}

std::vector<std::string> Unverified::names() const {
    std::vector<std::string> out;
    if (maxPower) {
        out.emplace_back("max_power");
    }
    if (serialDefaults) {
        out.emplace_back("serial_defaults");
    }
    return out;
}

std::string Unverified::text() const {
    return maxPower && serialDefaults ? "bMaxPower and the serial defaults"
           : maxPower                 ? "bMaxPower"
                                      : "the serial defaults";
}

StoredIdentity FactoryIdentity() {
    return {DEFAULT_VID,
            DEFAULT_PID,
            IDENTITY_MAX_POWER,
            std::string(DEFAULT_MANUFACTURER),
            std::string(DEFAULT_PRODUCT),
            std::string(DEFAULT_SERIAL)};
}

StoredIdentity IdentityChange::appliedTo(StoredIdentity base) const {
    base.maxPower = IDENTITY_MAX_POWER;
    base.maxPowerRead = true;  // what is written, whatever could be read before
    base.vid = vid.value_or(base.vid);
    base.pid = pid.value_or(base.pid);
    base.manufacturer = manufacturer.value_or(base.manufacturer);
    base.product = product.value_or(base.product);
    base.serial = serial.value_or(base.serial);
    return base;
}

std::optional<OpenDevice> OpenDevice::Open(Devices& devices, const std::string& path,
                                           std::string& error) {
    const DeviceHandle handle = devices.library.KX4701OpenDevicePath(path.c_str());
    if (handle == INVALID_DEVICE_HANDLE) {
        error = "cannot open it: " + DescribeLastError(GetLastError());
        return std::nullopt;
    }
    return OpenDevice(devices, handle);
}

OpenDevice::OpenDevice(OpenDevice&& other) noexcept
    : devices_(other.devices_),
      handle_(std::exchange(other.handle_, INVALID_DEVICE_HANDLE)),
      error_(std::move(other.error_)) {}

OpenDevice::~OpenDevice() {
    if (handle_ != INVALID_DEVICE_HANDLE) {
        devices_->library.KX4701CloseDevice(handle_);
    }
}

bool OpenDevice::failed(const char* what) {
    error_ = std::string(what) + ": " + DescribeLastError(GetLastError());
    return false;
}

bool OpenDevice::readSerial(SerialDefaults& out) {
    SerialDefaults s{};
    if (devices_->extension == nullptr) {
        error_ = "the loaded KX4701DLL.DLL cannot read a chip's serial defaults";
        return false;
    }
    if (devices_->extension->KX4701GetDefaultRate(handle_, &s.baudCode, &s.parityCode,
                                                  &s.stopBitsCode, &s.dataBitsCode,
                                                  &s.timingByte) == 0) {
        return failed("reading the stored serial defaults failed");
    }
    out = s;
    return true;
}

bool OpenDevice::readIdentity(StoredIdentity& out) {
    if (devices_->extension == nullptr) {
        StoredIdentity id;
        std::uint16_t version = 0;
        if (devices_->library.KX4701GetAttributes(handle_, &id.vid, &id.pid, &version) == 0) {
            return failed("reading the reported identity failed");
        }
        for (const auto& [read, text] :
             {std::pair{&DeviceLibrary::KX4701GetManufacturerString, &id.manufacturer},
              std::pair{&DeviceLibrary::KX4701GetProductString, &id.product},
              std::pair{&DeviceLibrary::KX4701GetSerialNumberString, &id.serial}}) {
            std::array<char16_t, STRING_BUFFER_UNITS> buffer{};
            if ((devices_->library.*read)(handle_, buffer.data(), STRING_BUFFER_UNITS) == 0) {
                return failed("reading the reported identity failed");
            }
            const auto cp936 = text::Utf8ToAnsi(text::Utf16ToUtf8(buffer.data()));
            if (!cp936) {
                error_ = "the chip reports a text that CP936 cannot hold";
                return false;
            }
            *text = *cp936;
        }
        id.maxPowerRead = false;
        out = std::move(id);
        return true;
    }
    char texts[3][IDENTITY_STRING_MAX_BYTES]{};
    std::uint8_t lengths[3]{};
    StoredIdentity id;
    if (devices_->extension == nullptr ||
        devices_->extension->KX4701GetDeviceCfg(handle_, &id.vid, &id.pid, &id.maxPower, texts[0],
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

bool OpenDevice::writeSerial(const SerialDefaults& d) {
    return devices_->library.KX4701SetDefaultRate(handle_, d.baudCode, d.parityCode, d.stopBitsCode,
                                                  d.dataBitsCode, d.timingByte) != 0 ||
           failed("writing the serial defaults failed");
}

bool OpenDevice::writeIdentity(const StoredIdentity& id) {
    // The values were checked against the identity rules: each text is 1..30 bytes.
    const auto length = [](const std::string& t) { return static_cast<std::uint8_t>(t.size()); };
    return devices_->library.KX4701SetDeviceCfg(handle_, id.vid, id.pid, id.maxPower,
                                                id.manufacturer.data(), length(id.manufacturer),
                                                id.product.data(), length(id.product),
                                                id.serial.data(), length(id.serial)) != 0 ||
           failed("writing the identity failed");
}

bool OpenDevice::factoryReset() {
    return devices_->library.KX4701ResetToDefault(handle_) != 0 ||
           failed("the factory reset failed");
}

std::string DescribeLastError(std::uint32_t code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND_CODE:
            return "no such device";
        case ERROR_ACCESS_DENIED_CODE:
            return "access denied (the device is held, or the chip refuses writes)";
        case ERROR_INVALID_HANDLE_CODE:
            return "the device is no longer open";
        case ERROR_INVALID_DATA_CODE:
            return "the chip's reply was malformed or changed while it was read";
        case ERROR_CRC_CODE:
            return "the chip found a checksum error";
        case ERROR_GEN_FAILURE_CODE:
            return "the device did not respond (unplugged?)";
        case ERROR_NOT_SUPPORTED_CODE:
            return "not supported (the device is not a KX4701 chip)";
        case ERROR_INVALID_PARAMETER_CODE:
            return "the chip refused a value";
        case ERROR_INVALID_NAME_CODE:
            return "the path names two devices that differ only in letter case";
        case ERROR_TIMEOUT_CODE:
            return "the chip did not answer in time";
        default:
            return "system error " + std::to_string(code);
    }
}

}  // namespace kx::cli
