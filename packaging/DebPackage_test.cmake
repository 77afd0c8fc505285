# The Debian package of this build: builds it with CPack as `make deb` does
# (into SCRATCH instead of the build folder), checks its fields and its
# files, unpacks it into SCRATCH/root for the tests that run what it holds,
# and looks for paths of the build or the checkout in what it installs.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DSCRATCH=... -DVERSION=... -P DebPackage_test.cmake

cmake_minimum_required(VERSION 3.25)

function(fail)
  string(JOIN "" message ${ARGN})
  message(FATAL_ERROR "deb: ${message}")
endfunction()

function(run out)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT code EQUAL 0)
    string(JOIN " " command ${ARGN})
    fail("${command} failed (${code}):\n${stdout}${stderr}")
  endif()
  set(${out} "${stdout}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${SCRATCH}")
run(ignored cpack --config "${BUILD_DIR}/CPackConfig.cmake" -B "${SCRATCH}")
set(deb "${SCRATCH}/lumetta_${VERSION}_amd64.deb")
if(NOT EXISTS "${deb}")
  file(GLOB made "${SCRATCH}/*.deb")
  fail("no ${deb}; made: ${made}")
endif()

# Fields.
foreach(case IN ITEMS "Package=lumetta" "Version=${VERSION}" "Architecture=amd64"
                      "Suggests=xscreensaver | mate-screensaver")
  string(REGEX MATCH "^([^=]*)=(.*)$" ignored "${case}")
  set(field "${CMAKE_MATCH_1}")
  set(expected "${CMAKE_MATCH_2}")
  run(value dpkg-deb --field "${deb}" "${field}")
  string(STRIP "${value}" value)
  if(NOT value STREQUAL expected)
    fail("${field} is '${value}', not '${expected}'")
  endif()
endforeach()
run(depends dpkg-deb --field "${deb}" Depends)
string(STRIP "${depends}" depends)
# Each a package of its own in the list, whatever version it asks for.
foreach(package libwebkit2gtk-4.1-0 libgtk-3-0 libssl3 zlib1g libc6)
  if(NOT depends MATCHES "(^|, )${package}( \\(|,|$)")
    fail("Depends does not name ${package}: ${depends}")
  endif()
endforeach()

# Files: what a user runs, under /usr, owned by root; nothing of the
# library's development files.
run(contents dpkg-deb --contents "${deb}")
string(REPLACE "\n" ";" lines "${contents}")
set(paths)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^[-dl][rwxs-]+ root/root ")
    fail("not owned by root/root: ${line}")
  endif()
  string(REGEX REPLACE "^.* (\\./[^ ]*)( -> .*)?$" "\\1" path "${line}")
  list(APPEND paths "${path}")
  if(NOT path MATCHES "^\\./(usr/.*)?$")
    fail("installs outside /usr: ${path}")
  endif()
  if(path MATCHES "^\\./usr/(include/|lib/.*\\.a$|lib/.*cmake/|lib/.*pkgconfig/)")
    fail("a development file of the library: ${path}")
  endif()
endforeach()
foreach(expected
    ./usr/bin/lumetta ./usr/bin/vello ./usr/lib/lumetta/modules/lumetta-gtk.so
    ./usr/share/lumetta/vello.dat ./usr/share/lumetta/ruffle/ruffle.js
    ./usr/share/lumetta/ConfigureSheet.ui
    ./usr/share/man/man1/lumetta.1.gz ./usr/share/man/man1/vello.1.gz
    ./usr/share/doc/lumetta/copyright ./usr/share/doc/lumetta/changelog.gz
    ./usr/share/doc/lumetta/README
    ./usr/share/xscreensaver/config/lumetta.xml
    ./usr/share/applications/screensavers/lumetta.desktop
    ./usr/libexec/xscreensaver/lumetta)
  if(NOT expected IN_LIST paths)
    fail("${expected} is not in the package:\n${contents}")
  endif()
endforeach()
# Among the hacks, where MATE's screensaver runs programs from, a link to
# the program (relative, so that it holds wherever the tree is unpacked).
if(NOT contents MATCHES " \\./usr/libexec/xscreensaver/lumetta -> \\.\\./\\.\\./bin/lumetta\n")
  fail("usr/libexec/xscreensaver/lumetta is not a link to ../../bin/lumetta:\n${contents}")
endif()

