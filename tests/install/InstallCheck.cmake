# InstallCheck.cmake: cmake -DBUILD_DIR=... -DWORK_DIR=... -DSOURCE_DIR=... -DGENERATOR=...
#   -DPYTHON=... -P
# Installs BUILD_DIR into WORK_DIR/prefix and does what the README shows a game doing: its
# CMakeLists.txt with the README's two programs as main.cpp and main.c, built against the
# package and run on the installed demo file, and the Python example on the installed module,
# which finds the installed liboggmix.so by itself. Then compiles every installed header alone.
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(game ${WORK_DIR}/game)
configure_file(${SOURCE_DIR}/tests/install/consumer/CMakeLists.txt ${game}/CMakeLists.txt COPYONLY)
configure_file(${SOURCE_DIR}/examples/play_music.cpp ${game}/main.cpp COPYONLY)
configure_file(${SOURCE_DIR}/examples/play_music.c ${game}/main.c COPYONLY)
run("configure the game" ${CMAKE_COMMAND} -S ${game} -B ${game}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix})
run("build the game" ${CMAKE_COMMAND} --build ${game}/build)
set(demo ${prefix}/share/oggmix/demo.ogg)
set(python_example ${PYTHON} ${SOURCE_DIR}/examples/play_music.py)
# "python" names no variable: if() would read a variable's value in its place.
foreach(program game game_c python)
  if(program STREQUAL "python")
    set(command ${CMAKE_COMMAND} -E env --unset=OGGMIX_LIBRARY
        PYTHONPATH=${prefix}/share/oggmix/python ${python_example})
  else()
    set(command ${game}/build/${program})
  endif()
  run("run ${program}" ${CMAKE_COMMAND} -E env OGGMIX_AUDIO=null ${command} ${demo} ${demo})
  if(NOT run_output MATCHES "^paused at [0-9.]+ s\nstill at [0-9.]+ s\nplaying at [0-9.]+ s\n$")
    message(FATAL_ERROR "${program} printed\n${run_output}")
  endif()
endforeach()

run("configure the header check" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/headers
    -B ${WORK_DIR}/headers -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DOGGMIX_INCLUDE_ROOT=${prefix}/include)
run("compile every installed header" ${CMAKE_COMMAND} --build ${WORK_DIR}/headers)
file(REMOVE_RECURSE ${WORK_DIR})
