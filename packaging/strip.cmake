# Run by CPack on the staged files, after install/strip: also drops the
# compiler's .comment section and a plain .note section from the programs
# and the module, as Debian's own packaging tools do (the build id stays).
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
file(GLOB modules "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/lib/python3/dist-packages/*.so")
foreach(file IN LISTS programs modules)
  execute_process(COMMAND ${CPACK_CELLFORGE_STRIP} --remove-section=.comment --remove-section=.note ${file}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip failed on ${file}")
  endif()
endforeach()
