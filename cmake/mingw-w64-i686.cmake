# Cross build for 32-bit Windows with Debian's MinGW-w64; programs run under Wine's 32-bit side.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(VPOLV_WIDL_TARGET --win32)
set(VPOLV_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
# The exports are __stdcall: the .def files name them undecorated, and ld matches the two
# silently with the fix-up on.
set(VPOLV_EXTRA_LINKER_FLAGS "-Wl,--enable-stdcall-fixup")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
