// The emulated USB chip without a kernel: its descriptors, the USB/IP messages, its transfers
// and re-enumeration, the host controller's port list, and udev's chip test on descriptors.
// The VM test runs all of it against usbcore, usbhid and udevd.

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "device/Protocol.h"
#include "device/ReportDescriptor.h"
#include "emulation/ReportDescriptors.h"
#include "emulation/usbip/EmulatedDevice.h"
#include "emulation/usbip/UsbDescriptors.h"
#include "emulation/usbip/UsbipDevice.h"

namespace kx::emu::usbip {
namespace {

using Bytes = std::vector<std::uint8_t>;
using emu::ChipIdentity;

Bytes Head(const Bytes& b, std::size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size())));
}

TEST(UsbDescriptors, CarryTheStoredIdentity) {
    ChipIdentity id{0x1A2B, 0x3C4D, 0x0123, "M", "", "S", 250};
    EXPECT_EQ(DeviceDescriptor(id), (Bytes{18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x2B, 0x1A, 0x4D, 0x3C,
                                           0x23, 0x01, 1, 0, 3, 1}));
    const Bytes config = ConfigurationDescriptor(250, {false, 36, 64, 64, 1});
    EXPECT_EQ(Head(config, 9), (Bytes{9, 2, 41, 0, 1, 1, 0, 0x80, 250}));
    EXPECT_EQ(config.size(), 41u);
    EXPECT_EQ(Bytes(config.begin() + 18, config.begin() + 27),
              (Bytes{9, 0x21, 0x11, 1, 0, 1, 0x22, 36, 0}));
    EXPECT_EQ(ConfigurationDescriptor(50, {true, 63, 8, 0, 10}).size(), 34u) << "no OUT endpoint";
    EXPECT_EQ(StringDescriptor("A\xB2\xFA"), (Bytes{6, 3, 'A', 0, 0xA7, 0x4E}));  // "A产"
    EXPECT_EQ(StringDescriptor(std::string(200, 'x')).size(), 254u);
    EXPECT_EQ(LanguageDescriptor(), (Bytes{4, 3, 0x09, 0x04}));
}

Bytes SubmitHeader(std::uint32_t cmd, std::uint32_t dir, std::uint32_t ep, std::uint32_t length,
                   std::uint32_t packets = 0) {
    Bytes b(HEADER_SIZE, 0);
    const auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
        }
    };
    put(0, cmd);
    put(4, 7);  // seqnum
    put(12, dir);
    put(16, ep);
    put(20, 5);  // the unlink's target, or transfer flags
    put(24, length);
    put(32, packets);
    b[40] = 0x80, b[41] = 6, b[43] = 1, b[46] = 18;  // GET_DESCRIPTOR device, 18 bytes
    return b;
}

TEST(UsbipProtocol, MessagesAreFramedAsTheKernelSendsThem) {
    Bytes out = SubmitHeader(CMD_SUBMIT, DIR_OUT, 0, 3);
    out.insert(out.end(), {1, 2, 3, 9});  // one byte of the next message
    const Parsed submit = ParseMessage(out);
    ASSERT_TRUE(std::holds_alternative<Submit>(submit.message));
    EXPECT_EQ(submit.consumed, HEADER_SIZE + 3);
    EXPECT_EQ(std::get<Submit>(submit.message).out, (Bytes{1, 2, 3}));
    EXPECT_EQ(std::get<Submit>(submit.message).setup, (usbip::Setup{0x80, 6, 0x0100, 0, 18}));
    const Parsed unlink = ParseMessage(SubmitHeader(CMD_UNLINK, DIR_IN, 1, 0));
    ASSERT_TRUE(std::holds_alternative<Unlink>(unlink.message));
    EXPECT_EQ(std::get<Unlink>(unlink.message).unlinkSeqnum, 5u);

    EXPECT_TRUE(std::holds_alternative<NeedMore>(ParseMessage(Head(out, 50)).message));
    EXPECT_TRUE(std::holds_alternative<NeedMore>(ParseMessage(Head(out, 47)).message));
    const Bytes malformed[] = {
        SubmitHeader(RET_SUBMIT, DIR_IN, 0, 0), SubmitHeader(CMD_SUBMIT, 2, 0, 0),
        SubmitHeader(CMD_SUBMIT, DIR_IN, 16, 0), SubmitHeader(CMD_SUBMIT, DIR_IN, 1, 8, 1),
        SubmitHeader(CMD_SUBMIT, DIR_OUT, 1, 0xFFFFFFF0u)};
    for (const Bytes& b : malformed) {
        EXPECT_TRUE(std::holds_alternative<Malformed>(ParseMessage(b).message));
    }

    const Bytes ret = EncodeRetSubmit(7, -EPIPE, Bytes{0xAA});
    EXPECT_EQ(Head(ret, 28), (Bytes{0, 0, 0, 3, 0, 0, 0,    7,    0,    0,    0, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xE0, 0, 0, 0, 1}));
    EXPECT_EQ(ret.size(), HEADER_SIZE + 1);
    EXPECT_EQ(Head(EncodeRetUnlink(9, -ECONNRESET), 24),
              (Bytes{0, 0, 0, 4, 0, 0, 0, 9, 0,    0,    0,    0,
                     0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x98}));
}

