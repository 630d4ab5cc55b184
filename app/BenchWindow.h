#pragma once
// The virtual chip bench's window: the devices on a VirtualBench, one row each, and the
// buttons that plug, unplug and hold them while the configuration dialog runs beside it.

#include <QWidget>

class QPushButton;
class QTableWidget;

namespace kx::emu {

class VirtualBench;

class BenchWindow : public QWidget {
    Q_OBJECT
  public:
    enum Column {
        COL_ID,
        COL_PATH,
        COL_KIND,
        COL_HELD,
        COL_VID,
        COL_PID,
        COL_VERSION,
        COL_MANUFACTURER,
        COL_PRODUCT,
        COL_SERIAL,
        COL_SERIAL_SETTINGS,  // the five stored bytes: baud, parity, stop, data, timing
        COL_REPORTS,
        COLUMN_COUNT
    };

    // Takes the bench's one change listener until destroyed, so one window per bench; the
    // bench must outlive the window. Nothing fails here: a button whose device has gone
    // meanwhile does nothing.
    explicit BenchWindow(VirtualBench& bench, QWidget* parent = nullptr);
    ~BenchWindow() override;

    // Rebuilds the rows from the bench, keeping the selected device selected.
    void refresh();

    // The id of the device in the selected row, or 0 when none is selected.
    int selectedDeviceId() const;
    // Selects the row of device `id`; false (selection unchanged) if it is not plugged in.
    bool selectDevice(int id);

    QTableWidget* table() const { return m_table; }

    // Button actions, also reachable from tests without clicking.
    void plugChip();
    void unplugSelected();
    void holdSelected(bool held);
    void plugOtherHid();

  private:
    void updateButtons();

    VirtualBench& m_bench;
    QTableWidget* m_table;
    QPushButton* m_plugChip;
    QPushButton* m_unplug;
    QPushButton* m_hold;
    QPushButton* m_release;
    QPushButton* m_plugOther;
};

}  // namespace kx::emu
