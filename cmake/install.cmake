# What `cmake --install` (and the packages made from it) put on a machine: the service and
# its tools, the README, and on Linux the systemd unit, with the program's installed path
# in its ExecStart, and the udev rule for the dongle. Everything here belongs to the
# install component "service"; the client library's development files are the component
# "client" (cmake/client_package.cmake).
#
# Where the unit and the rule go, relative to the install prefix unless absolute:
#   LINKRELAY_SYSTEMD_UNIT_DIR  default lib/systemd/system (systemd reads
#                               /usr/lib/systemd/system and /usr/local/lib/systemd/system)
#   LINKRELAY_UDEV_RULES_DIR    default lib/udev/rules.d (udev reads /usr/lib/udev/rules.d,
#                               not the /usr/local one: a /usr/local install that wants
#                               the rule sets this to /etc/udev/rules.d)
set(LINKRELAY_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd unit is installed (relative to the install prefix unless absolute)")
set(LINKRELAY_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule is installed (relative to the install prefix unless absolute)")

set(linkrelay_programs linkrelay linkrelay-cli)
if(TARGET linkrelay-sim)
    list(APPEND linkrelay_programs linkrelay-sim)
endif()
install(TARGETS ${linkrelay_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT service)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT service)

if(WIN32)
    install(FILES packaging/windows/linkrelay-service.cmd DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT service)
else()
    set(LINKRELAY_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/linkrelay)
    set(LINKRELAY_DOC_DIR ${CMAKE_INSTALL_FULL_DOCDIR})
    configure_file(packaging/linux/ZunaBluetoothService.service.in
        ${PROJECT_BINARY_DIR}/packaging/ZunaBluetoothService.service @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/ZunaBluetoothService.service
        DESTINATION ${LINKRELAY_SYSTEMD_UNIT_DIR} COMPONENT service)
    install(FILES packaging/linux/60-linkrelay-dongle.rules
        DESTINATION ${LINKRELAY_UDEV_RULES_DIR} COMPONENT service)
endif()
