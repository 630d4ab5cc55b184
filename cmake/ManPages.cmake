# Manual pages written in scdoc, generated at build time and installed under
# share/man/man<section>. One call per installed program, its source beside the program:
#   kx_man_page(kx4701 1 kx4701.1.scd)   # in cli/CMakeLists.txt: builds and installs kx4701.1
# The Windows builds install no manual pages: there the call does nothing. A page in section 1
# marks a program in PATH: the AppStream data lists those (res/CMakeLists.txt).

if(CMAKE_SCRIPT_MODE_FILE)
    # The build step: scdoc reads the source on its standard input; a failed run leaves no page.
    execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        file(REMOVE ${OUTPUT}.tmp)
        message(FATAL_ERROR "scdoc failed on ${INPUT}: ${result}")
    endif()
    file(RENAME ${OUTPUT}.tmp ${OUTPUT})
    return()
endif()

include(GNUInstallDirs)

function(kx_man_page name section source)
    if(WIN32)
        return()
    endif()
    find_program(KX_SCDOC scdoc REQUIRED)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.${section})
    get_filename_component(input ${source} ABSOLUTE)
    add_custom_command(OUTPUT ${page}
                       COMMAND ${CMAKE_COMMAND} -DSCDOC=${KX_SCDOC} -DINPUT=${input}
                               -DOUTPUT=${page} -P ${PROJECT_SOURCE_DIR}/cmake/ManPages.cmake
                       DEPENDS ${input} ${PROJECT_SOURCE_DIR}/cmake/ManPages.cmake
                       COMMENT "Generating manual page ${name}(${section})"
                       VERBATIM)
    add_custom_target(kx_man_${name} ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    if(section STREQUAL "1")
        set_property(GLOBAL APPEND PROPERTY KX_PROGRAMS ${name})
    endif()
endfunction()
