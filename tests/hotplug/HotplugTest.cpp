// Uevents to device-interface broadcasts, and their delivery to registered sinks through the
// event loop.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/hotplug/UeventTranslation.h"
#include "ui/qt/UdevNotificationSource.h"

namespace kx::hotplug {
namespace {

// A uevent source over a datagram socket pair, so the notifier sees a real readable fd.
// Each datagram is "action\0subsystem\0devnode\0sysname"; one without a zero is unreadable.
class FedUeventSource final : public UeventSource {
  public:
    FedUeventSource() {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends_),
                  0);
    }
    ~FedUeventSource() override {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    void feed(const Uevent& e) {
        send(e.action + '\0' + e.subsystem + '\0' + e.devnode + '\0' + e.sysname);
    }
    void send(const std::string& d) {
        ASSERT_EQ(::send(ends_[1], d.data(), d.size(), 0), static_cast<ssize_t>(d.size()));
    }
    int fd() const override { return ends_[0]; }
    std::optional<Uevent> receive() override {
        char buffer[512];
        const ssize_t got = ::recv(ends_[0], buffer, sizeof buffer, 0);
        const auto f = QByteArray(buffer, got > 0 ? got : 0).split('\0');
        received += got > 0;
        if (f.size() != 4) {
            return std::nullopt;  // nothing pending, or unreadable
        }
        return Uevent{f[0].toStdString(), f[1].toStdString(), f[2].toStdString(),
                      f[3].toStdString()};
    }
    int received = 0;

  private:
    int ends_[2] = {-1, -1};
};

// The record keeps the Windows layout: HID class GUID at 12, the terminated name at 28, and a
// size that never shrinks below the header's 32 bytes.
TEST(TranslateUevent, OnlyHidrawAddAndRemoveWithANameBecomeHidClassRecords) {
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) == 28);
    const struct {
        Uevent in;
        std::uint32_t event;  // 0: none
        std::string name;
    } cases[] = {
        {{"add", "hidraw", "/dev/hidraw0", "hidraw0"}, DBT_DEVICEARRIVAL, "/dev/hidraw0"},
        {{"remove", "hidraw", "/dev/hidraw12", "x"}, DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw12"},
        {{"remove", "hidraw", "", "hidraw7"}, DBT_DEVICEREMOVECOMPLETE, "hidraw7"},
        {{"add", "hidraw", "", "abc"}, DBT_DEVICEARRIVAL, "abc"},
        {{"change", "hidraw", "/dev/hidraw0", "hidraw0"}, 0, ""},
        {{"unbind", "hidraw", "/dev/hidraw0", "hidraw0"}, 0, ""},
        {{"add", "hid", "", "0003:3C5B:B207.0007"}, 0, ""},
        {{"remove", "input", "/dev/input/event5", "event5"}, 0, ""},
        {{"ADD", "hidraw", "/dev/hidraw0", "hidraw0"}, 0, ""},
        {{"add", "hidraw", "", ""}, 0, ""},
    };
    // {4D1E55B2-F16F-11CF-88CB-001111000030} in memory order.
    const unsigned char guid[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                    0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    for (const auto& c : cases) {
        const auto out = TranslateUevent(c.in);
        ASSERT_EQ(out.has_value(), c.event != 0) << c.in.action << " " << c.in.subsystem;
        if (out) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(out->record.get());
            EXPECT_EQ(out->event, c.event);
            EXPECT_EQ(out->record.get()->dbcc_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
            EXPECT_EQ(std::memcmp(bytes + 12, guid, sizeof guid), 0);
            EXPECT_EQ(std::memcmp(bytes + 28, c.name.c_str(), c.name.size() + 1), 0) << c.name;
            EXPECT_EQ(out->record.get()->dbcc_size, std::max<std::size_t>(32, 29 + c.name.size()));
        }
    }
}

using Received = std::pair<std::uint32_t, std::string>;

struct RecordingSink : DeviceChangeSink {
    void deliverDeviceChange(std::uint32_t event, const void* data) override {
        received.emplace_back(event,
                              static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data)->dbcc_name);
        if (onDelivery) {
            onDelivery();
        }
    }
    std::vector<Received> received;
    std::function<void()> onDelivery;
};

DEV_BROADCAST_DEVICEINTERFACE_A HidFilter(std::uint32_t data1 = HID_CLASS_GUID.data1) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{
        sizeof filter, DBT_DEVTYP_DEVICEINTERFACE, 0, HID_CLASS_GUID, {}};
    filter.dbcc_classguid.data1 = data1;
    return filter;
}

