// Uevents to device-interface broadcasts, and their delivery to registered sinks through the
// event loop.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <array>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/hotplug/UdevNotificationSource.h"
#include "device/hotplug/UeventTranslation.h"

namespace kx::hotplug {
namespace {

// A uevent source over a datagram socket pair, so the notifier sees a real readable fd.
// Each datagram is "action\0subsystem\0devnode\0sysname"; one without a zero is unreadable.
class FedUeventSource final : public UeventSource {
  public:
    FedUeventSource() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
            throw std::runtime_error("socketpair failed");
        }
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
    }
    ~FedUeventSource() override {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
    void feed(const Uevent& e) {
        const std::string d = e.action + '\0' + e.subsystem + '\0' + e.devnode + '\0' + e.sysname;
        ASSERT_EQ(::send(writeEnd_, d.data(), d.size(), 0), static_cast<ssize_t>(d.size()));
    }
    void feedGarbage() { ASSERT_EQ(::send(writeEnd_, "libudev", 7, 0), 7); }
    int fd() const override { return readEnd_; }
    std::optional<Uevent> receive() override {
        std::array<char, 512> buffer;
        const ssize_t got = ::recv(readEnd_, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            return std::nullopt;
        }
        ++received;
        std::vector<std::string> fields(1);
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\0') {
                fields.emplace_back();
            } else {
                fields.back().push_back(buffer[i]);
            }
        }
        if (fields.size() != 4) {
            return std::nullopt;  // unreadable, though more may be pending
        }
        return Uevent{fields[0], fields[1], fields[2], fields[3]};
    }
    int received = 0;

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

TEST(TranslateUevent, OnlyHidrawAddAndRemoveWithANameBecomeNotifications) {
    const struct {
        Uevent in;
        std::uint32_t event;  // 0: none
        const char* name;
    } cases[] = {
        {{"add", "hidraw", "/dev/hidraw0", "hidraw0"}, DBT_DEVICEARRIVAL, "/dev/hidraw0"},
        {{"remove", "hidraw", "/dev/hidraw0", "hidraw0"}, DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw0"},
        {{"remove", "hidraw", "", "hidraw7"}, DBT_DEVICEREMOVECOMPLETE, "hidraw7"},
        {{"change", "hidraw", "/dev/hidraw0", "hidraw0"}, 0, nullptr},
        {{"unbind", "hidraw", "/dev/hidraw0", "hidraw0"}, 0, nullptr},
        {{"add", "hid", "", "0003:3C5B:B207.0007"}, 0, nullptr},
        {{"remove", "input", "/dev/input/event5", "event5"}, 0, nullptr},
        {{"ADD", "hidraw", "/dev/hidraw0", "hidraw0"}, 0, nullptr},
        {{"add", "hidraw", "", ""}, 0, nullptr},
    };
    for (const auto& c : cases) {
        const auto out = TranslateUevent(c.in);
        ASSERT_EQ(out.has_value(), c.event != 0) << c.in.action << " " << c.in.subsystem;
        if (out) {
            EXPECT_EQ(out->event, c.event);
            EXPECT_EQ(out->record.name(), c.name);
        }
    }
}

TEST(TranslateUevent, RecordKeepsTheWindowsLayoutAndNeverShrinksBelowTheHeader) {
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_classguid) == 12);
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) == 28);
    const DeviceInterfaceRecord record(HID_CLASS_GUID, "/dev/hidraw12");
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.get());
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record.get());
    EXPECT_EQ(header->dbch_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
    // {4D1E55B2-F16F-11CF-88CB-001111000030} in memory order.
    const unsigned char guid[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                    0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    EXPECT_EQ(std::memcmp(bytes + 12, guid, sizeof guid), 0);
    EXPECT_EQ(std::memcmp(bytes + 28, "/dev/hidraw12", 14), 0);  // with its terminator
    EXPECT_EQ(header->dbch_size, 28u + 13u + 1u);
    for (const auto& [name, size] : {std::pair{"", 32u}, {"abc", 32u}, {"abcd", 33u}}) {
        EXPECT_EQ(DeviceInterfaceRecord(HID_CLASS_GUID, name).get()->dbcc_size, size) << name;
    }
}

struct Received {
    std::uint32_t event;
    std::string name;
    friend bool operator==(const Received&, const Received&) = default;
};

class RecordingSink : public DeviceChangeSink {
  public:
    void deliverDeviceChange(std::uint32_t event, const void* data) override {
        const auto* record = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
        received.push_back({event, std::string(record->dbcc_name)});
        if (onDelivery) {
            onDelivery();
        }
    }
    std::vector<Received> received;
    std::function<void()> onDelivery;
};

DEV_BROADCAST_DEVICEINTERFACE_A HidFilter(std::uint32_t data1 = HID_CLASS_GUID.data1) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = HID_CLASS_GUID;
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
        QTimer guard;
        guard.setSingleShot(true);
        guard.start(10000);
        while (events_->received < count && guard.isActive()) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        ASSERT_EQ(events_->received, count);
        QCoreApplication::processEvents();
    }

    int argc_ = 1;
    char arg0_[8] = "hotplug";
    char* argv_[2] = {arg0_, nullptr};
    QCoreApplication app_;
    int factoryCalls_ = 0;
    int failingCalls_ = 0;
    FedUeventSource* events_ = nullptr;
    UdevNotificationSource source_;
};

