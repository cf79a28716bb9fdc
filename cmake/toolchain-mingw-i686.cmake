# Cross build for 32-bit Windows with the MinGW-w64 GCC of the posix thread model
# (std::thread and friends available), as packaged by Debian in g++-mingw-w64-i686-posix.
# Test programs are run under Wine through cmake/wine-run.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TORVANE_MINGW_TRIPLET i686-w64-mingw32)

set(CMAKE_C_COMPILER   ${TORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${TORVANE_MINGW_TRIPLET}-windres)

# Look for libraries and headers in the MinGW sysroot only; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# add_test() commands naming an executable target are run through this, so CTest runs the
# Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run")
