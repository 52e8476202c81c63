# Builds the consumer project in WORK with QVT_USE, then runs its writer and
# its reader one after the other on one file. For "package" it first installs
# the build tree QVT_BINARY_DIR into WORK/prefix, and also builds the writer
# and reader with pkg-config.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGV}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(write_then_read writer reader)
  file(REMOVE ${WORK}/consumer.odb)
  run(${writer} ${WORK}/consumer.odb)
  run(${reader} ${WORK}/consumer.odb)
  if(NOT out MATCHES "step 5: energy 12.50 \\(done\\)")
    message(FATAL_ERROR "${reader} read back:\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
if(QVT_USE STREQUAL "package")
  run(${CMAKE_COMMAND} --install ${QVT_BINARY_DIR} --prefix ${prefix})
endif()
run(${CMAKE_COMMAND} -S ${QVT_SOURCE_DIR}/tests/consumers -B ${WORK}/build -DQVT_USE=${QVT_USE}
    -DQVT_SOURCE_DIR=${QVT_SOURCE_DIR} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK}/build -j 2)
write_then_read(${WORK}/build/writer ${WORK}/build/reader)

if(QVT_USE STREQUAL "package")
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  run(pkg-config --cflags --libs --static qvt)
  string(STRIP "${out}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  foreach(program writer reader)
    run(c++ -std=c++17 ${QVT_SOURCE_DIR}/examples/${program}.cpp ${flags} -o ${WORK}/pc-${program})
  endforeach()
  write_then_read(${WORK}/pc-writer ${WORK}/pc-reader)
endif()
