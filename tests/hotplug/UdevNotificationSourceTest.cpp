#include "device/hotplug/UdevNotificationSource.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "RecordedUeventSource.h"

namespace kx::hotplug {
namespace {

using testing::RecordedUeventSource;
namespace recorded = testing::recorded;

struct Received {
    std::uint32_t event;
    std::uint32_t deviceType;
    std::string name;
    friend bool operator==(const Received&, const Received&) = default;
};

std::ostream& operator<<(std::ostream& os, const Received& r) {
    return os << std::hex << r.event << "/" << r.deviceType << "/" << r.name;
}

// Records what a window would see; may run an action on each delivery.
class RecordingSink : public DeviceChangeSink {
  public:
    void deliverDeviceChange(std::uint32_t event, const void* data) override {
        const auto* record = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
        received.push_back({event, record->dbcc_devicetype, std::string(record->dbcc_name)});
        if (onDelivery) {
            onDelivery();
        }
    }
    std::vector<Received> received;
    std::function<void()> onDelivery;
};

DEV_BROADCAST_DEVICEINTERFACE_A HidFilter() {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = HID_CLASS_GUID;
    return filter;
}

const Received ARRIVED{DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, "/dev/hidraw3"};
const Received LEFT{DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, "/dev/hidraw3"};

class UdevNotificationSourceTest : public ::testing::Test {
  protected:
    UdevNotificationSourceTest()
        : app_(argc_, argv_), source_([this](std::string*) {
              ++factoryCalls_;
              auto recorded = std::make_unique<RecordedUeventSource>();
              events_ = recorded.get();
              return recorded;
          }) {}

