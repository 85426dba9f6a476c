# What a release is built with, set once here and handed to the code through the generated
# common/release.h, to the version record of vpolv.dll and to the installers:
#
#   the version: the project's version, major.minor[.build], shown as major and two-digit
#   minor ("1.01", "1.01.7"); the numeric version of the DLL and of the installers is
#   major.minor.build.0, and rises with every release;
#
#   who publishes it (VPOLV_PUBLISHER, VPOLV_COPYRIGHT_YEAR), read from packaging/release.conf,
#   which scripts/package.sh and packaging/build-msi.sh read too;
#
#   VPOLV_CATALOG_CODE: the code the catalogs are supplied with, which the host needs to open
#   them (six lower-case letters, then six digits).
include(${CMAKE_CURRENT_LIST_DIR}/catalog-code.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/reproducible.cmake)

if(PROJECT_VERSION_MINOR GREATER 99)
  message(FATAL_ERROR "version ${PROJECT_VERSION}: the minor version is shown in two digits")
endif()
set(_build 0)
if(NOT "${PROJECT_VERSION_PATCH}" STREQUAL "")
  set(_build ${PROJECT_VERSION_PATCH})
endif()
if(PROJECT_VERSION_MINOR LESS 10)
  set(VPOLV_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(VPOLV_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
if(NOT "${PROJECT_VERSION_PATCH}" STREQUAL "")
  string(APPEND VPOLV_VERSION_TEXT ".${PROJECT_VERSION_PATCH}")
endif()
set(VPOLV_VERSION_NUMBERS "${PROJECT_VERSION_MAJOR}, ${PROJECT_VERSION_MINOR}, ${_build}, 0")
set(VPOLV_MSI_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${_build}")
set(VPOLV_FILE_VERSION "${VPOLV_MSI_VERSION}.0")

# packaging/release.conf: KEY="value" lines, as the shell reads them.
set(_conf ${PROJECT_SOURCE_DIR}/packaging/release.conf)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_conf})
file(STRINGS ${_conf} _lines REGEX "^[A-Z_]+=\"[^\"]*\"$")
foreach(_line IN LISTS _lines)
  string(REGEX REPLACE "^([A-Z_]+)=\"([^\"]*)\"$" "\\1;\\2" _pair "${_line}")
  list(GET _pair 0 _key)
  list(GET _pair 1 _value)
  set(VPOLV_${_key} "${_value}")
endforeach()
foreach(_key PUBLISHER COPYRIGHT_YEAR)
  if("${VPOLV_${_key}}" STREQUAL "")
    message(FATAL_ERROR "packaging/release.conf: ${_key}=\"...\" is missing")
  endif()
endforeach()

set(VPOLV_CATALOG_CODE ${VPOLV_CATALOG_CODE_PLACEHOLDER} CACHE STRING
    "Code the catalogs are supplied with (six lower-case letters, then six digits)")
vpolv_check_catalog_code("${VPOLV_CATALOG_CODE}")
if(VPOLV_CATALOG_CODE STREQUAL VPOLV_CATALOG_CODE_PLACEHOLDER)
  message(STATUS "VPOLV_CATALOG_CODE is the placeholder ${VPOLV_CATALOG_CODE}: set the code the "
                 "catalogs are supplied with for a release (-DVPOLV_CATALOG_CODE=...)")
endif()

configure_file(${PROJECT_SOURCE_DIR}/common/release.h.in
               ${PROJECT_BINARY_DIR}/generated/common/release.h @ONLY)
