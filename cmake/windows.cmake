# Marquel.dll for 64-bit and 32-bit Windows, each a separate cross build of
# src/windows, and its tests: the export table, and a real script host
# (Wine's cscript) driving the registered component.
include(ExternalProject)
find_program(VANTORO_WINE wine)
find_program(VANTORO_OBJDUMP_x86_64 x86_64-w64-mingw32-objdump)
find_program(VANTORO_OBJDUMP_i686 i686-w64-mingw32-objdump)

# Without Wine (or its 32-bit half) the Wine tests skip, unless this is set: then
# they fail, so that a build meant to test the DLL cannot pass untested.
# Under CI=true (the CI run) they are required.
if("$ENV{CI}" STREQUAL "true")
  set(vantoro_wine_default ON)
else()
  set(vantoro_wine_default OFF)
endif()
option(VANTORO_WINE_REQUIRED "Fail the Wine tests, rather than skip them, when Wine is missing" ${vantoro_wine_default})

foreach(arch x86_64 i686)
  find_program(VANTORO_MINGW_${arch} ${arch}-w64-mingw32-g++-posix)
  find_program(VANTORO_WIDL_${arch} ${arch}-w64-mingw32-widl)
  # Asking for the DLLs and getting none must not look like success.
  if(NOT VANTORO_MINGW_${arch} OR NOT VANTORO_WIDL_${arch} OR NOT VANTORO_OBJDUMP_${arch})
    string(REPLACE "_" "-" package ${arch})
    message(FATAL_ERROR "VANTORO_WINDOWS: MinGW-w64 for ${arch} not found "
                        "(packages g++-mingw-w64-${package}, mingw-w64-tools, libwine-dev)")
  endif()
  set(dll_dir ${CMAKE_BINARY_DIR}/windows-${arch})
  ExternalProject_Add(marquel_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/src/windows
    BINARY_DIR ${dll_dir}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw.cmake
               -DVANTORO_MINGW_ARCH=${arch}
               -DCMAKE_BUILD_TYPE=Release -DVANTORO_WERROR=${VANTORO_WERROR}
               -DVANTORO_VERSION=${PROJECT_VERSION}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)

  if(VANTORO_BUILD_TESTS)
    add_test(NAME windows_${arch}_exports
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows/check_exports.sh
                     ${VANTORO_OBJDUMP_${arch}} ${dll_dir}/Marquel.dll)
    set_tests_properties(windows_${arch}_exports PROPERTIES LABELS adapter)
    if(arch STREQUAL "x86_64")
      set(wine_arch win64)
    else()
      set(wine_arch win32)
    endif()
    add_test(NAME windows_${arch}_wine
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows/run_wine_tests.sh
                     ${dll_dir}/Marquel.dll ${wine_arch} ${CMAKE_BINARY_DIR}/wine-${arch}
                     $<IF:$<BOOL:${VANTORO_WINE_REQUIRED}>,required,optional>)
    # 77: Wine is not installed (and not required), or this machine cannot run
    # 32-bit programs; the test reports a skip.
    set_tests_properties(windows_${arch}_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                         RUN_SERIAL ON LABELS adapter)
  endif()
endforeach()
