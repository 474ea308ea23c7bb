/* The PHP extension "vantoro", over the engine's C interface (vantoro/vantoro.h).
 *
 *   Vantoro\Marquel        the script component's members for pages moved over
 *                          from server page scripts: CopyRStr, Rndstr, RndContent
 *   Vantoro\OutputHandler  an ob_start() callable that protects an HTML response
 *   Vantoro\protect_page(), protect_content(), protect()   one call, one handle
 *   Vantoro\Exception      every failure the engine reports, with its message
 *
 * PHP strings are bytes and go to the engine as pointer and length, so NUL
 * bytes and text that is not UTF-8 pass through as they are. */
#ifdef HAVE_CONFIG_H
#include "config.h"
#endif

#include "php.h"
#include "SAPI.h"
#include "ext/spl/spl_exceptions.h"
#include "ext/standard/info.h"
#include "main/php_output.h"
#include "zend_exceptions.h"
#include "zend_smart_str.h"

#include <string.h>

#include <vantoro/vantoro.h>

#include "php_vantoro.h"
#include "vantoro_arginfo.h"

static zend_class_entry *vantoro_ce_exception;
static zend_class_entry *vantoro_ce_marquel;
static zend_class_entry *vantoro_ce_output_handler;
static zend_object_handlers vantoro_marquel_handlers;
static zend_object_handlers vantoro_output_handler_handlers;

/* One engine handle per PHP object. The handle keeps its settings, so the
 * object only remembers what PHP code may read back or clone. */
typedef struct {
  vantoro_handle *handle;        /* NULL only when creating it ran out of memory */
  zend_string *applied_copyright; /* the copyright text the handle holds */
  zend_long decoy_kind;
  zend_string *charset;          /* NULL: the engine's default, UTF-8 */
  smart_str pending;             /* OutputHandler: the response so far */
  zend_object std;
} vantoro_object;

static inline vantoro_object *vantoro_from(zend_object *object) {
  return (vantoro_object *)((char *)object - XtOffsetOf(vantoro_object, std));
}
#define THIS_VANTORO() vantoro_from(Z_OBJ_P(ZEND_THIS))

typedef vantoro_status (*vantoro_pass)(vantoro_handle *, const char *, size_t, char **, size_t *);

/* ---- errors ---------------------------------------------------------------- */

static void throw_status(const vantoro_handle *handle, vantoro_status status) {
  const char *message = handle ? vantoro_last_error(handle) : NULL;
  if (!message || !*message) {
    message = status == VANTORO_OUT_OF_MEMORY ? "out of memory" : vantoro_status_name(status);
  }
  zend_throw_exception(vantoro_ce_exception, message, (zend_long)status);
}

static vantoro_handle *live_handle(vantoro_object *object) {
  if (!object->handle) {
    throw_status(NULL, VANTORO_OUT_OF_MEMORY);
  }
  return object->handle;
}

/* ---- options arrays ---------------------------------------------------------- */

typedef struct {
  zend_string *copyright;
  zend_string *charset;
  zend_long decoy_kind;
  bool has_decoy_kind;
} vantoro_options;

/* The engine takes a character set name as a C string: a NUL inside would
 * silently cut it short. */
static bool charset_name_ok(const zend_string *name) {
  return memchr(ZSTR_VAL(name), '\0', ZSTR_LEN(name)) == NULL;
}

