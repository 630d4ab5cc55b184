#include "app/BenchWindow.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QVBoxLayout>

#include <string>

#include "config/StatusTexts.h"
#include "config/TextCodec.h"
#include "emulation/VirtualBench.h"

namespace kx::emu {
namespace {

QString Hex4(std::uint16_t value) {
    return QString::fromStdString(status::FormatHex4(value));
}

QString SerialBytes(const SerialDefaults& s) {
    QString out;
    for (std::uint8_t b :
         {s.baudCode, s.parityCode, s.stopBitsCode, s.dataBitsCode, s.timingByte}) {
        if (!out.isEmpty()) {
            out += QLatin1Char(' ');
        }
        out += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

// The stored strings are CP936 bytes; the window shows them as the chip would report them.
QString Shown(const std::string& ansi) {
    return QString::fromStdString(kx::text::AnsiToUtf8(ansi));
}

}  // namespace

BenchWindow::BenchWindow(VirtualBench& bench, QWidget* parent)
    : QWidget(parent),
      m_bench(bench),
      m_table(new QTableWidget(0, COLUMN_COUNT, this)),
      m_plugChip(new QPushButton(QStringLiteral("插入芯片"), this)),
      m_unplug(new QPushButton(QStringLiteral("拔出设备"), this)),
      m_hold(new QPushButton(QStringLiteral("独占"), this)),
      m_release(new QPushButton(QStringLiteral("释放"), this)),
      m_plugOther(new QPushButton(QStringLiteral("插入其他HID设备"), this)) {
    setWindowTitle(QStringLiteral("KX4701 虚拟芯片台"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("编号"), QStringLiteral("路径"), QStringLiteral("类型"),
         QStringLiteral("独占"), QStringLiteral("VID"), QStringLiteral("PID"),
         QStringLiteral("版本"), QStringLiteral("Manufacturer"), QStringLiteral("Product"),
         QStringLiteral("Serial"), QStringLiteral("串口参数"), QStringLiteral("收到报文")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // No caption stands by the table, so a screen reader needs a name for it.
    m_table->setAccessibleName(QStringLiteral("虚拟设备列表"));

    m_plugChip->setObjectName(QStringLiteral("plugChipButton"));
    m_unplug->setObjectName(QStringLiteral("unplugButton"));
    m_hold->setObjectName(QStringLiteral("holdButton"));
    m_release->setObjectName(QStringLiteral("releaseButton"));
    m_plugOther->setObjectName(QStringLiteral("plugOtherButton"));
    // Buttons must not react to Enter meant for the configuration dialog.
    for (QPushButton* b : {m_plugChip, m_unplug, m_hold, m_release, m_plugOther}) {
        b->setAutoDefault(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_plugChip);
    buttons->addWidget(m_plugOther);
    buttons->addWidget(m_unplug);
    buttons->addWidget(m_hold);
    buttons->addWidget(m_release);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    resize(900, 260);

    connect(m_plugChip, &QPushButton::clicked, this, &BenchWindow::plugChip);
    connect(m_unplug, &QPushButton::clicked, this, &BenchWindow::unplugSelected);
    connect(m_hold, &QPushButton::clicked, this, [this] { holdSelected(true); });
    connect(m_release, &QPushButton::clicked, this, [this] { holdSelected(false); });
    connect(m_plugOther, &QPushButton::clicked, this, &BenchWindow::plugOtherHid);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &BenchWindow::updateButtons);

    m_bench.setChangeListener([this] { refresh(); });
    refresh();
}

BenchWindow::~BenchWindow() {
    m_bench.setChangeListener({});
}

void BenchWindow::refresh() {
    const int selected = selectedDeviceId();
    const std::vector<DeviceSnapshot> devices = m_bench.devices();
    const QSignalBlocker block(m_table);  // one selection update at the end, not per row
    m_table->clearSelection();
    m_table->setRowCount(int(devices.size()));
    for (int row = 0; row < int(devices.size()); ++row) {
        const DeviceSnapshot& d = devices[std::size_t(row)];
        const QString cells[COLUMN_COUNT] = {
            QString::number(d.id),
            QString::fromStdString(d.path),
            d.isChip ? QStringLiteral("KX4701芯片") : QStringLiteral("其他HID设备"),
            d.held ? QStringLiteral("是") : QStringLiteral("否"),
            Hex4(d.identity.vid),
            Hex4(d.identity.pid),
            Hex4(d.identity.version),
            Shown(d.identity.manufacturer),
            Shown(d.identity.product),
            Shown(d.identity.serial),
            d.isChip ? SerialBytes(d.serial) : QString(),
            QString::number(d.reportsReceived),
        };
        for (int col = 0; col < COLUMN_COUNT; ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            item->setData(Qt::UserRole, d.id);
            m_table->setItem(row, col, item);
        }
    }
    m_table->resizeColumnsToContents();
    if (selected != 0) {
        selectDevice(selected);
    }
    updateButtons();
}

int BenchWindow::selectedDeviceId() const {
    const QList<QTableWidgetItem*> items = m_table->selectedItems();
    return items.isEmpty() ? 0 : items.first()->data(Qt::UserRole).toInt();
}

bool BenchWindow::selectDevice(int id) {
    for (int row = 0; row < m_table->rowCount(); ++row) {
        if (m_table->item(row, COL_ID)->data(Qt::UserRole).toInt() == id) {
            m_table->selectRow(row);
            updateButtons();
            return true;
        }
    }
    return false;
}

void BenchWindow::plugChip() {
    selectDevice(m_bench.plugChip());
}

void BenchWindow::plugOtherHid() {
    selectDevice(m_bench.plugPlainHid());
}

void BenchWindow::unplugSelected() {
    const int id = selectedDeviceId();
    if (id != 0) {
        m_bench.unplug(id);
    }
}

void BenchWindow::holdSelected(bool held) {
    const int id = selectedDeviceId();
    if (id != 0 && m_bench.device(id).has_value()) {
        m_bench.setHeld(id, held);
    }
}

void BenchWindow::updateButtons() {
    const int id = selectedDeviceId();
    const std::optional<DeviceSnapshot> device =
        id != 0 ? m_bench.device(id) : std::optional<DeviceSnapshot>();
    m_unplug->setEnabled(device.has_value());
    m_hold->setEnabled(device.has_value() && !device->held);
    m_release->setEnabled(device.has_value() && device->held);
}

}  // namespace kx::emu
