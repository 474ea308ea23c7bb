# Cross-compiling the Windows DLL with MinGW-w64. VANTORO_MINGW_ARCH picks the
# target: x86_64 (default) or i686. The -posix compilers give std::thread and
# std::mutex.
if(NOT VANTORO_MINGW_ARCH)
  set(VANTORO_MINGW_ARCH x86_64)
endif()
set(triple ${VANTORO_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VANTORO_MINGW_ARCH})
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(VANTORO_WIDL ${triple}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Try-compile projects read this file again; they must see the same target.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTORO_MINGW_ARCH)