static zend_result parse_options(HashTable *table, uint32_t arg_num, vantoro_options *out) {
  zend_string *key;
  zval *value;
  memset(out, 0, sizeof *out);
  if (!table) {
    return SUCCESS;
  }
  ZEND_HASH_FOREACH_STR_KEY_VAL(table, key, value) {
    ZVAL_DEREF(value);
    if (!key) {
      zend_argument_value_error(arg_num, "must only have the keys \"copyright\", \"decoy\" and \"charset\"");
      return FAILURE;
    }
    if (zend_string_equals_literal(key, "copyright")) {
      if (Z_TYPE_P(value) != IS_STRING) {
        zend_argument_type_error(arg_num, "option \"copyright\" must be of type string, %s given",
                                 zend_zval_type_name(value));
        return FAILURE;
      }
      out->copyright = Z_STR_P(value);
    } else if (zend_string_equals_literal(key, "decoy")) {
      if (Z_TYPE_P(value) != IS_LONG) {
        zend_argument_type_error(arg_num, "option \"decoy\" must be of type int, %s given",
                                 zend_zval_type_name(value));
        return FAILURE;
      }
      out->decoy_kind = Z_LVAL_P(value);
      out->has_decoy_kind = true;
    } else if (zend_string_equals_literal(key, "charset")) {
      if (Z_TYPE_P(value) != IS_STRING) {
        zend_argument_type_error(arg_num, "option \"charset\" must be of type string, %s given",
                                 zend_zval_type_name(value));
        return FAILURE;
      }
      if (!charset_name_ok(Z_STR_P(value))) {
        zend_argument_value_error(arg_num, "option \"charset\" must not contain any null bytes");
        return FAILURE;
      }
      out->charset = Z_STR_P(value);
    } else {
      zend_argument_value_error(arg_num,
                                "has the unknown option \"%s\" (known: copyright, decoy, charset)",
                                ZSTR_VAL(key));
      return FAILURE;
    }
  } ZEND_HASH_FOREACH_END();
  return SUCCESS;
}

/* Kinds the enum can carry go to the engine, so that PHP code sees the
 * engine's own message; it would print a negative one as unsigned. */
static bool set_decoy_kind(vantoro_handle *handle, zend_long kind) {
  vantoro_status status;
  if (kind < 0 || kind > INT_MAX) {
    zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                            "unknown decoy kind " ZEND_LONG_FMT, kind);
    return false;
  }
  status = vantoro_set_decoy_kind(handle, (vantoro_decoy_kind)(int)kind);
  if (status != VANTORO_OK) {
    throw_status(handle, status);
    return false;
  }
  return true;
}

static bool set_charset(vantoro_handle *handle, const zend_string *name) {
  vantoro_status status = vantoro_set_charset(handle, ZSTR_VAL(name));
  if (status != VANTORO_OK) {
    throw_status(handle, status);
    return false;
  }
  return true;
}

static bool set_copyright(vantoro_handle *handle, const zend_string *text) {
  vantoro_status status = vantoro_set_copyright(handle, ZSTR_VAL(text), ZSTR_LEN(text));
  if (status != VANTORO_OK) {
    throw_status(handle, status);
    return false;
  }
  return true;
}

static bool configure(vantoro_handle *handle, const vantoro_options *options) {
  return (!options->charset || set_charset(handle, options->charset)) &&
         (!options->has_decoy_kind || set_decoy_kind(handle, options->decoy_kind)) &&
         (!options->copyright || set_copyright(handle, options->copyright));
}

static void remember_options(vantoro_object *object, const vantoro_options *options) {
  if (options->charset) {
    if (object->charset) {
      zend_string_release(object->charset);
    }
    object->charset = zend_string_copy(options->charset);
  }
  if (options->has_decoy_kind) {
    object->decoy_kind = options->decoy_kind;
  }
  if (options->copyright) {
    zend_string_release(object->applied_copyright);
    object->applied_copyright = zend_string_copy(options->copyright);
  }
}

/* ---- running a pass ------------------------------------------------------------ */

/* The engine's result is malloc'd: it must be released even when copying it
 * into PHP's memory hits memory_limit (a bailout), or a long-running worker
 * would leak a page per failure. `owned`, if given, is released there too. */
static zend_string *run_pass(vantoro_handle *handle, vantoro_pass pass, const char *text,
                             size_t length, vantoro_handle *owned) {
  char *out = NULL;
  size_t out_length = 0;
  zend_string *result = NULL;
  vantoro_status status = pass(handle, text, length, &out, &out_length);
  if (status != VANTORO_OK) {
    throw_status(handle, status);
    return NULL;
  }
  zend_try {
    result = zend_string_init(out, out_length, 0);
  } zend_catch {
    vantoro_free(out);
    vantoro_destroy(owned);
    zend_bailout();
  } zend_end_try();
  vantoro_free(out);
  return result;
}

/* ---- objects ------------------------------------------------------------------- */

