# The test kit stays out of the product: vpolv.dll and vpolv-sim link no library marked as for
# the tests only, and no library they link has an include folder through which the test kit's
# headers would be found. The configuration stops when one does.
#
# vpolv_test_only(TARGETS...): marks libraries as for the tests, the fuzz targets and the
# benchmarks only.
function(vpolv_test_only)
  foreach(target IN LISTS ARGN)
    set_property(TARGET ${target} PROPERTY VPOLV_TEST_ONLY TRUE)
  endforeach()
endfunction()

# vpolv_forbid_test_kit(TARGETS...): checks each product target and everything it links, at the
# end of the configuration, when every target is known.
function(vpolv_forbid_test_kit)
  foreach(target IN LISTS ARGN)
    cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]] CALL \
vpolv_check_test_kit_free [[${target}]])")
  endforeach()
endfunction()

# vpolv_keep_out(PRODUCT TARGETS...): PRODUCT links none of TARGETS either, directly or through
# what it links (checked with the test kit, for a product named to vpolv_forbid_test_kit).
function(vpolv_keep_out product)
  set_property(GLOBAL APPEND PROPERTY VPOLV_KEPT_OUT_${product} ${ARGN})
endfunction()

function(vpolv_check_test_kit_free product)
  if(NOT TARGET ${product})
    return()
  endif()
  # Include folders that reach the test kit's headers: the source folder itself (where
  # "testkit/..." resolves), the test kit's folder, and its include root.
  set(forbidden_includes ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/testkit
      ${PROJECT_BINARY_DIR}/include-roots/testkit)
  set(seen)
  set(pending ${product})
  set(path_of_${product} ${product})
  while(pending)
    list(POP_FRONT pending target)
    if(target IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${target})
    get_property(kept_out GLOBAL PROPERTY VPOLV_KEPT_OUT_${product})
    if(kept_out AND target IN_LIST kept_out)
      message(FATAL_ERROR "${product} links ${target} (${path_of_${target}}), which it must not")
    endif()
    get_target_property(test_only ${target} VPOLV_TEST_ONLY)
    if(test_only)
      message(FATAL_ERROR "${product} links the test kit's ${target} "
                          "(${path_of_${target}}): the product may not use the test kit")
    endif()
    get_target_property(imported ${target} IMPORTED)
    set(properties INTERFACE_INCLUDE_DIRECTORIES INTERFACE_LINK_LIBRARIES)
    if(NOT imported)
      list(APPEND properties INCLUDE_DIRECTORIES LINK_LIBRARIES)
    endif()
    foreach(property IN LISTS properties)
      get_target_property(values ${target} ${property})
      if(NOT values)
        continue()
      endif()
      foreach(value IN LISTS values)
        # $<LINK_ONLY:x>, which CMake writes for a static library's private links, names x.
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" value "${value}")
        if(property MATCHES "INCLUDE")
          cmake_path(NORMAL_PATH value)
          string(REGEX REPLACE "/$" "" value "${value}")
          if(value IN_LIST forbidden_includes)
            message(FATAL_ERROR "${product} sees the test kit's headers through ${target}'s "
                                "include folder ${value} (${path_of_${target}})")
          endif()
        elseif(TARGET ${value})
          get_target_property(aliased ${value} ALIASED_TARGET)
          if(aliased)
            set(value ${aliased})
          endif()
          if(NOT DEFINED path_of_${value})
            set(path_of_${value} "${path_of_${target}} -> ${value}")
          endif()
          list(APPEND pending ${value})
        endif()
      endforeach()
    endforeach()
  endwhile()
endfunction()
