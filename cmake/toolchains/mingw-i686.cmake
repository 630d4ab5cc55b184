# 32-bit Windows programs (the only kind that can load a 32-bit KX4701DLL.DLL), tested under
# 32-bit wine.
set(KX_MINGW_ARCH i686)
set(KX_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
