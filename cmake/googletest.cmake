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

# linkrelay_add_test(NAME SOURCES... [LIBS libs...] [LABELS label] [PORT_9089])
# One GoogleTest executable; its cases are discovered when ctest runs, so that the
# Windows build discovers them through Wine only in the Wine leg. PORT_9089 marks tests
# that bind the service's fixed port: ctest never runs two of them at once. One label
# only: gtest_discover_tests passes properties on as a flat list, so a list of labels
# would be read as further property names.
function(linkrelay_add_test name)
    cmake_parse_arguments(arg "PORT_9089" "LABELS" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main
        Threads::Threads linkrelay_warnings)
    set(properties "")
    if(arg_LABELS)
        list(APPEND properties LABELS ${arg_LABELS})
    endif()
    if(arg_PORT_9089)
        list(APPEND properties RESOURCE_LOCK port9089)
    endif()
    if(properties)
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
            PROPERTIES ${properties})
    else()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
    endif()
endfunction()
