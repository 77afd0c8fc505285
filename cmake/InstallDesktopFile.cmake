# Installs lumetta.desktop, the theme file MATE's screensaver reads, with
# its Exec and TryExec naming the program's link among the hacks under the
# prefix this install goes to (cmake --install --prefix, or /usr when CPack
# builds the .deb). Run from cmake_install.cmake, which sets
# LUMETTA_DESKTOP_TEMPLATE, LUMETTA_DESKTOP_SCRATCH, LUMETTA_HACK_DIR and
# LUMETTA_DESKTOP_DESTINATION (the last two relative to the prefix, or
# absolute).
cmake_path(ABSOLUTE_PATH LUMETTA_HACK_DIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
  OUTPUT_VARIABLE hackdir)
set(LUMETTA_INSTALLED_PROGRAM "${hackdir}/lumetta")
cmake_path(ABSOLUTE_PATH LUMETTA_DESKTOP_DESTINATION BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}"
  OUTPUT_VARIABLE destination)
# One scratch file per target, so that installs to two prefixes at once
# (a test's and CPack's) do not write each other's.
string(MD5 target "$ENV{DESTDIR}${destination}")
set(desktop "${LUMETTA_DESKTOP_SCRATCH}/${target}/lumetta.desktop")
configure_file("${LUMETTA_DESKTOP_TEMPLATE}" "${desktop}" @ONLY)
file(INSTALL DESTINATION "${destination}" TYPE FILE FILES "${desktop}")
