# Fails when a file includes a layer above its own: each folder of src/ may
# include only the folders listed for it (and its own), plus the public headers
# named; everything else is an upward or sideways arrow.
#   cmake -DSOURCE_DIR=... -P layers_test.cmake
set(allowed_text "")
set(allowed_html "text")
set(allowed_random "text;vantoro/error.h;vantoro/random.h")
set(allowed_page "text;html;random;vantoro/version.h")
set(allowed_content "text;html;random;vantoro/random.h")
set(allowed_mark "text;html;vantoro/error.h")
set(allowed_api "text;html;random;page;content;mark;vantoro")
set(allowed_c_api "text;vantoro")  # text: the buffers kept per thread
set(allowed_component "text;html;random;page;content;vantoro/error.h")
set(allowed_cli "vantoro")
set(allowed_windows "component;text")
set(allowed_nginx "vantoro/vantoro.h")  # the C interface only

set(failures "")
set(checked 0)
foreach(layer text html random page content mark api c_api component cli windows nginx)
  file(GLOB files ${SOURCE_DIR}/src/${layer}/*.h ${SOURCE_DIR}/src/${layer}/*.cpp
       ${SOURCE_DIR}/src/${layer}/*.c)
  if(NOT files)
    list(APPEND failures "src/${layer}: no sources found")
  endif()
  foreach(file ${files})
    math(EXPR checked "${checked} + 1")
    # Quoted includes, and the project's own headers however they are written.
    file(STRINGS ${file} includes REGEX "^#include (\"|<vantoro/)")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include [\"<]([^\">]+)[\">].*" "\\1" path "${line}")
      if(NOT path MATCHES "/")
        continue()  # a header beside the file
      endif()
      string(REGEX REPLACE "/.*" "" folder "${path}")
      if(folder STREQUAL layer)
        continue()
      endif()
      set(ok FALSE)
      foreach(allowed ${allowed_${layer}})
        if(path STREQUAL allowed OR folder STREQUAL allowed)
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
        list(APPEND failures "${name} includes ${path}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Includes that point up or sideways:\n  ${text}")
endif()
message(STATUS "${checked} files: every include points down")
