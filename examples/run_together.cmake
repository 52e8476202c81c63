# Runs the example writer and the example reader at the same time, as two
# processes sharing one file, the way an analysis and a post-processor do.
# Both must succeed. Called by ctest with WRITER, READER and DATABASE set.
file(REMOVE ${DATABASE})
execute_process(COMMAND ${WRITER} ${DATABASE}
                COMMAND ${READER} ${DATABASE}
                RESULTS_VARIABLE results
                OUTPUT_VARIABLE output
                TIMEOUT 60)
message("${output}")
if(NOT results STREQUAL "0;0")
  message(FATAL_ERROR "writer and reader ended with ${results}")
endif()
if(NOT output MATCHES "step 5: energy 12.50 \\(done\\)")
  message(FATAL_ERROR "the reader did not follow the writer to its last step")
endif()
