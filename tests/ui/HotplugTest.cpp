// Device events: notifications from the bench become posted device events, and their
// handling closes a lost device and rebuilds the list.

#include <QSignalSpy>

#include "UiTestSupport.h"
#include "ui/MessageTable.h"

namespace kx::uitest {
namespace {

// Records the window messages posted to a dialog before it handles them.
class PostedMessages : public QObject {
  public:
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> seen;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == ui::WindowMessageEvent::eventType()) {
            const auto* message = static_cast<ui::WindowMessageEvent*>(event);
            seen.emplace_back(message->message(), message->wParam());
        }
        return false;
    }
};

DEV_BROADCAST_DEVICEINTERFACE_A Record(std::uint32_t type) {
    DEV_BROADCAST_DEVICEINTERFACE_A record{};
    record.dbcc_size = sizeof record;
    record.dbcc_devicetype = type;
    record.dbcc_classguid = HID_CLASS_GUID;
    return record;
}

std::string PathOf(int id) {
    return "VBENCH://KX4701/" + std::to_string(id);
}

class Hotplug : public DialogTest {
  protected:
    PostedMessages posted;
    void Start() {
        DialogTest::Start();
        dlg->installEventFilter(&posted);
    }
};

TEST_F(Hotplug, NotificationIsHandledOnlyWhenItsPostedEventRuns) {
    bench.plugChip();
    Start();
    bench.plugChip();
    EXPECT_EQ(status(), "操作状态:就绪");  // deferred, not handled inside the notification
    Pump();
    EXPECT_EQ(status(), "操作状态:检测到设备已连接!");
    EXPECT_EQ(posted.seen, (std::vector<std::pair<std::uint32_t, std::uintptr_t>>{
                               {ui::WM_DEVICE_EVENT, ui::DEVICE_EVENT_ARRIVAL}}));
}

TEST_F(Hotplug, PlugWhileOpenKeepsTheOpenDevice) {
    const int first = bench.plugChip();
    Start();
    OpenSelected();
    const DeviceHandle open = dlg->m_hDevice;
    QSignalSpy eventText(control<QLineEdit>(IDC_EVENT_TEXT), &QLineEdit::textChanged);

    const int second = bench.plugChip();
    Pump();

    EXPECT_EQ(dlg->m_hDevice, open);
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
    EXPECT_TRUE(library.closed.empty());
    EXPECT_EQ(status(), "操作状态:检测到设备已连接!");
    ASSERT_EQ(eventText.count(), 2);
    EXPECT_EQ(eventText[0][0].toString(), Q("有HID设备到达"));
    EXPECT_EQ(eventText[1][0].toString(), Q("有设备接入"));
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (std::vector<std::string>{PathOf(second), PathOf(first)}));
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
    // The open device still works.
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
}

TEST_F(Hotplug, UnplugOfAnotherDeviceClosesTheOpenOne) {
    const int other = bench.plugChip();
    const int mine = bench.plugChip();
    Start();
    OpenSelected();  // the last found: `mine`
    const DeviceHandle open = dlg->m_hDevice;

    bench.unplug(other);
    Pump();

    EXPECT_EQ(library.closed, std::vector<DeviceHandle>{open});
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
    for (int field : {IDC_DEVICE_INFO, IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT,
                      IDC_SERIAL_EDIT}) {
        EXPECT_EQ(text(field), "") << field;
    }
    EXPECT_FALSE(checked(IDC_MANUF_CHECK));
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), std::vector<std::string>{PathOf(mine)});
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    // It can be opened again.
    OpenSelected();
}

