// kx_cli_floor: a bare C++ program linked with what kx4701 links (hidapi, libudev, the C++
// library), printing a version line: the floor of `kx4701 --version`.

#include <hidapi.h>
#include <libudev.h>

#include <cstdlib>
#include <iostream>

int main() {
    // Referenced, so that the linker keeps both libraries as kx4701 does.
    if (std::getenv("KX_NEVER_SET") != nullptr) {
        hid_init();
        udev_unref(udev_new());
    }
    std::cout << "kx4701 0.0.0.0\n";
    return 0;
}
