# The client library's development files, the install component "client": the static
# libraries, the public headers and a CMake package, so that another project writes
#   find_package(linkrelay REQUIRED)
#   target_link_libraries(app PRIVATE linkrelay::client)
# and includes "linkrelay/client.h". The client encodes its requests with the gob codec,
# which is installed beside it as linkrelay::gob (a dependency of linkrelay::client, not
# an interface of its own) with the three gob headers that the client's headers include;
# they go to include/linkrelay/gob/, and that folder's parent is on linkrelay::gob's
# include path so that they find each other as "gob/gob.h".
include(CMakePackageConfigHelpers)

set(linkrelay_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/linkrelay)

set_target_properties(linkrelay_gob PROPERTIES EXPORT_NAME gob)
target_include_directories(linkrelay_gob INTERFACE
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/linkrelay>)
install(FILES src/gob/ble_types.h src/gob/gob.h src/gob/gob_framing.h src/gob/gob_protocol.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/linkrelay/gob COMPONENT client)

install(TARGETS linkrelay_client linkrelay_gob EXPORT linkrelayTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT client
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT client)
install(EXPORT linkrelayTargets NAMESPACE linkrelay:: DESTINATION ${linkrelay_package_dir}
    COMPONENT client)

configure_package_config_file(cmake/linkrelayConfig.cmake.in
    ${PROJECT_BINARY_DIR}/packaging/linkrelayConfig.cmake
    INSTALL_DESTINATION ${linkrelay_package_dir})
# 0.x releases may change the library between minor versions.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/linkrelayConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/linkrelayConfig.cmake
    ${PROJECT_BINARY_DIR}/packaging/linkrelayConfigVersion.cmake
    DESTINATION ${linkrelay_package_dir} COMPONENT client)
