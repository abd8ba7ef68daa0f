# `make package` (cpack -G DEB in the build folder): a Debian package of what `cmake
# --install` installs, build/ziro-bldc_<version>_<arch>.deb: the three tools in /usr/bin,
# their manual pages, the bash completion of ziro-bldc-cli, the desktop entry and its icon.
# Its Depends line comes from the binaries themselves (dpkg-shlibdeps, from dpkg-dev), plus
# the one package no binary links: the Qt platform plugins the window loads when it starts.

set(ZIRO_PACKAGE_MAINTAINER "ziro-bldc developers <ziro-bldc@localhost>"
    CACHE STRING "The Maintainer of the Debian package")

set(CPACK_PACKAGE_NAME ziro-bldc)
set(CPACK_PACKAGE_VENDOR ziro-bldc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZIRO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "commissioning tool for ZIRO-BLDC motor control modules")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
# The long description; the summary above is its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ziro-bldc connects one ZIRO-BLDC brushless-DC motor control module over a USB
virtual COM port or a serial line, reads and edits its parameters, drives the
motor, charts and records its live values, and exports, imports, stores and
restores its configuration. ziro-bldc-cli does the same from a terminal or a
script; ziro-bldc-sim serves a simulated module on a pseudo-terminal.")

# `make package_source`: the sources without the checkout, whose build names the plain
# version.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME ziro-bldc-${PROJECT_VERSION})
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build[^/]*/" "\\\\.user$")

include(CPack)
