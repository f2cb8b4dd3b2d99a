# Cross-building for Windows x64 with Debian's mingw-w64 compilers of the posix thread model
# (std::thread and std::mutex need it). OGGMIX_WINDOWS_DEPS is the prefix scripts/build-windows
# builds libogg, libvorbis, libsoxr and GoogleTest into; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_oggmix_host x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_oggmix_host}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_oggmix_host}-g++-posix)
set(CMAKE_RC_COMPILER ${_oggmix_host}-windres)

# The toolchain file is read again for each compiler check, which must see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OGGMIX_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${_oggmix_host} ${OGGMIX_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(OGGMIX_WINDOWS_DEPS)
  set(ENV{PKG_CONFIG_LIBDIR} ${OGGMIX_WINDOWS_DEPS}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
endif()
# The libraries are static: linking one needs what it links itself (libvorbis needs libogg).
set(PKG_CONFIG_ARGN --static)

# The C and C++ run times and winpthread linked in: the programs and liboggmix.dll need no DLL
# beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# Wine's own diagnostics (a missing display, fonts) are not the program's output.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine)
