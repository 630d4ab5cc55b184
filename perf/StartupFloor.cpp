// kx_startup_floor: the toolkit's floor for start-up. A QApplication and one modal QDialog
// with the configuration dialog's 32 controls, of the same kinds and captions, built the
// plainest way Qt offers: no templates, no device stack, no icon, the default font. It
// reports its first paint exactly as the tool's twin does.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include "perf/FirstPaint.h"

namespace {

enum class Kind { Label, Group, Combo, Edit, Check, Button };

struct Control {
    Kind kind;
    const char* caption;
    int x, y, w, h;  // pixels
};

// The configuration dialog's controls in its tab order, at roughly its pixel positions.
constexpr Control kControls[] = {
    {Kind::Label, "选择设备", 23, 33, 50, 13},
    {Kind::Label, "设备信息", 23, 65, 50, 13},
    {Kind::Label, "波特率", 23, 98, 50, 13},
    {Kind::Label, "停止位", 23, 130, 50, 13},
    {Kind::Label, "校验位", 216, 98, 38, 13},
    {Kind::Label, "数据位", 216, 130, 50, 13},
    {Kind::Combo, "", 81, 29, 375, 24},
    {Kind::Edit, "", 186, 62, 269, 20},
    {Kind::Edit, "", 81, 62, 102, 20},
    {Kind::Combo, "", 81, 94, 72, 24},
    {Kind::Combo, "", 81, 127, 72, 24},
    {Kind::Combo, "", 272, 94, 72, 24},
    {Kind::Combo, "", 272, 127, 72, 24},
    {Kind::Group, "设备信息", 11, 5, 458, 156},
    {Kind::Check, "VID:", 23, 195, 60, 16},
    {Kind::Edit, "", 83, 192, 72, 23},
    {Kind::Check, "PID:", 216, 195, 53, 16},
    {Kind::Edit, "", 272, 192, 72, 23},
    {Kind::Group, "参数配置", 11, 166, 458, 161},
    {Kind::Check, "Manufacturer", 23, 224, 96, 16},
    {Kind::Edit, "", 152, 223, 191, 20},
    {Kind::Check, "Product", 23, 258, 96, 16},
    {Kind::Edit, "", 152, 257, 191, 20},
    {Kind::Check, "Serial", 23, 297, 96, 16},
    {Kind::Edit, "", 152, 297, 191, 20},
    {Kind::Button, "打开设备", 350, 89, 105, 29},
    {Kind::Button, "设置默认波特率", 350, 119, 105, 29},
    {Kind::Button, "设置配置", 350, 253, 105, 29},
    {Kind::Button, "获取配置", 350, 286, 105, 29},
    {Kind::Button, "恢复出厂设置", 350, 221, 105, 29},
    {Kind::Group, "", 11, 325, 458, 39},
    {Kind::Label, "操作状态:就绪", 23, 340, 425, 13},
};

QWidget* Create(QDialog& dialog, const Control& c) {
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
        case Kind::Label:
            return new QLabel(caption, &dialog);
        case Kind::Group:
            return new QGroupBox(caption, &dialog);
        case Kind::Combo: {
            auto* combo = new QComboBox(&dialog);
            combo->setEditable(true);
            return combo;
        }
        case Kind::Edit:
            return new QLineEdit(&dialog);
        case Kind::Check:
            return new QCheckBox(caption, &dialog);
        case Kind::Button:
            return new QPushButton(caption, &dialog);
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("KX4701SetCfg"));
    for (const Control& c : kControls) {
        Create(dialog, c)->setGeometry(c.x, c.y, c.w, c.h);
    }
    dialog.setFixedSize(480, 370);
    new kx::perf::FirstPaintWatch(dialog);
    dialog.exec();
    return 0;
}
