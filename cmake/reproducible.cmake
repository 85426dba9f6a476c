# Release builds are reproducible: the same commit built in any two folders, at any time, gives
# the same bytes. This holds for both kinds of linker the Windows builds may use (GNU ld and
# lld in MinGW mode):
#
#   - the folders of the sources and of the build tree are left out of debug information and
#     of __FILE__: a source file is named relative to the source folder ("./com/module.cpp"),
#     a generated one relative to the build tree ("build/com/generated/..."); point a
#     debugger's source path at a checkout of the commit;
#   - a PE image's header carries no link time (its time stamp is 0);
#   - tools that write the current time into what they make (widl, into the type library) run
#     with the clock stopped at a fixed time.
#
# Other build types keep the real folders, which debuggers find without help.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  set(_reproducible_default ON)
else()
  set(_reproducible_default OFF)
endif()
option(VPOLV_REPRODUCIBLE "Build folders and link time left out of the binaries"
       ${_reproducible_default})

if(VPOLV_REPRODUCIBLE)
  # The build tree may lie inside the source folder: its map is given last, and is the longer
  # prefix, so that it wins with either compiler (GCC takes the last map that matches, clang
  # the longest).
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
endif()

# vpolv_map_include_root(TARGET ROOT): headers reached through the include root ROOT (which
# holds a link named after a source folder, to that folder) are named as in the sources.
function(vpolv_map_include_root target root)
  if(VPOLV_REPRODUCIBLE)
    vpolv_usage_scope(scope ${target})
    target_compile_options(${target} ${scope} -ffile-prefix-map=${root}=.)
  endif()
endfunction()

# VPOLV_FIXED_TIME: put before a tool's command, in add_custom_command.
set(VPOLV_FIXED_TIME)
if(VPOLV_REPRODUCIBLE)
  find_program(VPOLV_FAKETIME faketime REQUIRED)
  # -f: the clock stands still (without it, it starts at that time and runs on).
  set(VPOLV_FIXED_TIME ${CMAKE_COMMAND} -E env TZ=UTC ${VPOLV_FAKETIME} -f "2000-01-01 00:00:00")
endif()