static zend_object *vantoro_create_object(zend_class_entry *ce) {
  vantoro_object *object = zend_object_alloc(sizeof(vantoro_object), ce);
  zend_object_std_init(&object->std, ce);
  object_properties_init(&object->std, ce);
  if (vantoro_create(&object->handle) != VANTORO_OK) {
    object->handle = NULL;
  }
  object->applied_copyright = ZSTR_EMPTY_ALLOC();
  object->decoy_kind = VANTORO_DECOY_COPYRIGHT;
  object->charset = NULL;
  memset(&object->pending, 0, sizeof object->pending);
  object->std.handlers = ce == vantoro_ce_marquel ? &vantoro_marquel_handlers
                                                  : &vantoro_output_handler_handlers;
  return &object->std;
}

static void vantoro_free_object(zend_object *std) {
  vantoro_object *object = vantoro_from(std);
  vantoro_destroy(object->handle);
  object->handle = NULL;
  zend_string_release(object->applied_copyright);
  if (object->charset) {
    zend_string_release(object->charset);
  }
  smart_str_free(&object->pending);
  zend_object_std_dtor(std);
}

/* A clone gets its own handle with the same settings; its random values come
 * from its own source (replayed values stay with the original). */
static zend_object *vantoro_clone_marquel(zend_object *old_std) {
  vantoro_object *old = vantoro_from(old_std);
  zend_object *new_std = vantoro_create_object(old_std->ce);
  vantoro_object *copy = vantoro_from(new_std);
  zend_objects_clone_members(new_std, old_std);
  if (!copy->handle) {
    throw_status(NULL, VANTORO_OUT_OF_MEMORY);
    return new_std;
  }
  if (old->charset && set_charset(copy->handle, old->charset)) {
    copy->charset = zend_string_copy(old->charset);
  }
  if (!EG(exception) && set_decoy_kind(copy->handle, old->decoy_kind)) {
    copy->decoy_kind = old->decoy_kind;
  }
  return new_std;
}

/* ---- Vantoro\Marquel ---------------------------------------------------------------- */

/* CopyRStr is a plain typed property, so reading it gives what was set and any
 * way of writing it works (assignment, .=, references). Each pass hands the
 * engine the current text when it differs from what the handle holds: one
 * pointer comparison in the common case. */
static vantoro_handle *marquel_ready(vantoro_object *object) {
  vantoro_handle *handle = live_handle(object);
  zval *property;
  zend_string *text;
  if (!handle) {
    return NULL;
  }
  property = OBJ_PROP_NUM(&object->std, 0);
  ZVAL_DEREF(property);
  text = Z_TYPE_P(property) == IS_STRING ? Z_STR_P(property) : ZSTR_EMPTY_ALLOC();
  if (text == object->applied_copyright) {
    return handle;
  }
  if (!zend_string_equals(text, object->applied_copyright) && !set_copyright(handle, text)) {
    return NULL;
  }
  zend_string_release(object->applied_copyright);
  object->applied_copyright = zend_string_copy(text);
  return handle;
}

/* Scripts moved over from the component spell its property in any case
 * (CopyRstr, copyrstr): they all mean the one typed property, where PHP would
 * otherwise create a separate dynamic property that the engine never sees. */
static zend_string *vantoro_copyrstr_name;

static zend_string *marquel_property(zend_string *name, void ***cache_slot) {
  if (ZSTR_LEN(name) == ZSTR_LEN(vantoro_copyrstr_name) &&
      !zend_string_equals(name, vantoro_copyrstr_name) &&
      zend_binary_strcasecmp(ZSTR_VAL(name), ZSTR_LEN(name), ZSTR_VAL(vantoro_copyrstr_name),
                             ZSTR_LEN(vantoro_copyrstr_name)) == 0) {
    *cache_slot = NULL;
    return vantoro_copyrstr_name;
  }
  return name;
}

static zval *marquel_read_property(zend_object *object, zend_string *name, int type,
                                   void **cache_slot, zval *rv) {
  name = marquel_property(name, &cache_slot);
  return zend_std_read_property(object, name, type, cache_slot, rv);
}

static zval *marquel_write_property(zend_object *object, zend_string *name, zval *value,
                                    void **cache_slot) {
  name = marquel_property(name, &cache_slot);
  return zend_std_write_property(object, name, value, cache_slot);
}

static zval *marquel_get_property_ptr_ptr(zend_object *object, zend_string *name, int type,
                                          void **cache_slot) {
  name = marquel_property(name, &cache_slot);
  return zend_std_get_property_ptr_ptr(object, name, type, cache_slot);
}

