# 64-bit Windows programs, tested under 64-bit wine.
set(KX_MINGW_ARCH x86_64)
set(KX_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
