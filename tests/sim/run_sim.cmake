# Runs vpolv-sim once and checks its exit code and its output.
#
#   -DSIM=program -DWORKDIR=folder -DARGS=a^^b^^c -DEXIT=code   (lists use ^^ between items)
#   -DGOLDEN=file       stdout must equal the file; with VPOLV_UPDATE_GOLDEN=1 in the
#                       environment the file is rewritten instead
#   -DSTDOUT=regex      stdout must match the regular expression
#   -DNAME=test         the test's name, for the failure message
#   -DSTDERR=regex      stderr must match the regular expression
#   -DCHAIN_ARGS=a^^b   run these first, with --out to a scratch scene; "{out}" in ARGS
#                       then stands for that scene
#   -DSCRATCH=folder    where the scratch scene goes
#   A run that exits with 2 must not have made the file its --out names.
#   -DSIM_ENV=NAME=VALUE  set in the environment of the run
#   -DSTDOUT_FILE=file  stdout goes to this file (such as /dev/full) instead of being checked
#   -DJSON_STDOUT=1     stdout must be one JSON document
cmake_minimum_required(VERSION 3.25)

string(REPLACE "^^" ";" ARGS "${ARGS}")
if(DEFINED CHAIN_ARGS)
  string(REPLACE "^^" ";" CHAIN_ARGS "${CHAIN_ARGS}")
endif()

if(DEFINED CHAIN_ARGS)
  set(out "${SCRATCH}/chained.json")
  file(MAKE_DIRECTORY "${SCRATCH}")
  execute_process(COMMAND "${SIM}" ${CHAIN_ARGS} --out "${out}" --quiet
                  WORKING_DIRECTORY "${WORKDIR}" RESULT_VARIABLE rc OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "first run (${CHAIN_ARGS}) exited with ${rc}")
  endif()
  string(REPLACE "{out}" "${out}" ARGS "${ARGS}")
endif()

if(DEFINED SIM_ENV)
  string(FIND "${SIM_ENV}" "=" eq)
  string(SUBSTRING "${SIM_ENV}" 0 ${eq} name)
  math(EXPR eq "${eq} + 1")
  string(SUBSTRING "${SIM_ENV}" ${eq} -1 value)
  set(ENV{${name}} "${value}")
endif()

# The --out target, when there is none yet.
set(out_target)
set(previous)
foreach(arg IN LISTS ARGS)
  if(previous STREQUAL "--out")
    set(out_target "${arg}")
  elseif(arg MATCHES "^--out=(.*)")
    set(out_target "${CMAKE_MATCH_1}")
  endif()
  set(previous "${arg}")
endforeach()
if(out_target AND NOT IS_ABSOLUTE "${out_target}")
  set(out_target "${WORKDIR}/${out_target}")
endif()
if(out_target AND EXISTS "${out_target}")
  set(out_target)
endif()

if(DEFINED STDOUT_FILE)
  execute_process(COMMAND "${SIM}" ${ARGS}
                  WORKING_DIRECTORY "${WORKDIR}"
                  RESULT_VARIABLE rc OUTPUT_FILE "${STDOUT_FILE}" ERROR_VARIABLE stderr)
  set(stdout "")
else()
  execute_process(COMMAND "${SIM}" ${ARGS}
                  WORKING_DIRECTORY "${WORKDIR}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
endif()

if(NOT rc STREQUAL "${EXIT}")
  message(FATAL_ERROR "vpolv-sim ${ARGS}: exit ${rc}, expected ${EXIT}\nstdout:\n${stdout}\nstderr:\n${stderr}")
endif()

if(DEFINED STDOUT AND NOT stdout MATCHES "${STDOUT}")
  message(FATAL_ERROR "vpolv-sim ${ARGS}: stdout\n  ${stdout}does not match\n  ${STDOUT}")
endif()
if(DEFINED STDERR AND NOT stderr MATCHES "${STDERR}")
  message(FATAL_ERROR "vpolv-sim ${ARGS}: stderr\n  ${stderr}does not match\n  ${STDERR}")
endif()

if(JSON_STDOUT)
  string(JSON type ERROR_VARIABLE error TYPE "${stdout}")
  if(error)
    message(FATAL_ERROR "vpolv-sim ${ARGS}: stdout is not one JSON document: ${error}\n${stdout}")
  endif()
endif()

if(DEFINED GOLDEN)
  if("$ENV{VPOLV_UPDATE_GOLDEN}" STREQUAL "1")
    file(WRITE "${GOLDEN}" "${stdout}")
    message(STATUS "updated ${GOLDEN}")
    return()
  endif()
  if(NOT EXISTS "${GOLDEN}")
    message(FATAL_ERROR "no golden file ${GOLDEN}; run with VPOLV_UPDATE_GOLDEN=1 to create it")
  endif()
  file(READ "${GOLDEN}" expected)
  if(NOT stdout STREQUAL expected)
    get_filename_component(name "${GOLDEN}" NAME)
    set(actual "${SCRATCH}/${name}.actual")
    file(WRITE "${actual}" "${stdout}")
    execute_process(COMMAND diff -u "${GOLDEN}" "${actual}" OUTPUT_VARIABLE diff)
    message(FATAL_ERROR "vpolv-sim ${ARGS}: report differs from ${GOLDEN}\n${diff}\n"
                        "If the change is intended: VPOLV_UPDATE_GOLDEN=1 ctest --preset native "
                        "-R ${NAME}")
  endif()
endif()

if(rc EQUAL 2 AND out_target AND EXISTS "${out_target}")
  message(FATAL_ERROR "vpolv-sim ${ARGS}: wrote ${out_target} although it failed")
endif()
