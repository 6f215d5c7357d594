# What `cmake --install` puts in place: the shared library, its public headers
# under include/DruxLauncher/, a CMake package (find_package(DruxLauncher),
# imported target DruxLauncher::DruxLauncher) and a pkg-config file
# (druxlauncher.pc). The programs install themselves (apps/CMakeLists.txt).
include(CMakePackageConfigHelpers)

set(DRUX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/DruxLauncher)

install(TARGETS DruxLauncher EXPORT DruxLauncherTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${DRUX_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/DruxLauncher)
install(EXPORT DruxLauncherTargets NAMESPACE DruxLauncher:: DESTINATION ${DRUX_CMAKE_PACKAGE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/DruxLauncherConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/DruxLauncherConfig.cmake
    INSTALL_DESTINATION ${DRUX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/DruxLauncherConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/DruxLauncherConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/DruxLauncherConfigVersion.cmake
        DESTINATION ${DRUX_CMAKE_PACKAGE_DIR})

# The prefix is the one given at install time (cmake --install --prefix).
set(DRUX_PC_PREFIX "%PREFIX%")
configure_file(${CMAKE_CURRENT_LIST_DIR}/druxlauncher.pc.in ${CMAKE_CURRENT_BINARY_DIR}/druxlauncher.pc.template @ONLY)
install(CODE "
    file(READ \"${CMAKE_CURRENT_BINARY_DIR}/druxlauncher.pc.template\" pc)
    string(REPLACE \"%PREFIX%\" \"\${CMAKE_INSTALL_PREFIX}\" pc \"\${pc}\")
    set(pcFile \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/druxlauncher.pc\")
    message(STATUS \"Installing: \${pcFile}\")
    file(WRITE \"\${pcFile}\" \"\${pc}\")
")
