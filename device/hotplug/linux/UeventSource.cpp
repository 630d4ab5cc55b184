#include "device/hotplug/linux/UeventSource.h"

#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace kx::hotplug {
namespace {

constexpr const char* UDEV_CONTROL_SOCKET = "/run/udev/control";

std::string Field(const char* value) {
    return value == nullptr ? std::string() : value;
}

bool Fail(std::string* error, std::string_view step, int code) {
    if (error != nullptr) {
        *error = std::string(step);
        if (code != 0) {
            *error += ": ";
            *error += std::strerror(code < 0 ? -code : code);
        }
    }
    return false;
}

}  // namespace

UeventOrigin DefaultUeventOrigin() {
    return ::access(UDEV_CONTROL_SOCKET, F_OK) == 0 ? UeventOrigin::Udev : UeventOrigin::Kernel;
}

struct UdevMonitorSource::Handles {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    ~Handles() {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        if (context != nullptr) {
            udev_unref(context);
        }
    }
};

std::unique_ptr<UdevMonitorSource> UdevMonitorSource::create(UeventOrigin origin,
                                                             std::string* error) {
    auto handles = std::make_unique<Handles>();
    handles->context = udev_new();
    if (handles->context == nullptr) {
        Fail(error, "udev_new", errno);
        return nullptr;
    }
    const char* group = origin == UeventOrigin::Udev ? "udev" : "kernel";
    handles->monitor = udev_monitor_new_from_netlink(handles->context, group);
    if (handles->monitor == nullptr) {
        Fail(error, "udev_monitor_new_from_netlink", errno);
        return nullptr;
    }
    const std::string subsystem(HIDRAW_SUBSYSTEM);
    if (const int rc = udev_monitor_filter_add_match_subsystem_devtype(handles->monitor,
                                                                       subsystem.c_str(), nullptr);
        rc < 0) {
        Fail(error, "udev_monitor_filter_add_match_subsystem_devtype", rc);
        return nullptr;
    }
    if (const int rc = udev_monitor_enable_receiving(handles->monitor); rc < 0) {
        Fail(error, "udev_monitor_enable_receiving", rc);
        return nullptr;
    }
    if (udev_monitor_get_fd(handles->monitor) < 0) {
        Fail(error, "udev_monitor_get_fd", 0);
        return nullptr;
    }
    return std::unique_ptr<UdevMonitorSource>(new UdevMonitorSource(std::move(handles)));
}

UdevMonitorSource::UdevMonitorSource(std::unique_ptr<Handles> handles)
    : handles_(std::move(handles)) {}

UdevMonitorSource::~UdevMonitorSource() = default;

int UdevMonitorSource::fd() const {
    return udev_monitor_get_fd(handles_->monitor);
}

std::optional<Uevent> UdevMonitorSource::receive() {
    // The monitor's socket is non-blocking: with nothing pending this returns null at once.
    udev_device* device = udev_monitor_receive_device(handles_->monitor);
    if (device == nullptr) {
        return std::nullopt;
    }
    Uevent event{Field(udev_device_get_action(device)), Field(udev_device_get_subsystem(device)),
                 Field(udev_device_get_devnode(device)), Field(udev_device_get_sysname(device))};
    udev_device_unref(device);
    return event;
}

}  // namespace kx::hotplug
