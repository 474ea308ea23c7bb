dnl The extension links the engine's static library into vantoro.so, so the
dnl installed module needs nothing but the C++ runtime.

PHP_ARG_WITH([vantoro],
  [for Vantoro support],
  [AS_HELP_STRING([[--with-vantoro[=DIR]]],
    [Include Vantoro support. DIR is the library's install prefix or its CMake
     build folder; without DIR, pkg-config finds an installed library])])

if test "$PHP_VANTORO" != "no"; then
  VANTORO_ARCHIVE=""
  VANTORO_INCLUDES=""

  if test "$PHP_VANTORO" = "yes"; then
    AC_PATH_PROG([PKG_CONFIG], [pkg-config], [no])
    if test "$PKG_CONFIG" = "no" || ! $PKG_CONFIG --exists 'vantoro >= 2'; then
      AC_MSG_ERROR([vantoro >= 2 not found by pkg-config; give --with-vantoro=DIR])
    fi
    vantoro_libdir=`$PKG_CONFIG --variable=libdir vantoro`
    VANTORO_ARCHIVE="$vantoro_libdir/libvantoro.a"
    VANTORO_INCLUDES=`$PKG_CONFIG --variable=includedir vantoro`
  elif test -f "$PHP_VANTORO/CMakeCache.txt"; then
    dnl A build folder: the public headers stay in the source tree, the
    dnl generated version header is in the build folder.
    vantoro_source=`sed -n 's/^vantoro_SOURCE_DIR:STATIC=//p' "$PHP_VANTORO/CMakeCache.txt"`
    VANTORO_ARCHIVE="$PHP_VANTORO/libvantoro.a"
    VANTORO_INCLUDES="$vantoro_source/include $PHP_VANTORO/include"
  else
    for vantoro_libdir in lib lib64 lib/*-linux-gnu; do
      if test -f "$PHP_VANTORO/$vantoro_libdir/libvantoro.a"; then
        VANTORO_ARCHIVE="$PHP_VANTORO/$vantoro_libdir/libvantoro.a"
        break
      fi
    done
    VANTORO_INCLUDES="$PHP_VANTORO/include"
  fi

  AC_MSG_CHECKING([for libvantoro.a])
  if test -z "$VANTORO_ARCHIVE" || test ! -f "$VANTORO_ARCHIVE"; then
    AC_MSG_ERROR([libvantoro.a not found (build the vantoro_static target or install the library)])
  fi
  AC_MSG_RESULT([$VANTORO_ARCHIVE])

  AC_MSG_CHECKING([for vantoro/vantoro.h and vantoro/version.h])
  vantoro_found_header=no
  vantoro_found_version=no
  for vantoro_dir in $VANTORO_INCLUDES; do
    test -f "$vantoro_dir/vantoro/vantoro.h" && vantoro_found_header=yes
    test -f "$vantoro_dir/vantoro/version.h" && vantoro_found_version=yes
    PHP_ADD_INCLUDE([$vantoro_dir])
  done
  if test "$vantoro_found_header$vantoro_found_version" != "yesyes"; then
    AC_MSG_ERROR([the Vantoro headers are not in: $VANTORO_INCLUDES])
  fi
  AC_MSG_RESULT([$VANTORO_INCLUDES])

  dnl The whole archive's symbols stay inside vantoro.so, so that no other
  dnl module's copy of the engine or of the C++ runtime's templates can clash.
  VANTORO_SHARED_LIBADD="$VANTORO_ARCHIVE -Wl,--exclude-libs,libvantoro.a -lsodium -lstdc++ -lm"
  PHP_SUBST(VANTORO_SHARED_LIBADD)

  AC_DEFINE(HAVE_VANTORO, 1, [Whether the Vantoro engine is linked in])
  PHP_NEW_EXTENSION(vantoro, vantoro.c, $ext_shared,, -DZEND_ENABLE_STATIC_TSRMLS_CACHE=1)
fi
