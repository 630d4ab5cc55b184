#include "ui/ConfigDlg.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "config/IdentityRules.h"
#include "config/StatusTexts.h"
#include "config/TextCodec.h"
#include "device/DevicePath.h"
#include "device/Discovery.h"
#include "ui/ControlIds.h"
#include "ui/MessageTable.h"

using namespace kx;
using namespace kx::ui;
namespace st = kx::status;

namespace {

constexpr std::size_t OPEN_CAPTION_BUFFER = 100;
constexpr int OPEN_CAPTION_READ = 20;  // 19 bytes and the terminator

struct IdentityControl {
    int box;
    int edit;
};
constexpr std::array<IdentityControl, 5> IDENTITY_CONTROLS{{
    {IDC_VID_CHECK, IDC_VID_EDIT},
    {IDC_PID_CHECK, IDC_PID_EDIT},
    {IDC_MANUF_CHECK, IDC_MANUF_EDIT},
    {IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT},
    {IDC_SERIAL_CHECK, IDC_SERIAL_EDIT},
}};

int ParameterListControl(ParameterList list) {
    switch (list) {
        case ParameterList::Baud:
            return IDC_BAUD_COMBO;
        case ParameterList::StopBits:
            return IDC_STOP_COMBO;
        case ParameterList::Parity:
            return IDC_PARITY_COMBO;
        case ParameterList::DataBits:
            return IDC_DATA_COMBO;
    }
    return IDC_BAUD_COMBO;
}

std::uint8_t ByteLength(const std::string& text) {
    // The identity rules have already limited each text to 30 bytes.
    return static_cast<std::uint8_t>(text.size());
}

}  // namespace

CConfigDlg::CConfigDlg(DeviceLibrary& library, DeviceProbe& probe,
                       DeviceNotificationSource& notifications, WindowOps& ops)
    : m_library(library), m_probe(probe), m_notifications(notifications), m_ops(ops) {
    m_hIcon = m_ops.LoadIcon(IDR_MAINFRAME);
    DoDataExchange();
}

CConfigDlg::~CConfigDlg() {
    if (m_registered) {
        m_notifications.unregister(this);
    }
}

void CConfigDlg::DoDataExchange() {
    m_editDeviceInfo = IDC_DEVICE_INFO;
    m_editEventText = IDC_EVENT_TEXT;
    m_comboStopBits = IDC_STOP_COMBO;
    m_comboDevice = IDC_DEVICE_COMBO;
    m_comboBaud = IDC_BAUD_COMBO;
    m_comboDataBits = IDC_DATA_COMBO;
    m_comboParity = IDC_PARITY_COMBO;
    m_ops.BindText(IDC_MANUF_EDIT, &m_strManufacturer, "Manufacturer");
    m_ops.BindText(IDC_PID_EDIT, &m_strPid, "PID");
    m_ops.BindText(IDC_PRODUCT_EDIT, &m_strProduct, "Product");
    m_ops.BindText(IDC_SERIAL_EDIT, &m_strSerial, "Serial");
    m_ops.BindText(IDC_VID_EDIT, &m_strVid, "VID");
}

std::intptr_t CConfigDlg::Dispatch(std::uint32_t message, std::uintptr_t wParam,
                                   std::intptr_t lParam, const void* record) {
    return DispatchWindowMessage(*this, message, wParam, lParam, record).value_or(0);
}

void CConfigDlg::deliverDeviceChange(std::uint32_t event, const void* record) {
    Dispatch(MSG_DEVICECHANGE, event, 0, record);
}

void CConfigDlg::OnOK() {
    if (!m_ops.UpdateData(true)) {
        return;
    }
    m_ops.EndDialog(ID_OK);
}

void CConfigDlg::OnCancel() {
    m_ops.EndDialog(ID_CANCEL);
}

// ---------------------------------------------------------------------------------------
// Dialog initialisation, system menu, painting