Transfer Feature(EmulatedDevice& d, const protocol::Frame* request) {
    if (request != nullptr) {
        return d.control({0x21, 9, 0x034B, 0, 64}, *request);
    }
    return d.control({0xA1, 1, 0x034B, 0, 64}, {});
}

TEST(EmulatedDevice, AnswersTheHostAndReenumeratesOnceTheReplyToANewIdentityIsRead) {
    ChipIdentity stored;
    stored.vid = 0x1A2B;
    EmulatedDevice chip = EmulatedDevice::chip(stored);
    const struct {
        usbip::Setup setup;
        bool stall;
        Bytes head;
    } rows[] = {
        {{0x80, 6, 0x0100, 0, 8}, false, {18, 1, 0, 2, 0, 0, 0, 64}},
        {{0x80, 6, 0x0302, 0x0409, 255}, false, {28, 3, 'H', 0}},
        {{0x81, 6, 0x2200, 0, 255}, false, emu::ChipReportDescriptor()},
        {{0x80, 6, 0x0600, 0, 10}, true, {}},  // no device qualifier at full speed
        {{0x80, 6, 0x0304, 0x0409, 255}, true, {}},
        {{0x00, 9, 1, 0, 0}, false, {}},
        {{0x21, 10, 0, 0, 0}, false, {}},      // SET_IDLE
        {{0xA1, 1, 0x0101, 0, 64}, true, {}},  // input reports travel on the interrupt endpoint
        {{0xC0, 1, 0, 0, 1}, true, {}},        // vendor requests
    };
    for (const auto& r : rows) {
        const Transfer t = chip.control(r.setup, {});
        EXPECT_EQ(t.stall, r.stall) << int(r.setup.request) << " " << r.setup.value;
        EXPECT_EQ(Head(t.in, r.head.size()), r.head) << r.setup.value;
    }

    chip.chipLogic().busyPolls = 1;
    const protocol::Frame reset = protocol::EncodeFactoryReset(3);
    EXPECT_FALSE(Feature(chip, &reset).stall);
    EXPECT_FALSE(chip.reenumerationDue()) << "not before the host has its reply";
    EXPECT_EQ(Feature(chip, nullptr).in[3], static_cast<std::uint8_t>(protocol::Status::Busy));
    EXPECT_FALSE(chip.reenumerationDue());
    EXPECT_EQ(Feature(chip, nullptr).in[3], static_cast<std::uint8_t>(protocol::Status::Ok));
    EXPECT_TRUE(chip.reenumerationDue());
    EXPECT_EQ(chip.control({0x80, 6, 0x0100, 0, 18}, {}).in[8], 0x2B) << "old ids until then";
    chip.reenumerated();
    EXPECT_FALSE(chip.reenumerationDue());
    EXPECT_EQ(chip.control({0x80, 6, 0x0100, 0, 18}, {}).in[8], 0x5B);
    EXPECT_EQ(chip.setReports(), 1u);

    EmulatedDevice keyboard = EmulatedDevice::keyboard(UsbipDevice::KeyboardIdentity("K"));
    EXPECT_TRUE(Feature(keyboard, &reset).stall);
    EXPECT_TRUE(Feature(keyboard, nullptr).stall);
    EXPECT_EQ(keyboard.control({0x80, 6, 0x0301, 0x0409, 255}, {}).stall, true) << "no maker";
}