    // Runs the event loop until the source has taken `count` datagrams. The timer only
    // keeps a broken build from hanging; it asserts nothing about speed.
    void runUntilReceived(int count) {
        QEventLoop loop;
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(10000);
        while (events_->received() < count && guard.isActive()) {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
        ASSERT_EQ(events_->received(), count);
        // Anything the source still had would be read by now; nothing more must arrive.
        QCoreApplication::processEvents();
    }

    int argc_ = 1;
    char arg0_[8] = "hotplug";
    char* argv_[2] = {arg0_, nullptr};
    QCoreApplication app_;
    int factoryCalls_ = 0;
    RecordedUeventSource* events_ = nullptr;
    UdevNotificationSource source_;
};

TEST_F(UdevNotificationSourceTest, PlugAndUnplugBecomeArrivalAndRemoval) {
    RecordingSink sink;
    const auto filter = HidFilter();
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    // The kernel's whole sequence for one chip: only the hidraw node counts, once each way.
    for (const std::string& datagram :
         {recorded::UsbAdd(), recorded::HidAdd(), recorded::HidBind(), recorded::HidrawAdd(),
          recorded::HidrawChange(), recorded::HidrawRemove(), recorded::UsbRemove()}) {
        ASSERT_TRUE(events_->feed(datagram));
    }
    EXPECT_TRUE(sink.received.empty()) << "delivered before the event loop ran";
    runUntilReceived(7);
    EXPECT_EQ(sink.received, (std::vector<Received>{ARRIVED, LEFT}));
}

TEST_F(UdevNotificationSourceTest, UnreadableEventIsSkippedAndLaterOnesStillArrive) {
    RecordingSink sink;
    const auto filter = HidFilter();
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    ASSERT_TRUE(events_->feed(recorded::Garbled()));
    ASSERT_TRUE(events_->feed(recorded::HidrawAdd()));
    runUntilReceived(2);
    EXPECT_EQ(sink.received, (std::vector<Received>{ARRIVED}));
}

TEST_F(UdevNotificationSourceTest, AFloodIsDeliveredCompletelyAndInOrder) {
    RecordingSink sink;
    const auto filter = HidFilter();
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    std::vector<Received> expected;
    for (int i = 0; i < 150; ++i) {
        ASSERT_TRUE(events_->feed(i % 2 == 0 ? recorded::HidrawAdd() : recorded::HidrawRemove()));
        expected.push_back(i % 2 == 0 ? ARRIVED : LEFT);
    }
    runUntilReceived(150);
    EXPECT_EQ(sink.received, expected);
}

TEST_F(UdevNotificationSourceTest, MalformedRegistrationsAreRefused) {
    RecordingSink sink;
    const auto good = HidFilter();
    auto wrongType = good;
    wrongType.dbcc_devicetype = DBT_DEVTYP_PORT;
    auto tooSmall = good;
    tooSmall.dbcc_size = 28;
    EXPECT_FALSE(source_.registerDeviceNotification(nullptr, &good, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, nullptr, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &wrongType, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &tooSmall, 0));
    EXPECT_FALSE(source_.registerDeviceNotification(&sink, &good, 1));  // service handle
    EXPECT_EQ(factoryCalls_, 0) << "nothing may be opened for a refused registration";
    EXPECT_TRUE(source_.registerDeviceNotification(&sink, &good, 0));
    EXPECT_EQ(factoryCalls_, 1);
}

TEST_F(UdevNotificationSourceTest, SinksGetOnlyTheirClassUnlessTheyAskForAll) {
    RecordingSink hid, other, all;
    const auto hidFilter = HidFilter();
    auto otherFilter = hidFilter;
    otherFilter.dbcc_classguid.data1 = 0xA5DCBF10;  // the USB device class
    ASSERT_TRUE(source_.registerDeviceNotification(&hid, &hidFilter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&other, &otherFilter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&all, &otherFilter,
                                                   DEVICE_NOTIFY_ALL_INTERFACE_CLASSES));
    ASSERT_TRUE(events_->feed(recorded::HidrawAdd()));
    runUntilReceived(1);
    EXPECT_EQ(hid.received, (std::vector<Received>{ARRIVED}));
    EXPECT_TRUE(other.received.empty());
    EXPECT_EQ(all.received, (std::vector<Received>{ARRIVED}));
    EXPECT_EQ(factoryCalls_, 1) << "one event source serves every sink";
}

TEST_F(UdevNotificationSourceTest, UnregisteredSinksHearNothingEvenMidDelivery) {
    RecordingSink first, second, gone;
    const auto filter = HidFilter();
    ASSERT_TRUE(source_.registerDeviceNotification(&first, &filter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&second, &filter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&gone, &filter, 0));
    source_.unregister(&gone);
    source_.unregister(&gone);  // twice is harmless
    // The first sink, handling the event, withdraws the second one.
    first.onDelivery = [&] { source_.unregister(&second); };
    ASSERT_TRUE(events_->feed(recorded::HidrawAdd()));
    ASSERT_TRUE(events_->feed(recorded::HidrawRemove()));
    runUntilReceived(2);
    EXPECT_EQ(first.received, (std::vector<Received>{ARRIVED, LEFT}));
    EXPECT_TRUE(second.received.empty());
    EXPECT_TRUE(gone.received.empty());
}

TEST_F(UdevNotificationSourceTest, ReRegisteringReplacesTheFilter) {
    RecordingSink sink;
    const auto hidFilter = HidFilter();
    auto otherFilter = hidFilter;
    otherFilter.dbcc_classguid.data1 ^= 1;
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &hidFilter, 0));
    ASSERT_TRUE(source_.registerDeviceNotification(&sink, &otherFilter, 0));
    ASSERT_TRUE(events_->feed(recorded::HidrawAdd()));
    runUntilReceived(1);
    EXPECT_TRUE(sink.received.empty());
}

TEST(UdevNotificationSourceFailure, NoEventSourceMeansNoRegistrationAndALaterRetry) {
    int argc = 1;
    char arg0[] = "hotplug";
    char* argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    int attempts = 0;
    UdevNotificationSource source([&attempts](std::string* error) -> std::unique_ptr<UeventSource> {
        if (++attempts == 1) {
            *error = "udev_monitor_new_from_netlink: Permission denied";
            return nullptr;
        }
        return std::make_unique<RecordedUeventSource>();
    });
    RecordingSink sink;
    const auto filter = HidFilter();
    EXPECT_FALSE(source.registerDeviceNotification(&sink, &filter, 0));
    EXPECT_EQ(source.lastError(), "udev_monitor_new_from_netlink: Permission denied");
    EXPECT_TRUE(source.registerDeviceNotification(&sink, &filter, 0));
    EXPECT_EQ(source.lastError(), "");
    EXPECT_EQ(attempts, 2);
}

// The real monitor, as far as this machine allows: no hidraw devices and perhaps no udevd.
TEST(UdevMonitorSource, OpensNonBlockingOnTheDefaultOrigin) {
    std::string error;
    auto monitor = UdevMonitorSource::create(DefaultUeventOrigin(), &error);
    if (monitor == nullptr) {
        GTEST_SKIP() << "no netlink uevent socket here: " << error;
    }
    EXPECT_GE(monitor->fd(), 0);
    EXPECT_FALSE(monitor->receive().has_value()) << "a receive with nothing pending must not block";
}

TEST(UdevMonitorSource, DefaultOriginFollowsTheUdevControlSocket) {
    const bool udevd = QFile::exists(QStringLiteral("/run/udev/control"));
    EXPECT_EQ(DefaultUeventOrigin(), udevd ? UeventOrigin::Udev : UeventOrigin::Kernel);
}

}  // namespace
}  // namespace kx::hotplug
