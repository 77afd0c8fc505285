# Writes a man page from a program's --help and its subcommands' --help:
#   cmake -DPROGRAM=... -DNAME=... -DSUMMARY=... -DSUBCOMMANDS=a,b [-DNOTES=file] -DOUTPUT=... -P HelpToMan.cmake
# so that the page never drifts from what the program says. NOTES, roff
# text, becomes the page's NOTES section.

function(help_text out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed")
  endif()
  # The usage line shows the build path of the program; a page shows its name.
  string(REPLACE "${PROGRAM}" "${NAME}" text "${text}")
  # roff: backslashes are escapes, and a leading dot or quote starts a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(REPLACE "," ";" SUBCOMMANDS "${SUBCOMMANDS}")
string(TOUPPER "${NAME}" upper)
help_text(overview)
set(page ".TH ${upper} 1\n.SH NAME\n${NAME} \\- ${SUMMARY}\n.SH DESCRIPTION\n.nf\n${overview}.fi\n")
if(SUBCOMMANDS)
  string(APPEND page ".SH COMMANDS\n")
  foreach(sub IN LISTS SUBCOMMANDS)
    help_text(text ${sub})
    string(APPEND page ".SS ${sub}\n.nf\n${text}.fi\n")
  endforeach()
endif()
if(NOTES)
  file(READ "${NOTES}" notes)
  string(APPEND page ".SH NOTES\n${notes}")
endif()
file(WRITE "${OUTPUT}" "${page}")
