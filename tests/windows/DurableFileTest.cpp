// The provisioning counter's and log's files on Windows: each write reaches the disk
// (FlushFileBuffers) before it counts, and the counter's new file is flushed before it
// replaces the old one. A kill under wine keeps the system's cache, so the order of the calls
// is what is checked: this program's own imports of the file functions are pointed at
// recorders for the length of one call.

#include "config/win32/WinApi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/DurableFile.h"

namespace {

std::vector<std::string> g_calls;
decltype(&WriteFile) g_write = nullptr;
decltype(&FlushFileBuffers) g_flush = nullptr;
decltype(&MoveFileExW) g_move = nullptr;

void Record(const char* call) {
    if (g_calls.empty() || g_calls.back() != call) {  // several writes count as one
        g_calls.emplace_back(call);
    }
}

BOOL WINAPI RecordedWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                          LPOVERLAPPED overlapped) {
    Record("write");
    return g_write(file, data, size, written, overlapped);
}
BOOL WINAPI RecordedFlush(HANDLE file) {
    Record("flush");
    return g_flush(file);
}
BOOL WINAPI RecordedMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
    Record((flags & MOVEFILE_WRITE_THROUGH) != 0 ? "replace" : "replace (cached)");
    return g_move(from, to, flags);
}

// Points this program's import of `name` at `hook` and gives back what it pointed at (null
// when the program does not import it).
void* Redirect(const char* name, void* hook) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         dll->Name != 0; ++dll) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) {
                continue;
            }
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            void* was = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return was;
        }
    }
    return nullptr;
}

// The calls `action` makes to the file functions, in order.
template <typename Action>
std::vector<std::string> CallsOf(Action action) {
    g_calls.clear();
    g_write = reinterpret_cast<decltype(g_write)>(
        Redirect("WriteFile", reinterpret_cast<void*>(&RecordedWrite)));
    g_flush = reinterpret_cast<decltype(g_flush)>(
        Redirect("FlushFileBuffers", reinterpret_cast<void*>(&RecordedFlush)));
    g_move = reinterpret_cast<decltype(g_move)>(
        Redirect("MoveFileExW", reinterpret_cast<void*>(&RecordedMove)));
    EXPECT_TRUE(g_write && g_flush && g_move) << "the file functions are not imported";
    if (g_write && g_flush && g_move) {
        action();
    }
    (void)Redirect("WriteFile", reinterpret_cast<void*>(g_write));  // back as they were
    (void)Redirect("FlushFileBuffers", reinterpret_cast<void*>(g_flush));
    (void)Redirect("MoveFileExW", reinterpret_cast<void*>(g_move));
    return g_calls;
}

TEST(DurableFiles, ReachTheDiskBeforeTheyCount) {
    const auto folder = std::filesystem::temp_directory_path() / "kx4701-durable-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string state = (folder / "counter.state").string();
    const std::string log = (folder / "provision.log").string();
    std::string error;
    using Calls = std::vector<std::string>;

    EXPECT_EQ(CallsOf([&] { EXPECT_TRUE(kx::cli::ReplaceDurably(state, "next = 7\n", error)); }),
              (Calls{"write", "flush", "replace"}));
    EXPECT_EQ(CallsOf([&] { EXPECT_TRUE(kx::cli::ReplaceDurably(state, "next = 8\n", error)); }),
              (Calls{"write", "flush", "replace"}));
    auto file = kx::cli::AppendOnlyFile::Open(log, error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(CallsOf([&] { EXPECT_TRUE(file->append("{\"serial\":\"S-7\"}", error)); }),
              (Calls{"write", "flush"}));
    file.reset();
    EXPECT_EQ(kx::cli::ReadWholeFile(state, error), "next = 8\n");
    EXPECT_EQ(kx::cli::ReadWholeFile(log, error), "{\"serial\":\"S-7\"}\n");
    std::filesystem::remove_all(folder);
}

}  // namespace
