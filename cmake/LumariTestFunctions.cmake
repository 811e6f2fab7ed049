# cmake -DSUITE=<test executable> -DEXPECTED=<functions, ;-separated> -P LumariTestFunctions.cmake
#
# Fails when the suite's test functions (as the executable lists them) are
# not the ones registered with CTest from its source, so that a function the
# source reading missed cannot go unrun.
execute_process(COMMAND ${SUITE} -functions
    OUTPUT_VARIABLE output ERROR_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${SUITE} -functions failed: ${result}")
endif()
string(REGEX MATCHALL "[A-Za-z0-9_]+\\(\\)" listed "${output}")
string(REPLACE "()" "" listed "${listed}")
if(NOT listed STREQUAL EXPECTED)
    message(FATAL_ERROR "Test functions registered with CTest: ${EXPECTED}\n"
                        "Test functions of the suite: ${listed}\n"
                        "Declare each as \"void name();\" under \"private slots:\" (see cmake/LumariTest.cmake).")
endif()
