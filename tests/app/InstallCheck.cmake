# Installs the build tree into a fresh prefix and checks that every installed file of the
# application is where the desktop and udev look for it.
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P InstallCheck.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
    bin/KX4701SetCfg
    bin/KX4701SetCfgBench
    share/applications/kx4701setcfg.desktop
    share/icons/hicolor/scalable/apps/kx4701setcfg.svg
    lib/udev/rules.d/60-kx4701.rules)
foreach(size 16 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/kx4701setcfg.png)
endforeach()

set(missing "")
foreach(path IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${path}")
        list(APPEND missing "${path}")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "not installed: ${missing}")
endif()

# The 16 px image installed is the 16 px image drawn, not some other size renamed.
file(READ "${PREFIX}/share/icons/hicolor/16x16/apps/kx4701setcfg.png" png HEX LIMIT 24)
string(SUBSTRING "${png}" 32 16 ihdrSize)  # width and height, big-endian
if(NOT ihdrSize STREQUAL "0000001000000010")
    message(FATAL_ERROR "16x16 icon has size bytes ${ihdrSize}")
endif()
message(STATUS "install layout under ${PREFIX} is complete")
