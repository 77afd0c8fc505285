# cmake --install: libvello with its headers under include/vello, a CMake
# package (find_package(vello CONFIG) gives vello::vello), vello.pc, the
# vello program and man pages made from the programs' --help.
include(CMakePackageConfigHelpers)

# What builds against libvello is the "development" component; a shared
# libvello itself is "runtime", which the programs need.
install(TARGETS vello EXPORT velloTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
foreach(dir system encryption builder_package)
  install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vello/${dir} COMPONENT development
    FILES_MATCHING PATTERN "*.h" PATTERN "*_test.h" EXCLUDE PATTERN "testdata" EXCLUDE)
endforeach()

set(VELLO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vello)
install(EXPORT velloTargets NAMESPACE vello:: DESTINATION ${VELLO_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/velloConfig.cmake.in ${CMAKE_BINARY_DIR}/velloConfig.cmake
  INSTALL_DESTINATION ${VELLO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/velloConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/velloConfig.cmake ${CMAKE_BINARY_DIR}/velloConfigVersion.cmake
  DESTINATION ${VELLO_CMAKE_DIR} COMPONENT development)

# A static libvello needs its dependencies on every link line; a shared one
# brings them itself.
if(BUILD_SHARED_LIBS)
  set(VELLO_PC_REQUIRES "Requires.private")
else()
  set(VELLO_PC_REQUIRES "Requires")
endif()
file(RELATIVE_PATH VELLO_PC_UP /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(cmake/vello.pc.in ${CMAKE_BINARY_DIR}/vello.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vello.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

install(TARGETS vello_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Man pages from --help. lumetta's program is installed by its own folder.
# A page's NOTES section, if any, is cmake/<name>.notes.
function(vello_man_page target name summary)
  set(page ${CMAKE_BINARY_DIR}/man/${name}.1)
  string(REPLACE ";" "," subcommands "${ARGN}")  # a list would split the command
  set(notes ${CMAKE_SOURCE_DIR}/cmake/${name}.notes)
  if(NOT EXISTS ${notes})
    set(notes "")
  endif()
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${name}
      "-DSUMMARY=${summary}" "-DSUBCOMMANDS=${subcommands}" "-DNOTES=${notes}" -DOUTPUT=${page}
      -P ${CMAKE_SOURCE_DIR}/cmake/HelpToMan.cmake
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/cmake/HelpToMan.cmake ${notes}
    COMMENT "Writing the man page of ${name}" VERBATIM)
  add_custom_target(${name}_man_page ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
vello_man_page(vello_tool vello "builds, inspects, extracts, upgrades and verifies vello.dat packages"
  info extract pack upgrade verify set-swf-version)
if(TARGET lumetta)
  vello_man_page(lumetta lumetta "a screen saver that plays the SWF programs of a vello.dat package")
endif()

# The consumer tests install into a scratch prefix and build against it;
# a sanitizer build's library would need the sanitizer's flags there too.
if(VELLO_BUILD_TESTS AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  foreach(way find_package pkg-config)
    add_test(NAME install.consumer_${way}
      COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}/cmake/consumer
        -DSCRATCH=${CMAKE_BINARY_DIR}/install-test-${way} -DWAY=${way} -DCXX=${CMAKE_CXX_COMPILER}
        -DGENERATOR=${CMAKE_GENERATOR}
        -P ${CMAKE_SOURCE_DIR}/cmake/consumer/RunConsumer.cmake)
    set_tests_properties(install.consumer_${way} PROPERTIES RESOURCE_LOCK vello_install
      PASS_REGULAR_EXPRESSION "consumer: read back 1 form named \"consumer\", 17 bytes, package version 14")
  endforeach()
endif()
