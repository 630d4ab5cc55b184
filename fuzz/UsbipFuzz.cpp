// The USB/IP messages the kernel sends an emulated chip, read as a stream cut at fuzzed
// places, and the chip's answer to each: a message never takes more bytes than it was given,
// OUT data is exactly what its header announces and within bounds, and no answer carries more
// IN data than the host asked for.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "emulation/usbip/EmulatedDevice.h"
#include "emulation/usbip/UsbipProtocol.h"
#include "fuzz/FuzzCheck.h"

using namespace kx::emu::usbip;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    EmulatedDevice chip = EmulatedDevice::chip({});
    std::vector<std::uint8_t> buffer;
    while (in.remaining_bytes() > 0) {
        const auto chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<int>(1, 200));
        buffer.insert(buffer.end(), chunk.begin(), chunk.end());
        for (;;) {
            const Parsed p = ParseMessage(buffer);
            if (std::holds_alternative<NeedMore>(p.message)) {
                KX_FUZZ_CHECK(p.consumed == 0);
                break;
            }
            if (std::holds_alternative<Malformed>(p.message)) {
                return 0;  // the connection would end here
            }
            KX_FUZZ_CHECK(p.consumed >= HEADER_SIZE && p.consumed <= buffer.size());
            if (const auto* s = std::get_if<Submit>(&p.message)) {
                KX_FUZZ_CHECK(s->out.size() <= MAX_OUT_BYTES);
                KX_FUZZ_CHECK(s->direction == DIR_IN ? s->out.empty()
                                                     : s->out.size() == s->transferLength);
                KX_FUZZ_CHECK(p.consumed == HEADER_SIZE + s->out.size());
                if (s->ep == 0) {
                    const Transfer t = chip.control(s->setup, s->out);
                    KX_FUZZ_CHECK(t.in.size() <= s->setup.length);
                    KX_FUZZ_CHECK(!t.stall || t.in.empty());
                }
            } else {
                KX_FUZZ_CHECK(p.consumed == HEADER_SIZE);
            }
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(p.consumed));
        }
    }
    return 0;
}
