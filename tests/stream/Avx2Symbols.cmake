# The AVX2 kernel file may share no inline or template code with the rest of the program: a
# function it defines with global or weak linkage could be the copy the linker keeps for every
# caller, and would then run AVX2 instructions on processors without them. Reads the symbols
# its object file defines for other files: only its kernel table, and the compiler's own
# helpers, may be there.
#   cmake -DNM=<nm> -DOBJECTS=<object files of oggmix_stream> -P Avx2Symbols.cmake
list(FILTER OBJECTS INCLUDE REGEX "RenderKernels_Avx2\\.cpp\\.o$")
list(LENGTH OBJECTS found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "no single object file of RenderKernels_Avx2.cpp among the objects")
endif()
execute_process(COMMAND ${NM} -C --defined-only --extern-only ${OBJECTS}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${OBJECTS}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(shared)
set(allowed "oggmix::Avx2Kernels\\(\\)|DW\\.ref\\.__gxx_personality_v0|__clang_call_terminate")
foreach(line IN LISTS lines)
  if(NOT line MATCHES " (${allowed})$")
    list(APPEND shared "${line}")
  endif()
endforeach()
if(shared)
  list(JOIN shared "\n  " shared)
  message(FATAL_ERROR "RenderKernels_Avx2.cpp shares code with other files:\n  ${shared}")
endif()
if(NOT symbols MATCHES "oggmix::Avx2Kernels\\(\\)")
  message(FATAL_ERROR "RenderKernels_Avx2.cpp does not define oggmix::Avx2Kernels()")
endif()
