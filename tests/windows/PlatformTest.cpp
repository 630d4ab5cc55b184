#include <windows.h>

#include <gtest/gtest.h>

#include "device/LastError.h"

namespace {

// The dialog's texts are code page 936 bytes: they only read right where that is the
// system's ANSI code page (scripts/wintest runs wine under a Chinese locale).
TEST(WindowsPlatform, AnsiCodePageIs936) {
    EXPECT_EQ(GetACP(), 936u);
}

// Discovery ends on the library's last error; the library, the system's calls and the
// discovery loop must all see the one per-thread value.
TEST(WindowsPlatform, LastErrorIsTheSystems) {
    kx::SetLastError(ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(kx::GetLastError(), kx::ERROR_ACCESS_DENIED_CODE);
}

}  // namespace
