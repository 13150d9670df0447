# Cross-builds tarnel.exe for 64-bit Windows on a Debian host with MinGW-w64
# (g++-mingw-w64-x86-64; zlib for the target from libz-mingw-w64-dev).
#
#   cmake --preset windows && cmake --build --preset windows
#
# The program is linked statically, so tarnel.exe needs no DLL beyond those every Windows
# installation has. When Wine is installed, test programs run under it (see wine-run.sh).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNEL_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: GCC 12's win32 model has no std::mutex, which GoogleTest needs. The
# tool itself has one thread; winpthread is linked in statically like the rest.
find_program(CMAKE_CXX_COMPILER NAMES ${TARNEL_MINGW_TRIPLET}-g++-posix ${TARNEL_MINGW_TRIPLET}-g++
             REQUIRED)
# For projects built alongside that also enable C, such as GoogleTest.
find_program(CMAKE_C_COMPILER NAMES ${TARNEL_MINGW_TRIPLET}-gcc-posix ${TARNEL_MINGW_TRIPLET}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${TARNEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc and zlib go into the executable; libz.a rather than zlib1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(ZLIB_USE_STATIC_LIBS ON)

find_program(TARNEL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TARNEL_WINE)
  # One private prefix per build tree, so test runs never touch the user's ~/.wine.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
endif()
