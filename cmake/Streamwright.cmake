# Shared helpers for the project's targets.

set(SW_WARNINGS -Wall -Wextra -Wshadow)
if(SW_WERROR)
    list(APPEND SW_WARNINGS -Werror)
endif()
set(SW_QT_DEFINES QT_NO_KEYWORDS QT_NO_CAST_FROM_ASCII)

# sw_library(<name> SOURCES ... [DEPS ...]) builds one static library of src/.
function(sw_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/generated)
    target_compile_options(${name} PRIVATE ${SW_WARNINGS})
    target_compile_definitions(${name} PUBLIC ${SW_QT_DEFINES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT folder MATCHES "^(ui|app)(/|$)")
        set_property(GLOBAL APPEND PROPERTY SW_NON_WIDGET_LIBRARIES ${name})
    endif()
endfunction()

# Collects every target that a target links, directly or through other targets.
function(sw_link_closure target out)
    set(seen ${${out}})
    get_target_property(direct ${target} LINK_LIBRARIES)
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    foreach(item IN LISTS direct interface)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
        if(item AND TARGET ${item} AND NOT item IN_LIST seen)
            list(APPEND seen ${item})
            sw_link_closure(${item} seen)
        endif()
    endforeach()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Only ui/ and app/ may use Qt Widgets: a library below them that links Widgets, even through
# another library, fails the configuration.
function(sw_check_widgets)
    get_property(libraries GLOBAL PROPERTY SW_NON_WIDGET_LIBRARIES)
    foreach(library IN LISTS libraries)
        set(closure "")
        sw_link_closure(${library} closure)
        foreach(item IN LISTS closure)
            if(item MATCHES "^Qt6?::Widgets$")
                message(FATAL_ERROR "${library} links Qt Widgets; only src/ui and src/app may")
            endif()
        endforeach()
    endforeach()
endfunction()

# sw_test(<name> SOURCES ... DEPS ...) builds one GoogleTest binary and registers its cases with CTest.
function(sw_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE ${SW_WARNINGS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE SW_BINARY_DIR="${PROJECT_BINARY_DIR}" SW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock Threads::Threads)
    if(SW_UNITY_TESTS)
        set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    include(GoogleTest)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                   ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()

# sw_fuzz_target(<name> SOURCES ...) builds a libFuzzer program when the compiler is clang; the
# sources name the target's own files and the library sources it exercises, compiled with the fuzzer's
# instrumentation (the libraries of the normal build are not).
function(sw_fuzz_target name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests
                                               ${PROJECT_BINARY_DIR}/generated)
    target_compile_options(${name} PRIVATE ${SW_WARNINGS} -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS})
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
    set_property(GLOBAL APPEND PROPERTY SW_FUZZ_TARGETS ${name})
endfunction()
