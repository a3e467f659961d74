# GoogleTest: Debian's packaged build on Linux; for the Windows cross build the same
# sources (/usr/src/googletest, package googletest) compiled with the cross compiler.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest 1.11 and later name their targets GTest::... themselves.
    foreach(library IN ITEMS gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${library})
            add_library(GTest::${library} ALIAS ${library})
        endif()
    endforeach()
else()
    find_package(GTest REQUIRED)
endif()

# linkrelay_add_test(NAME SOURCES... [LIBS libs...] [LABELS labels...])
# One GoogleTest executable; its cases are discovered when ctest runs, so that the
# Windows build discovers them through Wine only in the Wine leg.
function(linkrelay_add_test name)
    cmake_parse_arguments(arg "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main
        Threads::Threads linkrelay_warnings)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${arg_LABELS}")
endfunction()
