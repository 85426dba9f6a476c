# nlohmann-json and CLI11 are header-only, but their packages put /usr/include on the include
# path, which a cross compiler must never see. The cross build gets packages of its own instead:
# each a folder of the build tree that holds only a link to Debian's headers of that library.
#
# The folder is named relative to the build tree, where Ninja runs the compiler: clang's symbols
# name a lambda after the path of its header (CLI11 keeps its lambdas in std::function), and the
# build folders' map (reproducible.cmake) does not reach those names, so an absolute path would
# make two release builds in two folders differ.
function(vpolv_cross_header_package package target headers version)
  set(root ${CMAKE_BINARY_DIR}/third_party/${package})
  file(MAKE_DIRECTORY ${root}/include)
  if(NOT EXISTS ${root}/include/${headers})
    file(CREATE_LINK /usr/include/${headers} ${root}/include/${headers} SYMBOLIC)
  endif()
  file(WRITE ${root}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES\n"
    "    INTERFACE_COMPILE_OPTIONS \"SHELL:-isystem third_party/${package}/include\")\n"
    "endif()\n")
  file(WRITE ${root}/${package}ConfigVersion.cmake
    "set(PACKAGE_VERSION ${version})\n"
    "set(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
  set(${package}_DIR ${root} CACHE PATH "${package} for the cross build" FORCE)
endfunction()

if(NOT CMAKE_GENERATOR MATCHES "Ninja")
  message(FATAL_ERROR "the cross builds run the compiler in the build tree: use Ninja (the presets do)")
endif()
vpolv_cross_header_package(nlohmann_json nlohmann_json::nlohmann_json nlohmann 3.11)
vpolv_cross_header_package(CLI11 CLI11::CLI11 CLI 2.1)
