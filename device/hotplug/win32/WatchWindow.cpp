#include "device/hotplug/win32/WatchWindow.h"

namespace kx::hotplug {
namespace {

constexpr const char* CLASS_NAME = "KX4701WatchWindow";

}  // namespace

WatchWindow::~WatchWindow() {
    system_.reset();
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

bool WatchWindow::registerDeviceNotification(DeviceChangeSink* sink,
                                             const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                             std::uint32_t flags) {
    if (!NotificationRegistry::IsValidRequest(sink, filter, flags)) {
        return false;
    }
    if (window_ == nullptr) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = CLASS_NAME;
        RegisterClassA(&windowClass);  // a second window of the class finds it registered
        window_ = CreateWindowExA(0, CLASS_NAME, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
        if (window_ == nullptr) {
            return false;
        }
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        system_ = std::make_unique<Win32NotificationSource>(window_);
    }
    if (!system_->registerDeviceNotification(sink, filter, flags)) {
        return false;
    }
    registry_.add(sink, *filter, flags);
    return true;
}

void WatchWindow::unregister(DeviceChangeSink* sink) {
    if (system_) {
        system_->unregister(sink);
    }
    registry_.remove(sink);
}

void WatchWindow::pump(std::chrono::milliseconds timeout, HANDLE stop) {
    delivered_ = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (delivered_ || left.count() <= 0 ||
            (stop != nullptr && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)) {
            return;
        }
        MsgWaitForMultipleObjects(stop != nullptr ? 1 : 0, &stop, FALSE,
                                  static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

LRESULT CALLBACK WatchWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<WatchWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    const bool change = wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVEPENDING ||
                        wParam == DBT_DEVICEREMOVECOMPLETE;
    if (message == WM_DEVICECHANGE && self != nullptr && change && header != nullptr &&
        header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        self->delivered_ = true;
        self->registry_.deliver(static_cast<std::uint32_t>(wParam),
                                *reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam));
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace kx::hotplug