# No maintainer scripts: the package runs nothing when installed or removed.
run(control dpkg-deb --info "${deb}")
if(control MATCHES "(preinst|postinst|prerm|postrm|triggers|config)\n")
  fail("maintainer scripts in the package:\n${control}")
endif()

# Debian's own checks of a package, with no error and no warning.
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  fail("lintian is not installed (scripts/install-deps.sh installs it)")
endif()
execute_process(COMMAND ${LINTIAN} --fail-on error,warning --tag-display-limit 0 "${deb}"
  RESULT_VARIABLE code OUTPUT_VARIABLE said ERROR_VARIABLE said)
if(NOT code EQUAL 0)
  fail("lintian finds fault with the package (${code}):\n${said}")
endif()
message(STATUS "lintian: ${said}")

# The copyright file follows the player that is pinned: its version, its
# copyright line and its licence text as the npm package has them.
set(player "${BUILD_DIR}/saver/player/node_modules/@ruffle-rs/ruffle")
file(READ "${player}/package.json" player_json)
string(JSON player_version GET "${player_json}" version)
file(READ "${SOURCE_DIR}/packaging/copyright" copyright)
string(REPLACE "\n .\n" "\n" copyright "${copyright}")  # DEP-5's blank line
string(REGEX REPLACE "\n ?" " " copyright_words "${copyright}")
string(REGEX REPLACE " +" " " copyright_words "${copyright_words}")
file(STRINGS "${player}/LICENSE_MIT" mit)
list(GET mit 0 player_copyright)
string(REGEX REPLACE "^Copyright \\(c\\) " "" player_copyright "${player_copyright}")
list(REMOVE_AT mit 0)
string(JOIN " " mit_words ${mit})
string(REGEX REPLACE " +" " " mit_words "${mit_words}")
string(STRIP "${mit_words}" mit_words)
foreach(expected "@ruffle-rs/ruffle ${player_version}" "${player_copyright}" "${mit_words}")
  string(FIND "${copyright_words}" "${expected}" at)
  if(at LESS 0)
    fail("packaging/copyright does not say, of the pinned player: ${expected}")
  endif()
endforeach()

run(ignored dpkg-deb -x "${deb}" "${SCRATCH}/root")

# The man pages point at no file of the system that the package does not
# install (hosts' own programs aside: they are named, not pointed at).
foreach(page lumetta vello)
  execute_process(COMMAND gzip -dc "${SCRATCH}/root/usr/share/man/man1/${page}.1.gz" OUTPUT_VARIABLE text)
  string(REPLACE "\\-" "-" text "${text}")
  string(REGEX MATCHALL "/usr/[A-Za-z0-9_./-]*[A-Za-z0-9_]/?" named "${text}")
  if(NOT named)
    fail("${page}(1) names no installed file: is it the page?")
  endif()
  foreach(path IN LISTS named)
    if(NOT EXISTS "${SCRATCH}/root${path}" AND NOT IS_SYMLINK "${SCRATCH}/root${path}")
      fail("${page}(1) names ${path}, which the package does not install")
    endif()
  endforeach()
endforeach()

# The theme file MATE's screensaver reads: the installed program among the
# hacks, started on the window the daemon gives it.
file(STRINGS "${SCRATCH}/root/usr/share/applications/screensavers/lumetta.desktop" desktop)
foreach(expected "[Desktop Entry]" "Type=Application" "Categories=Screensaver;"
                 "Exec=/usr/libexec/xscreensaver/lumetta --root"
                 "TryExec=/usr/libexec/xscreensaver/lumetta")
  if(NOT expected IN_LIST desktop)
    string(JOIN "\n" shown ${desktop})
    fail("lumetta.desktop lacks the line '${expected}':\n${shown}")
  endif()
endforeach()

# Installed files must not lean on the build: no path of it or of the
# checkout in any of them (binaries included).
foreach(tree "${BUILD_DIR}" "${SOURCE_DIR}")
  execute_process(COMMAND grep -r -l -F -e "${tree}" "${SCRATCH}/root"
    RESULT_VARIABLE code OUTPUT_VARIABLE leaks)
  if(code EQUAL 0)
    fail("files naming ${tree}:\n${leaks}")
  elseif(NOT code EQUAL 1)
    fail("grep failed (${code})")
  endif()
endforeach()
message(STATUS "deb: ${deb} checked and unpacked into ${SCRATCH}/root")
