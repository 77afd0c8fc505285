# Runs a demo tool in an empty folder and checks its exit code, its message
# and that it made nothing there.
#   -DTOOL=path -DARGS=a|b -DCODE=n -DMESSAGE=regex -DWORK=folder
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND "${TOOL}" ${args} WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT code STREQUAL CODE)
  message(FATAL_ERROR "exit code ${code}, expected ${CODE}\n${out}${err}")
endif()
if(NOT "${out}${err}" MATCHES "${MESSAGE}")
  message(FATAL_ERROR "output does not match '${MESSAGE}':\n${out}${err}")
endif()
file(GLOB made LIST_DIRECTORIES true "${WORK}/*" "${WORK}/.*")
if(made)
  message(FATAL_ERROR "made ${made}")
endif()
