#include "perf/PerfSupport.h"

#include <stdexcept>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>

#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"

namespace kx::perf {

class CountingBus::Connection : public HidConnection {
  public:
    Connection(std::unique_ptr<HidConnection> inner, Counts& counts)
        : inner_(std::move(inner)), counts_(counts) {}

    bool attributes(std::uint16_t* vendorId, std::uint16_t* productId,
                    std::uint16_t* releaseNumber) override {
        return inner_->attributes(vendorId, productId, releaseNumber);
    }
    bool readString(HidString which, char16_t* buffer, std::size_t units) override {
        return inner_->readString(which, buffer, units);
    }
    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int timeoutMs) override {
        ++counts_.reportsSent;
        return inner_->sendFeatureReport(data, length, timeoutMs);
    }
    int getFeatureReport(std::uint8_t* data, std::size_t length, int timeoutMs) override {
        ++counts_.reportsReceived;
        return inner_->getFeatureReport(data, length, timeoutMs);
    }

  private:
    std::unique_ptr<HidConnection> inner_;
    Counts& counts_;
};

std::vector<HidDeviceInfo> CountingBus::enumerate() {
    ++counts_.enumerations;
    return inner_.enumerate();
}

std::unique_ptr<HidConnection> CountingBus::open(const std::string& path) {
    ++counts_.opens;
    std::unique_ptr<HidConnection> connection = inner_.open(path);
    if (!connection) {
        return nullptr;
    }
    return std::make_unique<Connection>(std::move(connection), counts_);
}

bool CountingBus::canOpenReadWrite(const char* path) {
    ++counts_.probes;
    return inner_.canOpenReadWrite(path);
}

QApplication& PerfApplication(int& argc, char** argv) {
    // The benches measure without a display; a platform chosen by the caller still wins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication application(argc, argv);
    return application;
}

DialogRig::DialogRig(int chips) : bus_(bench_), library_(bus_) {
    for (int i = 0; i < chips; ++i) {
        const int id = bench_.plugChip();
        if (id < 0) {
            throw std::runtime_error("the bench refused a chip");
        }
        ids_.push_back(id);
    }
    dialog_ = std::make_unique<ui::QtConfigDialog>(library_, bus_, bench_);
    dialog_->show();
    drainEvents();
    if (listedDevices() != chips) {
        throw std::runtime_error("the dialog does not list every chip");
    }
}

DialogRig::~DialogRig() {
    // Closes any device the bench opened; the dialog itself leaves that to process end.
    if (dialog_->m_hDevice != INVALID_DEVICE_HANDLE) {
        library_.KX4701CloseDevice(dialog_->m_hDevice);
    }
    dialog_.reset();
}

void DialogRig::refresh() {
    dialog_->Ops().ResetContent(IDC_DEVICE_COMBO);
    dialog_->RefreshDeviceList();
}

void DialogRig::drainEvents() {
    // Two passes: the first runs what was posted, the second the repaint it asked for.
    for (int pass = 0; pass < 2; ++pass) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

int DialogRig::listedDevices() {
    return dialog_->Ops().GetCount(IDC_DEVICE_COMBO);
}

}  // namespace kx::perf
