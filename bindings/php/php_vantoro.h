/* The PHP extension "vantoro": the engine's C interface as PHP classes and
 * functions in the namespace Vantoro. */
#ifndef PHP_VANTORO_H
#define PHP_VANTORO_H

#include <vantoro/version.h>

extern zend_module_entry vantoro_module_entry;
#define phpext_vantoro_ptr &vantoro_module_entry

#define PHP_VANTORO_VERSION VANTORO_VERSION_STRING

#if defined(ZTS) && defined(COMPILE_DL_VANTORO)
ZEND_TSRMLS_CACHE_EXTERN()
#endif

#endif /* PHP_VANTORO_H */