const Uevent ADD{"add", "hidraw", "/dev/hidraw3", "hidraw3"};
const Uevent REMOVE{"remove", "hidraw", "/dev/hidraw3", "hidraw3"};
const Received ARRIVED{DBT_DEVICEARRIVAL, "/dev/hidraw3"};
const Received LEFT{DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw3"};

class UdevNotificationSourceTest : public ::testing::Test {
  protected:
    UdevNotificationSourceTest()
        : app_(argc_, argv_), source_([this](std::string* error) -> std::unique_ptr<UeventSource> {
              if (++factoryCalls_ == failingCalls_) {
                  *error = "udev_monitor_new_from_netlink: Permission denied";
                  return nullptr;
              }
              auto fed = std::make_unique<FedUeventSource>();
              events_ = fed.get();
              return fed;
          }) {}

    // Runs the event loop until the source has taken `count` datagrams. The timer only
    // keeps a broken build from hanging; it asserts nothing about speed.
    void runUntilReceived(int count) {
        QEventLoop loop;
        bool expired = false;
        QTimer::singleShot(10000, &loop, [&expired] { expired = true; });
        while (events_->received < count && !expired) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        ASSERT_EQ(events_->received, count);
        QCoreApplication::processEvents();
    }

    int argc_ = 1;
    char arg0_[8] = "hotplug";
    char* argv_[2] = {arg0_, nullptr};
    QCoreApplication app_;
    int factoryCalls_ = 0, failingCalls_ = 0;
    FedUeventSource* events_ = nullptr;
    UdevNotificationSource source_;
};

TEST_F(UdevNotificationSourceTest, EventsArriveInOrderThroughTheLoopPastUnreadableOnes) {
    RecordingSink sink;
    const auto filter = HidFilter();
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    events_->send("libudev");
    std::vector<Received> expected;
    for (int i = 0; i < 150; ++i) {  // more than one wake-up takes
        events_->feed(i % 2 == 0 ? ADD : REMOVE);
        expected.push_back(i % 2 == 0 ? ARRIVED : LEFT);
    }
    EXPECT_TRUE(sink.received.empty()) << "delivered before the event loop ran";
    runUntilReceived(151);
    EXPECT_EQ(sink.received, expected);
}

TEST_F(UdevNotificationSourceTest,
       RegistrationsAreCheckedAndSinksGetTheirClassOrAllUntilWithdrawn) {
    RecordingSink hid, other, all, second, replaced;
    const auto hidFilter = HidFilter();
    const auto usbFilter = HidFilter(0xA5DCBF10);
    auto wrongType = hidFilter;
    wrongType.dbcc_devicetype = DBT_DEVTYP_PORT;
    auto tooSmall = hidFilter;
    tooSmall.dbcc_size = 28;
    EXPECT_FALSE(source_.registerDeviceNotification(nullptr, &hidFilter, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&hid, &wrongType, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&hid, &tooSmall, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&hid, &hidFilter, 1));  // service handle
    EXPECT_EQ(factoryCalls_, 0) << "opened for a malformed registration";
    // No event source: no registration, and the next one tries again.
    failingCalls_ = 1;
    EXPECT_FALSE(source_.registerDeviceNotification(&hid, &hidFilter, 0));
    EXPECT_EQ(source_.lastError(), "udev_monitor_new_from_netlink: Permission denied");
    ASSERT_TRUE(source_.registerDeviceNotification(&hid, &hidFilter, 0));
    EXPECT_EQ(source_.lastError(), "");
    ASSERT_TRUE(source_.registerDeviceNotification(&other, &usbFilter, 0));
    ASSERT_TRUE(
        source_.registerDeviceNotification(&all, &usbFilter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES));
    ASSERT_TRUE(source_.registerDeviceNotification(&second, &hidFilter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&replaced, &hidFilter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&replaced, &usbFilter, 0));
    // The first sink, handling the event, withdraws the second one.
    hid.onDelivery = [&] { source_.unregister(&second); };
    events_->feed(ADD);
    runUntilReceived(1);
    EXPECT_EQ(hid.received, (std::vector<Received>{ARRIVED}));
    EXPECT_EQ(all.received, (std::vector<Received>{ARRIVED}));
    EXPECT_EQ(other.received.size() + second.received.size() + replaced.received.size(), 0u);
    EXPECT_EQ(factoryCalls_, 2) << "one event source serves every sink";
}

}  // namespace
}  // namespace kx::hotplug
