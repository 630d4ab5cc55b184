// The translation of udev events into device notifications. Fuzzed action, subsystem and
// names go through the translation; a notification comes out exactly for a hidraw add or
// remove with a name, and its record reads, as a window would read it, as a well-formed
// device-interface broadcast of the HID class that carries the name and stays in bounds.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/hotplug/UeventTranslation.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kx;
using namespace kx::hotplug;

std::string Field(FuzzedDataProvider& in) {
    // Mostly the values that matter, sometimes anything at all.
    static const char* const common[] = {"add", "remove", "change", "bind",         "hidraw",
                                         "usb", "hid",    "",       "/dev/hidraw0", "hidraw0"};
    if (in.ConsumeBool()) {
        return common[in.ConsumeIntegralInRange<int>(0, 9)];
    }
    return in.ConsumeRandomLengthString(300);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Uevent e;
    e.action = Field(in);
    e.subsystem = Field(in);
    e.devnode = Field(in);
    e.sysname = Field(in);

    const auto out = TranslateUevent(e);
    const std::string& name = e.devnode.empty() ? e.sysname : e.devnode;
    const bool relevant =
        e.subsystem == "hidraw" && (e.action == "add" || e.action == "remove") && !name.empty();
    KX_FUZZ_CHECK(out.has_value() == relevant);
    if (!out) {
        return 0;
    }
    KX_FUZZ_CHECK(out->event == (e.action == "add" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE));

    // Read the record as a window does: the header first, then the size it declares.
    const auto* record = out->record.get();
    DEV_BROADCAST_HDR header;
    std::memcpy(&header, record, sizeof header);
    KX_FUZZ_CHECK(header.dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
    KX_FUZZ_CHECK(header.dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_A));
    std::vector<std::uint8_t> copy(header.dbch_size);
    std::memcpy(copy.data(), record, header.dbch_size);  // in bounds, or ASan says so
    KX_FUZZ_CHECK(record->dbcc_classguid == HID_CLASS_GUID);
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    KX_FUZZ_CHECK(header.dbch_size > nameOffset);
    KX_FUZZ_CHECK(copy.back() == 0);  // terminated within the declared size
    const std::string_view shown = out->record.name();
    KX_FUZZ_CHECK(shown == std::string_view(name.c_str()));  // up to an inner zero byte
    return 0;
}
