/* The PHP extension "vantoro", over the engine's C interface (vantoro/vantoro.h).
 *
 *   Vantoro\Marquel        the script component's members for pages moved over
 *                          from server page scripts: CopyRStr, Rndstr, RndContent
 *   Vantoro\OutputHandler  an ob_start() callable that protects an HTML response,
 *                          following the web adapters' one response policy
 *   Vantoro\protect_page(), protect_content(), protect()   one call, one handle
 *   Vantoro\stylesheet(), is_protected(), detect_charset()
 *   Vantoro\trace(), new_mark_id(), last_mark_id()   the marks' ids
 *   Vantoro\Exception      every failure the engine reports, with its message
 *
 * PHP strings are bytes and go to the engine as pointer and length, so NUL
 * bytes and text that is not UTF-8 pass through as they are. */
#ifdef HAVE_CONFIG_H
#include "config.h"
#endif

#include "php.h"
#include "SAPI.h"
#include "ext/random/php_random.h"
#include "ext/spl/spl_exceptions.h"
#include "ext/standard/info.h"
#include "main/php_output.h"
#include "zend_exceptions.h"
#include "zend_smart_str.h"

#include <inttypes.h>
#include <string.h>
#include <time.h>

#include <vantoro/vantoro.h>

#include "php_vantoro.h"
#include "vantoro_arginfo.h"

static zend_class_entry *vantoro_ce_exception;
static zend_class_entry *vantoro_ce_marquel;
static zend_class_entry *vantoro_ce_output_handler;
static zend_object_handlers vantoro_marquel_handlers;
static zend_object_handlers vantoro_output_handler_handlers;

/* The mark id of the response the latest handler of this request protects,
 * for the site's access log (Vantoro\last_mark_id()). */
ZEND_BEGIN_MODULE_GLOBALS(vantoro)
  bool has_last_mark_id;
  uint64_t last_mark_id;
ZEND_END_MODULE_GLOBALS(vantoro)
ZEND_DECLARE_MODULE_GLOBALS(vantoro)
#define VANTORO_G(v) ZEND_MODULE_GLOBALS_ACCESSOR(vantoro, v)

/* The settings a handle was given, kept so that PHP code can read them back
 * and a clone can be given the same. */
typedef struct {
  zend_string *charset;          /* NULL: the engine's default, "auto" */
  zend_long decoy_kind;
  zend_long hide;
  zend_string *site_key;         /* NULL: none */
  zend_string *stylesheet_link;  /* NULL: none */
  bool nosnippet;
  bool empty_notices;
  zend_long copy_notices;
  bool marks;
  bool tdm_reservation;
  uint64_t mark_id;
} vantoro_settings;

/* One engine handle per PHP object. */
typedef struct {
  vantoro_handle *handle;         /* NULL only when creating it ran out of memory */
  zend_string *applied_copyright; /* the copyright text the handle holds */
  vantoro_settings settings;
  /* OutputHandler only. */
  vantoro_policy *policy;         /* which responses are protected */
  bool debug;                     /* X-Vantoro-Status on every response */
  bool passing;                   /* the response passes unchanged: ... */
  vantoro_verdict passing_verdict; /* ... because output went before it, or bypass */
  bool bypassed;                  /* the site's bypass callable said so */
  bool has_mark_id;               /* the marks of this request's page carry mark_id */
  uint64_t mark_id;
  zend_string *tdm_policy;        /* NULL: no tdm-policy header */
  smart_str pending;              /* the response so far */
  zend_object std;
} vantoro_object;

static inline vantoro_object *vantoro_from(zend_object *object) {
  return (vantoro_object *)((char *)object - XtOffsetOf(vantoro_object, std));
}
#define THIS_VANTORO() vantoro_from(Z_OBJ_P(ZEND_THIS))

typedef vantoro_status (*vantoro_pass)(vantoro_handle *, const char *, size_t, char **, size_t *);

/* ---- errors ---------------------------------------------------------------- */

static void throw_message(const char *message, vantoro_status status) {
  if (!message || !*message) {
    message = status == VANTORO_OUT_OF_MEMORY ? "out of memory" : vantoro_status_name(status);
  }
  zend_throw_exception(vantoro_ce_exception, message, (zend_long)status);
}

static void throw_status(const vantoro_handle *handle, vantoro_status status) {
  throw_message(handle ? vantoro_last_error(handle) : NULL, status);
}

/* True when the call succeeded; otherwise the engine's failure is thrown. */
static bool check(const vantoro_handle *handle, vantoro_status status) {
  if (status != VANTORO_OK) {
    throw_status(handle, status);
    return false;
  }
  return true;
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
  zend_string *site_key;
  zend_string *stylesheet_link;
  HashTable *types;
  zend_long decoy_kind;
  zend_long hide;
  bool has_decoy_kind, has_hide;
  bool has_nosnippet, nosnippet;
  bool has_empty_notices, empty_notices;
  bool has_copy_notices;
  zend_long copy_notices;
  bool has_marks, marks;
  bool has_tdm_reservation, tdm_reservation;
  zval *mark_id;                 /* int or string, checked when applied */
  bool has_mark_id_value;        /* mark_id_value holds an applied id (clones) */
  uint64_t mark_id_value;
  bool debug;
  zend_string *tdm_policy;
  zval *new_mark_id;             /* callables */
  zval *bypass;
} vantoro_options;

#define VANTORO_COMMON_OPTIONS "copyright, decoy, charset, hide, site_key, stylesheet_link, nosnippet, empty_notices, copy_notices, marks, tdm_reservation"
#define VANTORO_OPTIONS VANTORO_COMMON_OPTIONS ", mark_id"
#define VANTORO_HANDLER_OPTIONS VANTORO_COMMON_OPTIONS ", types, debug, tdm_policy, new_mark_id, bypass"

/* The engine takes a character set name as a C string: a NUL inside would
 * silently cut it short. */
static bool charset_name_ok(const zend_string *name) {
  return memchr(ZSTR_VAL(name), '\0', ZSTR_LEN(name)) == NULL;
}

static bool option_is_callable(uint32_t arg_num, const char *name, zval *value) {
  if (!zend_is_callable(value, 0, NULL)) {
    zend_argument_type_error(arg_num, "option \"%s\" must be a valid callback, %s given", name,
                             zend_zval_type_name(value));
    return false;
  }
  return true;
}

static bool option_is(uint32_t arg_num, const char *name, const zval *value, int type,
                      const char *type_name) {
  bool ok = type == _IS_BOOL ? Z_TYPE_P(value) == IS_TRUE || Z_TYPE_P(value) == IS_FALSE
                             : Z_TYPE_P(value) == type;
  if (!ok) {
    zend_argument_type_error(arg_num, "option \"%s\" must be of type %s, %s given", name,
                             type_name, zend_zval_type_name(value));
  }
  return ok;
}

