# lumari_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>]
#                 [EACH_FUNCTION] [CPU_HEAVY <functions...>])
#
# One QtTest executable registered with CTest. Widgets run on the offscreen
# platform so the suite needs no display.
#
# EACH_FUNCTION registers every test function of the suite (the private slots
# of the class in its first source file, declared or defined there, one
# indentation step in) as a CTest entry of its own, <name>.<function>,
# all labelled <name>: suites that mostly wait on the program's timers then
# overlap under ctest -j. The list is read again whenever the file changes;
# the entry <name>.functions checks it against the functions the built suite
# lists.
# The functions named in CPU_HEAVY keep the processors busy (floods); they
# hold a common lock so that no two of them run at once.
set(LUMARI_TEST_ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;ASAN_OPTIONS=detect_leaks=1;TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")

# The test functions declared under "private slots:" in a QtTest source: not
# the _data functions and not the fixtures QtTest calls by itself.
function(lumari_test_functions source out)
    get_filename_component(path ${source} ABSOLUTE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} lines)
    set(functions)
    set(inSlots FALSE)
    foreach(line IN LISTS lines)
        if(line MATCHES "^private slots:")
            set(inSlots TRUE)
        elseif(inSlots AND line MATCHES "^(public|protected|private|signals)[ a-z]*:|^};")
            set(inSlots FALSE)
        elseif(inSlots AND line MATCHES "^(    |\t)void[ \t]+([A-Za-z0-9_]+)[ \t]*\\([ \t]*\\)[ \t]*(;|{)?[ \t]*$")
            set(function ${CMAKE_MATCH_2})
            if(NOT function MATCHES "_data$|^(initTestCase|cleanupTestCase|init|cleanup)$")
                list(APPEND functions ${function})
            endif()
        endif()
    endforeach()
    if(NOT functions)
        message(FATAL_ERROR "No test functions found in ${source}")
    endif()
    set(${out} ${functions} PARENT_SCOPE)
endfunction()

function(lumari_add_test name)
    cmake_parse_arguments(T "EACH_FUNCTION" "TIMEOUT" "SOURCES;LIBS;CPU_HEAVY" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testbin)
    target_link_libraries(${name} PRIVATE Qt5::Test lumari_options ${T_LIBS})
    if(NOT T_EACH_FUNCTION)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${LUMARI_TEST_ENVIRONMENT}")
        return()
    endif()
    list(GET T_SOURCES 0 source)
    lumari_test_functions(${source} functions)
    foreach(function IN LISTS T_CPU_HEAVY)
        if(NOT function IN_LIST functions)
            message(FATAL_ERROR "${name}: CPU_HEAVY names ${function}, which is no test function")
        endif()
    endforeach()
    add_test(NAME ${name}.functions
        COMMAND ${CMAKE_COMMAND} -DSUITE=$<TARGET_FILE:${name}> "-DEXPECTED=${functions}"
            -P ${PROJECT_SOURCE_DIR}/cmake/LumariTestFunctions.cmake)
    set_tests_properties(${name}.functions PROPERTIES LABELS ${name} ENVIRONMENT "${LUMARI_TEST_ENVIRONMENT}")
    foreach(function IN LISTS functions)
        add_test(NAME ${name}.${function} COMMAND ${name} ${function})
        set_tests_properties(${name}.${function} PROPERTIES
            TIMEOUT ${T_TIMEOUT} LABELS ${name} ENVIRONMENT "${LUMARI_TEST_ENVIRONMENT}")
        if(function IN_LIST T_CPU_HEAVY)
            set_tests_properties(${name}.${function} PROPERTIES RESOURCE_LOCK lumari_cpu_heavy)
        endif()
    endforeach()
endfunction()
