# make deb: lumetta_<version>_amd64.deb, what a user runs (lumetta, vello,
# the player, the demo package, the man pages, the hosts' files) under
# /usr. Only the "runtime" component goes in: libvello's headers, static
# library and CMake/pkg-config files serve builds from source and would
# pull the -dev packages of OpenSSL and zlib in with them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumetta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# -DVELLO_MAINTAINER="Name <address>" (cmake/VelloDocs.cmake).
set(CPACK_PACKAGE_CONTACT "${VELLO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screen saver that plays the SWF programs of vello.dat packages")
set(CPACK_PACKAGE_DESCRIPTION "lumetta plays the SWF program of a vello.dat package with the Ruffle
player in a WebKitGTK web view, in a window of its own or as a hack of
XScreenSaver or MATE's screensaver. vello builds, inspects, extracts and
upgrades vello.dat packages. A demo package comes with it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};runtime;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
# Depends: from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | mate-screensaver")
# Without their debug information the programs hold no path of the build.
set(CPACK_STRIP_FILES ON)
include(CPack)
