# 64-bit Windows binaries, run under wine64.
set(KEL_ARCH x86_64)
set(KEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
