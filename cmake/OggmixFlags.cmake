# Warnings (errors with OGGMIX_WERROR) and floating-point rules for every target; optional
# sanitizers.
# Never -ffast-math: results are specified in single precision, step by step.
add_compile_options(-Wall -Wextra -ffp-contract=off)
if(OGGMIX_WERROR)
  add_compile_options(-Werror)
  # Under the sanitizers' instrumentation GCC reports maybe-uninitialized values inside
  # libstdc++ (std::function in <regex>) that are not there; those stay warnings.
  if(OGGMIX_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-error=maybe-uninitialized)
  endif()
endif()

if(OGGMIX_SANITIZE)
  set(_oggmix_san "-fsanitize=${OGGMIX_SANITIZE}" -fno-omit-frame-pointer)
  if(OGGMIX_SANITIZE MATCHES "undefined")
    list(APPEND _oggmix_san -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_oggmix_san})
  add_link_options(${_oggmix_san})
  add_compile_definitions(OGGMIX_SANITIZED=1)
endif()

# The fuzz targets steer by the coverage of every library they link.
if(OGGMIX_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