static int marquel_has_property(zend_object *object, zend_string *name, int has_set_exists,
                                void **cache_slot) {
  name = marquel_property(name, &cache_slot);
  return zend_std_has_property(object, name, has_set_exists, cache_slot);
}

static void marquel_unset_property(zend_object *object, zend_string *name, void **cache_slot) {
  name = marquel_property(name, &cache_slot);
  zend_std_unset_property(object, name, cache_slot);
}

static void marquel_pass(INTERNAL_FUNCTION_PARAMETERS, vantoro_pass pass, bool null_allowed) {
  zend_string *text = NULL;
  vantoro_handle *handle;
  zend_string *result;
  if (null_allowed) {
    ZEND_PARSE_PARAMETERS_START(1, 1)
      Z_PARAM_STR_OR_NULL(text)
    ZEND_PARSE_PARAMETERS_END();
  } else {
    ZEND_PARSE_PARAMETERS_START(1, 1)
      Z_PARAM_STR(text)
    ZEND_PARSE_PARAMETERS_END();
  }
  handle = marquel_ready(THIS_VANTORO());
  if (!handle) {
    RETURN_THROWS();
  }
  /* The component treats a missing page as the empty text. */
  result = text ? run_pass(handle, pass, ZSTR_VAL(text), ZSTR_LEN(text), NULL)
                : run_pass(handle, pass, "", 0, NULL);
  if (!result) {
    RETURN_THROWS();
  }
  RETURN_NEW_STR(result);
}

static void construct_with_options(INTERNAL_FUNCTION_PARAMETERS, bool copyright_is_property) {
  HashTable *table = NULL;
  vantoro_options options;
  vantoro_object *object = THIS_VANTORO();
  vantoro_handle *handle;
  ZEND_PARSE_PARAMETERS_START(0, 1)
    Z_PARAM_OPTIONAL
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  if (parse_options(table, 1, &options) == FAILURE) {
    RETURN_THROWS();
  }
  handle = live_handle(object);
  if (!handle || !configure(handle, &options)) {
    RETURN_THROWS();
  }
  remember_options(object, &options);
  if (copyright_is_property && options.copyright) {
    zend_update_property_str(vantoro_ce_marquel, &object->std, ZEND_STRL("CopyRStr"),
                             options.copyright);
  }
}

ZEND_METHOD(Vantoro_Marquel, __construct) {
  construct_with_options(INTERNAL_FUNCTION_PARAM_PASSTHRU, true);
}

/* The component's loading step and page hooks. The engine is ready once
 * created, so they only keep scripts that call them working. */
ZEND_METHOD(Vantoro_Marquel, Load) {
  ZEND_PARSE_PARAMETERS_NONE();
}

ZEND_METHOD(Vantoro_Marquel, onstartpage) {
  zval *context = NULL;
  ZEND_PARSE_PARAMETERS_START(0, 1)
    Z_PARAM_OPTIONAL
    Z_PARAM_ZVAL(context)
  ZEND_PARSE_PARAMETERS_END();
  (void)context;
}

ZEND_METHOD(Vantoro_Marquel, onendpage) {
  ZEND_PARSE_PARAMETERS_NONE();
}

ZEND_METHOD(Vantoro_Marquel, Rndstr) {
  marquel_pass(INTERNAL_FUNCTION_PARAM_PASSTHRU, vantoro_protect_page, true);
}

ZEND_METHOD(Vantoro_Marquel, RndContent) {
  marquel_pass(INTERNAL_FUNCTION_PARAM_PASSTHRU, vantoro_protect_content, true);
}

ZEND_METHOD(Vantoro_Marquel, protect) {
  marquel_pass(INTERNAL_FUNCTION_PARAM_PASSTHRU, vantoro_protect, false);
}

ZEND_METHOD(Vantoro_Marquel, setDecoyKind) {
  zend_long kind;
  vantoro_object *object = THIS_VANTORO();
  vantoro_handle *handle;
  ZEND_PARSE_PARAMETERS_START(1, 1)
    Z_PARAM_LONG(kind)
  ZEND_PARSE_PARAMETERS_END();
  handle = live_handle(object);
  if (!handle || !set_decoy_kind(handle, kind)) {
    RETURN_THROWS();
  }
  object->decoy_kind = kind;
}

