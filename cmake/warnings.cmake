# Warning flags for every target of the project: linkrelay_warnings is linked PRIVATE.
add_library(linkrelay_warnings INTERFACE)
target_compile_options(linkrelay_warnings INTERFACE -Wall -Wextra -Wpedantic)
if(LINKRELAY_WERROR)
    target_compile_options(linkrelay_warnings INTERFACE -Werror)
endif()
