# Settings every target of the project shares.

# Everything that runs lands in one folder, beside the C++ runtime DLLs, so that
# the agent, the outside components, tools and tests find each other and the
# runtime the way they would in an installed product.
set(KEL_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${KEL_BIN_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${KEL_BIN_DIR})
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

add_compile_options(-Wall -Wextra -Werror)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0601 WINVER=0x0601)

# C++ objects and exceptions cross DLL boundaries (JSON bodies, provider
# interfaces), so the C++ runtime is shared, not linked statically. The libgcc
# DLL is named after the architecture's unwinder: SEH tables on x86_64, DWARF-2
# on i686. runtime-dlls.txt names them for the scripts that lay out the product.
if(KEL_ARCH STREQUAL "x86_64")
  set(KEL_LIBGCC_DLL libgcc_s_seh-1.dll)
elseif(KEL_ARCH STREQUAL "i686")
  set(KEL_LIBGCC_DLL libgcc_s_dw2-1.dll)
else()
  message(FATAL_ERROR "Configure with cmake/toolchain-x86_64-mingw.cmake or cmake/toolchain-i686-mingw.cmake")
endif()
set(KEL_RUNTIME_DLLS
    /usr/lib/gcc/${KEL_MINGW_TRIPLET}/12-posix/libstdc++-6.dll
    /usr/lib/gcc/${KEL_MINGW_TRIPLET}/12-posix/${KEL_LIBGCC_DLL}
    /usr/${KEL_MINGW_TRIPLET}/lib/libwinpthread-1.dll)
file(MAKE_DIRECTORY ${KEL_BIN_DIR})
file(COPY ${KEL_RUNTIME_DLLS} DESTINATION ${KEL_BIN_DIR})
set(KEL_RUNTIME_DLL_NAMES)
foreach(dll ${KEL_RUNTIME_DLLS})
  get_filename_component(name ${dll} NAME)
  string(APPEND KEL_RUNTIME_DLL_NAMES "${name}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/runtime-dlls.txt "${KEL_RUNTIME_DLL_NAMES}")

# Test and benchmark programs run under Wine in this build's own prefix, with
# the loader of its architecture.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${KEL_ARCH} ${CMAKE_BINARY_DIR})

# The JSON library is header-only; expose only it, never /usr/include, whose C
# headers would shadow MinGW's own.
set(KEL_DEPS_DIR ${CMAKE_BINARY_DIR}/deps)
file(MAKE_DIRECTORY ${KEL_DEPS_DIR})
if(NOT EXISTS ${KEL_DEPS_DIR}/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${KEL_DEPS_DIR}/nlohmann SYMBOLIC)
endif()
add_library(kel_json INTERFACE)
target_include_directories(kel_json SYSTEM INTERFACE ${KEL_DEPS_DIR})

# kel_add_tests(<target> LABELS <label> [TIMEOUT s] [PROPERTIES ...]):
# discovers the GoogleTest cases of a test program; each case is a test of its
# own and runs under Wine from the binary folder.
function(kel_add_tests target)
  cmake_parse_arguments(ARG "" "LABELS;TIMEOUT" "PROPERTIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${KEL_BIN_DIR}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT} ${ARG_PROPERTIES})
endfunction()

# kel_add_test_program(<target> LABELS <label>... [TIMEOUT s]): runs a whole
# test program as one test; for programs whose tests carry several labels,
# which discovered tests cannot.
function(kel_add_test_program target)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${KEL_BIN_DIR})
  set_tests_properties(${target} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# kel_add_standin_library(<target> SOURCE <file> OUTPUT_NAME <name> DEFINITION <macro>):
# a DLL named like an outside component but broken on purpose, built into a
# folder of its own below the binary folder (named like the target), for the
# tests of the code that must refuse it.
function(kel_add_standin_library target)
  cmake_parse_arguments(ARG "" "SOURCE;OUTPUT_NAME;DEFINITION" "" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCE})
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITION})
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  set_target_properties(${target} PROPERTIES
      PREFIX "" OUTPUT_NAME ${ARG_OUTPUT_NAME}
      RUNTIME_OUTPUT_DIRECTORY ${KEL_BIN_DIR}/${target}
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/${target})
endfunction()
