# Cross-compiles for 64-bit Windows with mingw-w64 (Debian's posix thread
# model, so std::thread works), as the Windows Qt is built. Programs are
# linked statically: they run under Wine, or on a bare Windows machine,
# without the compiler's DLLs.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64-qt.cmake)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
