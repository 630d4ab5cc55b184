// Our stand-in for the maker's KX4701DLL.DLL: the fourteen functions over our own device
// library and the virtual chip bench (the same chip logic as the Linux bench program), with
// the chips in this process or in a folder shared by processes (StandIn.h). Nothing of it
// reaches any hardware.

#include "emulation/standin/StandIn.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>

#include "device/DeviceNotify.h"
#include "device/win32/Kx4701Exports.h"

namespace kx::emu::standin {
namespace {

using Json = nlohmann::json;

constexpr int DEFAULT_CHIPS = 2;
constexpr UINT FOLDER_LOOK_MS = 100;

// The text as CharUpperBuffA leaves it, for comparing paths in any letter case.
std::string Upper(const std::string& text) {
    std::string upper(text);
    CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    return upper;
}

std::string Lower(std::string text) {
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char digits[3];
    for (const unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", c);
        out += digits;
    }
    return out;
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// A new, empty folder of our own under the temporary folder, with its final separator;
// empty if none could be made.
std::string MakeFolder() {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    const std::string base =
        Lower(temp) + "kx4701-standin-" + std::to_string(GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string folder = base + std::to_string(attempt);
        if (CreateDirectoryA(folder.c_str(), nullptr)) {
            return folder + "\\";
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}

std::string FileName(const std::string& path) {
    return path.substr(path.find_last_of('\\') + 1);
}

// "hid#vid_3c5b&pid_b207#NAME&GEN", the name a chip's file has.
std::string ChipFileName(const ChipIdentity& id, const std::string& name, int generation) {
    char head[40];
    std::snprintf(head, sizeof head, "hid#vid_%04x&pid_%04x#", id.vid, id.pid);
    return head + name + "&" + std::to_string(generation);
}

std::string ReadFileText(const std::string& path) {
    std::string out;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            out.append(buffer, got);
        }
        CloseHandle(file);
    }
    return out;
}

struct DeviceChange {
    WPARAM event;
    DEV_BROADCAST_DEVICEINTERFACE_A record;
};

BOOL CALLBACK SendDeviceChange(HWND window, LPARAM data) {
    const auto* change = reinterpret_cast<const DeviceChange*>(data);
    SendMessageA(window, WM_DEVICECHANGE, change->event, reinterpret_cast<LPARAM>(&change->record));
    return TRUE;
}

// The folder's changes, told to the windows of the thread whose message loop runs this.
void CALLBACK LookAtFolder(HWND, UINT, UINT_PTR, DWORD) {
    const std::vector<WPARAM> events = Serialized([](StandIn& s) {
        s.sync();
        return s.takeEvents();
    });
    for (const WPARAM event : events) {
        TellThreadWindows(event);
    }
}

}  // namespace

void TellThreadWindows(WPARAM event) {
    DeviceChange change{event, {}};
    change.record.dbcc_size = sizeof change.record;
    change.record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SetClassGuid(change.record, HID_CLASS_GUID);
    const auto data = reinterpret_cast<LPARAM>(&change);
    EnumThreadWindows(GetCurrentThreadId(), SendDeviceChange, data);
    // EnumThreadWindows passes over message-only windows, which a console program watches with.
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w != nullptr;
         w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr)) {
        if (GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) {
            SendDeviceChange(w, data);
        }
    }
}

StandIn::StandIn() : library_(bench_) {
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableA(BENCH_FOLDER_VARIABLE, folder, sizeof folder);
    shared_ = length > 0 && length <= MAX_PATH;
    if (shared_) {
        folder_ = folder;
        if (folder_.back() != '\\' && folder_.back() != '/') {
            folder_ += '\\';
        }
        sync();
        events_.clear();  // there at load: nothing arrived
        return;
    }
    folder_ = MakeFolder();
    for (int i = 0; i < DEFAULT_CHIPS; ++i) {
        PlugChip();
    }
}

