# Stamps the project's version and the 10-character commit identifier of the source tree
# into the program.
# The identifier is re-read at every build, so a new commit needs no re-configure;
# the generated file is rewritten only when the identifier changed.
set(LINKRELAY_COMMIT_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/generated/commit_id.cpp)
add_custom_target(linkrelay_commit_stamp
    COMMAND ${CMAKE_COMMAND}
            -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}
            -DOUTPUT=${LINKRELAY_COMMIT_SOURCE}
            -DVERSION=${PROJECT_VERSION}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/write_commit_id.cmake
    BYPRODUCTS ${LINKRELAY_COMMIT_SOURCE}
    COMMENT "Reading the commit identifier")
add_library(linkrelay_commit STATIC ${LINKRELAY_COMMIT_SOURCE} src/service/build_info.cpp)
add_dependencies(linkrelay_commit linkrelay_commit_stamp)
target_include_directories(linkrelay_commit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
