#include <unistd.h>

#include "cli/counter/Counter.h"

namespace kx::cli {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "station";
    }
    return name;
}

}  // namespace kx::cli