bool CConfigDlg::OnInitDialog() {
    // The framework's part: the members (all empty) go to the edits.
    m_ops.UpdateData(false);

    if (m_ops.HasSystemMenu()) {
        const std::string about = m_ops.LoadString(IDS_ABOUTBOX);
        if (!about.empty()) {
            m_ops.AppendSystemMenuSeparator();
            m_ops.AppendSystemMenuItem(IDM_ABOUTBOX, about);
        }
    }

    m_ops.SetIcon(m_hIcon, true);
    m_ops.SetIcon(m_hIcon, false);
    m_hDevice = INVALID_DEVICE_HANDLE;

    if (!RegisterForDeviceNotifications()) {
        return false;
    }
    FillParameterLists();
    for (const IdentityControl& item : IDENTITY_CONTROLS) {
        m_ops.EnableWindow(item.edit, false);
    }
    RefreshDeviceList();
    SerialDefaults = INITIAL_SERIAL_DEFAULTS;
    return true;
}

void CConfigDlg::OnSysCommand(unsigned command) {
    if ((command & 0xFFF0u) == IDM_ABOUTBOX) {
        m_ops.DoAboutBox();
        return;
    }
    m_ops.DefaultSysCommand(command);
}

Point CConfigDlg::MinimizedIconOrigin(Size client, Size icon) {
    return Point{(client.cx - icon.cx + 1) / 2, (client.cy - icon.cy + 1) / 2};
}

void CConfigDlg::OnPaint() {
    if (!m_ops.IsIconic()) {
        m_ops.DefaultPaint();
        return;
    }
    m_ops.PaintIcon(m_hIcon, MinimizedIconOrigin(m_ops.ClientSize(), m_ops.IconMetrics()));
}

IconHandle CConfigDlg::OnQueryDragIcon() const {
    return m_hIcon;
}

// ---------------------------------------------------------------------------------------
// Device discovery and hot-plug events

void CConfigDlg::RefreshDeviceList() {
    // Each hit goes to the top of the list, so the list ends in reverse discovery order.
    // The hits are gathered and put in with one insertion: one at a time costs a combo
    // box quadratic time on machines with many devices, for the same resulting list.
    std::vector<std::string> found = DiscoverOpenablePaths(m_library, m_probe);
    for (std::string& path : found) {
        UpperCaseDevicePath(path.data(), path.size());
        path = DevicePathToUtf8(path);
    }
    if (!found.empty()) {
        std::reverse(found.begin(), found.end());
        m_ops.InsertStrings(IDC_DEVICE_COMBO, 0, found);
        m_ops.SetWindowText(IDC_EVENT_TEXT, st::EVENT_DEVICE_FOUND);
    }
    m_ops.SetCurSel(IDC_DEVICE_COMBO, 0);
}

bool CConfigDlg::RegisterForDeviceNotifications() {
    Guid guid{};
    // By design a failed read registers the zero GUID, as the dialog always did.
    (void)m_library.KX4701GetHidGuid(&guid);
    const DEV_BROADCAST_DEVICEINTERFACE_A filter = DeviceInterfaceFilter(guid);
    m_registered =
        m_notifications.registerDeviceNotification(this, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return m_registered;
}

std::intptr_t CConfigDlg::OnDeviceChange(std::uint32_t event, const void* record) {
    std::uintptr_t code = 0;
    switch (event) {
        case DBT_DEVICEARRIVAL:
            code = DEVICE_EVENT_ARRIVAL;
            break;
        case DBT_DEVICEREMOVEPENDING:
            code = DEVICE_EVENT_REMOVE_PENDING;
            break;
        case DBT_DEVICEREMOVECOMPLETE:
            code = DEVICE_EVENT_REMOVE_COMPLETE;
            break;
        default:
            return 0;  // other events may carry no record; it is not looked at
    }
    if (record == nullptr) {
        return 0;  // a record-less broadcast of these events is malformed; ignored
    }
    DEV_BROADCAST_HDR header;
    std::memcpy(&header, record, sizeof header);
    if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return 0;
    }
    m_ops.PostMessage(WM_DEVICE_EVENT, code, 0);
    return 0;
}

