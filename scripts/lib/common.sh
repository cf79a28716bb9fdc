# Shared helpers for the scripts in scripts/. Source it; do not run it.
# shellcheck shell=bash

# Repository root: this file lives in scripts/lib/.
TORVANE_ROOT=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/../.." && pwd)
export TORVANE_ROOT

# Debian 12 packages for the native build, its tests and the formatting check. The window on
# Linux: qt6-base-dev (Qt Widgets and Qt Test; the libqt6gui6 it pulls in holds the X11 platform
# and the offscreen one the tests draw on) and fonts-dejavu-core (a font, so that the offscreen
# platform has one on a bare machine).
# libboost-dev: the header-only Asio and Beast of the station's live page.
TORVANE_NATIVE_PACKAGES=(cmake ninja-build g++ googletest clang-format libcli11-dev nlohmann-json3-dev
    libboost-dev pkg-config libudev-dev libusb-1.0-0-dev umockdev libumockdev-dev
    qt6-base-dev fonts-dejavu-core)

# Debian 12 packages for the browser test of the station's live page (label browser): headless
# Chromium, its WebDriver and the Python client that drives it.
TORVANE_BROWSER_PACKAGES=(chromium chromium-driver python3-selenium)

# Debian 12 packages for the fuzz targets (tests/fuzz, scripts/fuzz): clang and its compiler-rt
# runtime, which holds libFuzzer and the sanitizer runtimes.
TORVANE_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Debian 12 packages for the real-kernel test (tests/vm): qemu with software emulation, a static
# busybox and cpio for the initramfs, kmod for depmod and modprobe, udev for udevd in the guest,
# strace to count the device nodes a program opens there.
# The kernel itself is downloaded into the build tree, not installed; Debian 12 ships its
# modules uncompressed.
TORVANE_VM_PACKAGES=(qemu-system-x86 busybox-static cpio kmod udev strace)

# Debian 12 packages for the 32-bit Windows cross build and for running its tests under Wine.
# Wine's recommended packages (fonts, GL, sound, TLS, ...) are not needed for console programs,
# hence --no-install-recommends below; wine32:i386 is named so that apt does not pick wine64.
# fonts-wqy-microhei gives the Wine prefix its Chinese glyphs (cmake/wine-run); curl reads the
# live page of the station that runs under Wine.
TORVANE_WINDOWS_PACKAGES=(g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32:i386 xvfb xauth
    fonts-wqy-microhei curl)

# Debian 12 packages for the arm64 cross build (the linux-arm64 preset) and for running its tests
# and its package's programs under user-mode emulation (qemu-user: qemu-aarch64, without the
# binfmt_misc registration its recommended qemu-user-binfmt would add). The :arm64 libraries go
# beside the host's; libc6, libstdc++6 and the Qt libraries of arm64 are what the programs run
# with under qemu-aarch64, and what dpkg-shlibdeps names in the arm64 package's Depends.
# qemu-system-arm, cpio and kmod are for the real-kernel test on Debian's arm64 kernel, whose
# guest runs the arm64 programs with those libraries.
TORVANE_ARM64_PACKAGES=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user libc6:arm64
    libstdc++6:arm64 libudev-dev:arm64 libusb-1.0-0-dev:arm64 qt6-base-dev:arm64 qemu-system-arm
    cpio kmod)

# Debian 12 packages for scripts/screenshots only: xdotool drives the window, imagemagick's
# import captures it.
TORVANE_SCREENSHOT_PACKAGES=(xdotool imagemagick)

# Debian 12 packages for the packages (scripts/package) and their test: dpkg-shlibdeps (in
# dpkg-dev) and file, which CPack runs for the Debian package's Depends; man for the manual page's
# check; desktop-file-validate for the menu entry's; systemd-analyze (in systemd, which a
# container's Debian 12 lacks) for the station service's unit.
TORVANE_PACKAGING_PACKAGES=(dpkg-dev file man-db desktop-file-utils systemd)

torvane_log() {
    printf '==> %s\n' "$*" >&2
}

torvane_die() {
    printf 'error: %s\n' "$*" >&2
    exit 1
}

# Runs a command as root: directly when already root, otherwise through sudo.
torvane_as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo -- "$@"
    else
        torvane_die "need root (or sudo) to run: $*"
    fi
}

# True when the package (optionally arch-qualified, e.g. wine32:i386) is installed.
torvane_package_installed() {
    local status
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null) || return 1
    [[ $status == ii* ]]
}

# torvane_install_packages pkg...: installs whichever of the packages are missing. Does nothing
# (and needs no network) when all of them are installed already.
torvane_install_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        torvane_package_installed "$pkg" || missing+=("$pkg")
    done
    if [[ ${#missing[@]} -eq 0 ]]; then
        return 0
    fi
    command -v apt-get >/dev/null 2>&1 ||
        torvane_die "missing packages and no apt-get to install them: ${missing[*]}"

    torvane_log "installing: ${missing[*]}"
    # A package of another architecture (wine32:i386, libudev-dev:arm64) needs that architecture
    # added to dpkg once, before the update below fetches its package lists.
    local arch
    for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | sort -u); do
        if ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
            [[ $(dpkg --print-architecture) != "$arch" ]]; then
            torvane_as_root dpkg --add-architecture "$arch"
        fi
    done
    torvane_as_root apt-get update -q
    torvane_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Makes TORVANE_WINE_DISPLAY name an X display for the windows of the Windows tests: the
# session's own when there is one, otherwise a virtual one started here for the script's life.
torvane_provide_display() {
    if [[ -n ${TORVANE_WINE_DISPLAY:-} ]]; then
        return 0
    fi
    if [[ -n ${DISPLAY:-} ]]; then
        export TORVANE_WINE_DISPLAY=$DISPLAY
        return 0
    fi
    local number
    for number in $(seq 90 99); do
        [[ -e /tmp/.X11-unix/X$number || -e /tmp/.X$number-lock ]] && continue
        Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        TORVANE_XVFB_PID=$!
        trap 'kill "$TORVANE_XVFB_PID" 2>/dev/null' EXIT
        for _ in $(seq 50); do
            [[ -e /tmp/.X11-unix/X$number ]] && break
            sleep 0.1
        done
        export TORVANE_WINE_DISPLAY=:$number
        return 0
    done
    torvane_die "no free X display number for Xvfb"
}

torvane_install_native_packages() {
    torvane_install_packages "${TORVANE_NATIVE_PACKAGES[@]}"
}

torvane_install_browser_packages() {
    torvane_install_packages "${TORVANE_BROWSER_PACKAGES[@]}"
}

torvane_install_fuzz_packages() {
    torvane_install_packages "${TORVANE_FUZZ_PACKAGES[@]}"
}

torvane_install_vm_packages() {
    torvane_install_packages "${TORVANE_VM_PACKAGES[@]}"
}

torvane_install_windows_packages() {
    torvane_install_packages "${TORVANE_WINDOWS_PACKAGES[@]}"
}

torvane_install_arm64_packages() {
    torvane_install_packages "${TORVANE_ARM64_PACKAGES[@]}"
}

torvane_install_screenshot_packages() {
    torvane_install_packages "${TORVANE_SCREENSHOT_PACKAGES[@]}"
}

torvane_install_packaging_packages() {
    torvane_install_packages "${TORVANE_PACKAGING_PACKAGES[@]}"
}
