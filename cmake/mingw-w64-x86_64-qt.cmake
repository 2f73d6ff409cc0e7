# Cross-compiles for 64-bit Windows with mingw-w64 against a Qt built for
# it: Qt's own build, and through Qt's qt.toolchain.cmake every program
# that uses that Qt. Libraries, headers and packages come only from the
# find roots (Qt's toolchain file adds its prefix), so nothing of the
# Linux Qt in /usr is taken for the Windows one. The compiler's runtime
# stays in its DLLs, which are shipped next to Qt's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
