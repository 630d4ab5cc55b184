#include "res/AppIcon.h"

#include <QString>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void InitIconResources() {
    // The resources sit in a library; naming them here keeps the linker from dropping them.
    Q_INIT_RESOURCE(resources);
}

QIcon LoadApplicationIcon() {
    InitIconResources();
    QIcon icon;
    for (int size : kAppIconSizes) {
        icon.addFile(QStringLiteral(":/res/icons/kx4701setcfg-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}
