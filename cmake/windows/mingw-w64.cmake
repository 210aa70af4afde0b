# Toolchain for Windows x86-64 with Debian's mingw-w64, POSIX-thread flavour
# (the win32-thread compilers have no std::thread or std::mutex).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64.cmake -DVEDRIK_WINDOWS_PREFIX=DIR ...
# DIR is the prefix the Windows libraries are installed in (scripts/windows.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(VEDRIK_WINDOWS_PREFIX "" CACHE PATH "prefix of the Windows builds of SDL2, nng, Dear ImGui and GoogleTest")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEDRIK_WINDOWS_PREFIX)

# Libraries, headers and packages come from the MinGW sysroot and the prefix
# only, never from the Linux system; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${VEDRIK_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
