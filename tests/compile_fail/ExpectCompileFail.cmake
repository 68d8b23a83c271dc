# Builds a target that must not compile and checks why it does not: every
# line of SOURCE marked "// expect-error: <text>" must draw that error on that
# line, and no other error may show up.
#
#   cmake -DBUILD_DIR=<tree> -DTARGET=<target> -DSOURCE=<file> -P ExpectCompileFail.cmake
foreach(var BUILD_DIR TARGET SOURCE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ExpectCompileFail: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD_DIR}" --target "${TARGET}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(APPEND out "\n${err}")
if(rc EQUAL 0)
  message(FATAL_ERROR "${TARGET} compiled, so the lock rules were not checked:\n${out}")
endif()

get_filename_component(name "${SOURCE}" NAME)
file(READ "${SOURCE}" text)
# One list element per source line (semicolons would split lines).
string(REPLACE ";" "," text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(lineNo 0)
set(expected 0)
set(missing "")
foreach(line IN LISTS lines)
  math(EXPR lineNo "${lineNo} + 1")
  if(line MATCHES "// expect-error: (.*)$")
    math(EXPR expected "${expected} + 1")
    set(text "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "([][+.*()^$?|\\\\{}])" "\\\\\\1" want "${text}")
    if(NOT out MATCHES "${name}:${lineNo}:[0-9]+: error: ${want}")
      string(APPEND missing "  line ${lineNo}: ${text}\n")
    endif()
  endif()
endforeach()

string(REGEX MATCHALL "[^\n]*: error: [^\n]*" errors "${out}")
list(LENGTH errors found)
if(expected EQUAL 0)
  message(FATAL_ERROR "${name} marks no expected error")
endif()
if(missing OR NOT found EQUAL expected)
  message(FATAL_ERROR "${TARGET} failed, but not (only) for the expected reasons.\n"
                      "Expected errors not reported:\n${missing}"
                      "Errors reported: ${found}, expected: ${expected}\n${out}")
endif()
message(STATUS "${TARGET}: the compiler rejected the ${expected} marked lines, and only them")