TEST(VhciStatus, PortsAndTheirDevicesAreRead) {
    const char* text =
        "hub port sta spd dev      sockfd local_busid\n"
        "hs  0000 006 002 00720001 000006 1-1\n"
        "hs  0001 004 000 00000000 000000 0-0\n"
        "ss  0015 004 000 00000000 0000000000000000 0-0\n"
        "hs  00x2 004 000 00000000 000000 0-0\n"
        "hs  0003 004\n";
    EXPECT_EQ(ParseVhciStatus(text), (std::vector<VhciPort>{{true, 0, 6, "1-1"},
                                                            {true, 1, VHCI_PORT_FREE, ""},
                                                            {false, 15, VHCI_PORT_FREE, ""}}));
}

// A chip enumerating again keeps its port, so a run that follows chips by port finds each
// one where it was, whichever of them comes back first.
TEST(VhciStatus, AChipTriesItsOwnPortFirst) {
    const std::vector<VhciPort> ports = {{true, 0, VHCI_PORT_FREE, ""},
                                         {true, 1, 6, "3-2"},
                                         {true, 2, VHCI_PORT_FREE, ""},
                                         {false, 3, VHCI_PORT_FREE, ""}};
    const struct {
        std::optional<unsigned> had;
        std::vector<unsigned> order;
    } rows[] = {{std::nullopt, {0, 2}}, {2, {2, 0}}, {1, {0, 2}}, {3, {0, 2}}};
    for (const auto& row : rows) {
        EXPECT_EQ(PortsToTry(ports, row.had), row.order) << row.had.value_or(99);
    }
    // A port its chip left to enumerate again is that chip's alone.
    EXPECT_EQ(PortsToTry(ports, std::nullopt, {0}), std::vector<unsigned>{2});
    EXPECT_EQ(PortsToTry(ports, 0, {0}), (std::vector<unsigned>{0, 2}));
}

// udev's verdict (kx4701-udev-probe): the chip's page and feature report, nothing less.
TEST(ReportDescriptor, OnlyAChipsDescriptorIsAChip) {
    const Bytes chip = emu::ChipReportDescriptor();
    const auto with = [&](std::size_t at, std::uint8_t value) {
        Bytes b = chip;
        b[at] = value;
        return b;
    };
    // Usage Page (0xFF00) global, the collection's usage with the page in its upper half.
    const Bytes extended = {0x06, 0x00, 0xFF, 0x0B, 0x01, 0x00, 0x47, 0xFF, 0xA1, 0x01,
                            0x85, 0x4B, 0x75, 0x08, 0x95, 0x3F, 0xB1, 0x02, 0xC0};
    const struct {
        Bytes descriptor;
        bool chip;
    } rows[] = {
        {chip, true},
        {extended, true},
        {emu::KeyboardReportDescriptor(), false},
        {with(1, 0x00), false},                        // another vendor page
        {with(27, 0x4C), false},                       // another feature report id
        {with(29, 0x20), false},                       // a shorter feature report
        {Bytes(chip.begin() + 7, chip.end()), false},  // no collection on the page
        {Head(chip, chip.size() - 2), false},          // cut inside the feature item
        {Bytes{0x06, 0x47}, false},
    };
    for (const auto& r : rows) {
        const auto exact = std::make_unique<std::uint8_t[]>(r.descriptor.size());
        std::copy(r.descriptor.begin(), r.descriptor.end(), exact.get());
        EXPECT_EQ(hid::IsChipReportDescriptor({exact.get(), r.descriptor.size()}), r.chip)
            << &r - rows;
    }
}

}  // namespace
}  // namespace kx::emu::usbip
