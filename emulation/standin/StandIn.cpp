// Our stand-in for the maker's KX4701DLL.DLL: the fourteen functions over our own device
// library and the virtual chip bench (the same chip logic as the Linux bench program), plus
// the bench controls of BenchControls.h. Nothing of it reaches any hardware.

#include "config/win32/WinApi.h"

#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "device/DeviceNotify.h"
#include "device/KxLibrary.h"
#include "device/win32/Kx4701Exports.h"
#include "emulation/VirtualBench.h"
#include "emulation/standin/BenchControls.h"

namespace {

using kx::DeviceHandle;

constexpr int DEFAULT_CHIPS = 2;

// The text as CharUpperBuffA leaves it, for comparing paths in any letter case.
std::string Upper(const char* text) {
    std::string upper(text);
    CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    return upper;
}

std::string Lower(std::string text) {
    CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
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

struct DeviceChange {
    WPARAM event;
    DEV_BROADCAST_DEVICEINTERFACE_A record;
};

BOOL CALLBACK SendDeviceChange(HWND window, LPARAM data) {
    const auto* change = reinterpret_cast<const DeviceChange*>(data);
    SendMessageA(window, WM_DEVICECHANGE, change->event, reinterpret_cast<LPARAM>(&change->record));
    return TRUE;
}

// Sends WM_DEVICECHANGE for an HID interface to every window of the calling thread. The
// record lives for the duration of each call, as the system's does.
void TellThreadWindows(WPARAM event) {
    DeviceChange change{event, {}};
    change.record.dbcc_size = sizeof change.record;
    change.record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    kx::SetClassGuid(change.record, kx::HID_CLASS_GUID);
    EnumThreadWindows(GetCurrentThreadId(), SendDeviceChange, reinterpret_cast<LPARAM>(&change));
}

class StandIn {
  public:
    StandIn() : library_(bench_), folder_(MakeFolder()) {
        for (int i = 0; i < DEFAULT_CHIPS; ++i) {
            PlugChip();
        }
    }
    ~StandIn() {
        for (Chip& chip : chips_) {
            Remove(chip);
        }
        if (!folder_.empty()) {
            RemoveDirectoryA(folder_.c_str());
        }
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    kx::KxLibrary& library() { return library_; }

    int PlugChip() {
        if (folder_.empty()) {
            return 0;
        }
        const kx::emu::ChipIdentity identity;
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
        chips_.push_back({id, path, INVALID_HANDLE_VALUE});
        return sequence_;
    }

    bool Unplug(const char* path) {
        Chip* chip = Find(path);
        if (chip == nullptr) {
            return false;
        }
        Remove(*chip);
        chips_.erase(chips_.begin() + (chip - chips_.data()));
        return true;
    }

    bool Hold(const char* path, bool held) {
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

    int List(char* buffer, DWORD size) {
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

  private:
    struct Chip {
        int id;
        std::string path;
        HANDLE hold;  // open while another program "holds" the chip
    };

    Chip* Find(const char* path) {
        if (path == nullptr) {
            return nullptr;
        }
        const std::string wanted = Upper(path);
        for (Chip& chip : chips_) {
            if (Upper(chip.path.c_str()) == wanted) {
                return &chip;
            }
        }
        return nullptr;
    }
    static void Release(Chip& chip) {
        if (chip.hold != INVALID_HANDLE_VALUE) {
            CloseHandle(chip.hold);
            chip.hold = INVALID_HANDLE_VALUE;
        }
    }
    void Remove(Chip& chip) {
        Release(chip);
        bench_.unplug(chip.id);
        DeleteFileA(chip.path.c_str());
    }

    kx::emu::VirtualBench bench_;  // declared first: outlives the library
    kx::KxLibrary library_;
    std::string folder_;
    std::vector<Chip> chips_;
    int sequence_ = 0;
};

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

// One stand-in per process, made on first use and gone when the DLL is unloaded.
StandIn& Instance() {
    static StandIn standIn;
    return standIn;
}

// Runs `call` on the stand-in, one caller at a time. The caller sees the last error the
// library set, or the one it had before when the call succeeded, whatever the lock and the
// first-use set-up did to it.
template <typename Call>
auto Serialized(Call call) {
    const DWORD entryError = GetLastError();
    std::unique_lock lock(Mutex());
    StandIn& standIn = Instance();
    SetLastError(entryError);
    auto result = call(standIn);
    const DWORD exitError = GetLastError();
    lock.unlock();
    SetLastError(exitError);
    return result;
}

}  // namespace

extern "C" {

int WINAPI KX4701DllInt() {
    return Serialized([](StandIn& s) { return s.library().KX4701DllInt(); });
}

int WINAPI KX4701GetHidGuid(GUID* guid) {
    return Serialized([&](StandIn& s) {
        kx::Guid ours{};
        const int result = s.library().KX4701GetHidGuid(guid == nullptr ? nullptr : &ours);
        if (result != 0) {
            std::memcpy(guid, &ours, sizeof ours);
        }
        return result;
    });
}

int WINAPI KX4701GetDevicePath(int index, char* buffer, DWORD size) {
    return Serialized(
        [&](StandIn& s) { return s.library().KX4701GetDevicePath(index, buffer, size); });
}

int WINAPI KX4701OpenDevicePath(const char* path) {
    return Serialized([&](StandIn& s) { return s.library().KX4701OpenDevicePath(path); });
}

int WINAPI KX4701CloseDevice(int handle) {
    return Serialized([&](StandIn& s) { return s.library().KX4701CloseDevice(handle); });
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
        return s.library().KX4701SetDefaultRate(handle, baudCode, parityCode, stopBitsCode,
                                                dataBitsCode, timingByte);
    });
}

int WINAPI KX4701SetDeviceCfg(int handle, WORD vid, WORD pid, BYTE maxPower,
                              const char* manufacturer, BYTE manufacturerLength,
                              const char* product, BYTE productLength, const char* serial,
                              BYTE serialLength) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701SetDeviceCfg(handle, vid, pid, maxPower, manufacturer,
                                              manufacturerLength, product, productLength, serial,
                                              serialLength);
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
    return Serialized([&](StandIn& s) { return s.library().KX4701ResetToDefault(handle); });
}

int WINAPI KX4701GetChipInfo(int handle, WORD* family, WORD* firmware) {
    return Serialized(
        [&](StandIn& s) { return s.library().KX4701GetChipInfo(handle, family, firmware); });
}

int WINAPI KX4701IsChip(int handle, int* chip) {
    return Serialized([&](StandIn& s) { return s.library().KX4701IsChip(handle, chip); });
}

int WINAPI KX4701GetDefaultRate(int handle, BYTE* baudCode, BYTE* parityCode, BYTE* stopBitsCode,
                                BYTE* dataBitsCode, BYTE* timingByte) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetDefaultRate(handle, baudCode, parityCode, stopBitsCode,
                                                dataBitsCode, timingByte);
    });
}

