# Install rules and the exported CMake package. Included last, once every target exists.
#   bin/                  the executables, and libwuvorbis.so for those that name a decoder by path
#   lib/                  the static libraries
#   lib/liboggmix.so      the C interface of the music player (oggmix::oggmix)
#   include/oggmix/       the music player's headers (#include <oggmix/MusicPlayer.h>,
#                         <oggmix/oggmix.h>), and the stack's public headers by subsystem
#                         folder, which the stack's targets include as "stream/OggDataLib.h"
#   share/oggmix/         demo.ogg
#   share/oggmix/python/  oggmix.py, the C interface for Python, which finds liboggmix.so in the
#                         lib/ of the same prefix
#   lib/cmake/oggmix/     find_package(oggmix): oggmix::music, oggmix::oggmix, the stack's
#                         oggmix::base, ::decoder, ::stream, ::mixer, ... (libvorbisfile linked
#                         in: nothing to ship beside a program) and oggmix::wuvorbis, the
#                         decoder as a module for a program that names one by path
include(CMakePackageConfigHelpers)

set(OGGMIX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/oggmix)
set(OGGMIX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/oggmix)
set(OGGMIX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/oggmix)

# The stack's libraries, each exported under its folder's name. Every one is part of every
# build: a missing one stops the configure here rather than leaving the package short.
set(_oggmix_libraries)
foreach(_name base decoder stream mixer sound_platform sound feed)
  list(APPEND _oggmix_libraries oggmix_${_name})
  set_target_properties(oggmix_${_name} PROPERTIES EXPORT_NAME ${_name})
  target_include_directories(oggmix_${_name} PUBLIC
    $<INSTALL_INTERFACE:${OGGMIX_INSTALL_INCLUDEDIR}>)
endforeach()
# The music player's headers sit under include/oggmix/ and are named with that prefix, so
# its targets add only include/ to a game's search path.
list(APPEND _oggmix_libraries oggmix_music)
set_target_properties(oggmix_music PROPERTIES EXPORT_NAME music)
set_target_properties(oggmix_c PROPERTIES EXPORT_NAME oggmix)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/music/include/oggmix/
  DESTINATION ${OGGMIX_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
# A consumer that sets no standard of its own still compiles the headers as C++20.
foreach(_lib ${_oggmix_libraries})
  target_compile_features(${_lib} PUBLIC cxx_std_20)
endforeach()
set_target_properties(wuvorbis PROPERTIES EXPORT_NAME wuvorbis)

install(TARGETS ${_oggmix_libraries} wuvorbis EXPORT oggmixTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})  # the module, beside the executables
# On Windows liboggmix.dll goes beside the programs, its import library and .def to lib/.
install(TARGETS oggmix_c EXPORT oggmixTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/music/oggmix.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# The test application installs itself (app/), which is built when OGGMIX_BUILD_APP is on.
install(TARGETS oggmix-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/demo.ogg DESTINATION ${OGGMIX_INSTALL_DATADIR})
install(FILES ${PROJECT_SOURCE_DIR}/python/oggmix.py DESTINATION ${OGGMIX_INSTALL_DATADIR}/python)

# Public headers only: a unit's private *_Internal.h stays behind, as do the vector kernels'
# templates (which need it), the decoding library's C source and the music player's inside.
# The platform rooms hold only their own sources.
foreach(_dir base decoder stream mixer sound feed)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${_dir}/
    DESTINATION ${OGGMIX_INSTALL_INCLUDEDIR}/${_dir}
    FILES_MATCHING PATTERN "*.h"
    PATTERN "*_Internal.h" EXCLUDE
    PATTERN "RenderKernels_Vector.h" EXCLUDE
    PATTERN "wuvorbis" EXCLUDE
    PATTERN "linux" EXCLUDE
    PATTERN "windows" EXCLUDE)
endforeach()

# pkg-config modules that the installed static libraries link: the package finds them again for
# its user. The imported targets are named after their modules (PkgConfig::SDL2 is sdl2).
set(OGGMIX_PACKAGE_PKGCONFIG)
foreach(_lib ${_oggmix_libraries})
  get_target_property(_links ${_lib} LINK_LIBRARIES)
  foreach(_link ${_links})
    if(_link MATCHES "^PkgConfig::([A-Za-z0-9_]+)$")
      string(TOLOWER ${CMAKE_MATCH_1} _module)
      list(APPEND OGGMIX_PACKAGE_PKGCONFIG "${CMAKE_MATCH_1}=${_module}")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES OGGMIX_PACKAGE_PKGCONFIG)

install(EXPORT oggmixTargets NAMESPACE oggmix:: DESTINATION ${OGGMIX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/oggmixConfig.cmake.in
  ${CMAKE_BINARY_DIR}/oggmixConfig.cmake
  INSTALL_DESTINATION ${OGGMIX_INSTALL_CMAKEDIR}
  PATH_VARS OGGMIX_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/oggmixConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/oggmixConfig.cmake ${CMAKE_BINARY_DIR}/oggmixConfigVersion.cmake
  DESTINATION ${OGGMIX_INSTALL_CMAKEDIR})
