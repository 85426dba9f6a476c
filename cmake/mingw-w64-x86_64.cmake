# Cross build for 64-bit Windows with Debian's MinGW-w64; programs run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(VPOLV_WIDL_TARGET --win64)
set(VPOLV_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
