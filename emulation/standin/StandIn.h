#pragma once
// The stand-in KX4701DLL.DLL's state: virtual chips on the bench behind our device library,
// one per process, made on first use. Built twice: with only the maker's fourteen functions
// (Fourteen.def), and with our extension and the bench controls beside them
// (KX4701DLL.def, Extension.cpp).
//
// Two ways to hold the chips:
// - In the process (the default): two factory-new chips at load, plugged and unplugged
//   through the bench controls (BenchControls.h); each process starts afresh.
// - In a folder named by the environment variable KX4701_STANDIN_BENCH, shared by every
//   process: one file per chip, its name the chip's device path
//   ("hid#vid_3c5b&pid_b207#NAME&GEN"), its contents the chip's stored settings and the
//   calls it received (JSON, written by the stand-in; an empty file is a factory-new chip).
//   A file made there plugs a chip, a file deleted unplugs it, from any process; the stand-in
//   looks at the folder at every fresh discovery and, once a thread asked for the HID class
//   (KX4701GetHidGuid), every 100 ms on that thread's message loop, telling the thread's
//   windows with WM_DEVICECHANGE as the system tells the windows registered for the class.
//   After an identity write or a factory reset the chip enumerates again, as a USB chip
//   does: gone, then back under GEN + 1 with its new ids in the path.

#include "config/win32/WinApi.h"

#include <mutex>
#include <string>
#include <vector>

#include "device/KxLibrary.h"
#include "emulation/VirtualBench.h"

namespace kx::emu::standin {

inline constexpr const char* BENCH_FOLDER_VARIABLE = "KX4701_STANDIN_BENCH";

class StandIn {
  public:
    StandIn();
    ~StandIn();
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    KxLibrary& library() { return library_; }
    [[nodiscard]] bool shared() const { return shared_; }

    // Bench controls (in-process chips): plug a factory-new chip (its number, 0 on
    // failure), unplug, hold, list; see BenchControls.h.
    int PlugChip();
    bool Unplug(const char* path);
    bool Hold(const char* path, bool held);
    int List(char* buffer, DWORD size);

    // A folder of chips: the handle the library gave for `path`, and the write call `call`
    // made through `handle` (its result `ok`; `identity` for an identity write or a reset).
    void opened(DeviceHandle handle, const char* path);
    void closed(DeviceHandle handle);
    void wrote(DeviceHandle handle, const std::string& call, bool ok, bool identity);
    // Plugs the files new in the folder and unplugs the chips whose file is gone.
    void sync();
    // The device changes not yet told (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE).
    std::vector<WPARAM> takeEvents();

  private:
    struct Chip {
        int id;
        std::string path;
        HANDLE hold;           // open while another program "holds" the chip
        std::string name;      // in a folder: the NAME of the file name
        int generation = 0;    // in a folder: GEN
        std::string received;  // in a folder: the calls received, a JSON array
    };

    Chip* Find(const char* path);
    Chip* FindId(int id);
    static void Release(Chip& chip);
    void Remove(Chip& chip);
    void Load(const std::string& file);
    bool Persist(Chip& chip, const std::string& newPath);

    VirtualBench bench_;  // declared first: outlives the library
    KxLibrary library_;
    bool shared_ = false;
    std::string folder_;
    std::vector<Chip> chips_;
    std::vector<std::pair<DeviceHandle, int>> handles_;  // handle, chip id
    std::vector<WPARAM> events_;
    int sequence_ = 0;
};

std::mutex& Mutex();
StandIn& Instance();

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

// Sends WM_DEVICECHANGE `event` for an HID interface to every window of the calling thread,
// message-only windows included. Never under the lock: a window may call back.
void TellThreadWindows(WPARAM event);

}  // namespace kx::emu::standin
