# Platform selection: LINKRELAY_PLATFORM is "win32" for the Windows build and "linux"
# otherwise. Each part picks its *_win32.cpp or *_linux.cpp / *_posix.cpp files with it.
if(WIN32)
    set(LINKRELAY_PLATFORM win32)
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 UNICODE _UNICODE)
else()
    set(LINKRELAY_PLATFORM linux)
    set(THREADS_PREFER_PTHREAD_FLAG ON)
endif()
find_package(Threads REQUIRED)
