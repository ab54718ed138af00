# cmake -DCRANETALK=... -DSOURCE=prog.ct -DDIR=out -DSTEM=name -P assemble.cmake
# cranetalk reads the source on standard input and prints the memory file on
# standard output; the listing and stimulus file go next to it.
execute_process(
  COMMAND ${CRANETALK} ${STEM}.lst ${STEM}.sti
  WORKING_DIRECTORY ${DIR}
  INPUT_FILE ${SOURCE}
  OUTPUT_FILE ${DIR}/${STEM}.mem
  ERROR_VARIABLE messages
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cranetalk failed (${status}): ${messages}")
endif()
# The last line is the program length; anything before it is a message.
string(REGEX REPLACE "[0-9]+\n$" "" messages "${messages}")
if(NOT messages STREQUAL "")
  message(FATAL_ERROR "cranetalk: ${messages}")
endif()