std::intptr_t CConfigDlg::OnDeviceEvent(std::uintptr_t code, std::intptr_t /*unused*/) {
    if (code == DEVICE_EVENT_ARRIVAL) {
        m_ops.SetWindowText(IDC_EVENT_TEXT, st::EVENT_HID_ARRIVED);
        ShowStatus(st::DEVICE_ARRIVED_STATUS);
    } else {
        m_ops.SetWindowText(IDC_EVENT_TEXT, st::EVENT_HID_LEFT);
        if (m_hDevice != INVALID_DEVICE_HANDLE) {
            m_library.KX4701CloseDevice(m_hDevice);
        }
        ClearDeviceFields();
        m_hDevice = INVALID_DEVICE_HANDLE;
        m_ops.SetWindowText(IDC_OPEN_BUTTON, st::CAPTION_OPEN);
        ShowStatus(st::DEVICE_LEFT_STATUS);
    }
    m_ops.ResetContent(IDC_DEVICE_COMBO);
    RefreshDeviceList();
    return 0;
}

// ---------------------------------------------------------------------------------------
// The open device and its identity read

void CConfigDlg::ShowStatus(std::string_view message) {
    m_ops.SetWindowText(IDC_STATUS, st::FormatStatus(message));
}

bool CConfigDlg::RequireOpenDevice() {
    if (m_hDevice == INVALID_DEVICE_HANDLE) {
        ShowStatus(st::DEVICE_NOT_OPEN);
        return false;
    }
    return true;
}

void CConfigDlg::ClearDeviceFields() {
    m_ops.SetWindowText(IDC_DEVICE_INFO, "");
    m_ops.SetWindowText(IDC_VID_EDIT, "");
    m_ops.SetWindowText(IDC_PID_EDIT, "");
    m_ops.EnableWindow(IDC_VID_EDIT, false);
    m_ops.EnableWindow(IDC_PID_EDIT, false);
    m_ops.SetWindowText(IDC_MANUF_EDIT, "");
    m_ops.SetWindowText(IDC_PRODUCT_EDIT, "");
    m_ops.SetWindowText(IDC_SERIAL_EDIT, "");
    m_ops.CheckDlgButton(IDC_MANUF_CHECK, false);
    m_ops.CheckDlgButton(IDC_PRODUCT_CHECK, false);
    m_ops.CheckDlgButton(IDC_SERIAL_CHECK, false);
    m_ops.CheckDlgButton(IDC_VID_CHECK, false);
    m_ops.CheckDlgButton(IDC_PID_CHECK, false);
}

