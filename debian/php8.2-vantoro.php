mod debian/build-php/ext/modules/vantoro.so
mod debian/vantoro.ini
