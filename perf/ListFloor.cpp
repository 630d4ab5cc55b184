// kx_list_floor: the least a device list can do with hidapi: enumerate once and probe each
// node with a read-write open, as discovery does. `kx4701 list` is measured against it.

#include <fcntl.h>
#include <hidapi.h>
#include <unistd.h>

#include <cstdio>

int main() {
    hid_init();
    int openable = 0;
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        const int fd = ::open(d->path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
            ++openable;
        }
    }
    hid_free_enumeration(list);
    hid_exit();
    std::printf("%d\n", openable);
    return 0;
}