void CConfigDlg::OnOpenButton() {
    std::array<char, OPEN_CAPTION_BUFFER> caption{};
    m_ops.GetWindowText(IDC_OPEN_BUTTON, caption.data(), OPEN_CAPTION_READ);

    if (std::string_view(caption.data()) != st::CAPTION_OPEN) {
        // Close path: the open device, whatever the list now selects.
        if (m_hDevice != INVALID_DEVICE_HANDLE) {
            m_library.KX4701CloseDevice(m_hDevice);
        }
        m_hDevice = INVALID_DEVICE_HANDLE;
        ShowStatus(st::CLOSE_SUCCEEDED);
        ClearDeviceFields();
        m_ops.SetWindowText(IDC_OPEN_BUTTON, st::CAPTION_OPEN);
        return;
    }

    if (m_ops.GetCount(IDC_DEVICE_COMBO) == 0) {
        ShowStatus(st::NO_OPENABLE_DEVICE);
        return;
    }
    const int selection = m_ops.GetCurSel(IDC_DEVICE_COMBO);
    if (selection == -1) {
        ShowStatus(st::SELECT_A_DEVICE);
        return;
    }
    if (m_hDevice != INVALID_DEVICE_HANDLE) {
        ShowStatus(st::DEVICE_ALREADY_OPEN);
        return;
    }
    const std::string path = DevicePathFromUtf8(m_ops.GetLBText(IDC_DEVICE_COMBO, selection));
    m_hDevice = m_library.KX4701OpenDevicePath(path.c_str());
    if (m_hDevice == INVALID_DEVICE_HANDLE) {
        ShowStatus(st::OPEN_FAILED);
        return;
    }
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t version = 0;
    if (m_library.KX4701GetAttributes(m_hDevice, &vid, &pid, &version) == 0) {
        m_library.KX4701CloseDevice(m_hDevice);
        m_hDevice = INVALID_DEVICE_HANDLE;
        ShowStatus(st::ATTRIBUTES_FAILED);
        return;
    }
    m_ops.SetWindowText(IDC_DEVICE_INFO, st::FormatDeviceInfo(vid, pid, version));
    std::uint16_t inputLength = 0;
    std::uint16_t outputLength = 0;
    // Both by design without a check: the lengths are not used, and a chip that keeps its
    // default timeouts still answers.
    (void)m_library.KX4701GetBufferLen(m_hDevice, &inputLength, &outputLength);
    (void)m_library.KX4701SetTimeOut(m_hDevice, 3000, 3000);
    m_strVid = st::FormatHex4(vid);  // ASCII, so already CP936
    m_strPid = st::FormatHex4(pid);
    OnGetConfig();
    ShowStatus(st::OPEN_SUCCEEDED);
    m_ops.SetWindowText(IDC_OPEN_BUTTON, st::CAPTION_CLOSE);
}

void CConfigDlg::OnGetConfig() {
    if (!RequireOpenDevice()) {
        return;
    }
    // Zeroed before each read: a failed read shows an empty field, never an earlier
    // read's text.
    std::array<char16_t, STRING_BUFFER_UNITS> buffer{};
    const int ok =
        m_library.KX4701GetManufacturerString(m_hDevice, buffer.data(), STRING_BUFFER_UNITS);
    ShowStatus(ok != 0 ? st::GET_CONFIG_SUCCEEDED : st::GET_CONFIG_FAILED);
    m_strManufacturer = text::Utf16ToAnsi(buffer.data(), buffer.size());

    // The status tells the manufacturer read only; a failed read below leaves its field empty.
    buffer.fill(u'\0');
    (void)m_library.KX4701GetProductString(m_hDevice, buffer.data(), STRING_BUFFER_UNITS);
    m_strProduct = text::Utf16ToAnsi(buffer.data(), buffer.size());

    buffer.fill(u'\0');
    (void)m_library.KX4701GetSerialNumberString(m_hDevice, buffer.data(), STRING_BUFFER_UNITS);
    m_strSerial = text::Utf16ToAnsi(buffer.data(), buffer.size());

    m_ops.UpdateData(false);
    m_ops.EnableWindow(IDC_MANUF_EDIT, true);
    m_ops.CheckDlgButton(IDC_MANUF_CHECK, true);
    m_ops.EnableWindow(IDC_PRODUCT_EDIT, true);
    m_ops.CheckDlgButton(IDC_PRODUCT_CHECK, true);
    m_ops.EnableWindow(IDC_SERIAL_EDIT, true);
    m_ops.CheckDlgButton(IDC_SERIAL_CHECK, true);
}

// ---------------------------------------------------------------------------------------
// Serial default parameters

void CConfigDlg::FillParameterLists() {
    for (const ParameterList list : PARAMETER_FILL_ORDER) {
        const int id = ParameterListControl(list);
        for (const CodeEntry& entry : ParameterTable(list)) {
            m_ops.AddString(id, entry.text);
        }
        m_ops.SetCurSel(id, InitialSelection(list));
    }
}

