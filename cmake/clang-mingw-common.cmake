# What every Windows build shares, the release's and the tests' alike (the presets windows and
# windows-x86 are the release presets with their tests): clang and lld in MinGW mode, on the
# headers, import libraries and libstdc++ (posix thread model) of Debian's MinGW-w64. Debug
# information is CodeView, written by the linker to a PDB beside each program, which Windows
# debuggers (WinDbg, Visual Studio) read; the program's CodeView record names that PDB and
# carries its GUID and age.
#
# The files are reproducible: the same sources built in any two folders give the same bytes. No
# link time in the headers, paths in the debug information relative to the source and build
# folders (shown below C:\vpolv-src), no compiler command line recorded, and lld derives the
# PDB's GUID from its contents.
#
# The toolchain files set TOOLCHAIN_PREFIX and CMAKE_SYSTEM_PROCESSOR, then include this.
set(CMAKE_SYSTEM_NAME Windows)

set(VPOLV_CLANG_VERSION 16)
set(CMAKE_C_COMPILER clang-${VPOLV_CLANG_VERSION})
set(CMAKE_CXX_COMPILER clang++-${VPOLV_CLANG_VERSION})
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(VPOLV_WIDL ${TOOLCHAIN_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_gcc /usr/lib/gcc/${TOOLCHAIN_PREFIX}/12-posix)
# Headers are included through the build folder's include roots (see vpolv_include_root): they
# are named by their place in the sources. Otherwise the build folder, which lies inside the
# source folder, is "build". The longest matching prefix applies.
set(_maps "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.")
foreach(_layer common host platform catalog showcase plugin com sim)
  string(APPEND _maps " -ffile-prefix-map=${CMAKE_BINARY_DIR}/include-roots/${_layer}=.")
endforeach()
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${_gcc}/include/c++ -isystem ${_gcc}/include/c++/${TOOLCHAIN_PREFIX} \
-gcodeview -gno-codeview-command-line -ffile-compilation-dir=. ${_maps} ${VPOLV_EXTRA_COMPILE_FLAGS}")
set(CMAKE_C_FLAGS_INIT
    "-gcodeview -gno-codeview-command-line -ffile-compilation-dir=. ${_maps} ${VPOLV_EXTRA_COMPILE_FLAGS}")

if(VPOLV_EH_FRAME_REGISTRATION)
  # Exceptions unwind with DWARF tables (.eh_frame), which must be registered with the unwinder
  # at start. The driver links MinGW-w64's start files, which register nothing; GCC's register
  # them with a libgcc_s_dw2-1.dll that another module brought into the process, when there is
  # one, instead of with the unwinder linked into the program, which then finds no tables and
  # ends the process at the first exception. Ours (eh-frames/) register them with the
  # program's own unwinder. The start comes first among the files of every link; the end is
  # named crtend.o because lld in MinGW mode moves the file of that name after everything else,
  # the members of the libraries included. Made here, before anything is linked, in the folder
  # of this configuration (a test compilation's too), and named relative to it, where the links
  # run: the PDB records the files of a link as named (no debug information in them, and the
  # source named relative to this folder, so they are the same bytes in every folder).
  set(_eh ${CMAKE_BINARY_DIR}/eh-frames)
  file(MAKE_DIRECTORY ${_eh})
  foreach(_part crtbegin crtend)
    execute_process(
      COMMAND ${CMAKE_C_COMPILER} --target=${TOOLCHAIN_PREFIX} -O2 -fno-exceptions
              -fno-unwind-tables -fno-asynchronous-unwind-tables -Wall -Wextra -Werror
              -Wno-gnu-empty-initializer -Wno-zero-length-array
              -c eh-frames/${_part}.c -o ${_eh}/${_part}.o
      WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}
      RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
      message(FATAL_ERROR "cannot compile ${CMAKE_CURRENT_LIST_DIR}/eh-frames/${_part}.c")
    endif()
  endforeach()
  set(VPOLV_START_FILES "eh-frames/crtbegin.o")
  set(VPOLV_END_FILES "eh-frames/crtend.o")
endif()

# The runtimes linked statically; the PDB named after the program, beside it, and named in the
# program without a folder. (The compile flags are on the link line too, where the driver has
# no use for some.)
set(_link "-fuse-ld=lld-${VPOLV_CLANG_VERSION} -Wno-unused-command-line-argument -static -L${_gcc} -lpthread \
-Wl,--no-insert-timestamp -Wl,--pdb= -Wl,-Xlink=-pdbaltpath:%_PDB% \
-Wl,-Xlink=-pdbsourcepath:C:/vpolv-src ${VPOLV_EXTRA_LINKER_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_link} ${VPOLV_START_FILES}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_link} ${VPOLV_START_FILES}")
# These are the release's flags whatever the cache of an older configuration holds: a build
# folder configured before a change of this file takes the change.
foreach(_flags CMAKE_CXX_FLAGS CMAKE_C_FLAGS CMAKE_EXE_LINKER_FLAGS CMAKE_SHARED_LINKER_FLAGS)
  set(${_flags} "${${_flags}_INIT}" CACHE STRING "Set by ${CMAKE_CURRENT_LIST_FILE}" FORCE)
endforeach()
if(VPOLV_END_FILES)
  # After everything the link line names, before the libraries the driver adds.
  set(CMAKE_CXX_STANDARD_LIBRARIES "-lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 \
-loleaut32 -luuid -lcomdlg32 -ladvapi32 ${VPOLV_END_FILES}")
endif()

# Test programs run under Wine, in a prefix private to the build tree (64-bit, with its 32-bit
# side, so that either kind of program runs in it).
set(VPOLV_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${VPOLV_WINEPREFIX})