TEST_F(UdevNotificationSourceTest, EventsArriveInOrderThroughTheLoopPastUnreadableOnes) {
    RecordingSink sink;
    const auto filter = HidFilter();
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    events_->feedGarbage();
    std::vector<Received> expected;
    for (int i = 0; i < 150; ++i) {  // more than one wake-up takes
        events_->feed(i % 2 == 0 ? ADD : REMOVE);
        expected.push_back(i % 2 == 0 ? ARRIVED : LEFT);
    }
    EXPECT_TRUE(sink.received.empty()) << "delivered before the event loop ran";
    runUntilReceived(151);
    EXPECT_EQ(sink.received, expected);
}

TEST_F(UdevNotificationSourceTest, MalformedRegistrationsAreRefusedBeforeAnythingOpens) {
    RecordingSink sink;
    const auto good = HidFilter();
    auto wrongType = good;
    wrongType.dbcc_devicetype = DBT_DEVTYP_PORT;
    auto tooSmall = good;
    tooSmall.dbcc_size = 28;
    EXPECT_FALSE(source_.registerDeviceNotification(nullptr, &good, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &wrongType, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &tooSmall, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &good, 1));  // service handle
    EXPECT_EQ(factoryCalls_, 0);
    // No event source: no registration, and the next one tries again.
    failingCalls_ = 1;
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &good, 0));
    EXPECT_EQ(source_.lastError(), "udev_monitor_new_from_netlink: Permission denied");
    EXPECT_TRUE(source_.registerDeviceNotification(&sink, &good, 0));
    EXPECT_EQ(source_.lastError(), "");
}

TEST_F(UdevNotificationSourceTest, SinksGetTheirClassOrAllAndNothingAfterUnregistering) {
    RecordingSink hid, other, all, second, replaced;
    const auto hidFilter = HidFilter();
    const auto usbFilter = HidFilter(0xA5DCBF10);
    ASSERT_TRUE(source_.registerDeviceNotification(&hid, &hidFilter, 0));
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
    EXPECT_TRUE(other.received.empty());
    EXPECT_TRUE(second.received.empty());
    EXPECT_TRUE(replaced.received.empty());
    EXPECT_EQ(factoryCalls_, 1) << "one event source serves every sink";
}

// The real monitor, as far as this machine allows: no hidraw devices and perhaps no udevd.
TEST(UdevMonitorSource, OpensNonBlockingOnTheDefaultOrigin) {
    const bool udevd = QFile::exists(QStringLiteral("/run/udev/control"));
    EXPECT_EQ(DefaultUeventOrigin(), udevd ? UeventOrigin::Udev : UeventOrigin::Kernel);
    std::string error;
    auto monitor = UdevMonitorSource::create(DefaultUeventOrigin(), &error);
    if (monitor == nullptr) {
        GTEST_SKIP() << "no netlink uevent socket here: " << error;
    }
    EXPECT_GE(monitor->fd(), 0);
    EXPECT_FALSE(monitor->receive().has_value()) << "a receive with nothing pending must not block";
}

}  // namespace
}  // namespace kx::hotplug