/* Names and types are PHP's to check (ValueError, TypeError); the values are
 * the engine's, when the options are applied (Vantoro\Exception). */
static zend_result parse_options(HashTable *table, uint32_t arg_num, bool handler,
                                 vantoro_options *out) {
  zend_string *key;
  zval *value;
  const char *known = handler ? VANTORO_HANDLER_OPTIONS : VANTORO_OPTIONS;
  memset(out, 0, sizeof *out);
  if (!table) {
    return SUCCESS;
  }
  ZEND_HASH_FOREACH_STR_KEY_VAL(table, key, value) {
    ZVAL_DEREF(value);
    if (!key) {
      zend_argument_value_error(arg_num, "must only have string keys (options: %s)", known);
      return FAILURE;
    }
    if (zend_string_equals_literal(key, "copyright")) {
      if (!option_is(arg_num, "copyright", value, IS_STRING, "string")) return FAILURE;
      out->copyright = Z_STR_P(value);
    } else if (zend_string_equals_literal(key, "decoy")) {
      if (!option_is(arg_num, "decoy", value, IS_LONG, "int")) return FAILURE;
      out->decoy_kind = Z_LVAL_P(value);
      out->has_decoy_kind = true;
    } else if (zend_string_equals_literal(key, "charset")) {
      if (!option_is(arg_num, "charset", value, IS_STRING, "string")) return FAILURE;
      if (!charset_name_ok(Z_STR_P(value))) {
        zend_argument_value_error(arg_num, "option \"charset\" must not contain any null bytes");
        return FAILURE;
      }
      out->charset = Z_STR_P(value);
    } else if (zend_string_equals_literal(key, "hide")) {
      if (!option_is(arg_num, "hide", value, IS_LONG, "int")) return FAILURE;
      out->hide = Z_LVAL_P(value);
      out->has_hide = true;
    } else if (zend_string_equals_literal(key, "site_key")) {
      if (!option_is(arg_num, "site_key", value, IS_STRING, "string")) return FAILURE;
      out->site_key = Z_STR_P(value);
    } else if (zend_string_equals_literal(key, "stylesheet_link")) {
      if (!option_is(arg_num, "stylesheet_link", value, IS_STRING, "string")) return FAILURE;
      out->stylesheet_link = Z_STR_P(value);
    } else if (zend_string_equals_literal(key, "nosnippet")) {
      if (!option_is(arg_num, "nosnippet", value, _IS_BOOL, "bool")) return FAILURE;
      out->nosnippet = Z_TYPE_P(value) == IS_TRUE;
      out->has_nosnippet = true;
    } else if (zend_string_equals_literal(key, "empty_notices")) {
      if (!option_is(arg_num, "empty_notices", value, _IS_BOOL, "bool")) return FAILURE;
      out->empty_notices = Z_TYPE_P(value) == IS_TRUE;
      out->has_empty_notices = true;
    } else if (zend_string_equals_literal(key, "copy_notices")) {
      if (!option_is(arg_num, "copy_notices", value, IS_LONG, "int")) return FAILURE;
      out->copy_notices = Z_LVAL_P(value);
      out->has_copy_notices = true;
    } else if (zend_string_equals_literal(key, "marks")) {
      if (!option_is(arg_num, "marks", value, _IS_BOOL, "bool")) return FAILURE;
      out->marks = Z_TYPE_P(value) == IS_TRUE;
      out->has_marks = true;
    } else if (zend_string_equals_literal(key, "tdm_reservation")) {
      if (!option_is(arg_num, "tdm_reservation", value, _IS_BOOL, "bool")) return FAILURE;
      out->tdm_reservation = Z_TYPE_P(value) == IS_TRUE;
      out->has_tdm_reservation = true;
    } else if (!handler && zend_string_equals_literal(key, "mark_id")) {
      if (Z_TYPE_P(value) != IS_LONG && Z_TYPE_P(value) != IS_STRING) {
        zend_argument_type_error(arg_num, "option \"mark_id\" must be of type int|string, %s given",
                                 zend_zval_type_name(value));
        return FAILURE;
      }
      out->mark_id = value;
    } else if (handler && zend_string_equals_literal(key, "tdm_policy")) {
      if (!option_is(arg_num, "tdm_policy", value, IS_STRING, "string")) return FAILURE;
      out->tdm_policy = Z_STR_P(value);
    } else if (handler && zend_string_equals_literal(key, "new_mark_id")) {
      if (!option_is_callable(arg_num, "new_mark_id", value)) return FAILURE;
      out->new_mark_id = value;
    } else if (handler && zend_string_equals_literal(key, "bypass")) {
      if (!option_is_callable(arg_num, "bypass", value)) return FAILURE;
      out->bypass = value;
    } else if (handler && zend_string_equals_literal(key, "types")) {
      zval *type;
      if (!option_is(arg_num, "types", value, IS_ARRAY, "array")) return FAILURE;
      ZEND_HASH_FOREACH_VAL(Z_ARRVAL_P(value), type) {
        ZVAL_DEREF(type);
        if (Z_TYPE_P(type) != IS_STRING) {
          zend_argument_type_error(arg_num, "option \"types\" must only hold strings, %s given",
                                   zend_zval_type_name(type));
          return FAILURE;
        }
      } ZEND_HASH_FOREACH_END();
      out->types = Z_ARRVAL_P(value);
    } else if (handler && zend_string_equals_literal(key, "debug")) {
      if (!option_is(arg_num, "debug", value, _IS_BOOL, "bool")) return FAILURE;
      out->debug = Z_TYPE_P(value) == IS_TRUE;
    } else {
      zend_argument_value_error(arg_num, "has the unknown option \"%s\" (known: %s)",
                                ZSTR_VAL(key), known);
      return FAILURE;
    }
  } ZEND_HASH_FOREACH_END();
  return SUCCESS;
}

/* ---- mark ids ------------------------------------------------------------------- */

#define MARK_ID_RANGE "0..18446744073709551615"

/* PHP's int is signed: an id up to PHP_INT_MAX is an int, a larger one the
 * decimal string that mark_id options take back. */
static void mark_id_zval(zval *out, uint64_t id) {
  if (id <= (uint64_t)ZEND_LONG_MAX) {
    ZVAL_LONG(out, (zend_long)id);
  } else {
    ZVAL_STR(out, zend_strpprintf(0, "%" PRIu64, id));
  }
}

/* The id of an int (0 to PHP_INT_MAX) or a string of decimal digits or "0x"
 * and hex digits, up to 2^64-1; otherwise Vantoro\Exception. */
