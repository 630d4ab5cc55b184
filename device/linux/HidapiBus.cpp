#include "device/linux/HidapiBus.h"

#include <hidapi.h>

#include <algorithm>
#include <optional>

#include "config/TextCodec.h"
#include "device/ReportDescriptor.h"
#include "device/linux/DescriptorFile.h"
#include "device/linux/DeviceStrings.h"

#include <fcntl.h>
#include <unistd.h>

namespace kx {

namespace {

constexpr std::uint16_t FALLBACK_REPORT_LENGTH = 64;

// What the hidraw node at `path` declares, from the report descriptor sysfs keeps for it
// (hidraw paths look like /dev/hidrawN); nullopt for any other path or a bad descriptor.
std::optional<hid::DescriptorSummary> SummaryOf(const std::string& path) {
    const std::string file = hid::DescriptorFileOf(path);
    std::vector<std::uint8_t> bytes;
    if (file.empty() || !hid::ReadSysfsFile(file, bytes) || bytes.empty()) {
        return std::nullopt;
    }
    return hid::SummarizeReportDescriptor(bytes);
}

class HidapiConnection : public HidConnection {
  public:
    HidapiConnection(hid_device* device, std::string path)
        : device_(device), path_(std::move(path)) {}
    ~HidapiConnection() override { hid_close(device_); }
    HidapiConnection(const HidapiConnection&) = delete;
    HidapiConnection& operator=(const HidapiConnection&) = delete;

    // From sysfs, as hidapi's own would have them, without asking udev for each device.
    bool attributes(std::uint16_t* vendorId, std::uint16_t* productId,
                    std::uint16_t* releaseNumber) override {
        read();
        if (!sysfs_ || vendorId == nullptr || productId == nullptr || releaseNumber == nullptr) {
            return false;
        }
        *vendorId = sysfs_->second.vendor;
        *productId = sysfs_->second.product;
        *releaseNumber = sysfs_->second.release;
        return true;
    }

    // hidapi turns the strings into wide ones through the process's C locale, which reads
    // nothing beyond ASCII in the C locale: they come from sysfs instead. Read once, at the
    // first call, as hidapi does; a node that has gone by then has none.
    bool readString(HidString which, char16_t* buffer, std::size_t units) override {
        if (buffer == nullptr || units == 0) {
            return false;
        }
        buffer[0] = 0;
        read();
        if (!sysfs_) {
            return false;
        }
        const hid::DeviceStrings& strings = sysfs_->first;
        const std::u16string& text = which == HidString::Manufacturer ? strings.manufacturer
                                     : which == HidString::Product    ? strings.product
                                                                      : strings.serial;
        const std::size_t n = text::Utf16PrefixLength(text, units - 1);
        std::copy_n(text.begin(), n, buffer);
        buffer[n] = 0;
        return true;
    }

    // hidapi has no timeout for feature reports; the HID layer's own control-transfer
    // timeout bounds them.
    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int) override {
        if (data == nullptr || length == 0) {
            return -1;
        }
        return hid_send_feature_report(device_, data, length);
    }

    int getFeatureReport(std::uint8_t* data, std::size_t length, int) override {
        if (data == nullptr || length == 0) {
            return -1;
        }
        const int n = hid_get_feature_report(device_, data, length);
        return n < 0 ? -1 : std::min(n, static_cast<int>(length));
    }

    // The node stays this device's while it is open: its descriptor cannot change under us.
    std::optional<hid::DescriptorSummary> describe() override { return SummaryOf(path_); }

  private:
    // The strings and ids, read from sysfs in one walk at the first call that needs either.
    void read() {
        if (!asked_) {
            sysfs_ = hid::ReadDeviceStringsAndIds(path_);
            asked_ = true;
        }
    }

    hid_device* device_;
    std::string path_;
    bool asked_ = false;
    std::optional<std::pair<hid::DeviceStrings, hid::DeviceIds>> sysfs_;
};

}  // namespace

HidapiBus::HidapiBus() {
    hid_init();
}
HidapiBus::~HidapiBus() {
    hid_exit();
}

std::vector<HidDeviceInfo> HidapiBus::enumerate() {
    std::vector<HidDeviceInfo> out;
    hid_device_info* list = nullptr;
    {
        const std::lock_guard lock(mutex_);
        list = hid_enumerate(0, 0);
    }
    // The strings and the report lengths are left to the open device (readString,
    // describe), which reads them from sysfs once: reading them here too cost a list as
    // much again as the devices' opens.
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        if (d->path == nullptr) {
            continue;
        }
        HidDeviceInfo info;
        info.path = d->path;
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.releaseNumber = d->release_number;
        info.usagePage = d->usage_page;
        info.usage = d->usage;
        info.inputReportLength = FALLBACK_REPORT_LENGTH;
        info.outputReportLength = FALLBACK_REPORT_LENGTH;
        out.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return out;
}

std::unique_ptr<HidConnection> HidapiBus::open(const std::string& path) {
    hid_device* device = nullptr;
    {
        const std::lock_guard lock(mutex_);
        device = hid_open_path(path.c_str());
    }
    if (device == nullptr) {
        return nullptr;
    }
    return std::make_unique<HidapiConnection>(device, path);
}

bool HidapiBus::canOpenReadWrite(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace kx
