# The Debian package: `cpack -G DEB` in a build directory (or
# `cpack --preset deb` from the source folder) packs what `cmake --install`
# puts in place (the library, its headers, the CMake package, the pkg-config
# file and the programs) under /usr, with dependencies computed by
# dpkg-shlibdeps (from dpkg-dev).
set(CPACK_PACKAGE_NAME "druxlauncher")
set(CPACK_PACKAGE_VENDOR "DruxLauncher")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Launcher-support library with its launcher host and stand-in programs")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "DruxLauncher coordinates a launcher host, an AIR client and a game on one machine over loopback TCP.\n"
    "This package holds the shared library libDruxLauncher, its C headers, a CMake package\n"
    "(find_package(DruxLauncher)) and a pkg-config file (druxlauncher), and the programs:\n"
    "the launcher host drux-launcher, the stand-in AIR client and game, and the sample patch library.")
set(CPACK_PACKAGE_CONTACT "DruxLauncher maintainers <druxlauncher@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs need the package's own library; its shlibs entry lets
# dpkg-shlibdeps resolve that within the package.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
