// KX4701SetCfg for Windows: the configuration tool over the maker's KX4701DLL.DLL, which
// must lie beside the program.

#include "config/win32/WinApi.h"

#include "app/win32/ConfigApp.h"
#include "config/TextCodec.h"
#include "device/win32/FileProbe.h"
#include "device/win32/LoadedDeviceLibrary.h"
#include "ui/win32/Win32WindowOps.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    kx::win32::LoadResult loaded = kx::win32::LoadedDeviceLibrary::LoadBesideProgram();
    if (!loaded.library) {
        // Nothing has touched a device yet; the program cannot work without the library.
        const std::string message = kx::text::Utf8ToAnsiForDisplay(loaded.Message());
        MessageBoxA(nullptr, message.c_str(), kx::ui::Win32WindowOps::ApplicationName().c_str(),
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    kx::win32::FileProbe probe;
    CConfigApp theApp(*loaded.library, probe);
    return theApp.Run();
}
