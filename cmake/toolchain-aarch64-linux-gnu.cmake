# Cross build for 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu) against
# Debian's arm64 libraries installed beside the host's (dpkg --add-architecture arm64; the
# libudev-dev:arm64 and libusb-1.0-0-dev:arm64 packages). There is no sysroot: the cross compiler
# searches /usr/include and the multiarch folders /usr/lib/aarch64-linux-gnu itself, and
# pkg-config reads the arm64 .pc files only.
# Test programs are run under qemu-user (qemu-aarch64), which finds the arm64 loader and libraries
# where Debian installs them (/lib/ld-linux-aarch64.so.1, /usr/lib/aarch64-linux-gnu).

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TORVANE_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER   ${TORVANE_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TORVANE_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TORVANE_CROSS_TRIPLET})

# pkg-config: the arm64 packages' .pc files and the architecture-independent ones, never the
# host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TORVANE_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# add_test() commands naming an executable target are run through this, so CTest runs the arm64
# test programs under user-mode emulation; no binfmt_misc registration is needed.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64)
