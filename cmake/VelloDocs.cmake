# The man pages and /usr/share/doc/lumetta (README, copyright, changelog),
# laid out as Debian wants them: man pages and the changelog gzipped with
# no time stamp, so that the same sources give the same package.

set(VELLO_MAINTAINER "vello developers <vello@example.org>" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")
if(NOT VELLO_MAINTAINER MATCHES "^[^<>]+ <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
  message(FATAL_ERROR "VELLO_MAINTAINER must read \"Name <user@host.domain>\", not '${VELLO_MAINTAINER}'")
endif()
find_program(GZIP gzip REQUIRED)

set(VELLO_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumetta)
set(doc_build ${CMAKE_BINARY_DIR}/doc)
set(VERSION ${PROJECT_VERSION})
set(MAINTAINER ${VELLO_MAINTAINER})

# configure_file's @VERSION@ and @MAINTAINER@, then gzip -9n into
# doc_build/<name>.gz; the list of what it made grows in out_list.
function(vello_gzipped source name out_list)
  configure_file(${source} ${doc_build}/plain/${name} @ONLY)
  add_custom_command(OUTPUT ${doc_build}/${name}.gz
    COMMAND ${GZIP} -9 -n -c ${doc_build}/plain/${name} > ${doc_build}/${name}.gz
    DEPENDS ${doc_build}/plain/${name} ${source}
    COMMENT "Compressing ${name}" VERBATIM)
  set(${out_list} ${${out_list}} ${doc_build}/${name}.gz PARENT_SCOPE)
endfunction()

set(man_pages)
vello_gzipped(${CMAKE_SOURCE_DIR}/packaging/vello.1 vello.1 man_pages)
if(TARGET lumetta)
  vello_gzipped(${CMAKE_SOURCE_DIR}/packaging/lumetta.1 lumetta.1 man_pages)
endif()
set(doc_files)
vello_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog.in changelog doc_files)
add_custom_target(vello_docs ALL DEPENDS ${man_pages} ${doc_files})

install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/README ${CMAKE_SOURCE_DIR}/packaging/copyright
  DESTINATION ${VELLO_DOC_DIR})
install(FILES ${doc_files} DESTINATION ${VELLO_DOC_DIR})
# The tests of lumetta under XScreenSaver install the build as a person would.
if(TARGET lumetta_program_tests)
  add_dependencies(lumetta_program_tests vello_docs)
endif()
