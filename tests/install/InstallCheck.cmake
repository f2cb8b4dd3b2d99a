# InstallCheck.cmake: cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DGENERATOR=... -P
# Installs BUILD_DIR into WORK_DIR/prefix, builds the consumer against it and runs it on the
# installed demo file.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run("configure the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build
    -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
run("build the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("run the consumer" ${WORK_DIR}/build/consumer)

set(expected "demo.ogg: 2 channels, 44100 Hz, cue 0 from 4 s to 12 s\n")
if(NOT run_output STREQUAL expected)
  message(FATAL_ERROR "the consumer printed\n${run_output}\ninstead of\n${expected}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
