# Draws the icon again with scripts/make-icon.py and compares it with the committed one.
#   cmake -DPYTHON=... -DSCRIPT=... -DEXPECTED=... -DOUT=... -P IconMatchesScript.cmake
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT} RESULT_VARIABLE drawn OUTPUT_QUIET)
if(NOT drawn EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed (${drawn})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${EXPECTED} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} is not what ${SCRIPT} draws: run the script again")
endif()
