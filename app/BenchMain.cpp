// KX4701SetCfgBench: the configuration tool over virtual chips, with the bench window.
// Usage: KX4701SetCfgBench [--screenshot FILE.png]

#include <QApplication>
#include <QString>

#include <cstdio>
#include <cstring>

#include "app/BenchSession.h"
#include "emulation/BenchDevices.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);

    QString screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--screenshot FILE.png]\n", argv[0]);
            return 2;
        }
    }

    kx::emu::BenchDevices devices;
    devices.bench().plugChip();
    devices.bench().plugChip();
    return kx::emu::RunBench(devices.bench(), devices.library(), screenshot);
}