StandIn::~StandIn() {
    if (shared_) {
        return;  // the chips stay in their folder
    }
    for (Chip& chip : chips_) {
        Remove(chip);
    }
    if (!folder_.empty()) {
        RemoveDirectoryA(folder_.c_str());
    }
}

int StandIn::PlugChip() {
    if (folder_.empty() || shared_) {
        return 0;
    }
    const ChipIdentity identity;
    char name[64] = {};
    wsprintfA(name, "hid#vid_%04x&pid_%04x#%d", identity.vid, identity.pid, ++sequence_);
    const std::string path = folder_ + name;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    CloseHandle(file);
    const int id = bench_.plugChip(identity, path);
    if (id < 0) {
        DeleteFileA(path.c_str());
        return 0;
    }
    chips_.push_back({id, path, INVALID_HANDLE_VALUE, {}, 0, "[]"});
    return sequence_;
}

bool StandIn::Unplug(const char* path) {
    Chip* chip = Find(path);
    if (chip == nullptr) {
        return false;
    }
    Remove(*chip);
    chips_.erase(chips_.begin() + (chip - chips_.data()));
    return true;
}

bool StandIn::Hold(const char* path, bool held) {
    Chip* chip = Find(path);
    if (chip == nullptr) {
        return false;
    }
    if (held && chip->hold == INVALID_HANDLE_VALUE) {
        // Not shared at all: every other open of the path fails with a sharing violation.
        chip->hold = CreateFileA(chip->path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (chip->hold == INVALID_HANDLE_VALUE) {
            return false;
        }
    } else if (!held) {
        Release(*chip);
    }
    bench_.setHeld(chip->id, held);
    return true;
}

int StandIn::List(char* buffer, DWORD size) {
    std::string list;
    for (const Chip& chip : chips_) {
        list += chip.path + "\n";
    }
    if (buffer == nullptr || list.size() >= size) {
        if (buffer != nullptr && size > 0) {
            buffer[0] = '\0';
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return -1;
    }
    std::memcpy(buffer, list.c_str(), list.size() + 1);
    return static_cast<int>(chips_.size());
}

StandIn::Chip* StandIn::Find(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    const std::string wanted = Upper(path);
    for (Chip& chip : chips_) {
        if (Upper(chip.path) == wanted) {
            return &chip;
        }
    }
    return nullptr;
}

StandIn::Chip* StandIn::FindId(int id) {
    for (Chip& chip : chips_) {
        if (chip.id == id) {
            return &chip;
        }
    }
    return nullptr;
}

void StandIn::Release(Chip& chip) {
    if (chip.hold != INVALID_HANDLE_VALUE) {
        CloseHandle(chip.hold);
        chip.hold = INVALID_HANDLE_VALUE;
    }
}

void StandIn::Remove(Chip& chip) {
    Release(chip);
    bench_.unplug(chip.id);
    DeleteFileA(chip.path.c_str());
}

void StandIn::Load(const std::string& file) {
    const std::string path = folder_ + file;
    const std::string text = ReadFileText(path);
    const Json j = text.empty() ? Json::object() : Json::parse(text, nullptr, false);
    if (!j.is_object()) {
        return;  // being written: taken at the next look
    }
    ChipIdentity id;
    id.vid = j.value("vid", id.vid);
    id.pid = j.value("pid", id.pid);
    id.maxPower = j.value("max_power", id.maxPower);
    for (auto [key, field] : {std::pair{"manufacturer", &id.manufacturer},
                              std::pair{"product", &id.product}, std::pair{"serial", &id.serial}}) {
        if (j.contains(key)) {
            *field = FromHex(j[key].get<std::string>());
        }
    }
    SerialDefaults serial = FACTORY_SERIAL_DEFAULTS;
    if (j.contains("serial_defaults")) {
        const auto c = j["serial_defaults"].get<std::vector<int>>();
        serial = {static_cast<std::uint8_t>(c.at(0)), static_cast<std::uint8_t>(c.at(1)),
                  static_cast<std::uint8_t>(c.at(2)), static_cast<std::uint8_t>(c.at(3)),
                  static_cast<std::uint8_t>(c.at(4))};
    }
    const int bench = bench_.plugChip(id, path, serial);
    if (bench < 0) {
        return;
    }
    bench_.faults(bench).refuseCommands = j.value("refuse", false);
    bench_.faults(bench).forgetWrites = j.value("forget", false);
    const std::string tail = file.substr(file.find_last_of('#') + 1);
    const auto amp = tail.find_last_of('&');
    Chip chip{bench, path, INVALID_HANDLE_VALUE, tail.substr(0, amp), 0, "[]"};
    chip.generation = amp == std::string::npos ? 0 : std::atoi(tail.c_str() + amp + 1);
    chip.received = j.value("received", Json::array()).dump();
    chips_.push_back(std::move(chip));
    events_.push_back(DBT_DEVICEARRIVAL);
}

bool StandIn::Persist(Chip& chip, const std::string& newPath) {
    const std::optional<DeviceSnapshot> now = bench_.device(chip.id);
    if (!now) {
        return false;
    }
    const Faults& faults = bench_.faults(chip.id);
    const SerialDefaults& s = now->serial;
    const Json j = {{"vid", now->identity.vid},
                    {"pid", now->identity.pid},
                    {"max_power", now->identity.maxPower},
                    {"manufacturer", Hex(now->identity.manufacturer)},
                    {"product", Hex(now->identity.product)},
                    {"serial", Hex(now->identity.serial)},
                    {"serial_defaults",
                     {s.baudCode, s.parityCode, s.stopBitsCode, s.dataBitsCode, s.timingByte}},
                    {"refuse", faults.refuseCommands},
                    {"forget", faults.forgetWrites},
                    {"received", Json::parse(chip.received)}};
    const std::string text = j.dump();
    // Replaced whole, then renamed: a process killed in between leaves one chip, never two.
    const std::string temporary = folder_ + "~" + chip.name + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok =
        file != INVALID_HANDLE_VALUE &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return ok && MoveFileExA(temporary.c_str(), chip.path.c_str(), MOVEFILE_REPLACE_EXISTING) &&
           (newPath == chip.path || MoveFileExA(chip.path.c_str(), newPath.c_str(), 0));
}

void StandIn::opened(DeviceHandle handle, const char* path) {
    if (const Chip* chip = Find(path); chip != nullptr && shared_) {
        handles_.emplace_back(handle, chip->id);
    }
}

void StandIn::closed(DeviceHandle handle) {
    std::erase_if(handles_, [&](const auto& h) { return h.first == handle; });
}

void StandIn::wrote(DeviceHandle handle, const std::string& call, bool ok, bool identity) {
    const auto it = std::find_if(handles_.begin(), handles_.end(),
                                 [&](const auto& h) { return h.first == handle; });
    Chip* chip = it == handles_.end() ? nullptr : FindId(it->second);
    if (chip == nullptr) {
        return;
    }
    Json received = Json::parse(chip->received);
    received.push_back(call);
    chip->received = received.dump();
    const std::optional<DeviceSnapshot> now = bench_.device(chip->id);
    if (!ok || !identity || !now) {
        Persist(*chip, chip->path);
        return;
    }
    // As a USB chip applying a new identity: it leaves the bus and comes back as new.
    const std::string path = folder_ + ChipFileName(now->identity, chip->name, ++chip->generation);
    const Faults faults = bench_.faults(chip->id);
    Persist(*chip, path);
    bench_.unplug(chip->id);
    chip->id = bench_.plugChip(now->identity, path, now->serial);
    bench_.faults(chip->id) = faults;
    chip->path = path;
    events_.push_back(DBT_DEVICEREMOVECOMPLETE);
    events_.push_back(DBT_DEVICEARRIVAL);
}

void StandIn::sync() {
    if (!shared_) {
        return;
    }
    std::vector<std::string> files;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder_ + "hid#*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            files.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    // By NAME, so that chips plugged together are listed in one order in every process.
    const auto name = [](const std::string& f) { return f.substr(f.find_last_of('#') + 1); };
    std::sort(files.begin(), files.end(),
              [&](const std::string& a, const std::string& b) { return name(a) < name(b); });
    for (std::size_t i = chips_.size(); i-- > 0;) {
        const std::string mine = Upper(FileName(chips_[i].path));
        if (std::none_of(files.begin(), files.end(),
                         [&](const std::string& f) { return Upper(f) == mine; })) {
            Release(chips_[i]);
            bench_.unplug(chips_[i].id);
            chips_.erase(chips_.begin() + static_cast<std::ptrdiff_t>(i));
            events_.push_back(DBT_DEVICEREMOVECOMPLETE);
        }
    }
    for (const std::string& file : files) {
        if (Find((folder_ + file).c_str()) == nullptr) {
            Load(file);
        }
    }
}

std::vector<WPARAM> StandIn::takeEvents() {
    return std::exchange(events_, {});
}

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

// One stand-in per process, made on first use and gone when the DLL is unloaded.
StandIn& Instance() {
    static StandIn standIn;
    return standIn;
}

}  // namespace kx::emu::standin

using kx::emu::standin::Serialized;
using kx::emu::standin::StandIn;

namespace {

std::string Call(const char* function, std::initializer_list<std::string> arguments) {
    std::string text = function;
    for (const std::string& a : arguments) {
        text += " " + a;
    }
    return text;
}

std::string Text(const char* bytes, BYTE length) {
    return bytes == nullptr ? std::string() : std::string(bytes, length);
}

}  // namespace

extern "C" {

int WINAPI KX4701DllInt() {
    return Serialized([](StandIn& s) { return s.library().KX4701DllInt(); });
}

int WINAPI KX4701GetHidGuid(GUID* guid) {
    const auto [result, look] = Serialized([&](StandIn& s) {
        kx::Guid ours{};
        const int r = s.library().KX4701GetHidGuid(guid == nullptr ? nullptr : &ours);
        if (r != 0) {
            std::memcpy(guid, &ours, sizeof ours);
        }
        return std::pair{r, s.shared()};
    });
    // Whoever asks for the class is about to watch it: the folder is looked at on its loop.
    static DWORD lookingThread = 0;
    if (look && lookingThread == 0) {
        lookingThread = GetCurrentThreadId();
        SetTimer(nullptr, 0, kx::emu::standin::FOLDER_LOOK_MS, kx::emu::standin::LookAtFolder);
    }
    return result;
}

int WINAPI KX4701GetDevicePath(int index, char* buffer, DWORD size) {
    return Serialized([&](StandIn& s) {
        if (index == 0) {
            s.sync();  // a fresh snapshot of the bus
        }
        return s.library().KX4701GetDevicePath(index, buffer, size);
    });
}

int WINAPI KX4701OpenDevicePath(const char* path) {
    return Serialized([&](StandIn& s) {
        const int handle = s.library().KX4701OpenDevicePath(path);
        if (handle != kx::INVALID_DEVICE_HANDLE) {
            s.opened(handle, path);
        }
        return handle;
    });
}

int WINAPI KX4701CloseDevice(int handle) {
    return Serialized([&](StandIn& s) {
        s.closed(handle);
        return s.library().KX4701CloseDevice(handle);
    });
}

int WINAPI KX4701GetAttributes(int handle, WORD* vid, WORD* pid, WORD* version) {
    return Serialized(
        [&](StandIn& s) { return s.library().KX4701GetAttributes(handle, vid, pid, version); });
}

int WINAPI KX4701GetBufferLen(int handle, WORD* inputLength, WORD* outputLength) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetBufferLen(handle, inputLength, outputLength);
    });
}