void CConfigDlg::OnSelectionChanged(ParameterList list, int comboId) {
    const int selection = m_ops.GetCurSel(comboId);
    if (selection < 0) {
        return;  // nothing selected: the defaults stay as they are
    }
    ApplySelection(list, m_ops.GetLBText(comboId, selection), SerialDefaults);
}

void CConfigDlg::OnParityChanged() {
    OnSelectionChanged(ParameterList::Parity, IDC_PARITY_COMBO);
}
void CConfigDlg::OnDataBitsChanged() {
    OnSelectionChanged(ParameterList::DataBits, IDC_DATA_COMBO);
}
void CConfigDlg::OnBaudChanged() {
    OnSelectionChanged(ParameterList::Baud, IDC_BAUD_COMBO);
}
void CConfigDlg::OnStopBitsChanged() {
    OnSelectionChanged(ParameterList::StopBits, IDC_STOP_COMBO);
}

void CConfigDlg::OnSetDefaultRate() {
    if (!RequireOpenDevice()) {
        return;
    }
    const int ok = m_library.KX4701SetDefaultRate(
        m_hDevice, SerialDefaults.baudCode, SerialDefaults.parityCode, SerialDefaults.stopBitsCode,
        SerialDefaults.dataBitsCode, SerialDefaults.timingByte);
    ShowStatus(ok != 0 ? st::SET_RATE_SUCCEEDED : st::SET_RATE_FAILED);
}

// ---------------------------------------------------------------------------------------
// USB identity settings

void CConfigDlg::OnIdentityCheck(int box) {
    for (const IdentityControl& item : IDENTITY_CONTROLS) {
        if (item.box == box) {
            m_ops.EnableWindow(item.edit, m_ops.IsDlgButtonChecked(box));
            return;
        }
    }
}

void CConfigDlg::OnSetConfig() {
    if (!m_ops.UpdateData(true)) {
        return;  // a text that cannot be sent; the message box has said which
    }
    if (!RequireOpenDevice()) {
        return;
    }
    const IdentityInput input{
        {m_ops.IsDlgButtonChecked(IDC_VID_CHECK), m_strVid},
        {m_ops.IsDlgButtonChecked(IDC_PID_CHECK), m_strPid},
        {m_ops.IsDlgButtonChecked(IDC_MANUF_CHECK), m_strManufacturer},
        {m_ops.IsDlgButtonChecked(IDC_PRODUCT_CHECK), m_strProduct},
        {m_ops.IsDlgButtonChecked(IDC_SERIAL_CHECK), m_strSerial},
    };
    auto result = BuildIdentityWrite(input);
    if (const auto* failure = std::get_if<IdentityFailure>(&result)) {
        m_ops.MessageBox(failure->message);
        return;
    }
    IdentityWrite& write = std::get<IdentityWrite>(result);
    // An unchecked item's default goes into its member, not into the edit.
    m_strManufacturer = std::move(write.manufacturer);
    m_strProduct = std::move(write.product);
    m_strSerial = std::move(write.serial);
    const int ok = m_library.KX4701SetDeviceCfg(
        m_hDevice, write.vid, write.pid, IDENTITY_MAX_POWER, m_strManufacturer.data(),
        ByteLength(m_strManufacturer), m_strProduct.data(), ByteLength(m_strProduct),
        m_strSerial.data(), ByteLength(m_strSerial));
    ShowStatus(ok != 0 ? st::SET_CONFIG_SUCCEEDED : st::SET_CONFIG_FAILED);
}

void CConfigDlg::OnFactoryReset() {
    if (!RequireOpenDevice()) {
        return;
    }
    const int ok = m_library.KX4701ResetToDefault(m_hDevice);
    ShowStatus(ok != 0 ? st::FACTORY_RESET_SUCCEEDED : st::FACTORY_RESET_FAILED);
}
