// Devices that answer wrongly, through the dialog: replies that are short, point past
// their end, carry the wrong report id, command, sequence or status; strings without a
// terminator or with invalid UTF-16; a device that vanishes between the list and the open.
// Each gives the dialog's failure message, the dialog stays consistent, and (under the
// sanitizer build) nothing is read or written out of bounds.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "device/Protocol.h"
#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

namespace proto = kx::protocol;

// How the device's GET_FEATURE replies and string reads are changed on the way back.
struct Tampering {
    // Applied to every reply once armed; returns the byte count the host sees.
    std::function<int(std::uint8_t* data, int received)> reply;
    // Replaces a string read: fills the caller's buffer as it likes, returns success.
    std::function<bool(char16_t* buffer, std::size_t units)> string;
};

class TamperedConnection : public HidConnection {
  public:
    TamperedConnection(std::unique_ptr<HidConnection> inner, const Tampering& t)
        : inner_(std::move(inner)), t_(t) {}
    bool attributes(std::uint16_t* v, std::uint16_t* p, std::uint16_t* r) override {
        return inner_->attributes(v, p, r);
    }
    bool readString(HidString which, char16_t* buffer, std::size_t units) override {
        return t_.string ? t_.string(buffer, units) : inner_->readString(which, buffer, units);
    }
    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int timeout) override {
        return inner_->sendFeatureReport(data, length, timeout);
    }
    int getFeatureReport(std::uint8_t* data, std::size_t length, int timeout) override {
        const int n = inner_->getFeatureReport(data, length, timeout);
        return n > 0 && t_.reply ? t_.reply(data, n) : n;
    }

  private:
    std::unique_ptr<HidConnection> inner_;
    const Tampering& t_;
};

// The bench's devices, with their answers changed by whatever `tampering` holds now.
class TamperingBus : public HidBus {
  public:
    explicit TamperingBus(bench::VirtualBench& bench) : bench_(bench) {}
    Tampering tampering;
    std::vector<HidDeviceInfo> enumerate() override { return bench_.enumerate(); }
    std::unique_ptr<HidConnection> open(const std::string& path) override {
        auto inner = bench_.open(path);
        return inner ? std::make_unique<TamperedConnection>(std::move(inner), tampering) : nullptr;
    }
    bool canOpenReadWrite(const char* path) override { return bench_.canOpenReadWrite(path); }

  private:
    bench::VirtualBench& bench_;
};

class HostileDevice : public ::testing::Test {
  protected:
    HostileDevice() { App(); }
    ~HostileDevice() override { dlg.reset(); }

    bench::VirtualBench bench;
    TamperingBus bus{bench};
    KxLibrary lib{bus};
    ModalAnswerer modals;
    std::unique_ptr<ui::QtConfigDialog> dlg;
    int chip = bench.plugChip();

    void Start() {
        dlg = std::make_unique<ui::QtConfigDialog>(lib, bench, bench);
        dlg->show();
    }
    std::string text(int id) { return dlg->Ops().WindowText(id); }
    std::string status() { return text(IDC_STATUS); }
    void Click(int id) {
        QTest::mouseClick(qobject_cast<QAbstractButton*>(dlg->Ops().GetDlgItem(id)),
                          Qt::LeftButton);
    }
    void Pump() { QCoreApplication::sendPostedEvents(); }
    void Open() {
        Click(IDC_OPEN_BUTTON);
        ASSERT_EQ(status(), "操作状态:打开设备成功!");
    }
    // The device is open, the caption agrees and the library holds exactly that handle.
    void ExpectStillOpen() {
        EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
        EXPECT_EQ(lib.openHandleCount(), 1u);
    }
};

struct BadReply {
    const char* name;
    std::function<int(std::uint8_t*, int)> change;
    std::uint32_t lastError;
};

