// The message table's routing, the dialog keys, the about entry and the minimised icon.

#include <QMenu>
#include <QPainter>
#include <QStyle>

#include "UiTestSupport.h"
#include "ui/MessageTable.h"

namespace kx::uitest {
namespace {

using ui::Notification;

TEST(MessageTable, EntriesInOrder) {
    struct Row {
        Notification kind;
        std::uint32_t code;
    };
    const Row expected[] = {
        {Notification::WindowMessage, 0x0112},           // WM_SYSCOMMAND
        {Notification::WindowMessage, 0x000F},           // WM_PAINT
        {Notification::WindowMessage, 0x0037},           // WM_QUERYDRAGICON
        {Notification::WindowMessage, 0x0219},           // WM_DEVICECHANGE
        {Notification::WindowMessage, 0x0404},           // WM_DEVICE_EVENT
        {Notification::ButtonClicked, IDC_OPEN_BUTTON},  //
        {Notification::ButtonClicked, IDC_SET_RATE_BUTTON},
        {Notification::ButtonClicked, IDC_SET_CFG_BUTTON},
        {Notification::ButtonClicked, IDC_GET_CFG_BUTTON},
        {Notification::SelectionChanged, IDC_PARITY_COMBO},
        {Notification::SelectionChanged, IDC_DATA_COMBO},
        {Notification::SelectionChanged, IDC_BAUD_COMBO},
        {Notification::SelectionChanged, IDC_STOP_COMBO},
        {Notification::ButtonClicked, IDC_VID_CHECK},
        {Notification::ButtonClicked, IDC_PID_CHECK},
        {Notification::ButtonClicked, IDC_MANUF_CHECK},
        {Notification::ButtonClicked, IDC_PRODUCT_CHECK},
        {Notification::ButtonClicked, IDC_SERIAL_CHECK},
        {Notification::ButtonClicked, IDC_FACTORY_BUTTON},
    };
    const auto table = ui::ConfigDlgMessageTable();
    ASSERT_EQ(table.size(), std::size(expected));
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].kind, expected[i].kind) << i;
        EXPECT_EQ(table[i].code, expected[i].code) << i;
    }
    // The handlers, read from the table.
    using ui::VoidHandler;
    EXPECT_EQ(std::get<ui::SysCommandHandler>(table[0].handler), &CConfigDlg::OnSysCommand);
    EXPECT_EQ(std::get<VoidHandler>(table[1].handler), &CConfigDlg::OnPaint);
    EXPECT_EQ(std::get<ui::QueryIconHandler>(table[2].handler), &CConfigDlg::OnQueryDragIcon);
    EXPECT_EQ(std::get<ui::DeviceChangeHandler>(table[3].handler), &CConfigDlg::OnDeviceChange);
    EXPECT_EQ(std::get<ui::MessageHandler>(table[4].handler), &CConfigDlg::OnDeviceEvent);
    EXPECT_EQ(std::get<VoidHandler>(table[5].handler), &CConfigDlg::OnOpenButton);
    EXPECT_EQ(std::get<VoidHandler>(table[6].handler), &CConfigDlg::OnSetDefaultRate);
    EXPECT_EQ(std::get<VoidHandler>(table[7].handler), &CConfigDlg::OnSetConfig);
    EXPECT_EQ(std::get<VoidHandler>(table[8].handler), &CConfigDlg::OnGetConfig);
    EXPECT_EQ(std::get<VoidHandler>(table[9].handler), &CConfigDlg::OnParityChanged);
    EXPECT_EQ(std::get<VoidHandler>(table[10].handler), &CConfigDlg::OnDataBitsChanged);
    EXPECT_EQ(std::get<VoidHandler>(table[11].handler), &CConfigDlg::OnBaudChanged);
    EXPECT_EQ(std::get<VoidHandler>(table[12].handler), &CConfigDlg::OnStopBitsChanged);
    for (std::size_t i = 13; i < 18; ++i) {
        EXPECT_EQ(std::get<ui::ControlHandler>(table[i].handler), &CConfigDlg::OnIdentityCheck);
    }
    EXPECT_EQ(std::get<VoidHandler>(table[18].handler), &CConfigDlg::OnFactoryReset);
}

