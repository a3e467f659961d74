# Script mode: writes OUTPUT with the project's VERSION and the tree's 10-character commit
# identifier, or a fixed placeholder when SOURCE_DIR is not a git checkout.
set(commit "0000000000")
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short=10 HEAD
        WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE head RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(LENGTH "${head}" length)
    if(status EQUAL 0 AND length EQUAL 10)
        set(commit "${head}")
    endif()
endif()
set(text "// Generated at build time: the version and the commit this program was built from.\n#include \"service/build_info.h\"\n\nconst char* const buildVersion = \"${VERSION}\";\nconst char* const buildCommit = \"${commit}\";\n")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
    file(WRITE ${OUTPUT} "${text}")
endif()