int WINAPI KX4701GetDeviceCfg(int handle, WORD* vid, WORD* pid, BYTE* maxPower, char* manufacturer,
                              BYTE* manufacturerLength, char* product, BYTE* productLength,
                              char* serial, BYTE* serialLength) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetDeviceCfg(handle, vid, pid, maxPower, manufacturer,
                                              manufacturerLength, product, productLength, serial,
                                              serialLength);
    });
}

int WINAPI KxBenchPlugChip() {
    const int number = Serialized([](StandIn& s) { return s.PlugChip(); });
    // Outside the lock: a window may call back into the library while it is told.
    if (number != 0) {
        TellThreadWindows(DBT_DEVICEARRIVAL);
    }
    return number;
}

int WINAPI KxBenchUnplugPath(const char* path) {
    const bool unplugged = Serialized([&](StandIn& s) { return s.Unplug(path); });
    if (unplugged) {
        TellThreadWindows(DBT_DEVICEREMOVECOMPLETE);
    }
    return unplugged ? 1 : 0;
}

int WINAPI KxBenchHoldPath(const char* path, int held) {
    return Serialized([&](StandIn& s) { return s.Hold(path, held != 0) ? 1 : 0; });
}

int WINAPI KxBenchListPaths(char* buffer, DWORD size) {
    return Serialized([&](StandIn& s) { return s.List(buffer, size); });
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
static_assert(std::is_same_v<decltype(&::KxBenchPlugChip), KxBenchPlugChipFn>);
static_assert(std::is_same_v<decltype(&::KxBenchUnplugPath), KxBenchUnplugPathFn>);
static_assert(std::is_same_v<decltype(&::KxBenchHoldPath), KxBenchHoldPathFn>);
static_assert(std::is_same_v<decltype(&::KxBenchListPaths), KxBenchListPathsFn>);
}  // namespace kx::win32