// Each kind of broken reply, as the chip's answer to whatever the host asked.
std::vector<BadReply> BadReplies() {
    return {
        {"short: header cut", [](std::uint8_t*, int) { return 4; }, ERROR_INVALID_DATA_CODE},
        {"empty", [](std::uint8_t*, int) { return 0; }, ERROR_INVALID_DATA_CODE},
        {"length beyond the report",
         [](std::uint8_t* d, int n) {
             d[4] = 60;
             return n;
         },
         ERROR_INVALID_DATA_CODE},
        {"length beyond the bytes received",
         [](std::uint8_t* d, int) {
             d[4] = 20;
             return 10;
         },
         ERROR_INVALID_DATA_CODE},
        {"wrong report id",
         [](std::uint8_t* d, int n) {
             d[0] = 0x4C;
             return n;
         },
         ERROR_INVALID_DATA_CODE},
        {"not a reply",
         [](std::uint8_t* d, int n) {
             d[1] &= 0x7F;
             return n;
         },
         ERROR_INVALID_DATA_CODE},
        {"unknown status",
         [](std::uint8_t* d, int n) {
             d[3] = 0x42;
             return n;
         },
         ERROR_INVALID_DATA_CODE},
        {"checksum refused",
         [](std::uint8_t* d, int n) {
             d[3] = static_cast<std::uint8_t>(proto::Status::BadChecksum);
             return n;
         },
         ERROR_CRC_CODE},
        {"out of order",
         [](std::uint8_t* d, int n) {
             d[3] = static_cast<std::uint8_t>(proto::Status::BadState);
             return n;
         },
         ERROR_GEN_FAILURE_CODE},
    };
}

TEST_F(HostileDevice, EveryBrokenReplyFailsEachWriteWithItsMessageAndKeepsTheDialogWhole) {
    Start();
    Open();
    // An identity that differs from the chip's, so that an applied write would show.
    dlg->Ops().SetWindowText(IDC_MANUF_EDIT, "Hostile");
    for (const BadReply& bad : BadReplies()) {
        for (const auto& w : WRITE_COMMANDS) {
            SCOPED_TRACE(std::string(bad.name) + ", button " + std::to_string(w.button));
            bus.tampering.reply = bad.change;
            SetLastError(0);
            Click(w.button);
            EXPECT_EQ(status(), w.failedStatus);
            EXPECT_EQ(GetLastError(), bad.lastError);
            ExpectStillOpen();
            // The identity write stops at its first report: no commit, nothing applied.
            EXPECT_EQ(bench.device(chip)->identity, bench::ChipIdentity{});
            bus.tampering.reply = nullptr;
        }
    }
    // Once the answers are sound again, so are the commands.
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:参数设置成功!");
    EXPECT_EQ(bench.device(chip)->identity.manufacturer, "Hostile");
}

TEST_F(HostileDevice, AReplyToAnotherRequestIsNeverTakenForTheAnswer) {
    Start();
    Open();
    // Every reply names the previous sequence number: the library keeps polling for the
    // right one until the handle's timeout passes, then fails.
    bus.tampering.reply = [](std::uint8_t* d, int n) {
        d[2] = static_cast<std::uint8_t>(d[2] - 1);
        return n;
    };
    lib.KX4701SetTimeOut(dlg->m_hDevice, 50, 50);
    SetLastError(0);
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数失败!");
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT_CODE);
    // Another command's reply with the right sequence number is just as stale.
    bus.tampering.reply = [](std::uint8_t* d, int n) {
        d[1] = 0x80 | 0x20;
        return n;
    };
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数失败!");
    ExpectStillOpen();
}

TEST_F(HostileDevice, ABrokenIdentifyReplyOpensTheDeviceButNoWriteIsSent) {
    bus.tampering.reply = [](std::uint8_t* d, int n) {
        d[5] = 'Q';  // the magic
        return n;
    };
    Start();
    Open();
    bus.tampering.reply = nullptr;
    const std::uint64_t before = bench.device(chip)->reportsReceived;
    for (int button : {IDC_SET_RATE_BUTTON, IDC_SET_CFG_BUTTON, IDC_FACTORY_BUTTON}) {
        Click(button);
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
    }
    EXPECT_EQ(bench.device(chip)->reportsReceived, before);
    ExpectStillOpen();
}

