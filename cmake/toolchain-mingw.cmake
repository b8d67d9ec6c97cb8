# Cross build of Windows binaries with MinGW-w64 (posix threads), shared by the
# architecture toolchains, which set KEL_ARCH, KEL_MINGW_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR before they include this file.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${KEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${KEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
