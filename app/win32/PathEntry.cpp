// pathentry.exe: the installer's helper that puts the install folder on the system's search
// path (and takes it off again), so that kx4701 runs from any new console. NSIS's own string
// functions would cut a long PATH at their buffer size and write the cut value back; this
// reads and writes the value whole, keeping its type (REG_EXPAND_SZ keeps %SystemRoot%).
// Usage: pathentry add|remove FOLDER. Exit 0 when the value holds what was asked.

#include "config/win32/WinApi.h"

#include <cstdio>
#include <string>
#include <vector>

#include "config/PathList.h"

namespace {

const wchar_t* const ENVIRONMENT_KEY =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

int Fail(const wchar_t* what, LSTATUS status) {
    std::fwprintf(stderr, L"pathentry: %ls (system error %ld); the search path is unchanged\n",
                  what, static_cast<long>(status));
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc == 3 ? argv[1] : L"";
    if (verb != L"add" && verb != L"remove") {
        std::fwprintf(stderr, L"usage: pathentry add|remove FOLDER\n");
        return 2;
    }
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ENVIRONMENT_KEY, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return Fail(L"cannot open the system environment", status);

    DWORD type = REG_EXPAND_SZ, bytes = 0;
    std::wstring value;
    status = RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &bytes);
    if (status == ERROR_SUCCESS) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            RegCloseKey(key);
            return Fail(L"Path is not a text value", ERROR_INVALID_DATA);
        }
        std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
        status = RegQueryValueExW(key, L"Path", nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return Fail(L"cannot read Path", status);
        }
        value.assign(buffer.data());  // up to the first terminator, stored or ours
    } else if (status != ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return Fail(L"cannot read Path", status);
    }

    const std::wstring changed = verb == L"add" ? kx::pathlist::WithFolder(value, argv[2])
                                                : kx::pathlist::WithoutFolder(value, argv[2]);
    if (changed != value) {
        status =
            RegSetValueExW(key, L"Path", 0, type, reinterpret_cast<const BYTE*>(changed.c_str()),
                           static_cast<DWORD>((changed.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return Fail(L"cannot write Path", status);
    if (changed != value) {
        // Explorer hands the new value to the consoles it starts from now on.
        DWORD_PTR ignored = 0;
        (void)SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                                  reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 5000,
                                  &ignored);  // a window that does not answer misses it, no more
    }
    return 0;
}