TEST_F(HostileDevice, StringsWithoutTerminatorOrWithInvalidUtf16StayWithinTheirFields) {
    const struct {
        const char* name;
        std::function<bool(char16_t*, std::size_t)> fill;
        std::string shown;
    } cases[] = {
        {"no terminator anywhere",
         [](char16_t* b, std::size_t units) {
             std::fill_n(b, units, u'A');
             return true;
         },
         std::string(STRING_BUFFER_UNITS - 1, 'A')},
        {"Chinese up to the last unit",
         [](char16_t* b, std::size_t units) {
             std::fill_n(b, units, u'中');
             return true;
         },
         [] {
             std::string s;
             for (std::size_t i = 0; i < STRING_BUFFER_UNITS - 1; ++i) {
                 s += "中";
             }
             return s;
         }()},
        {"lone surrogates",
         [](char16_t* b, std::size_t) {
             const char16_t t[] = {u'A', 0xD800, u'B', 0xDC00, u'C', 0};
             std::copy_n(t, 6, b);
             return true;
         },
         "A?B?C"},
        {"high surrogate cut by the bound",
         [](char16_t* b, std::size_t units) {
             std::fill_n(b, units, u'x');
             b[units - 2] = 0xD83D;
             b[units - 1] = 0xDE00;
             return true;
         },
         std::string(STRING_BUFFER_UNITS - 2, 'x')},
        {"failed read that wrote garbage first",
         [](char16_t* b, std::size_t units) {
             std::fill_n(b, units, u'Z');
             return false;
         },
         ""},
    };
    Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bus.tampering.string = c.fill;
        Click(IDC_OPEN_BUTTON);
        ASSERT_EQ(status(), "操作状态:打开设备成功!");
        for (int edit : {IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
            EXPECT_EQ(text(edit), c.shown) << edit;
        }
        Click(IDC_GET_CFG_BUTTON);
        EXPECT_EQ(text(IDC_PRODUCT_EDIT), c.shown);
        Click(IDC_OPEN_BUTTON);  // close
        EXPECT_EQ(lib.openHandleCount(), 0u);
    }
}

TEST_F(HostileDevice, ADeviceGoneBetweenTheListAndTheOpenIsReportedAndCleanedUp) {
    Start();
    ASSERT_EQ(dlg->Ops().GetCount(IDC_DEVICE_COMBO), 1);
    // Gone before its removal has been handled: the list still shows it.
    ASSERT_TRUE(bench.unplug(chip));
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(lib.openHandleCount(), 0u);
    Pump();
    EXPECT_EQ(dlg->Ops().GetCount(IDC_DEVICE_COMBO), 0);
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");

    // Held by another program after the list was made: the same message, nothing kept.
    ASSERT_TRUE(bench.replug(chip));
    Pump();
    bench.setHeld(chip, true);
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    EXPECT_EQ(lib.openHandleCount(), 0u);
    bench.setHeld(chip, false);
}

TEST_F(HostileDevice, ADeviceGoneWhileItIsBeingOpenedLeavesNoHandle) {
    Start();
    // At the request and at the reply of the open's identification exchange.
    for (int cut : {0, 1}) {
        SCOPED_TRACE(cut);
        bench.faults(chip).vanishAfterReports = cut;
        Click(IDC_OPEN_BUTTON);
        // The identification failed quietly; the attribute read then finds the device gone.
        EXPECT_EQ(status(), "操作状态:获取设备VID、PID失败!");
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
        EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
        EXPECT_EQ(lib.openHandleCount(), 0u);
        Pump();
        EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
        ASSERT_TRUE(bench.replug(chip));
        Pump();
    }
    Open();
}

}  // namespace
}  // namespace kx::uitest
