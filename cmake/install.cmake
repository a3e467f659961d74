# What `cmake --install` puts on a machine: the service, its tools, and on Linux the
# systemd unit and the udev rule for the dongle.
install(TARGETS linkrelay linkrelay-cli RUNTIME DESTINATION bin)
if(TARGET linkrelay-sim)
    install(TARGETS linkrelay-sim RUNTIME DESTINATION bin)
endif()
if(WIN32)
    install(FILES packaging/windows/linkrelay-service.cmd DESTINATION bin)
else()
    # systemd reads units from /usr/local/lib/systemd/system too; udev reads rules only
    # from /etc and /usr/lib, so the rule goes to /etc.
    install(FILES packaging/linux/ZunaBluetoothService.service
        DESTINATION lib/systemd/system)
    install(FILES packaging/linux/60-linkrelay-dongle.rules
        DESTINATION /etc/udev/rules.d)
endif()
