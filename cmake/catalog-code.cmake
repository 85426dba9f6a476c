# The form of a catalog code: six lower-case letters, then six digits.
#
# Included, it defines vpolv_check_catalog_code(CODE), which stops the configuration with a
# message when CODE has another form. As a script it checks one code:
#   cmake -DCODE=abcdef123456 -P cmake/catalog-code.cmake
set(VPOLV_CATALOG_CODE_PLACEHOLDER vpolvc261207)

function(vpolv_check_catalog_code code)
  if(NOT code MATCHES "^[a-z][a-z][a-z][a-z][a-z][a-z][0-9][0-9][0-9][0-9][0-9][0-9]$")
    message(FATAL_ERROR "VPOLV_CATALOG_CODE \"${code}\" is not a catalog code: it must be six "
                        "lower-case letters, then six digits (as in \"abcdef123456\")")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  vpolv_check_catalog_code("${CODE}")
endif()
