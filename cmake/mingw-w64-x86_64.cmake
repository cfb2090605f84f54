# Cross-compiles for 64-bit Windows with Debian's MinGW-w64, posix thread
# model (std::thread and friends need it), and runs what it builds with Wine.
#
#   cmake -S . -B build-windows \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCORVANITE_WERROR=ON
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANITE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVANITE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANITE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANITE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANITE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One executable and nothing beside it: the C++ runtime and winpthread are
# linked in, so the tool runs on a host without MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# The 64-bit loader itself; Debian's `wine` wrapper only adds a warning about
# the missing 32-bit half.
find_program(CORVANITE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(CORVANITE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANITE_WINE})
endif()
