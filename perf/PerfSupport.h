#pragma once
// What the benchmarks share: a HID bus that counts the traffic through it, and the
// configuration dialog over the virtual chip bench with that bus in between.
//
// Everything here runs on the thread that owns the QApplication. Nothing reports failure
// by return value: a bench that cannot set itself up throws std::runtime_error, so that a
// broken setup never passes for a fast figure.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/HidBus.h"
#include "device/KxLibrary.h"
#include "emulation/VirtualBench.h"

namespace kx::ui {
class QtConfigDialog;
}
class QApplication;

namespace kx::perf {

// Forwards to another bus and counts what goes through: bus walks, and feature reports in
// each direction. Borrows the bus, which must outlive it and every connection it opened.
class CountingBus : public HidBus {
  public:
    struct Counts {
        std::uint64_t enumerations = 0;
        std::uint64_t reportsSent = 0;      // SET_FEATURE, host to device
        std::uint64_t reportsReceived = 0;  // GET_FEATURE, device to host
        std::uint64_t opens = 0;
        std::uint64_t probes = 0;
    };

    explicit CountingBus(HidBus& inner) : inner_(inner) {}

    const Counts& counts() const { return counts_; }
    void resetCounts() { counts_ = {}; }

    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidConnection> open(const std::string& path) override;
    bool canOpenReadWrite(const char* path) override;

  private:
    class Connection;
    HidBus& inner_;
    Counts counts_;
};

// The application object the benches need for widgets, on the offscreen platform unless
// the caller chose one. Created once per process; never destroyed before exit.
QApplication& PerfApplication(int& argc, char** argv);

// The dialog as the program runs it, over `chips` virtual KX4701 chips: shown (so that
// initialisation and the first refresh have run) and with the event queue drained. The
// library and the probe go through the counting bus; notifications come from the bench.
class DialogRig {
  public:
    explicit DialogRig(int chips);
    ~DialogRig();
    DialogRig(const DialogRig&) = delete;
    DialogRig& operator=(const DialogRig&) = delete;

    emu::VirtualBench& bench() { return bench_; }
    CountingBus& bus() { return bus_; }
    KxLibrary& library() { return library_; }
    ui::QtConfigDialog& dialog() { return *dialog_; }
    std::vector<int>& chipIds() { return ids_; }

    // Empties the device list and fills it again, as every device event does.
    void refresh();
    // Runs every posted event, and what those post in turn, until none is left.
    static void drainEvents();
    // Entries in the device list now.
    int listedDevices();

  private:
    emu::VirtualBench bench_;
    CountingBus bus_;
    KxLibrary library_;
    std::unique_ptr<ui::QtConfigDialog> dialog_;
    std::vector<int> ids_;
};

}  // namespace kx::perf