int WINAPI KX4701SetTimeOut(int handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701SetTimeOut(handle, readTimeoutMs, writeTimeoutMs);
    });
}

int WINAPI KX4701SetDefaultRate(int handle, BYTE baudCode, BYTE parityCode, BYTE stopBitsCode,
                                BYTE dataBitsCode, BYTE timingByte) {
    return Serialized([&](StandIn& s) {
        const int r = s.library().KX4701SetDefaultRate(handle, baudCode, parityCode, stopBitsCode,
                                                       dataBitsCode, timingByte);
        s.wrote(handle,
                Call("KX4701SetDefaultRate",
                     {std::to_string(baudCode), std::to_string(parityCode),
                      std::to_string(stopBitsCode), std::to_string(dataBitsCode),
                      std::to_string(timingByte)}),
                r != 0, false);
        return r;
    });
}

int WINAPI KX4701SetDeviceCfg(int handle, WORD vid, WORD pid, BYTE maxPower,
                              const char* manufacturer, BYTE manufacturerLength,
                              const char* product, BYTE productLength, const char* serial,
                              BYTE serialLength) {
    return Serialized([&](StandIn& s) {
        const int r = s.library().KX4701SetDeviceCfg(handle, vid, pid, maxPower, manufacturer,
                                                     manufacturerLength, product, productLength,
                                                     serial, serialLength);
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04X %04X", vid, pid);
        s.wrote(handle,
                Call("KX4701SetDeviceCfg",
                     {ids, std::to_string(maxPower),
                      kx::emu::standin::Hex(Text(manufacturer, manufacturerLength)),
                      kx::emu::standin::Hex(Text(product, productLength)),
                      kx::emu::standin::Hex(Text(serial, serialLength))}),
                r != 0, true);
        return r;
    });
}

