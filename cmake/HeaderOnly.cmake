# CLI11, nlohmann-json and toml++ from Debian's header-only packages, for every build: the
# mingw cross builds cannot search /usr/include (it holds the Linux C library), so each
# library's own folder is linked into one folder of the build tree and used from there.
set(kx_header_only_dir ${PROJECT_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${kx_header_only_dir})
foreach(folder CLI nlohmann toml++)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing: scripts/setup installs "
                            "libcli11-dev, nlohmann-json3-dev and libtomlplusplus-dev")
    endif()
    file(CREATE_LINK /usr/include/${folder} ${kx_header_only_dir}/${folder} SYMBOLIC)
endforeach()
add_library(kx_header_only INTERFACE)
target_include_directories(kx_header_only SYSTEM INTERFACE ${kx_header_only_dir})
# toml++ compiles its implementation into the one file that includes it.
target_compile_definitions(kx_header_only INTERFACE TOML_HEADER_ONLY=1)
