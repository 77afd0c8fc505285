# cmake --install: libvello with its headers under include/vello, a CMake
# package (find_package(vello CONFIG) gives vello::vello), vello.pc and the
# vello program (its man page: cmake/VelloDocs.cmake).
include(CMakePackageConfigHelpers)

# What builds against libvello is the "development" component; a shared
# libvello itself is "runtime", which the programs need.
install(TARGETS vello EXPORT velloTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# The public headers: the classes a program builds on and what their
# declarations need. The rest (sha2_detail.h, BlowfishTables.h,
# RecordReader.h, UniqueFd.h, ...) are the library's own business.
set(VELLO_PUBLIC_HEADERS
  system/SysFile.h system/ByteRun.h system/SysEndian.h system/SysStringHelper.h
  system/ConvertUTF.h system/System.h
  encryption/Encryption.h encryption/EncryptedString.h encryption/sha2.h
  encryption/Blowfish.h encryption/Base64.h encryption/BaseEncode.h encryption/BaseDecode.h
  builder_package/Package.h builder_package/PackageForm.h builder_package/PackageBinary.h
  builder_package/ReadFailure.h builder_package/PackageReadOptions.h
  builder_package/SaveFailure.h builder_package/PackageSaveOptions.h)
foreach(header IN LISTS VELLO_PUBLIC_HEADERS)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vello/${dir} COMPONENT development)
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
