# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (the
# posix flavour: std::thread and friends over winpthreads).
#
# Programs are linked statically, C++ runtime and winpthreads included, so
# that an .exe runs on a Windows machine with nothing else installed.
# Test programs run here under Wine (see wine-run).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VISOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VISOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VISOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VISOR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VISOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest, and gtest_discover_tests listing the tests, run the programs
# through Wine, in a Wine prefix that belongs to this build.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run ${CMAKE_BINARY_DIR}/wine-prefix)
