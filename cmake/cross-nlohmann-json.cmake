# nlohmann-json is header-only, but its package puts /usr/include on the include path, which a
# cross compiler must never see. The cross build gets a package of its own instead: a folder
# that holds only a link to Debian's nlohmann headers.
set(_json_root ${CMAKE_BINARY_DIR}/third_party/nlohmann_json)
file(MAKE_DIRECTORY ${_json_root}/include)
if(NOT EXISTS ${_json_root}/include/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${_json_root}/include/nlohmann SYMBOLIC)
endif()
file(WRITE ${_json_root}/nlohmann_jsonConfig.cmake
  "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
  "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
  "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
  "    INTERFACE_INCLUDE_DIRECTORIES \"${_json_root}/include\")\n"
  "endif()\n")
file(WRITE ${_json_root}/nlohmann_jsonConfigVersion.cmake
  "set(PACKAGE_VERSION 3.11)\n"
  "set(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
set(nlohmann_json_DIR ${_json_root} CACHE PATH "nlohmann-json for the cross build" FORCE)