ZEND_METHOD(Vantoro_Marquel, getDecoyKind) {
  ZEND_PARSE_PARAMETERS_NONE();
  RETURN_LONG(THIS_VANTORO()->decoy_kind);
}

ZEND_METHOD(Vantoro_Marquel, setCharset) {
  zend_string *charset;
  vantoro_object *object = THIS_VANTORO();
  vantoro_handle *handle;
  ZEND_PARSE_PARAMETERS_START(1, 1)
    Z_PARAM_STR(charset)
  ZEND_PARSE_PARAMETERS_END();
  if (!charset_name_ok(charset)) {
    zend_argument_value_error(1, "must not contain any null bytes");
    RETURN_THROWS();
  }
  handle = live_handle(object);
  if (!handle || !set_charset(handle, charset)) {
    RETURN_THROWS();
  }
  if (object->charset) {
    zend_string_release(object->charset);
  }
  object->charset = zend_string_copy(charset);
}

ZEND_METHOD(Vantoro_Marquel, getCharset) {
  vantoro_object *object = THIS_VANTORO();
  ZEND_PARSE_PARAMETERS_NONE();
  if (object->charset) {
    RETURN_STR_COPY(object->charset);
  }
  RETURN_STRING("UTF-8");
}

/* For tests and bug reports: the handle's following random decisions take
 * these values, each in [0, 1), in order; [] goes back to real randomness. */
static void replay_values(INTERNAL_FUNCTION_PARAMETERS) {
  HashTable *table;
  zval *value;
  double *values = NULL;
  size_t count = 0;
  vantoro_object *object = THIS_VANTORO();
  vantoro_handle *handle;
  vantoro_status status;
  ZEND_PARSE_PARAMETERS_START(1, 1)
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  handle = live_handle(object);
  if (!handle) {
    RETURN_THROWS();
  }
  if (zend_hash_num_elements(table) > 0) {
    values = safe_emalloc(zend_hash_num_elements(table), sizeof(double), 0);
  }
  ZEND_HASH_FOREACH_VAL(table, value) {
    ZVAL_DEREF(value);
    if (Z_TYPE_P(value) == IS_DOUBLE) {
      values[count++] = Z_DVAL_P(value);
    } else if (Z_TYPE_P(value) == IS_LONG) {
      values[count++] = (double)Z_LVAL_P(value);
    } else {
      zend_argument_type_error(1, "must contain only int or float values, %s given",
                               zend_zval_type_name(value));
      if (values) {
        efree(values);
      }
      RETURN_THROWS();
    }
  } ZEND_HASH_FOREACH_END();
  status = vantoro_replay(handle, values, count);
  if (values) {
    efree(values);
  }
  if (status != VANTORO_OK) {
    throw_status(handle, status);
    RETURN_THROWS();
  }
}

ZEND_METHOD(Vantoro_Marquel, replay) {
  replay_values(INTERNAL_FUNCTION_PARAM_PASSTHRU);
}

/* ---- Vantoro\OutputHandler ------------------------------------------------------- */

static bool header_named(const sapi_header_struct *header, const char *name, size_t name_length) {
  return header->header_len > name_length && header->header[name_length] == ':' &&
         strncasecmp(header->header, name, name_length) == 0;
}

/* The media type alone: "text/html; charset=UTF-8" -> "text/html". */
static bool media_type_is_html(const char *type, size_t length) {
  size_t end;
  while (length > 0 && (*type == ' ' || *type == '\t')) {
    type++;
    length--;
  }
  for (end = 0; end < length && type[end] != ';' && type[end] != ' ' && type[end] != '\t'; end++) {
  }
  return (end == 9 && strncasecmp(type, "text/html", 9) == 0) ||
         (end == 21 && strncasecmp(type, "application/xhtml+xml", 21) == 0);
}

/* Only an HTML response is markup the passes understand; a response that is
 * compressed already (Content-Encoding set by the script or an inner handler)
 * is bytes. Without a Content-Type header PHP sends default_mimetype. */
