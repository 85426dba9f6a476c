# Release build for 64-bit Windows: clang and lld in MinGW mode (see clang-mingw-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(VPOLV_WIDL_TARGET --win64)
set(VPOLV_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-common.cmake)