TEST_F(Hotplug, RemovePendingThenRemoveCompleteClosesOnce) {
    const int chip = bench.plugChip();
    bench.plugChip();
    Start();
    OpenSelected();

    const auto record = Record(DBT_DEVTYP_DEVICEINTERFACE);
    bench.deliver(DBT_DEVICEREMOVEPENDING, &record);
    Pump();
    EXPECT_EQ(library.closed.size(), 1u);
    bench.unplug(chip);
    Pump();
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 1);
    EXPECT_EQ(posted.seen.size(), 2u);
    EXPECT_EQ(posted.seen[0].second, ui::DEVICE_EVENT_REMOVE_PENDING);
    EXPECT_EQ(posted.seen[1].second, ui::DEVICE_EVENT_REMOVE_COMPLETE);
}

TEST_F(Hotplug, UnplugOfTheLastDeviceEmptiesTheList) {
    const int chip = bench.plugChip();
    Start();
    OpenSelected();
    bench.unplug(chip);
    Pump();
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有HID设备离开");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
}

TEST_F(Hotplug, OtherEventsAndTypesAreIgnored) {
    bench.plugChip();
    Start();
    OpenSelected();
    const auto volume = Record(DBT_DEVTYP_VOLUME);
    const auto port = Record(DBT_DEVTYP_PORT);
    const auto iface = Record(DBT_DEVTYP_DEVICEINTERFACE);
    struct Case {
        std::uint32_t event;
        const void* record;
    };
    const std::uint64_t enumerations = bench.enumerationCount();
    for (const Case& c :
         {Case{DBT_DEVNODES_CHANGED, nullptr}, Case{DBT_DEVICEQUERYREMOVE, nullptr},
          Case{DBT_DEVICEQUERYREMOVE, &iface}, Case{DBT_DEVICEARRIVAL, &volume},
          Case{DBT_DEVICEREMOVECOMPLETE, &port}, Case{DBT_DEVICEARRIVAL, nullptr}}) {
        EXPECT_EQ(dlg->OnDeviceChange(c.event, c.record), 0);
        bench.deliver(c.event, c.record);
    }
    Pump();
    EXPECT_TRUE(posted.seen.empty());
    EXPECT_EQ(bench.enumerationCount(), enumerations);
    EXPECT_EQ(status(), "操作状态:打开设备成功!");
    EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
}

TEST_F(Hotplug, EachOfTheThreeEventsPostsItsCode) {
    Start();
    const auto record = Record(DBT_DEVTYP_DEVICEINTERFACE);
    for (const auto& [event, code] :
         {std::pair{DBT_DEVICEARRIVAL, ui::DEVICE_EVENT_ARRIVAL},
          std::pair{DBT_DEVICEREMOVEPENDING, ui::DEVICE_EVENT_REMOVE_PENDING},
          std::pair{DBT_DEVICEREMOVECOMPLETE, ui::DEVICE_EVENT_REMOVE_COMPLETE}}) {
        posted.seen.clear();
        EXPECT_EQ(dlg->OnDeviceChange(event, &record), 0);
        Pump();
        ASSERT_EQ(posted.seen.size(), 1u);
        EXPECT_EQ(posted.seen[0].first, ui::WM_DEVICE_EVENT);
        EXPECT_EQ(posted.seen[0].second, code);
    }
}

TEST_F(Hotplug, ABurstEndsWithTheListOfWhatIsPluggedIn) {
    const int a = bench.plugChip();
    const int b = bench.plugChip();
    Start();
    OpenSelected();
    const int c = bench.plugChip();
    bench.unplug(a);
    const int d = bench.plugChip();
    bench.unplug(c);
    const int e = bench.plugChip();
    bench.unplug(d);
    Pump();

    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (std::vector<std::string>{PathOf(e), PathOf(b)}));
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(posted.seen.size(), 6u);
    // The last event was a removal.
    EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
}

TEST_F(Hotplug, WithoutRegistrationNoEventArrives) {
    bench.setRegistrationFails(true);
    Start();
    bench.plugChip();
    Pump();
    EXPECT_TRUE(posted.seen.empty());
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(status(), "操作状态:就绪");
}

}  // namespace
}  // namespace kx::uitest
