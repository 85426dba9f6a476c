# Release build for 32-bit Windows: clang and lld in MinGW mode (see clang-mingw-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(VPOLV_WIDL_TARGET --win32)
set(VPOLV_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
# The exports are __stdcall: the .def file names them undecorated.
set(VPOLV_EXTRA_LINKER_FLAGS "-Wl,--enable-stdcall-fixup")
# Exceptions unwind with the DWARF tables of .eh_frame, which GCC's crtbegin.o registers at start
# (its crtend.o ends them): the driver links MinGW-w64's own, which register nothing, so that any
# exception would end the process. GCC's come first and last among the files of the link.
set(_gcc_crt /usr/lib/gcc/${TOOLCHAIN_PREFIX}/12-posix)
set(VPOLV_START_FILES "${_gcc_crt}/crtbegin.o")
set(VPOLV_END_FILES "${_gcc_crt}/crtend.o")
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-common.cmake)
