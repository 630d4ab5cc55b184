// kx4701 as a process of its own over a real kernel's devices: the table of runs over a uhid
// chip and over a chip on the USB bus (which enumerates again after each identity write and
// reset), each run checked against the manual's rules; and chips whose strings are Chinese,
// mixed or 30 bytes long, listed and shown as they are under a UTF-8 locale, LANG=C and no
// LANG. Runs only in the VM (scripts/vmtest), under udevd; KX4701 names the program.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <type_traits>

#include "config/TextCodec.h"
#include "emulation/uhid/UhidDevice.h"
#include "emulation/usbip/UsbipDevice.h"
#include "tests/cli/CliRuns.h"

namespace kx::cli::runs {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int NODE_WAIT_MS = 10000;

std::string Slurp(const char* file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// kx4701 with `args` (no quote in them) and LANG=`lang`, or no LANG when null; a run is cut
// after a minute (a read-back waits 10 s at most).
Outcome Kx4701(const std::vector<std::string>& args, const char* lang = "C.UTF-8") {
    const char* program = std::getenv("KX4701");
    std::string command = std::string("env -u LANG ") + (lang ? "LANG=" + std::string(lang) : "") +
                          " timeout 60 " + (program ? program : "/vm/kx4701");
    for (const std::string& a : args) {
        command += " '" + a + "'";
    }
    const int status = std::system((command + " >/tmp/kx.out 2>/tmp/kx.err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp("/tmp/kx.out"),
            Slurp("/tmp/kx.err")};
}

// The document `r` printed; an empty object when it printed none.
Json Document(const Outcome& r) {
    Json doc = Json::parse(r.out, nullptr, false);
    return doc.is_object() ? doc : Json::object();
}

// A device's three strings in a document.
Json Strings(const Json& d) {
    return {d.value("manufacturer", "?"), d.value("product", "?"), d.value("serial", "?")};
}

// Waits, bounded, until a node that went away is gone, so the next test cannot see it.
void AwaitGone(const std::string& node) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(NODE_WAIT_MS);
    while (!node.empty() && ::access(node.c_str(), F_OK) == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(::access(node.c_str(), F_OK), 0) << node << " stayed";
}

std::string Cp936(const std::string& utf8) {
    return text::Utf8ToAnsi(utf8).value_or("?");
}

// Emulated devices of one kind (uhid or USB) as a transport; a USB chip's node changes when
// it enumerates again, so it is asked anew each time. Both go when the test ends, and their
// nodes with them, so that the next test cannot see them.
template <typename Device>
void RunTheTableOver(std::unique_ptr<Device> chip, std::unique_ptr<Device> keyboard) {
    ASSERT_TRUE(chip && keyboard);
    const Transport transport{
        [&] { return chip->hidrawNode(NODE_WAIT_MS); },
        [&] { return keyboard->hidrawNode(NODE_WAIT_MS); }, "/dev/hidraw99",
        [&](Fault f) { chip->setFaults(f == Fault::Refuse, 0, f == Fault::Forget); },
        [](const std::vector<std::string>& args) { return Kx4701(args); }};
    RunTheTable(transport, "/tmp/kx-runs");
    if constexpr (std::is_same_v<Device, emu::usbip::UsbipDevice>) {
        EXPECT_GT(chip->attachments(), 1) << "the writes made the chip enumerate again";
    }
    const std::string nodes[] = {transport.chip(), transport.keyboard()};
    chip.reset();
    keyboard.reset();
    for (const std::string& node : nodes) {
        AwaitGone(node);
    }
}

TEST(KxCli, EveryCommandTellsItsOutcomeOnceOverUhid) {
    RunTheTableOver(emu::uhid::UhidDevice::createChip({}), emu::uhid::UhidDevice::createKeyboard("Kbd"));
}

TEST(KxCli, EveryCommandTellsItsOutcomeOnceOverTheUsbBus) {
    RunTheTableOver(
        emu::usbip::UsbipDevice::createChip({}),
        emu::usbip::UsbipDevice::createKeyboard(emu::usbip::UsbipDevice::KeyboardIdentity("Kbd")));
}

TEST(KxCli, ChineseMixedAndLongestStringsListedAndShownUnderEveryLocale) {
    const std::string longest = "一二三四五六七八九十甲乙丙丁戊";  // 30 bytes in CP936
    const struct {
        std::string manufacturer, product, serial;
    } rows[] = {
        {"厂商", "第二次", "序列一"},
        {"KX 芯片 Ltd", "USB 转串口", "SN-混合-1"},
        {longest, longest, longest},
    };
    std::vector<std::unique_ptr<emu::usbip::UsbipDevice>> chips;
    std::vector<std::string> nodes;
    for (const auto& [manufacturer, product, serial] : rows) {
        chips.push_back(emu::usbip::UsbipDevice::createChip(
            {0x3C5B, 0xB207, 0x0100, Cp936(manufacturer), Cp936(product), Cp936(serial), 50}));
        nodes.push_back(chips.back() ? chips.back()->hidrawNode(NODE_WAIT_MS) : "");
        ASSERT_FALSE(nodes.back().empty()) << product;
    }
    for (const char* lang : {"C.UTF-8", "C", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(lang != nullptr ? lang : "no LANG");
        const Outcome list = Kx4701({"list", "--json"}, lang), text = Kx4701({"list"}, lang);
        EXPECT_TRUE(MeetsTheRules("list", true, list));
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            const auto& [manufacturer, product, serial] = rows[i];
            const Json want = {manufacturer, product, serial};
            Json listed;
            for (const Json& d : Document(list).value("devices", Json::array())) {
                listed = d.value("path", "") == nodes[i] ? Strings(d) : listed;
            }
            const Outcome show = Kx4701({"show", nodes[i], "--json"}, lang);
            EXPECT_TRUE(MeetsTheRules("show", true, show));
            EXPECT_EQ(listed, want);
            EXPECT_EQ(Strings(Document(show).value("device", Json::object())), want);
            const std::string line =
                '"' + manufacturer + "\" \"" + product + "\" \"" + serial + '"';
            EXPECT_NE(text.out.find(line), std::string::npos) << text.out;
        }
    }
    chips.clear();
    for (const std::string& node : nodes) {
        AwaitGone(node);
    }
}

}  // namespace
}  // namespace kx::cli::runs
