# Every vpolv-sim command line that README.md and docs/ show runs as they say: none is refused
# as a bad command line (exit 2) or fails to write (exit 3).
#
#   -DSIM=program -DROOT=repository -DSCRATCH=folder
# Files the examples make or need (/tmp/..., trace.jsonl, case.json) go to the scratch folder;
# trace.jsonl is traced first. Redirections and comments are left out.
cmake_minimum_required(VERSION 3.25)

set(dir "${SCRATCH}/doc-examples")
file(REMOVE_RECURSE "${dir}")
file(MAKE_DIRECTORY "${dir}")
execute_process(COMMAND "${SIM}" examples/showroom.json --event place --quiet
                        --trace "${dir}/trace.jsonl"
                WORKING_DIRECTORY "${ROOT}" OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "no trace for the examples: exit ${rc}")
endif()

set(count 0)
foreach(doc README.md docs/scene-format.md docs/trace-format.md docs/pricing-reference.md)
  file(STRINGS "${ROOT}/${doc}" lines)
  foreach(line IN LISTS lines)
    string(REGEX MATCHALL "(\\./build/native/sim/vpolv-sim|^\\$ vpolv-sim)[^`#>]*" examples "${line}")
    foreach(example IN LISTS examples)
      string(REGEX REPLACE "^(\\./build/native/sim/vpolv-sim|\\$ vpolv-sim) *" "" example "${example}")
      string(STRIP "${example}" example)
      if(example STREQUAL "")
        continue()  # the program named in a sentence
      endif()
      string(REPLACE "/tmp/" "${dir}/" example "${example}")
      string(REGEX REPLACE "(^| )(trace\\.jsonl|case\\.json)" "\\1${dir}/\\2" example "${example}")
      separate_arguments(args UNIX_COMMAND "${example}")
      execute_process(COMMAND "${SIM}" ${args} WORKING_DIRECTORY "${ROOT}"
                      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
      if(NOT rc MATCHES "^[01]$")
        message(FATAL_ERROR "${doc}: vpolv-sim ${example}: exit ${rc}\n${err}")
      endif()
      math(EXPR count "${count} + 1")
    endforeach()
  endforeach()
endforeach()
if(count LESS 10)
  message(FATAL_ERROR "only ${count} examples found in the documents")
endif()
message(STATUS "${count} examples ran")
