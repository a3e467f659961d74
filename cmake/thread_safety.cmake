# Clang's thread-safety analysis (LINKRELAY_THREAD_SAFETY_ANALYSIS, clang only): every
# target that takes the project's warnings also gets -Wthread-safety, as errors. The target thread_safety_violation, outside "all", breaks a lock rule
# on purpose: scripts/ci/thread_safety.sh checks that it does not compile.
option(LINKRELAY_THREAD_SAFETY_ANALYSIS "Check the lock annotations with clang -Wthread-safety" OFF)

if(LINKRELAY_THREAD_SAFETY_ANALYSIS)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "LINKRELAY_THREAD_SAFETY_ANALYSIS needs clang")
    endif()
    target_compile_options(linkrelay_warnings INTERFACE -Wthread-safety -Werror=thread-safety)
    add_library(thread_safety_violation STATIC EXCLUDE_FROM_ALL
        ${PROJECT_SOURCE_DIR}/tests/thread_safety/violation.cpp)
    target_link_libraries(thread_safety_violation PRIVATE linkrelay_base linkrelay_warnings)
endif()
