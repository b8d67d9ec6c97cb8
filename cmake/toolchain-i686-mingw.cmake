# 32-bit Windows binaries, run under WOW64 in a 64-bit prefix.
set(KEL_ARCH i686)
set(KEL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