static bool response_is_plain_html(void) {
  zend_llist_position position;
  const sapi_header_struct *header;
  const char *type = NULL;
  size_t type_length = 0;
  for (header = zend_llist_get_first_ex(&SG(sapi_headers).headers, &position); header;
       header = zend_llist_get_next_ex(&SG(sapi_headers).headers, &position)) {
    if (header_named(header, "Content-Encoding", sizeof("Content-Encoding") - 1)) {
      return false;
    }
    if (header_named(header, "Content-Type", sizeof("Content-Type") - 1)) {
      type = header->header + sizeof("Content-Type");
      type_length = header->header_len - sizeof("Content-Type");
    }
  }
  if (!type) {
    type = SG(default_mimetype) ? SG(default_mimetype) : SAPI_DEFAULT_MIMETYPE;
    type_length = strlen(type);
  }
  return media_type_is_html(type, type_length);
}

ZEND_METHOD(Vantoro_OutputHandler, __construct) {
  construct_with_options(INTERNAL_FUNCTION_PARAM_PASSTHRU, false);
}

/* PHP calls this with each chunk and the phase flags. Everything is held back
 * until the final call so that the page is protected as one text (a tag split
 * between two chunks is still one tag); intermediate calls return "". The
 * response is never lost: anything but HTML, an empty body, or an engine
 * failure (reported as a warning) passes through unchanged. */
ZEND_METHOD(Vantoro_OutputHandler, __invoke) {
  zend_string *buffer;
  zend_long phase;
  vantoro_object *object = THIS_VANTORO();
  zend_string *page;
  char *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  ZEND_PARSE_PARAMETERS_START(2, 2)
    Z_PARAM_STR(buffer)
    Z_PARAM_LONG(phase)
  ZEND_PARSE_PARAMETERS_END();

  if (phase & PHP_OUTPUT_HANDLER_CLEAN) {
    /* ob_clean() drops this chunk; ob_end_clean() drops the whole response. */
    if (phase & PHP_OUTPUT_HANDLER_FINAL) {
      smart_str_free(&object->pending);
    }
    RETURN_EMPTY_STRING();
  }
  if (!(phase & PHP_OUTPUT_HANDLER_FINAL)) {
    smart_str_append(&object->pending, buffer);
    RETURN_EMPTY_STRING();
  }
  if (object->pending.s) {
    smart_str_append(&object->pending, buffer);
    page = smart_str_extract(&object->pending);
  } else {
    page = zend_string_copy(buffer);
  }
  if (ZSTR_LEN(page) == 0 || !object->handle || !response_is_plain_html()) {
    RETURN_STR(page);
  }
  status = vantoro_protect(object->handle, ZSTR_VAL(page), ZSTR_LEN(page), &out, &out_length);
  if (status != VANTORO_OK) {
    php_error_docref(NULL, E_WARNING, "%s; the response is sent unprotected",
                     vantoro_last_error(object->handle));
    RETURN_STR(page);
  }
  zend_string_release(page);
  zend_try {
    RETVAL_STRINGL(out, out_length);
  } zend_catch {
    vantoro_free(out);
    zend_bailout();
  } zend_end_try();
  vantoro_free(out);
}

ZEND_METHOD(Vantoro_OutputHandler, replay) {
  replay_values(INTERNAL_FUNCTION_PARAM_PASSTHRU);
}

/* ---- functions --------------------------------------------------------------------- */

ZEND_FUNCTION(Vantoro_output_handler) {
  HashTable *table = NULL;
  vantoro_options options;
  zend_object *std;
  vantoro_object *object;
  ZEND_PARSE_PARAMETERS_START(0, 1)
    Z_PARAM_OPTIONAL
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  if (parse_options(table, 1, &options) == FAILURE) {
    RETURN_THROWS();
  }
  std = vantoro_create_object(vantoro_ce_output_handler);
  object = vantoro_from(std);
  if (!live_handle(object) || !configure(object->handle, &options)) {
    OBJ_RELEASE(std);
    RETURN_THROWS();
  }
  remember_options(object, &options);
  RETURN_OBJ(std);
}