class Routing : public DialogTest {
  protected:
    void SetUp() override {
        bench.plugChip();
        Start();
        OpenSelected();
    }
};

TEST_F(Routing, EveryButtonReachesItsHandler) {
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(library.rates.size(), 1u);
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(library.deviceCfgs.size(), 1u);
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(library.resetCalls, 1);
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:关闭设备成功!");
    // Nothing ran twice.
    EXPECT_EQ(library.rates.size(), 1u);
    EXPECT_EQ(library.deviceCfgs.size(), 1u);
    EXPECT_EQ(library.resetCalls, 1);
}

TEST_F(Routing, EveryBoxActsOnItsOwnEdit) {
    const std::pair<int, int> pairs[] = {{IDC_VID_CHECK, IDC_VID_EDIT},
                                         {IDC_PID_CHECK, IDC_PID_EDIT},
                                         {IDC_MANUF_CHECK, IDC_MANUF_EDIT},
                                         {IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT},
                                         {IDC_SERIAL_CHECK, IDC_SERIAL_EDIT}};
    for (const auto& [box, edit] : pairs) {
        const bool before = enabled(edit);
        std::vector<bool> others;
        for (const auto& [b, e] : pairs) {
            others.push_back(enabled(e));
        }
        Click(box);
        EXPECT_NE(enabled(edit), before) << box;
        EXPECT_EQ(enabled(edit), checked(box)) << box;
        std::size_t i = 0;
        for (const auto& [b, e] : pairs) {
            if (e != edit) {
                EXPECT_EQ(enabled(e), others[i]) << box << " touched " << e;
            }
            ++i;
        }
    }
}

TEST_F(Routing, EveryListReachesItsHandler) {
    Choose(IDC_PARITY_COMBO, "奇校验");
    EXPECT_EQ(dlg->SerialDefaults.parityCode, 1);
    Choose(IDC_DATA_COMBO, "5位");
    EXPECT_EQ(dlg->SerialDefaults.dataBitsCode, 1);
    Choose(IDC_BAUD_COMBO, "600");
    EXPECT_EQ(dlg->SerialDefaults.baudCode, 2);
    EXPECT_EQ(dlg->SerialDefaults.timingByte, 0x80);
    Choose(IDC_STOP_COMBO, "2位");
    EXPECT_EQ(dlg->SerialDefaults.stopBitsCode, 2);
    // The device list has no handler.
    const SerialDefaults before = dlg->SerialDefaults;
    Choose(IDC_DEVICE_COMBO, ops().GetLBText(IDC_DEVICE_COMBO, 0).c_str());
    EXPECT_EQ(dlg->SerialDefaults, before);
    EXPECT_EQ(status(), "操作状态:打开设备成功!");
}

TEST_F(Routing, WindowMessagesAreDispatchedThroughTheTable) {
    // WM_QUERYDRAGICON answers with the icon.
    EXPECT_EQ(ui::DispatchWindowMessage(*dlg, ui::MSG_QUERYDRAGICON, 0, 0, nullptr),
              reinterpret_cast<std::intptr_t>(dlg->m_hIcon));
    // A message without an entry is not handled.
    EXPECT_EQ(ui::DispatchWindowMessage(*dlg, 0x0201, 0, 0, nullptr), std::nullopt);
    // WM_DEVICE_EVENT queued to the dialog reaches OnDeviceEvent.
    ops().PostMessage(ui::WM_DEVICE_EVENT, ui::DEVICE_EVENT_REMOVE_COMPLETE, 0);
    EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    Pump();
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
    // WM_DEVICECHANGE queued with a copy of its record reaches OnDeviceChange, which posts
    // the device event in turn.
    DEV_BROADCAST_DEVICEINTERFACE_A record{};
    record.dbcc_size = sizeof record;
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    ops().PostMessage(ui::MSG_DEVICECHANGE, DBT_DEVICEARRIVAL, 0,
                      std::vector<std::uint8_t>(bytes, bytes + sizeof record));
    Pump();
    Pump();
    EXPECT_EQ(status(), "操作状态:检测到设备已连接!");
    // WM_SYSCOMMAND with the about command shows the about box.
    ui::DispatchWindowMessage(*dlg, ui::MSG_SYSCOMMAND, IDM_ABOUTBOX, 0, nullptr);
    ASSERT_EQ(modals.seen.size(), 1u);
    EXPECT_EQ(modals.seen[0].className, "CAboutDlg");
}

