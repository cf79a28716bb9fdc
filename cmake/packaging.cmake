# Installation and packages. `cmake --install` puts the programs, and on Linux the udev rule, the
# manual page, the desktop entry and the icons, where the system looks for them; CPack makes a
# Debian package from a Linux build and a zip from the Windows build (scripts/package).
include(GNUInstallDirs)

# The programs: torvane-cli, and torvane where this build has it (torvane.exe on Windows, the
# desktop program on Linux). scripts/package builds this target alone, so installing must not
# build everything else (the tests) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(TORVANE_PROGRAMS torvane-cli)
if(TARGET torvane)
    list(APPEND TORVANE_PROGRAMS torvane)
endif()
add_custom_target(torvane-programs)
add_dependencies(torvane-programs ${TORVANE_PROGRAMS})
install(TARGETS ${TORVANE_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT WIN32)
    # src/CMakeLists.txt installs the udev rule to lib/udev/rules.d under the prefix.
    set(TORVANE_LINUX_PACKAGING ${PROJECT_SOURCE_DIR}/packaging/linux)
    configure_file(${TORVANE_LINUX_PACKAGING}/torvane-cli.1.in ${PROJECT_BINARY_DIR}/torvane-cli.1
                   @ONLY)
    execute_process(COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/torvane-cli.1
                    OUTPUT_FILE ${PROJECT_BINARY_DIR}/torvane-cli.1.gz
                    RESULT_VARIABLE gzip_status)
    if(NOT gzip_status EQUAL 0)
        message(FATAL_ERROR "gzip of the manual page failed: ${gzip_status}")
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/torvane-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # The menu entry and its icons come with the desktop program only.
    if(TARGET torvane)
        install(FILES ${TORVANE_LINUX_PACKAGING}/torvane.desktop
                DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/linux/icons/
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
    endif()

    # The station as a system service, not enabled until the user enables it, and its settings:
    # the unit where systemd looks for a package's units (under /usr, as the udev rule is; systemd
    # reads /usr/local/lib/systemd/system too), the settings where the unit reads them whatever the
    # prefix.
    install(FILES ${TORVANE_LINUX_PACKAGING}/torvane-station.service
            DESTINATION lib/systemd/system)
    install(FILES ${TORVANE_LINUX_PACKAGING}/torvane-station.default DESTINATION /etc/default
            RENAME torvane-station)

    # The maintainer scripts create the service's user and make udev apply the rule to devices
    # already plugged in.
    foreach(script postinst postrm)
        configure_file(${TORVANE_LINUX_PACKAGING}/${script}.in ${PROJECT_BINARY_DIR}/debian/${script}
                       @ONLY)
    endforeach()
endif()

set(TORVANE_PACKAGE_MAINTAINER "Torvane maintainers <maintainers@torvane.invalid>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VENDOR Torvane)
set(CPACK_PACKAGE_CONTACT "${TORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware updater for the QMX-S, QMX-C and TZN USB HID devices")
if(TARGET torvane AND NOT WIN32)
    set(torvane_package_programs "The programs: torvane on the desktop, torvane-cli in a terminal.")
else()
    set(torvane_package_programs "The program: torvane-cli, in a terminal.")
endif()
# Lines of the Debian package's long description, each under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Torvane switches a device of the family into its boot loader, finds it again"
    "by its USB location path, erases it, writes an Intel HEX image record by"
    "record with an echo check and starts the new firmware."
    "${torvane_package_programs}"
    "Also included: the udev rule that gives the user at the seat access to the"
    "devices, a flashing station service (torvane-station, not enabled) and a"
    "simulated device family for trying an update without hardware.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # CPack would name the build machine's architecture; dpkg-shlibdeps finds the arm64 libraries
    # and their packages (the :arm64 ones installed beside the host's) by the programs' ELF class.
    if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
        set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    endif()
    # postinst runs adduser; dpkg-shlibdeps adds the libraries.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_BINARY_DIR}/debian/postinst ${TORVANE_LINUX_PACKAGING}/prerm
        ${PROJECT_BINARY_DIR}/debian/postrm ${TORVANE_LINUX_PACKAGING}/conffiles)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
