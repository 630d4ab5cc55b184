// Google Benchmark suite: device-list refresh, the four chip commands, and a hot-plug storm,
// all through the configuration dialog over the virtual chip bench. Counters carry what
// wall time cannot show: bus enumerations per refresh and reports per command.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QStringList>

#include <benchmark/benchmark.h>

#include "config/StatusTexts.h"
#include "device/DeviceLibrary.h"
#include "device/LastError.h"
#include "perf/PerfSupport.h"
#include "ui/ControlIds.h"
#include "ui/MessageTable.h"
#include "ui/qt/QtConfigDialog.h"

namespace {

using kx::perf::CountingBus;
using kx::perf::DialogRig;

constexpr auto kPerIteration = benchmark::Counter::kAvgIterations;

// --- Device refresh --------------------------------------------------------------------

// What one device event costs the list: empty it, ask the library index by index, probe,
// insert. Counters are per refresh.
void BM_Refresh(benchmark::State& state) {
    DialogRig rig(static_cast<int>(state.range(0)));
    rig.bus().resetCounts();
    for (auto _ : state) {
        rig.refresh();
    }
    if (rig.listedDevices() != state.range(0)) {
        state.SkipWithError("the refresh lost devices");
    }
    const CountingBus::Counts& c = rig.bus().counts();
    state.counters["enumerations"] =
        benchmark::Counter(static_cast<double>(c.enumerations), kPerIteration);
    state.counters["probes"] = benchmark::Counter(static_cast<double>(c.probes), kPerIteration);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Refresh)->Arg(1)->Arg(16)->Arg(128)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The library and probe half of a refresh alone, with no widget: where the device layer
// ends and the list begins.
void BM_DiscoveryLoop(benchmark::State& state) {
    DialogRig rig(static_cast<int>(state.range(0)));
    rig.bus().resetCounts();
    std::int64_t found = 0;
    for (auto _ : state) {
        found = 0;
        kx::SetLastError(0);
        for (std::int32_t index = 0; kx::GetLastError() != kx::ERROR_NO_MORE_ITEMS; ++index) {
            std::array<char, kx::DEVICE_PATH_BUFFER_SIZE> path{};
            if (rig.library().KX4701GetDevicePath(index, path.data(),
                                                  kx::DEVICE_PATH_BUFFER_SIZE) != 0 &&
                rig.bus().canOpenReadWrite(path.data())) {
                ++found;
            }
        }
        benchmark::DoNotOptimize(found);
    }
    if (found != state.range(0)) {
        state.SkipWithError("discovery lost devices");
    }
    state.counters["enumerations"] =
        benchmark::Counter(static_cast<double>(rig.bus().counts().enumerations), kPerIteration);
}
BENCHMARK(BM_DiscoveryLoop)->Arg(1)->Arg(16)->Arg(128)->Arg(1024)->Unit(benchmark::kMicrosecond);

// N single insertions at the top of the emptied device list: how the refresh filled it
// before the batch fill, kept to show what that fill saves.
void BM_ListInsertAtTop(benchmark::State& state) {
    DialogRig rig(0);
    kx::ui::WindowOps& ops = rig.dialog().Ops();
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        ops.ResetContent(IDC_DEVICE_COMBO);
        for (int i = 0; i < n; ++i) {
            ops.InsertString(IDC_DEVICE_COMBO, 0, "VBENCH://KX4701/1024");
        }
    }
    if (rig.listedDevices() != n) {
        state.SkipWithError("the list lost entries");
    }
}
BENCHMARK(BM_ListInsertAtTop)->Arg(1)->Arg(16)->Arg(128)->Arg(1024)->Unit(benchmark::kMicrosecond);

// The same entries in one batch (QComboBox::insertItems), as the refresh fills the list:
// the list half of a refresh, against the single insertions above.
void BM_ListInsertBatch(benchmark::State& state) {
    DialogRig rig(0);
    auto* combo = qobject_cast<QComboBox*>(rig.dialog().Ops().GetDlgItem(IDC_DEVICE_COMBO));
    const int n = static_cast<int>(state.range(0));
    const QStringList entries(n, QStringLiteral("VBENCH://KX4701/1024"));
    for (auto _ : state) {
        rig.dialog().Ops().ResetContent(IDC_DEVICE_COMBO);
        combo->insertItems(0, entries);
    }
    if (rig.listedDevices() != n) {
        state.SkipWithError("the list lost entries");
    }
}
BENCHMARK(BM_ListInsertBatch)->Arg(1)->Arg(16)->Arg(128)->Arg(1024)->Unit(benchmark::kMicrosecond);

// Emptying the list alone, which every device event does before the refresh.
void BM_ListReset(benchmark::State& state) {
    DialogRig rig(0);
    auto* combo = qobject_cast<QComboBox*>(rig.dialog().Ops().GetDlgItem(IDC_DEVICE_COMBO));
    const QStringList entries(static_cast<int>(state.range(0)), QStringLiteral("VBENCH://X/1"));
    for (auto _ : state) {
        state.PauseTiming();
        combo->insertItems(0, entries);
        state.ResumeTiming();
        rig.dialog().Ops().ResetContent(IDC_DEVICE_COMBO);
    }
}
BENCHMARK(BM_ListReset)->Arg(1024)->Unit(benchmark::kMicrosecond);

