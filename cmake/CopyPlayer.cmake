# Copies the files of the player that a page loads (its script, the script
# chunks it imports and the WebAssembly builds of its core) from the npm
# package in SOURCE to DESTINATION, leaving source maps and docs behind.
file(GLOB player_files ${SOURCE}/ruffle.js ${SOURCE}/core.ruffle.*.js ${SOURCE}/*.wasm)
if(NOT player_files)
  message(FATAL_ERROR "no player files in ${SOURCE}")
endif()
file(REMOVE_RECURSE ${DESTINATION})
file(MAKE_DIRECTORY ${DESTINATION})
file(COPY ${player_files} DESTINATION ${DESTINATION})
