# Packages made with CPack from the install component "service" (cmake/install.cmake):
# on Linux a Debian package, on Windows (the mingw cross build) an NSIS installer.
# The client library's development files (component "client") are not in either.
#
#   scripts/package.sh deb|windows   or   cmake --build --preset release --target package
#
# The Debian package is meant for the prefix /usr with the unit and the rule under /lib,
# as the release preset configures; its maintainer scripts are packaging/debian/.
set(CPACK_PACKAGE_NAME linkrelay)
set(CPACK_PACKAGE_VENDOR linkrelay)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "linkrelay maintainers <maintainers@linkrelay.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shares one BLE dongle among local programs over TCP")
set(CPACK_PACKAGE_INSTALL_DIRECTORY linkrelay)
set(CPACK_COMPONENTS_ALL service)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
    set(CPACK_GENERATOR NSIS)
    set(CPACK_PACKAGE_FILE_NAME linkrelay-${PROJECT_VERSION}-win64)
    # The installer script is ours (cmake/nsis/NSIS.template.in): it registers the service.
    set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/cmake/nsis)
    set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE linkrelay_deb_arch
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT linkrelay_deb_arch)
        set(linkrelay_deb_arch amd64)
    endif()
    set(CPACK_DEBIAN_PACKAGE_NAME linkrelay)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${linkrelay_deb_arch})
    set(CPACK_DEBIAN_FILE_NAME linkrelay_${PROJECT_VERSION}_${linkrelay_deb_arch}.deb)
    set(CPACK_DEBIAN_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "linkrelay owns one USB Bluetooth Low Energy dongle (BGAPI over a serial port)
and lets several client programs scan, connect, read, write and subscribe
through it at once, over TCP port 9089. The package holds the service with its
systemd unit and udev rule, the command-line client linkrelay-cli and the
simulated dongle linkrelay-sim.")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
        ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
        ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
    # Debian's documentation files: the copyright and the changelog (compressed, without
    # a time stamp, so that the package is reproducible). The changelog's newest entry
    # takes its version from project(), the version's one source; a new version's entry
    # goes above it with @PROJECT_VERSION@, and the entry below gets its number written out.
    install(FILES packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT service)
    set(linkrelay_changelog_text ${PROJECT_BINARY_DIR}/packaging/changelog)
    configure_file(packaging/debian/changelog.in ${linkrelay_changelog_text} @ONLY)
    set(linkrelay_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
    add_custom_command(OUTPUT ${linkrelay_changelog}
        COMMAND gzip -9nc ${linkrelay_changelog_text} > ${linkrelay_changelog}
        DEPENDS ${linkrelay_changelog_text}
        COMMENT "Compressing the Debian changelog")
    add_custom_target(linkrelay_changelog ALL DEPENDS ${linkrelay_changelog})
    install(FILES ${linkrelay_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT service)
endif()

include(CPack)