static bool mark_id_from(const zval *value, uint64_t *id) {
  if (Z_TYPE_P(value) == IS_LONG) {
    if (Z_LVAL_P(value) >= 0) {
      *id = (uint64_t)Z_LVAL_P(value);
      return true;
    }
    zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                            "mark id out of range: " ZEND_LONG_FMT " (must be in " MARK_ID_RANGE ")",
                            Z_LVAL_P(value));
    return false;
  }
  if (Z_TYPE_P(value) == IS_STRING) {
    const char *text = Z_STRVAL_P(value);
    size_t length = Z_STRLEN_P(value), i = 0;
    unsigned base = 10;
    uint64_t result = 0;
    bool overflow = false;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      i = 2;
    }
    if (i < length) {
      for (; i < length; i++) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
          digit = (unsigned)(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
          digit = (unsigned)(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
          digit = (unsigned)(c - 'A' + 10);
        } else {
          break;
        }
        if (result > (UINT64_MAX - digit) / base) {
          overflow = true;
        }
        result = result * base + digit;
      }
      if (i == length && !overflow) {
        *id = result;
        return true;
      }
      if (i == length) {
        zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                                "mark id out of range: %s (must be in " MARK_ID_RANGE ")", text);
        return false;
      }
    }
    zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                            "mark id not a number: \"%s\" (an int, or a string of decimal or "
                            "0x-hex digits, in " MARK_ID_RANGE ")", text);
    return false;
  }
  zend_type_error("a mark id must be of type int|string, %s given", zend_zval_type_name(value));
  return false;
}

static bool set_mark_id(vantoro_handle *handle, uint64_t id) {
  unsigned char bytes[8];
  int i;
  for (i = 0; i < 8; i++) {
    bytes[i] = (unsigned char)(id >> (56 - 8 * i));
  }
  return check(handle, vantoro_set_mark_id(handle, bytes));
}

/* The time in seconds in the high 32 bits, 32 random bits in the low; the
 * exception of PHP's random source when it fails. */
static bool fresh_mark_id(uint64_t *id) {
  uint32_t random = 0;
  if (php_random_bytes_throw(&random, sizeof random) == FAILURE) {
    return false;
  }
  *id = ((uint64_t)(uint32_t)time(NULL) << 32) | random;
  return true;
}

/* What options leave out: the hiding method of the entry point, and marks
 * where it is layered with a site key. */
static void apply_defaults(vantoro_options *options, zend_long hide) {
  if (!options->has_hide) {
    options->hide = hide;
    options->has_hide = true;
  }
  if (!options->has_marks) {
    options->marks = options->hide == VANTORO_HIDE_LAYERED && options->site_key &&
                     ZSTR_LEN(options->site_key) > 0;
    options->has_marks = true;
  }
}

/* Values the enums can carry go to the engine, so that PHP code sees the
 * engine's own message; it would print a negative one as unsigned. */
static bool set_decoy_kind(vantoro_handle *handle, zend_long kind) {
  if (kind < 0 || kind > INT_MAX) {
    zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                            "unknown decoy kind " ZEND_LONG_FMT, kind);
    return false;
  }
  return check(handle, vantoro_set_decoy_kind(handle, (vantoro_decoy_kind)(int)kind));
}

static bool set_hiding(vantoro_handle *handle, zend_long method, const zend_string *site_key) {
  if (method < 0 || method > INT_MAX) {
    zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                            "unknown hiding method " ZEND_LONG_FMT, method);
    return false;
  }
  return check(handle, vantoro_set_hiding(handle, (vantoro_hide_method)(int)method,
                                          site_key ? ZSTR_VAL(site_key) : "",
                                          site_key ? ZSTR_LEN(site_key) : 0));
}

static bool set_copyright(vantoro_handle *handle, const zend_string *text) {
  return check(handle, vantoro_set_copyright(handle, ZSTR_VAL(text), ZSTR_LEN(text)));
}

/* Applies the options given to a fresh handle, whose other settings are the
 * engine's defaults. */
static bool configure(vantoro_handle *handle, vantoro_options *options) {
  if (options->charset && !check(handle, vantoro_set_charset(handle, ZSTR_VAL(options->charset)))) {
    return false;
  }
  if (options->has_decoy_kind && !set_decoy_kind(handle, options->decoy_kind)) {
    return false;
  }
  if ((options->has_hide || options->site_key) &&
      !set_hiding(handle, options->has_hide ? options->hide : VANTORO_HIDE_STYLE,
                  options->site_key)) {
    return false;
  }
  if (options->has_copy_notices) {
    if (options->copy_notices < 0) {
      zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                              "copy_notices must be 0 or more, not " ZEND_LONG_FMT,
                              options->copy_notices);
      return false;
    }
    if (!check(handle, vantoro_set_copy_notices(handle, (size_t)options->copy_notices))) {
      return false;
    }
  }
  /* After the hiding: marks need its site key. */
  if (options->has_marks && !check(handle, vantoro_set_marks(handle, options->marks))) {
    return false;
  }
  if (options->mark_id) {
    if (!mark_id_from(options->mark_id, &options->mark_id_value)) {
      return false;
    }
    options->has_mark_id_value = true;
  }
  if (options->has_mark_id_value && !set_mark_id(handle, options->mark_id_value)) {
    return false;
  }
  if (options->has_tdm_reservation &&
      !check(handle, vantoro_set_tdm_reservation(handle, options->tdm_reservation))) {
    return false;
  }
  if (options->stylesheet_link &&
      !check(handle, vantoro_set_stylesheet_link(handle, ZSTR_VAL(options->stylesheet_link),
                                                 ZSTR_LEN(options->stylesheet_link)))) {
    return false;
  }
  if (options->has_nosnippet && !check(handle, vantoro_set_nosnippet(handle, options->nosnippet))) {
    return false;
  }
  if (options->has_empty_notices &&
      !check(handle, vantoro_set_empty_notices(handle, options->empty_notices))) {
    return false;
  }
  return !options->copyright || set_copyright(handle, options->copyright);
}

static void replace_string(zend_string **slot, zend_string *value) {
  if (*slot) {
    zend_string_release(*slot);
  }
  *slot = value ? zend_string_copy(value) : NULL;
}

static void remember_options(vantoro_object *object, const vantoro_options *options) {
  vantoro_settings *settings = &object->settings;
  if (options->charset) {
    replace_string(&settings->charset, options->charset);
  }
  if (options->has_decoy_kind) {
    settings->decoy_kind = options->decoy_kind;
  }
  if (options->has_hide) {
    settings->hide = options->hide;
  }
  if (options->site_key) {
    replace_string(&settings->site_key, options->site_key);
  }
  if (options->stylesheet_link) {
    replace_string(&settings->stylesheet_link, options->stylesheet_link);
  }
  if (options->has_nosnippet) {
    settings->nosnippet = options->nosnippet;
  }
  if (options->has_empty_notices) {
    settings->empty_notices = options->empty_notices;
  }
  if (options->has_copy_notices) {
    settings->copy_notices = options->copy_notices;
  }
  if (options->has_marks) {
    settings->marks = options->marks;
  }
  if (options->has_tdm_reservation) {
    settings->tdm_reservation = options->tdm_reservation;
  }
  if (options->has_mark_id_value) {
    settings->mark_id = options->mark_id_value;
  }
  if (options->copyright) {
    zend_string_release(object->applied_copyright);
    object->applied_copyright = zend_string_copy(options->copyright);
  }
}

