# Installs the build tree into a fresh prefix and checks that every installed file of the
# application is where the desktop and udev look for it.
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P InstallCheck.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected bin/KX4701SetCfg bin/KX4701SetCfgBench bin/kx4701-uhid bin/kx4701
    share/applications/kx4701setcfg.desktop share/metainfo/org.kx4701setcfg.kx4701setcfg.metainfo.xml
    share/icons/hicolor/scalable/apps/kx4701setcfg.svg lib/udev/rules.d/60-kx4701.rules
    lib/udev/kx4701-udev-probe share/man/man1/KX4701SetCfg.1 share/man/man1/KX4701SetCfgBench.1
    share/man/man1/kx4701-uhid.1 share/man/man1/kx4701.1)
foreach(size 16 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/kx4701setcfg.png)
endforeach()
foreach(path IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${path}")
        message(FATAL_ERROR "not installed: ${path}")
    endif()
endforeach()