/* The one-call functions: a fresh handle with the given options, one pass. */
static void protect_once(INTERNAL_FUNCTION_PARAMETERS, vantoro_pass pass) {
  zend_string *text;
  HashTable *table = NULL;
  vantoro_options options;
  vantoro_handle *handle = NULL;
  vantoro_status status;
  zend_string *result = NULL;
  ZEND_PARSE_PARAMETERS_START(1, 2)
    Z_PARAM_STR(text)
    Z_PARAM_OPTIONAL
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  if (parse_options(table, 2, &options) == FAILURE) {
    RETURN_THROWS();
  }
  status = vantoro_create(&handle);
  if (status != VANTORO_OK) {
    throw_status(NULL, status);
    RETURN_THROWS();
  }
  if (configure(handle, &options)) {
    result = run_pass(handle, pass, ZSTR_VAL(text), ZSTR_LEN(text), handle);
  }
  vantoro_destroy(handle);
  if (!result) {
    RETURN_THROWS();
  }
  RETURN_NEW_STR(result);
}

ZEND_FUNCTION(Vantoro_protect_page) {
  protect_once(INTERNAL_FUNCTION_PARAM_PASSTHRU, vantoro_protect_page);
}

ZEND_FUNCTION(Vantoro_protect_content) {
  protect_once(INTERNAL_FUNCTION_PARAM_PASSTHRU, vantoro_protect_content);
}

ZEND_FUNCTION(Vantoro_protect) {
  protect_once(INTERNAL_FUNCTION_PARAM_PASSTHRU, vantoro_protect);
}

/* ---- module ---------------------------------------------------------------------- */

PHP_MINIT_FUNCTION(vantoro) {
  register_vantoro_symbols(module_number);
  vantoro_ce_exception = register_class_Vantoro_Exception(spl_ce_RuntimeException);

  vantoro_ce_marquel = register_class_Vantoro_Marquel();
  vantoro_ce_marquel->create_object = vantoro_create_object;
  memcpy(&vantoro_marquel_handlers, zend_get_std_object_handlers(), sizeof(zend_object_handlers));
  vantoro_marquel_handlers.offset = XtOffsetOf(vantoro_object, std);
  vantoro_marquel_handlers.free_obj = vantoro_free_object;
  vantoro_marquel_handlers.clone_obj = vantoro_clone_marquel;
  vantoro_marquel_handlers.read_property = marquel_read_property;
  vantoro_marquel_handlers.write_property = marquel_write_property;
  vantoro_marquel_handlers.get_property_ptr_ptr = marquel_get_property_ptr_ptr;
  vantoro_marquel_handlers.has_property = marquel_has_property;
  vantoro_marquel_handlers.unset_property = marquel_unset_property;
  vantoro_copyrstr_name = zend_string_init_interned("CopyRStr", sizeof("CopyRStr") - 1, 1);

  /* A handler holds a half-collected response: a copy of it has no meaning. */
  vantoro_ce_output_handler = register_class_Vantoro_OutputHandler();
  vantoro_ce_output_handler->create_object = vantoro_create_object;
  memcpy(&vantoro_output_handler_handlers, zend_get_std_object_handlers(), sizeof(zend_object_handlers));
  vantoro_output_handler_handlers.offset = XtOffsetOf(vantoro_object, std);
  vantoro_output_handler_handlers.free_obj = vantoro_free_object;
  vantoro_output_handler_handlers.clone_obj = NULL;
  return SUCCESS;
}

/* Thread-safe builds reach SG() and EG() through a per-thread cache. */
PHP_RINIT_FUNCTION(vantoro) {
#if defined(ZTS) && defined(COMPILE_DL_VANTORO)
  ZEND_TSRMLS_CACHE_UPDATE();
#endif
  return SUCCESS;
}

PHP_MINFO_FUNCTION(vantoro) {
  php_info_print_table_start();
  php_info_print_table_header(2, "vantoro support", "enabled");
  php_info_print_table_row(2, "engine version", vantoro_version());
  php_info_print_table_end();
}

zend_module_entry vantoro_module_entry = {
  STANDARD_MODULE_HEADER,
  "vantoro",
  ext_functions,
  PHP_MINIT(vantoro),
  NULL,
  PHP_RINIT(vantoro),
  NULL,
  PHP_MINFO(vantoro),
  PHP_VANTORO_VERSION,
  STANDARD_MODULE_PROPERTIES,
};

#ifdef COMPILE_DL_VANTORO
#ifdef ZTS
ZEND_TSRMLS_CACHE_DEFINE()
#endif
ZEND_GET_MODULE(vantoro)
#endif