/* The options that give a handle the settings `settings` describe. */
static void options_of(const vantoro_settings *settings, vantoro_options *out) {
  memset(out, 0, sizeof *out);
  out->charset = settings->charset;
  out->decoy_kind = settings->decoy_kind;
  out->has_decoy_kind = true;
  out->hide = settings->hide;
  out->has_hide = true;
  out->site_key = settings->site_key;
  out->stylesheet_link = settings->stylesheet_link;
  out->nosnippet = settings->nosnippet;
  out->has_nosnippet = true;
  out->empty_notices = settings->empty_notices;
  out->has_empty_notices = true;
  out->copy_notices = settings->copy_notices;
  out->has_copy_notices = true;
  out->marks = settings->marks;
  out->has_marks = true;
  out->tdm_reservation = settings->tdm_reservation;
  out->has_tdm_reservation = true;
  out->mark_id_value = settings->mark_id;
  out->has_mark_id_value = true;
}

/* ---- running a pass ------------------------------------------------------------ */

/* The engine's result is malloc'd: it must be released even when copying it
 * into PHP's memory hits memory_limit (a bailout), or a long-running worker
 * would leak a page per failure. `owned`, if given, is released there too. */
static zend_string *take_result(char *out, size_t out_length, vantoro_handle *owned) {
  zend_string *result = NULL;
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

static zend_string *run_pass(vantoro_handle *handle, vantoro_pass pass, const char *text,
                             size_t length, vantoro_handle *owned) {
  char *out = NULL;
  size_t out_length = 0;
  if (!check(handle, pass(handle, text, length, &out, &out_length))) {
    return NULL;
  }
  return take_result(out, out_length, owned);
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
  memset(&object->settings, 0, sizeof object->settings);
  object->settings.decoy_kind = VANTORO_DECOY_COPYRIGHT;
  object->settings.hide = VANTORO_HIDE_STYLE;
  object->settings.copy_notices = 4;
  object->policy = NULL;
  object->debug = false;
  object->passing = false;
  object->passing_verdict = VANTORO_VERDICT_SENT;
  object->bypassed = false;
  object->has_mark_id = false;
  object->mark_id = 0;
  object->tdm_policy = NULL;
  memset(&object->pending, 0, sizeof object->pending);
  if (ce == vantoro_ce_marquel) {
    /* The component takes an empty CopyRStr: decoys then hide no notice. */
    if (object->handle && vantoro_set_empty_notices(object->handle, 1) != VANTORO_OK) {
      vantoro_destroy(object->handle);
      object->handle = NULL;
    }
    object->settings.empty_notices = true;
    object->std.handlers = &vantoro_marquel_handlers;
  } else {
    object->std.handlers = &vantoro_output_handler_handlers;
  }
  return &object->std;
}

static void vantoro_free_object(zend_object *std) {
  vantoro_object *object = vantoro_from(std);
  vantoro_destroy(object->handle);
  object->handle = NULL;
  vantoro_policy_destroy(object->policy);
  object->policy = NULL;
  zend_string_release(object->applied_copyright);
  replace_string(&object->settings.charset, NULL);
  replace_string(&object->settings.site_key, NULL);
  replace_string(&object->settings.stylesheet_link, NULL);
  replace_string(&object->tdm_policy, NULL);
  smart_str_free(&object->pending);
  zend_object_std_dtor(std);
}

/* A clone gets its own handle with the same settings; its random values come
 * from its own source (replayed values stay with the original). */
static zend_object *vantoro_clone_marquel(zend_object *old_std) {
  vantoro_object *old = vantoro_from(old_std);
  zend_object *new_std = vantoro_create_object(old_std->ce);
  vantoro_object *copy = vantoro_from(new_std);
  vantoro_options options;
  zend_objects_clone_members(new_std, old_std);
  if (!copy->handle) {
    throw_status(NULL, VANTORO_OUT_OF_MEMORY);
    return new_std;
  }
  /* The settings were accepted once, so only memory can refuse them now. */
  options_of(&old->settings, &options);
  if (configure(copy->handle, &options)) {
    remember_options(copy, &options);
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

ZEND_METHOD(Vantoro_Marquel, __construct) {
  HashTable *table = NULL;
  vantoro_options options;
  vantoro_object *object = THIS_VANTORO();
  vantoro_handle *handle;
  ZEND_PARSE_PARAMETERS_START(0, 1)
    Z_PARAM_OPTIONAL
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  if (parse_options(table, 1, false, &options) == FAILURE) {
    RETURN_THROWS();
  }
  /* Pages moved over keep the component's inline style unless told otherwise. */
  apply_defaults(&options, VANTORO_HIDE_STYLE);
  handle = live_handle(object);
  if (!handle || !configure(handle, &options)) {
    RETURN_THROWS();
  }
  remember_options(object, &options);
  if (options.copyright) {
    zend_update_property_str(vantoro_ce_marquel, &object->std, ZEND_STRL("CopyRStr"),
                             options.copyright);
  }
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
  object->settings.decoy_kind = kind;
}

ZEND_METHOD(Vantoro_Marquel, getDecoyKind) {
  ZEND_PARSE_PARAMETERS_NONE();
  RETURN_LONG(THIS_VANTORO()->settings.decoy_kind);
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
  if (!handle || !check(handle, vantoro_set_charset(handle, ZSTR_VAL(charset)))) {
    RETURN_THROWS();
  }
  replace_string(&object->settings.charset, charset);
}

ZEND_METHOD(Vantoro_Marquel, getCharset) {
  vantoro_object *object = THIS_VANTORO();
  ZEND_PARSE_PARAMETERS_NONE();
  if (object->settings.charset) {
    RETURN_STR_COPY(object->settings.charset);
  }
  RETURN_STRING("auto");
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
  if (!check(handle, status)) {
    RETURN_THROWS();
  }
}

ZEND_METHOD(Vantoro_Marquel, replay) {
  replay_values(INTERNAL_FUNCTION_PARAM_PASSTHRU);
}

/* ---- Vantoro\OutputHandler: the response's head --------------------------------- */

#define HEADER_IS(header, literal)                                                     \
  ((header)->header_len > sizeof(literal) - 1 &&                                       \
   (header)->header[sizeof(literal) - 1] == ':' &&                                     \
   strncasecmp((header)->header, literal, sizeof(literal) - 1) == 0)

static size_t header_name_length(const sapi_header_struct *header) {
  const char *colon = memchr(header->header, ':', header->header_len);
  return colon ? (size_t)(colon - header->header) : header->header_len;
}

/* The value of a "Name: value" line, without the spaces around it. */
static const char *header_value(const sapi_header_struct *header, size_t *length) {
  size_t start = header_name_length(header) + 1;
  size_t end = header->header_len;
  if (start > end) {
    start = end;
  }
  while (start < end && (header->header[start] == ' ' || header->header[start] == '\t')) {
    start++;
  }
  while (end > start && (header->header[end - 1] == ' ' || header->header[end - 1] == '\t')) {
    end--;
  }
  *length = end - start;
  return header->header + start;
}

/* A header sent several times counts as one, its values joined by ", ". */
static void join_value(smart_str *joined, const sapi_header_struct *header) {
  size_t length;
  const char *value = header_value(header, &length);
  if (joined->s && ZSTR_LEN(joined->s) > 0) {
    smart_str_appendl(joined, ", ", 2);
  }
  smart_str_appendl(joined, value, length);
}

typedef struct {
  smart_str content_type;
  smart_str content_encoding;
  smart_str cache_control;
  bool content_range;
} response_head;

/* What the response's headers say, as the script set them. Without a
 * Content-Type header PHP sends default_mimetype (with default_charset). */
static void read_head(response_head *head) {
  zend_llist_position position;
  const sapi_header_struct *header;
  memset(head, 0, sizeof *head);
  for (header = zend_llist_get_first_ex(&SG(sapi_headers).headers, &position); header;
       header = zend_llist_get_next_ex(&SG(sapi_headers).headers, &position)) {
    if (HEADER_IS(header, "Content-Type")) {
      smart_str_free(&head->content_type);
      join_value(&head->content_type, header);
    } else if (HEADER_IS(header, "Content-Encoding")) {
      join_value(&head->content_encoding, header);
    } else if (HEADER_IS(header, "Cache-Control")) {
      join_value(&head->cache_control, header);
    } else if (HEADER_IS(header, "Content-Range")) {
      head->content_range = true;
    }
  }
  if (!head->content_type.s) {
    char *type = sapi_get_default_content_type();
    smart_str_appends(&head->content_type, type);
    efree(type);
  }
  smart_str_0(&head->content_type);
}

static void free_head(response_head *head) {
  smart_str_free(&head->content_type);
  smart_str_free(&head->content_encoding);
  smart_str_free(&head->cache_control);
}

#define SMART_STR_ARGS(str) ((str).s ? ZSTR_VAL((str).s) : NULL), ((str).s ? ZSTR_LEN((str).s) : 0)

/* The charset parameter of a Content-Type value, unquoted, as an emalloc'd C
 * string; NULL without one. */
static char *charset_parameter(const char *type, size_t length) {
  const char *end = type + length;
  const char *at = memchr(type, ';', length);
  while (at) {
    const char *start = at + 1;
    const char *stop = memchr(start, ';', end - start);
    const char *equals;
    if (!stop) {
      stop = end;
    }
    while (start < stop && (*start == ' ' || *start == '\t')) {
      start++;
    }
    equals = memchr(start, '=', stop - start);
    if (equals) {
      const char *name_end = equals;
      while (name_end > start && (name_end[-1] == ' ' || name_end[-1] == '\t')) {
        name_end--;
      }
      if (name_end - start == 7 && strncasecmp(start, "charset", 7) == 0) {
        const char *value = equals + 1;
        const char *value_end = stop;
        while (value < value_end && (*value == ' ' || *value == '\t')) {
          value++;
        }
        while (value_end > value && (value_end[-1] == ' ' || value_end[-1] == '\t')) {
          value_end--;
        }
        if (value_end - value >= 2 && *value == '"' && value_end[-1] == '"') {
          value++;
          value_end--;
        }
        return value_end > value ? estrndup(value, value_end - value) : NULL;
      }
    }
    at = stop < end ? stop : NULL;
  }
  return NULL;
}

/* ---- Vantoro\OutputHandler: editing the headers ----------------------------------- */

static void set_header_line(sapi_header_op_enum op, const char *line, size_t length) {
  sapi_header_line header = {line, length, 0};
  sapi_header_op(op, &header);
}

/* The first header the protected response must lose (its length too, when
 * `drop_length`), copied as a name to delete by; NULL when none is left. */
static char *header_to_drop(bool drop_length, size_t *length) {
  zend_llist_position position;
  const sapi_header_struct *header;
  for (header = zend_llist_get_first_ex(&SG(sapi_headers).headers, &position); header;
       header = zend_llist_get_next_ex(&SG(sapi_headers).headers, &position)) {
    size_t name_length = header_name_length(header);
    vantoro_header_action action = vantoro_protected_header(header->header, name_length);
    if (action == VANTORO_HEADER_DROP || (drop_length && action == VANTORO_HEADER_LENGTH)) {
      *length = name_length;
      return estrndup(header->header, name_length);
    }
  }
  return NULL;
}

/* Whether any header the script set must change when the body does. */
static bool headers_need_edits(void) {
  zend_llist_position position;
  const sapi_header_struct *header;
  for (header = zend_llist_get_first_ex(&SG(sapi_headers).headers, &position); header;
       header = zend_llist_get_next_ex(&SG(sapi_headers).headers, &position)) {
    if (vantoro_protected_header(header->header, header_name_length(header)) !=
        VANTORO_HEADER_KEEP) {
      return true;
    }
  }
  return false;
}

/* The handlers that enclose the running one (all of them when it is called
 * directly), outermost first; sets *count. */
static php_output_handler **enclosing_handlers(int *count) {
  php_output_handler **handlers = zend_stack_base(&OG(handlers));
  int total = zend_stack_count(&OG(handlers));
  int running;
  for (running = 0; handlers && running < total && handlers[running] != OG(running); running++) {
  }
  *count = handlers ? running : 0;
  return handlers;
}

/* Whether what the handler returns reaches the client as it is, so that its
 * length is the body's. PHP's own compression keeps the script's Content-Length
 * unless the script could turn it off (it cannot where the setting is a
 * php_admin_flag), and a user's handler may change anything. */
static bool output_reaches_client_unchanged(void) {
  int count, i;
  php_output_handler **handlers = enclosing_handlers(&count);
  for (i = 0; i < count; i++) {
    const zend_string *name = handlers[i]->name;
    if (zend_string_equals_literal(name, "default output handler")) {
      continue;
    }
    if (zend_string_equals_literal(name, "zlib output compression") &&
        !zend_ini_long("zlib.output_compression", sizeof("zlib.output_compression") - 1, 0)) {
      continue;
    }
    return false;
  }
  return true;
}

/* The headers of a protected response, as the one policy says: the length is
 * the protected page's (none for HEAD, whose body PHP drops, nor when an outer
 * handler such as compression changes the body again), an entity tag becomes
 * weak, validators and digests of the original body go. Only headers the
 * script set change; none is added. */
static void edit_protected_headers(bool head_request, size_t length) {
  zend_llist_position position;
  const sapi_header_struct *header;
  char *name;
  size_t name_length;
  bool has_length = false;
  bool drop_length = head_request || !output_reaches_client_unchanged();
  smart_str etag = {0};
  /* One at a time: deleting changes the list being read. A name PHP cannot
   * delete by (spaces before its colon) stays rather than loop for ever. */
  while ((name = header_to_drop(drop_length, &name_length)) != NULL) {
    size_t before = zend_llist_count(&SG(sapi_headers).headers);
    set_header_line(SAPI_HEADER_DELETE, name, name_length);
    efree(name);
    if (zend_llist_count(&SG(sapi_headers).headers) == before) {
      break;
    }
  }
  for (header = zend_llist_get_first_ex(&SG(sapi_headers).headers, &position); header;
       header = zend_llist_get_next_ex(&SG(sapi_headers).headers, &position)) {
    switch (vantoro_protected_header(header->header, header_name_length(header))) {
      case VANTORO_HEADER_LENGTH:
        has_length = true;
        break;
      case VANTORO_HEADER_WEAKEN: {
        size_t value_length;
        const char *value = header_value(header, &value_length);
        if (value_length >= 2 && value[0] == 'W' && value[1] == '/') {
          break;
        }
        smart_str_free(&etag);
        smart_str_appends(&etag, "ETag: W/");
        smart_str_appendl(&etag, value, value_length);
        break;
      }
      default:
        break;
    }
  }
  if (has_length && !drop_length) {
    char line[64];
    int line_length = snprintf(line, sizeof line, "Content-Length: %zu", length);
    set_header_line(SAPI_HEADER_REPLACE, line, (size_t)line_length);
  }
  if (etag.s) {
    set_header_line(SAPI_HEADER_REPLACE, ZSTR_VAL(etag.s), ZSTR_LEN(etag.s));
    smart_str_free(&etag);
  }
}

/* ---- Vantoro\OutputHandler ------------------------------------------------------- */

/* Whether part of the response had gone out before the handler saw any of it:
 * output written to the client, or held by an enclosing buffer (output_buffering,
 * an ob_start() before this one). The handler's output would follow it. */
static bool output_went_before(void) {
  php_output_handler **handlers;
  int count, i;
  /* Without an HTTP response (the command line, whose first output marks the
   * headers sent too) each buffer is a page of its own. */
  if (SG(request_info).no_headers || strcmp(sapi_module.name, "cli") == 0 ||
      strcmp(sapi_module.name, "phpdbg") == 0) {
    return false;
  }
  if (php_output_get_status() & PHP_OUTPUT_SENT) {
    return true;
  }
  /* Called directly, not by PHP's output layer: no buffer is the enclosing one. */
  if (!OG(running)) {
    return false;
  }
  handlers = enclosing_handlers(&count);
  for (i = 0; i < count; i++) {
    if (handlers[i]->buffer.used > 0) {
      return true;
    }
  }
  return false;
}

static void report_verdict(const vantoro_object *object, vantoro_verdict verdict) {
  if (object->debug && !SG(headers_sent)) {
    char line[64];
    int length = snprintf(line, sizeof line, "X-Vantoro-Status: %s", vantoro_verdict_name(verdict));
    set_header_line(SAPI_HEADER_REPLACE, line, (size_t)length);
  }
}

/* The headers of the reservation on a protected response, unless the script
 * set its own. */
static bool script_set_header(const char *name, size_t length) {
  zend_llist_position position;
  const sapi_header_struct *header;
  for (header = zend_llist_get_first_ex(&SG(sapi_headers).headers, &position); header;
       header = zend_llist_get_next_ex(&SG(sapi_headers).headers, &position)) {
    if (header_name_length(header) == length && strncasecmp(header->header, name, length) == 0) {
      return true;
    }
  }
  return false;
}

static void add_tdm_headers(const vantoro_object *object) {
  if (!object->settings.tdm_reservation) {
    return;
  }
  if (!script_set_header(ZEND_STRL("tdm-reservation"))) {
    set_header_line(SAPI_HEADER_REPLACE, ZEND_STRL("tdm-reservation: 1"));
  }
  if (object->tdm_policy && !script_set_header(ZEND_STRL("tdm-policy"))) {
    smart_str line = {0};
    smart_str_appends(&line, "tdm-policy: ");
    smart_str_append(&line, object->tdm_policy);
    set_header_line(SAPI_HEADER_REPLACE, ZSTR_VAL(line.s), ZSTR_LEN(line.s));
    smart_str_free(&line);
  }
}

/* A header value: not empty, no line break (a second header) nor other
 * control characters. */
static bool header_value_ok(const zend_string *value) {
  size_t i;
  for (i = 0; i < ZSTR_LEN(value); i++) {
    const unsigned char c = (unsigned char)ZSTR_VAL(value)[i];
    if (c < 0x20 || c == 0x7f) {
      return false;
    }
  }
  return ZSTR_LEN(value) > 0;
}

/* Calls a callable of the options without arguments; false with its exception. */
static bool call_option(zval *callable, zval *result) {
  ZVAL_UNDEF(result);
  if (call_user_function(NULL, NULL, callable, result, 0, NULL) == FAILURE || EG(exception)) {
    zval_ptr_dtor(result);
    ZVAL_UNDEF(result);
    return false;
  }
  return true;
}

/* The request's bypass decision and mark id. They are made when the handler
 * is made, once per request under a web server, so that the script can log
 * the id; and outside any output handler, where the site's callables could
 * not write output. */
static bool begin_request(vantoro_object *object, const vantoro_options *options) {
  zval result;
  object->bypassed = false;
  object->has_mark_id = false;
  if (options->bypass) {
    if (!call_option(options->bypass, &result)) {
      return false;
    }
    object->bypassed = zend_is_true(&result);
    zval_ptr_dtor(&result);
  }
  if (object->bypassed || !object->settings.marks) {
    return true;
  }
  if (options->new_mark_id) {
    zval *value = &result;
    bool ok;
    if (!call_option(options->new_mark_id, &result)) {
      return false;
    }
    ZVAL_DEREF(value);
    ok = mark_id_from(value, &object->mark_id);
    zval_ptr_dtor(&result);
    if (!ok) {
      return false;
    }
  } else if (!fresh_mark_id(&object->mark_id)) {
    return false;
  }
  if (!set_mark_id(object->handle, object->mark_id)) {
    return false;
  }
  object->has_mark_id = true;
  VANTORO_G(has_last_mark_id) = true;
  VANTORO_G(last_mark_id) = object->mark_id;
  return true;
}

static bool handler_setup(vantoro_object *object, vantoro_options *options) {
  vantoro_handle *handle = live_handle(object);
  vantoro_status status;
  zval *type;
  char *out = NULL;
  size_t out_length = 0;
  apply_defaults(options, VANTORO_HIDE_LAYERED);
  if (!handle || !configure(handle, options)) {
    return false;
  }
  vantoro_policy_destroy(object->policy);
  object->policy = NULL;
  status = vantoro_policy_create(&object->policy);
  if (status != VANTORO_OK) {
    throw_status(NULL, status);
    return false;
  }
  if (options->types) {
    ZEND_HASH_FOREACH_VAL(options->types, type) {
      ZVAL_DEREF(type);
      status = vantoro_policy_add_type(object->policy, Z_STRVAL_P(type), Z_STRLEN_P(type));
      if (status != VANTORO_OK) {
        throw_message(vantoro_policy_last_error(object->policy), status);
        return false;
      }
    } ZEND_HASH_FOREACH_END();
  }
  /* A site whose every page would fail (copyright decoys without a copyright
   * text) is told now, by the engine's own judgement, not one warning per
   * response later. */
  status = vantoro_protect_content(handle, "", 0, &out, &out_length);
  vantoro_free(out);
  if (!check(handle, status)) {
    return false;
  }
  if (options->tdm_policy && !(options->has_tdm_reservation && options->tdm_reservation)) {
    throw_message("tdm_policy needs tdm_reservation", VANTORO_INVALID_ARGUMENT);
    return false;
  }
  if (options->tdm_policy && !header_value_ok(options->tdm_policy)) {
    zend_throw_exception_ex(vantoro_ce_exception, VANTORO_INVALID_ARGUMENT,
                            "the tdm policy must be a URL without control characters");
    return false;
  }
  remember_options(object, options);
  object->debug = options->debug;
  replace_string(&object->tdm_policy, options->tdm_policy);
  return begin_request(object, options);
}

ZEND_METHOD(Vantoro_OutputHandler, __construct) {
  HashTable *table = NULL;
  vantoro_options options;
  ZEND_PARSE_PARAMETERS_START(0, 1)
    Z_PARAM_OPTIONAL
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  if (parse_options(table, 1, true, &options) == FAILURE ||
      !handler_setup(THIS_VANTORO(), &options)) {
    RETURN_THROWS();
  }
}

/* A warning, which an error handler may turn into an exception (frameworks
 * do): thrown out of an output handler it would cost the page, so it is
 * written to the error log instead. */
static void warn_unprotected(const char *engine_reason) {
  bool had_exception = EG(exception) != NULL;
  /* The error handler is PHP code: it may use the handle whose text this is. */
  char *reason = estrdup(engine_reason);
  php_error_docref(NULL, E_WARNING, "%s; the response is sent unprotected", reason);
  if (!had_exception && EG(exception)) {
    char *message = NULL;
    zend_clear_exception();
    spprintf(&message, 0, "PHP Warning:  Vantoro\\OutputHandler: %s; the response is sent unprotected",
             reason);
    php_log_err(message);
    efree(message);
  }
  efree(reason);
}

/* The whole response, at the final call: what goes out, and why. */
static zend_string *finish_response(vantoro_object *object, zend_string *page,
                                    vantoro_verdict *verdict) {
  response_head head;
  int code = SG(sapi_headers).http_response_code;
  const char *method = SG(request_info).request_method;
  bool head_request = method && strcmp(method, "HEAD") == 0;
  char *transport, *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  zend_string *result;

  if (ZSTR_LEN(page) == 0) {
    *verdict = VANTORO_VERDICT_EMPTY;
    return page;
  }
  if (!object->handle || !object->policy) {
    *verdict = VANTORO_VERDICT_ERROR;
    return page;
  }
  read_head(&head);
  *verdict = vantoro_policy_judge(object->policy, code == 0 ? 200 : code,
                                  SMART_STR_ARGS(head.content_type),
                                  SMART_STR_ARGS(head.content_encoding),
                                  SMART_STR_ARGS(head.cache_control), head.content_range);
  if (*verdict != VANTORO_VERDICT_PROTECT) {
    free_head(&head);
    return page;
  }
  /* Headers that went out early (flush() does that under some servers) can no
   * longer be made to fit a changed body: a length would cut it. */
  if (SG(headers_sent) && !SG(request_info).no_headers && headers_need_edits()) {
    free_head(&head);
    *verdict = VANTORO_VERDICT_SENT;
    return page;
  }
  if (head_request) {
    /* PHP drops the body: only the headers a GET would get. */
    free_head(&head);
    if (!SG(headers_sent)) {
      edit_protected_headers(true, 0);
      add_tdm_headers(object);
    }
    return page;
  }
  transport = charset_parameter(ZSTR_VAL(head.content_type.s), ZSTR_LEN(head.content_type.s));
  free_head(&head);
  status = vantoro_set_transport_charset(object->handle, transport);
  if (transport) {
    efree(transport);
  }
  if (status == VANTORO_OK) {
    status = vantoro_protect(object->handle, ZSTR_VAL(page), ZSTR_LEN(page), &out, &out_length);
  }
  if (status != VANTORO_OK) {
    *verdict = VANTORO_VERDICT_ERROR;
    warn_unprotected(vantoro_last_error(object->handle));
    return page;
  }
  result = take_result(out, out_length, NULL);
  zend_string_release(page);
  if (!SG(headers_sent)) {
    edit_protected_headers(false, out_length);
    add_tdm_headers(object);
  }
  return result;
}

/* PHP calls this with each chunk and the phase flags. Everything is held back
 * until the final call so that the page is protected as one text (a tag split
 * between two chunks is still one tag); intermediate calls return "". The
 * response is never lost or cut: whatever the policy leaves alone, an empty
 * body, output that started before the handler, or an engine failure
 * (reported as a warning) goes out unchanged with its headers. */
ZEND_METHOD(Vantoro_OutputHandler, __invoke) {
  zend_string *buffer;
  zend_long phase;
  vantoro_object *object = THIS_VANTORO();
  zend_string *page;
  vantoro_verdict verdict;
  ZEND_PARSE_PARAMETERS_START(2, 2)
    Z_PARAM_STR(buffer)
    Z_PARAM_LONG(phase)
  ZEND_PARSE_PARAMETERS_END();

  if (phase & PHP_OUTPUT_HANDLER_START) {
    /* A handler started again begins a new response (of the same request:
     * the bypass decision and the mark id stay). */
    smart_str_free(&object->pending);
    object->passing = object->bypassed || output_went_before();
    object->passing_verdict = object->bypassed ? VANTORO_VERDICT_BYPASS : VANTORO_VERDICT_SENT;
  }
  if (object->passing) {
    if ((phase & PHP_OUTPUT_HANDLER_FINAL) && !(phase & PHP_OUTPUT_HANDLER_CLEAN)) {
      report_verdict(object, object->passing_verdict);
    }
    RETURN_STR_COPY(buffer);
  }
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
  page = finish_response(object, page, &verdict);
  report_verdict(object, verdict);
  RETURN_STR(page);
}

ZEND_METHOD(Vantoro_OutputHandler, replay) {
  replay_values(INTERNAL_FUNCTION_PARAM_PASSTHRU);
}

ZEND_METHOD(Vantoro_OutputHandler, markId) {
  vantoro_object *object = THIS_VANTORO();
  ZEND_PARSE_PARAMETERS_NONE();
  if (!object->has_mark_id) {
    RETURN_NULL();
  }
  mark_id_zval(return_value, object->mark_id);
}

/* ---- functions --------------------------------------------------------------------- */

ZEND_FUNCTION(Vantoro_output_handler) {
  HashTable *table = NULL;
  vantoro_options options;
  zend_object *std;
  ZEND_PARSE_PARAMETERS_START(0, 1)
    Z_PARAM_OPTIONAL
    Z_PARAM_ARRAY_HT(table)
  ZEND_PARSE_PARAMETERS_END();
  if (parse_options(table, 1, true, &options) == FAILURE) {
    RETURN_THROWS();
  }
  std = vantoro_create_object(vantoro_ce_output_handler);
  if (!handler_setup(vantoro_from(std), &options)) {
    OBJ_RELEASE(std);
    RETURN_THROWS();
  }
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
  if (parse_options(table, 2, false, &options) == FAILURE) {
    RETURN_THROWS();
  }
  apply_defaults(&options, VANTORO_HIDE_LAYERED);
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

ZEND_FUNCTION(Vantoro_stylesheet) {
  zend_string *site_key;
  char *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  ZEND_PARSE_PARAMETERS_START(1, 1)
    Z_PARAM_STR(site_key)
  ZEND_PARSE_PARAMETERS_END();
  status = vantoro_stylesheet(ZSTR_VAL(site_key), ZSTR_LEN(site_key), &out, &out_length);
  if (status != VANTORO_OK) {
    /* No handle to ask: the one key the engine refuses is the empty one. */
    throw_message(status == VANTORO_INVALID_ARGUMENT ? "empty site key" : NULL, status);
    RETURN_THROWS();
  }
  RETURN_NEW_STR(take_result(out, out_length, NULL));
}

ZEND_FUNCTION(Vantoro_is_protected) {
  zend_string *page;
  ZEND_PARSE_PARAMETERS_START(1, 1)
    Z_PARAM_STR(page)
  ZEND_PARSE_PARAMETERS_END();
  RETURN_BOOL(vantoro_is_protected(ZSTR_VAL(page), ZSTR_LEN(page)));
}

ZEND_FUNCTION(Vantoro_detect_charset) {
  zend_string *page;
  zend_string *transport = NULL;
  const char *name;
  ZEND_PARSE_PARAMETERS_START(1, 2)
    Z_PARAM_STR(page)
    Z_PARAM_OPTIONAL
    Z_PARAM_PATH_STR_OR_NULL(transport)
  ZEND_PARSE_PARAMETERS_END();
  name = vantoro_detect_charset(ZSTR_VAL(page), ZSTR_LEN(page),
                                transport ? ZSTR_VAL(transport) : NULL);
  RETURN_STRING(name ? name : "UTF-8");
}

/* The best mark made with the key in a copied text, or null. */
ZEND_FUNCTION(Vantoro_trace) {
  zend_string *text, *site_key;
  int found = 0;
  unsigned char id_bytes[8];
  uint64_t id = 0;
  size_t agreeing = 0, seen = 0;
  vantoro_status status;
  zval id_value;
  int i;
  ZEND_PARSE_PARAMETERS_START(2, 2)
    Z_PARAM_STR(text)
    Z_PARAM_STR(site_key)
  ZEND_PARSE_PARAMETERS_END();
  status = vantoro_trace(ZSTR_VAL(text), ZSTR_LEN(text), ZSTR_VAL(site_key), ZSTR_LEN(site_key),
                         &found, id_bytes, &agreeing, &seen);
  if (status != VANTORO_OK) {
    /* No handle to ask: the one key the engine refuses is the empty one. */
    throw_message(status == VANTORO_INVALID_ARGUMENT ? "empty site key" : NULL, status);
    RETURN_THROWS();
  }
  if (!found) {
    RETURN_NULL();
  }
  for (i = 0; i < 8; i++) {
    id = (id << 8) | id_bytes[i];
  }
  array_init_size(return_value, 4);
  mark_id_zval(&id_value, id);
  add_assoc_zval(return_value, "id", &id_value);
  add_assoc_str(return_value, "id_hex", zend_strpprintf(0, "%016" PRIx64, id));
  add_assoc_long(return_value, "agreeing", (zend_long)agreeing);
  add_assoc_long(return_value, "seen", (zend_long)seen);
}

ZEND_FUNCTION(Vantoro_new_mark_id) {
  uint64_t id;
  ZEND_PARSE_PARAMETERS_NONE();
  if (!fresh_mark_id(&id)) {
    RETURN_THROWS();
  }
  mark_id_zval(return_value, id);
}

ZEND_FUNCTION(Vantoro_last_mark_id) {
  ZEND_PARSE_PARAMETERS_NONE();
  if (!VANTORO_G(has_last_mark_id)) {
    RETURN_NULL();
  }
  mark_id_zval(return_value, VANTORO_G(last_mark_id));
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

static PHP_GINIT_FUNCTION(vantoro) {
#if defined(ZTS) && defined(COMPILE_DL_VANTORO)
  ZEND_TSRMLS_CACHE_UPDATE();
#endif
  memset(vantoro_globals, 0, sizeof *vantoro_globals);
}

/* Thread-safe builds reach SG() and EG() through a per-thread cache. */
PHP_RINIT_FUNCTION(vantoro) {
#if defined(ZTS) && defined(COMPILE_DL_VANTORO)
  ZEND_TSRMLS_CACHE_UPDATE();
#endif
  /* No mark id is the last one of a request before it made one. */
  VANTORO_G(has_last_mark_id) = false;
  VANTORO_G(last_mark_id) = 0;
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
  PHP_MODULE_GLOBALS(vantoro),
  PHP_GINIT(vantoro),
  NULL,
  NULL,
  STANDARD_MODULE_PROPERTIES_EX,
};

#ifdef COMPILE_DL_VANTORO
#ifdef ZTS
ZEND_TSRMLS_CACHE_DEFINE()
#endif
ZEND_GET_MODULE(vantoro)
#endif
