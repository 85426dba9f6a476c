# Every test has CTest labels, so that a run can pick its kind of tests (ctest -L unit):
#   unit     the GoogleTest suites      golden   reports compared with their golden files
#   trace    traces recorded, replayed  cli      vpolv-sim's command lines and its scripts
#   fuzz     the fuzz targets' seeds    wine     run under Wine
#   display  needs an X display         deploy   the release files and their deployment
#
# vpolv_test_labels(REGEX LABELS [REGEX LABELS]...), called at the top of a folder's
# CMakeLists.txt: once the folder is read, each of its tests gets the labels of the first
# regular expression its name matches (LABELS separated by commas: "wine,display"). A test that
# none matches stops the configuration. GoogleTest's discovered tests get theirs where they are
# discovered (gtest_discover_tests(... PROPERTIES LABELS unit)).
function(vpolv_test_labels)
  # A deferred call reads its arguments when it runs: they are written into it now.
  set(call "cmake_language(DEFER CALL vpolv_apply_test_labels")
  foreach(arg IN LISTS ARGN)
    string(APPEND call " [==[${arg}]==]")
  endforeach()
  cmake_language(EVAL CODE "${call})")
endfunction()

function(vpolv_apply_test_labels)
  get_directory_property(tests TESTS)
  foreach(test IN LISTS tests)
    set(rules ${ARGN})
    set(labels)
    while(rules AND NOT labels)
      list(POP_FRONT rules regex label)
      if(test MATCHES "${regex}")
        string(REPLACE "," ";" labels "${label}")
      endif()
    endwhile()
    if(NOT labels)
      message(FATAL_ERROR "the test ${test} has no label: give it one in ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    set_tests_properties(${test} PROPERTIES LABELS "${labels}")
  endforeach()
endfunction()
