# Build for 32-bit Windows: clang and lld in MinGW mode (see clang-mingw-common.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(VPOLV_WIDL_TARGET --win32)
set(VPOLV_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
# The exports are __stdcall: the .def file names them undecorated.
set(VPOLV_EXTRA_LINKER_FLAGS "-Wl,--enable-stdcall-fixup")
# Frame pointers: a debugger walks a 32-bit stack (a crash dump's among them) only through them,
# the PDB having no frame data.
set(VPOLV_EXTRA_COMPILE_FLAGS "-fno-omit-frame-pointer")

# Exceptions unwind with the DWARF tables of .eh_frame, registered at start by start files of
# our own (cmake/eh-frames; see clang-mingw-common.cmake).
set(VPOLV_EH_FRAME_REGISTRATION ON)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw-common.cmake)
