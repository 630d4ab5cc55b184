#pragma once
// A device library that forwards to a real one and records the order of the calls.

#include <string>
#include <vector>

#include "device/DeviceLibrary.h"

namespace kx::test {

class RecordingLibrary : public DeviceLibrary {
  public:
    explicit RecordingLibrary(DeviceLibrary& inner) : m_inner(inner) {}

    std::vector<std::string> calls;

    int KX4701DllInt() override { return log("KX4701DllInt"), m_inner.KX4701DllInt(); }
    int KX4701GetHidGuid(Guid* guid) override {
        return log("KX4701GetHidGuid"), m_inner.KX4701GetHidGuid(guid);
    }
    int KX4701GetDevicePath(std::int32_t index, char* buffer, std::uint32_t size) override {
        return log("KX4701GetDevicePath"), m_inner.KX4701GetDevicePath(index, buffer, size);
    }
    DeviceHandle KX4701OpenDevicePath(const char* path) override {
        return log("KX4701OpenDevicePath"), m_inner.KX4701OpenDevicePath(path);
    }
    int KX4701CloseDevice(DeviceHandle handle) override {
        return log("KX4701CloseDevice"), m_inner.KX4701CloseDevice(handle);
    }
    int KX4701GetAttributes(DeviceHandle handle, std::uint16_t* vid, std::uint16_t* pid,
                            std::uint16_t* version) override {
        return log("KX4701GetAttributes"), m_inner.KX4701GetAttributes(handle, vid, pid, version);
    }
    int KX4701GetBufferLen(DeviceHandle handle, std::uint16_t* in, std::uint16_t* out) override {
        return log("KX4701GetBufferLen"), m_inner.KX4701GetBufferLen(handle, in, out);
    }
    int KX4701SetTimeOut(DeviceHandle handle, std::uint32_t r, std::uint32_t w) override {
        return log("KX4701SetTimeOut"), m_inner.KX4701SetTimeOut(handle, r, w);
    }
    int KX4701SetDefaultRate(DeviceHandle handle, std::uint8_t a, std::uint8_t b, std::uint8_t c,
                             std::uint8_t d, std::uint8_t e) override {
        return log("KX4701SetDefaultRate"), m_inner.KX4701SetDefaultRate(handle, a, b, c, d, e);
    }
    int KX4701SetDeviceCfg(DeviceHandle handle, std::uint16_t vid, std::uint16_t pid,
                           std::uint8_t maxPower, const char* m, std::uint8_t ml, const char* p,
                           std::uint8_t pl, const char* s, std::uint8_t sl) override {
        log("KX4701SetDeviceCfg");
        return m_inner.KX4701SetDeviceCfg(handle, vid, pid, maxPower, m, ml, p, pl, s, sl);
    }
    int KX4701GetManufacturerString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return log("KX4701GetManufacturerString"), m_inner.KX4701GetManufacturerString(h, b, u);
    }
    int KX4701GetProductString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return log("KX4701GetProductString"), m_inner.KX4701GetProductString(h, b, u);
    }
    int KX4701GetSerialNumberString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return log("KX4701GetSerialNumberString"), m_inner.KX4701GetSerialNumberString(h, b, u);
    }
    int KX4701ResetToDefault(DeviceHandle handle) override {
        return log("KX4701ResetToDefault"), m_inner.KX4701ResetToDefault(handle);
    }

  private:
    void log(const char* name) { calls.emplace_back(name); }
    DeviceLibrary& m_inner;
};

}  // namespace kx::test
