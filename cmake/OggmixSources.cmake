# Every folder lists its sources by name. oggmix_require_listed(<pattern> <target>...) fails
# the configure when a file of the calling folder that matches pattern is in none of the
# targets' lists, so that a file added to the tree (or arriving with a merge) cannot stay out
# of the build unnoticed.
function(oggmix_require_listed pattern)
  file(GLOB _present RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
  set(_listed)
  foreach(_target IN LISTS ARGN)
    get_target_property(_sources ${_target} SOURCES)
    list(APPEND _listed ${_sources})
  endforeach()
  # Files of another operating system's build, named by the folder.
  get_directory_property(_elsewhere OGGMIX_OTHER_PLATFORM_SOURCES)
  list(APPEND _listed ${_elsewhere})
  foreach(_file IN LISTS _present)
    if(NOT _file IN_LIST _listed)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${_file} is in no source list of "
                          "${ARGN}: add it there")
    endif()
  endforeach()
endfunction()