// --- Commands --------------------------------------------------------------------------

// Reports and bus walks per command, from the counting bus.
void ReportCounters(benchmark::State& state, const CountingBus::Counts& c) {
    state.counters["reports_out"] =
        benchmark::Counter(static_cast<double>(c.reportsSent), kPerIteration);
    state.counters["reports_in"] =
        benchmark::Counter(static_cast<double>(c.reportsReceived), kPerIteration);
    state.counters["enumerations"] =
        benchmark::Counter(static_cast<double>(c.enumerations), kPerIteration);
}

bool StatusIs(DialogRig& rig, std::string_view message) {
    return rig.dialog().Ops().WindowText(IDC_STATUS) == kx::status::FormatStatus(message);
}

// A click on "打开设备": open, attributes, timeouts, and the three identity strings. The
// close that follows each open is not timed or counted.
void BM_OpenWithIdentityRead(benchmark::State& state) {
    DialogRig rig(1);
    CountingBus::Counts total;
    for (auto _ : state) {
        rig.bus().resetCounts();
        rig.dialog().OnOpenButton();
        state.PauseTiming();
        const CountingBus::Counts& c = rig.bus().counts();
        total.reportsSent += c.reportsSent;
        total.reportsReceived += c.reportsReceived;
        total.enumerations += c.enumerations;
        if (rig.dialog().m_hDevice == kx::INVALID_DEVICE_HANDLE) {
            state.SkipWithError("the open failed");
            break;
        }
        rig.dialog().OnOpenButton();  // close path
        state.ResumeTiming();
    }
    ReportCounters(state, total);
}
BENCHMARK(BM_OpenWithIdentityRead)->Unit(benchmark::kMicrosecond);

// A device already opened through the dialog; `command` is one button handler, whose
// status message must read `succeeded` afterwards.
void RunCommand(benchmark::State& state, void (CConfigDlg::*command)(),
                std::string_view succeeded) {
    DialogRig rig(1);
    rig.dialog().OnOpenButton();
    if (rig.dialog().m_hDevice == kx::INVALID_DEVICE_HANDLE) {
        state.SkipWithError("the open failed");
        return;
    }
    rig.bus().resetCounts();
    for (auto _ : state) {
        (rig.dialog().*command)();
    }
    if (!StatusIs(rig, succeeded)) {
        state.SkipWithError(
            ("the command failed: " + rig.dialog().Ops().WindowText(IDC_STATUS)).c_str());
    }
    ReportCounters(state, rig.bus().counts());
}

void BM_SerialWrite(benchmark::State& state) {
    RunCommand(state, &CConfigDlg::OnSetDefaultRate, kx::status::SET_RATE_SUCCEEDED);
}
BENCHMARK(BM_SerialWrite)->Unit(benchmark::kMicrosecond);

void BM_IdentityWrite(benchmark::State& state) {
    RunCommand(state, &CConfigDlg::OnSetConfig, kx::status::SET_CONFIG_SUCCEEDED);
}
BENCHMARK(BM_IdentityWrite)->Unit(benchmark::kMicrosecond);

void BM_FactoryReset(benchmark::State& state) {
    RunCommand(state, &CConfigDlg::OnFactoryReset, kx::status::FACTORY_RESET_SUCCEEDED);
}
BENCHMARK(BM_FactoryReset)->Unit(benchmark::kMicrosecond);

// --- Hot-plug storm --------------------------------------------------------------------

// Counts the device events the dialog has handled.
class DeviceEventCounter : public QObject {
  public:
    int handled = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == kx::ui::WindowMessageEvent::eventType() &&
            static_cast<kx::ui::WindowMessageEvent*>(event)->message() == kx::ui::WM_DEVICE_EVENT) {
            ++handled;
        }
        return QObject::eventFilter(watched, event);
    }
};

// 1,000 notifications (500 unplugs and 500 replugs of one chip) with 16 chips attached,
// timed until the dialog has handled every device event and repainted.
void BM_HotplugStorm(benchmark::State& state) {
    constexpr int kNotifications = 1000;
    constexpr int kChips = 16;
    DialogRig rig(kChips);
    DeviceEventCounter counter;
    rig.dialog().installEventFilter(&counter);
    const int victim = rig.chipIds().front();
    rig.bus().resetCounts();
    for (auto _ : state) {
        counter.handled = 0;
        for (int i = 0; i < kNotifications / 2; ++i) {
            rig.bench().unplug(victim);
            rig.bench().replug(victim);
        }
        // Bounded: a lost event ends the run with an error rather than a hang.
        for (int pass = 0; counter.handled < kNotifications && pass < 100; ++pass) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();  // the repaint the last event asked for
        if (counter.handled != kNotifications) {
            state.SkipWithError("device events were lost");
            break;
        }
    }
    if (rig.listedDevices() != kChips) {
        state.SkipWithError("the list does not show every chip after the storm");
    }
    state.counters["enumerations"] =
        benchmark::Counter(static_cast<double>(rig.bus().counts().enumerations), kPerIteration);
    rig.dialog().removeEventFilter(&counter);
}
BENCHMARK(BM_HotplugStorm)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    kx::perf::PerfApplication(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