int WINAPI KX4701GetManufacturerString(int handle, wchar_t* buffer, DWORD units) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetManufacturerString(handle, reinterpret_cast<char16_t*>(buffer),
                                                       units);
    });
}

int WINAPI KX4701GetProductString(int handle, wchar_t* buffer, DWORD units) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetProductString(handle, reinterpret_cast<char16_t*>(buffer),
                                                  units);
    });
}

int WINAPI KX4701GetSerialNumberString(int handle, wchar_t* buffer, DWORD units) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetSerialNumberString(handle, reinterpret_cast<char16_t*>(buffer),
                                                       units);
    });
}

int WINAPI KX4701ResetToDefault(int handle) {
    return Serialized([&](StandIn& s) {
        const int r = s.library().KX4701ResetToDefault(handle);
        s.wrote(handle, "KX4701ResetToDefault", r != 0, true);
        return r;
    });
}

}  // extern "C"

// The exports have exactly the types the loader and the tests call them through.
namespace kx::win32 {
static_assert(std::is_same_v<decltype(&::KX4701DllInt), KX4701DllIntFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetHidGuid), KX4701GetHidGuidFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetDevicePath), KX4701GetDevicePathFn>);
static_assert(std::is_same_v<decltype(&::KX4701OpenDevicePath), KX4701OpenDevicePathFn>);
static_assert(std::is_same_v<decltype(&::KX4701CloseDevice), KX4701CloseDeviceFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetAttributes), KX4701GetAttributesFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetBufferLen), KX4701GetBufferLenFn>);
static_assert(std::is_same_v<decltype(&::KX4701SetTimeOut), KX4701SetTimeOutFn>);
static_assert(std::is_same_v<decltype(&::KX4701SetDefaultRate), KX4701SetDefaultRateFn>);
static_assert(std::is_same_v<decltype(&::KX4701SetDeviceCfg), KX4701SetDeviceCfgFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetManufacturerString), KX4701GetStringFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetProductString), KX4701GetStringFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetSerialNumberString), KX4701GetStringFn>);
static_assert(std::is_same_v<decltype(&::KX4701ResetToDefault), KX4701ResetToDefaultFn>);
}  // namespace kx::win32
