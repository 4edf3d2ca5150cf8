# Shared helpers for the project's targets.

set(SW_WARNINGS -Wall -Wextra -Wshadow -Werror)
set(SW_QT_DEFINES QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII)

# sw_library(<name> SOURCES ... [DEPS ...]) builds one static library of src/.
function(sw_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
    target_compile_options(${name} PRIVATE ${SW_WARNINGS})
    target_compile_definitions(${name} PUBLIC ${SW_QT_DEFINES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# sw_test(<name> SOURCES ... DEPS ...) builds one GoogleTest binary and registers its cases with CTest.
function(sw_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE ${SW_WARNINGS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE SW_BINARY_DIR="${PROJECT_BINARY_DIR}" SW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Threads::Threads)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    include(GoogleTest)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                   ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()