class Keys : public DialogTest {
  protected:
    void SetUp() override {
        bench.plugChip();
        Start();
        QApplication::setActiveWindow(dlg.get());
    }
};

TEST_F(Keys, EscapeEndsTheDialog) {
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(Keys, EnterOnAFocusedPushButtonClicksIt) {
    ASSERT_EQ(dlg->focusWidget(), ops().GetDlgItem(IDC_OPEN_BUTTON));
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(status(), "操作状态:打开设备成功!");
}

TEST_F(Keys, EnterInAnEditEndsTheDialogEvenWithADeviceOpen) {
    OpenSelected();
    QWidget* edit = ops().GetDlgItem(IDC_SERIAL_EDIT);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

TEST_F(Keys, EnterInAListEndsTheDialogWithoutChangingTheChoice) {
    QComboBox* baud = control<QComboBox>(IDC_BAUD_COMBO);
    baud->setFocus();
    baud->setEditText("115200");
    QTest::keyClick(baud, Qt::Key_Enter);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
}

TEST_F(Keys, EnterOnACheckBoxEndsTheDialog) {
    QWidget* box = ops().GetDlgItem(IDC_VID_CHECK);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Enter);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_FALSE(checked(IDC_VID_CHECK));
}

TEST_F(DialogTest, AboutEntryEndsTheSystemMenu) {
    Start();
    const QList<QAction*> actions = dlg->SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.last()->text(), Q("关于 KX4701SetCfg(&A)..."));
    actions.last()->trigger();
    ASSERT_EQ(modals.seen.size(), 1u);
    EXPECT_EQ(modals.seen[0].className, "CAboutDlg");
    EXPECT_EQ(modals.seen[0].title, Q("关于 KX4701SetCfg"));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(DialogTest, OtherSystemCommandsDoNotOpenTheAboutBox) {
    Start();
    dlg->OnSysCommand(0xF010);  // SC_MOVE
    EXPECT_TRUE(modals.seen.empty());
    dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);  // the low four bits are the system's
    EXPECT_EQ(modals.seen.size(), 1u);
    dlg->OnSysCommand(0xF060);  // SC_CLOSE
    EXPECT_FALSE(dlg->isVisible());
}

TEST(MinimizedIcon, IsCentredWithTheRoundingRule) {
    EXPECT_EQ(CConfigDlg::MinimizedIconOrigin({100, 80}, {32, 32}), (ui::Point{34, 24}));
    EXPECT_EQ(CConfigDlg::MinimizedIconOrigin({101, 81}, {32, 32}), (ui::Point{35, 25}));
    EXPECT_EQ(CConfigDlg::MinimizedIconOrigin({32, 32}, {32, 32}), (ui::Point{0, 0}));
}

TEST_F(DialogTest, MinimizedDialogPaintsItsIconCentred) {
    Start();
    dlg->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(dlg->isMinimized());
    // The dialog's own painting; a minimised window shows none of its controls.
    QImage painted(dlg->size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    dlg->render(&painted, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const int extent = dlg->style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, dlg.get());
    const ui::Point at =
        CConfigDlg::MinimizedIconOrigin({dlg->width(), dlg->height()}, {extent, extent});
    const QPoint origin(at.x, at.y);
    QImage icon(extent, extent, QImage::Format_ARGB32_Premultiplied);
    icon.fill(dlg->palette().window().color());
    {
        QPainter painter(&icon);
        ui::QtWindowOps::Icon(dlg->m_hIcon).paint(&painter, icon.rect());
    }
    const QImage region = painted.copy(QRect(origin, QSize(extent, extent)))
                              .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(region, icon);
    // Outside the icon there is only background.
    EXPECT_EQ(painted.pixelColor(2, 2), dlg->palette().window().color());
}

}  // namespace
}  // namespace kx::uitest
