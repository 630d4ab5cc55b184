#pragma once
// Windows only: the discovery probe as the system does it, a shared read/write open of the
// device path (CreateFileA) that is closed again at once.

#include "device/HidBus.h"

namespace kx::win32 {

class FileProbe final : public DeviceProbe {
  public:
    // True if the path opens for reading and writing, shared for both, as an existing file
    // with overlapped I/O. Keeps nothing open. On false the thread's last error is the
    // system's reason; on true it is left as the open left it.
    bool canOpenReadWrite(const char* path) override;
};

}  // namespace kx::win32
