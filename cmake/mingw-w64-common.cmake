# What both MinGW-w64 cross builds share; the toolchain files set TOOLCHAIN_PREFIX and
# CMAKE_SYSTEM_PROCESSOR, then include this.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives std::mutex and std::thread.
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(VPOLV_WIDL ${TOOLCHAIN_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything links the C and C++ runtimes statically, so only system DLLs are needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static ${VPOLV_EXTRA_LINKER_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static ${VPOLV_EXTRA_LINKER_FLAGS}")

# Test programs run under Wine, in a prefix private to the build tree (64-bit, with its 32-bit
# side, so that either kind of program runs in it).
set(VPOLV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${VPOLV_WINEPREFIX})
