/* The native part of the Node package: the engine's handle and response policy
 * over the C interface, through Node-API only (so one build serves every Node
 * version of the same Node-API level). It converts texts, runs the passes (on
 * the calling thread, or on libuv's pool for the asynchronous methods) and
 * turns statuses into exceptions. Option names, defaults and the middleware are
 * JavaScript (index.js, middleware.js). */
#define NAPI_VERSION 8
#include <node_api.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantoro/vantoro.h"

/* Per environment (worker threads load the module once each): the class that
 * failed statuses are thrown as, VantoroError(message, status, errno), which
 * index.js hands over. */
typedef struct {
  napi_ref error_class;
} addon_data;

typedef struct {
  vantoro_handle *handle;
  /* An asynchronous pass owns the handle until it completes: a handle serves
   * one thread at a time, so every other call on it fails meanwhile. */
  int busy;
  /* The charset is "auto": a string, handed over as UTF-8, must then be read as
   * UTF-8 whatever its <meta> says, or the inserted text would not decode. */
  int auto_charset;
  /* The explicit charset (for a string pass, which runs in UTF-8 and puts this
   * one back), NULL for "auto". */
  char *charset;
  /* The transport charset the caller set, or NULL: a string pass overrides it. */
  char *transport;
  /* The id for passes called without one, and the id the library handle holds:
   * an id given to one pass is set for that pass alone. */
  uint64_t mark_id;
  uint64_t applied_mark_id;
} handle_box;

typedef struct {
  vantoro_policy *policy;
} policy_box;

enum pass_kind { PASS_PAGE = 0, PASS_CONTENT = 1, PASS_BOTH = 2 };

/* A text handed to the engine: a string's UTF-8 (owned), or a byte view. */
typedef struct {
  const char *data;
  size_t length;
  char *owned;
  int is_string;
} text_arg;

/* A pass on libuv's pool. */
typedef struct {
  napi_async_work work;
  napi_deferred deferred;
  napi_ref self; /* keeps the JavaScript handle, and so the box, alive */
  handle_box *box;
  enum pass_kind pass;
  char *input; /* a copy: the caller may change or detach its buffer meanwhile */
  size_t length;
  int is_string;
  int has_id;
  uint64_t id;
  char *out;
  size_t out_length;
  vantoro_status status;
} pass_job;

/* ---- Errors ---- */

/* Throws new VantoroError(message, name, status); the class comes from index.js. */
static void throw_status(napi_env env, vantoro_status status, const char *message) {
  addon_data *data = NULL;
  napi_value ctor, args[3], error;
  if (message == NULL || message[0] == '\0') message = vantoro_status_name(status);
  if (napi_get_instance_data(env, (void **)&data) != napi_ok || data == NULL ||
      data->error_class == NULL ||
      napi_get_reference_value(env, data->error_class, &ctor) != napi_ok || ctor == NULL ||
      napi_create_string_utf8(env, message, NAPI_AUTO_LENGTH, &args[0]) != napi_ok ||
      napi_create_string_utf8(env, vantoro_status_name(status), NAPI_AUTO_LENGTH, &args[1]) !=
          napi_ok ||
      napi_create_int32(env, (int32_t)status, &args[2]) != napi_ok ||
      napi_new_instance(env, ctor, 3, args, &error) != napi_ok) {
    napi_throw_error(env, vantoro_status_name(status), message);
    return;
  }
  napi_throw(env, error);
}

static void throw_type(napi_env env, const char *message) {
  napi_throw_type_error(env, "ERR_INVALID_ARG_TYPE", message);
}

/* Node-API failures that are not the caller's fault (out of memory, a pending
 * exception): throws unless an exception is already pending. */
static void throw_napi(napi_env env, napi_status status) {
  bool pending = false;
  if (status == napi_pending_exception ||
      (napi_is_exception_pending(env, &pending) == napi_ok && pending)) {
    return;
  }
  napi_throw_error(env, "ERR_VANTORO_NAPI", "Node-API call failed");
}

#define CHECK(env, call)               \
  do {                                 \
    napi_status check_status_ = (call); \
    if (check_status_ != napi_ok) {    \
      throw_napi((env), check_status_); \
      return NULL;                     \
    }                                  \
  } while (0)

/* ---- Arguments ---- */

/* The arguments of a call, `this` and the box wrapped in it. */
static int get_args(napi_env env, napi_callback_info info, size_t wanted, napi_value *argv,
                    napi_value *self) {
  size_t argc = wanted;
  size_t i;
  napi_value undefined;
  if (napi_get_cb_info(env, info, &argc, argv, self, NULL) != napi_ok) return -1;
  if (napi_get_undefined(env, &undefined) != napi_ok) return -1;
  for (i = argc; i < wanted; ++i) argv[i] = undefined;
  return 0;
}

static handle_box *unwrap_handle(napi_env env, napi_value self, int check_busy) {
  handle_box *box = NULL;
  if (napi_unwrap(env, self, (void **)&box) != napi_ok || box == NULL) {
    throw_type(env, "not a vantoro handle");
    return NULL;
  }
  if (check_busy && box->busy) {
    napi_throw_error(env, "ERR_VANTORO_BUSY",
                     "the protector is running an asynchronous pass; await it first");
    return NULL;
  }
  return box;
}

static napi_valuetype type_of(napi_env env, napi_value value) {
  napi_valuetype type = napi_undefined;
  napi_typeof(env, value, &type);
  return type;
}

/* A JavaScript string as malloc'd, NUL-terminated UTF-8 (unpaired surrogates
 * become U+FFFD, as V8 writes them). NULL with an exception when not a string. */
static char *utf8_of(napi_env env, napi_value value, size_t *length, const char *what) {
  size_t size = 0, written = 0;
  char *text;
  if (type_of(env, value) != napi_string) {
    char message[128];
    snprintf(message, sizeof message, "%s must be a string", what);
    throw_type(env, message);
    return NULL;
  }
  /* Three bytes of UTF-8 per UTF-16 unit at most: up to a few megabytes the
   * text is written in one go, without the scan that measures it first. */
  if (napi_get_value_string_utf16(env, value, NULL, 0, &size) != napi_ok) {
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  if (size <= ((size_t)4 << 20)) {
    size *= 3;
  } else if (napi_get_value_string_utf8(env, value, NULL, 0, &size) != napi_ok) {
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  text = malloc(size + 1);
  if (text == NULL) {
    throw_status(env, VANTORO_OUT_OF_MEMORY, "out of memory");
    return NULL;
  }
  if (napi_get_value_string_utf8(env, value, text, size + 1, &written) != napi_ok) {
    free(text);
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  if (length != NULL) *length = written;
  return text;
}

/* A C string option: Error for a NUL inside, which would cut it off unseen. */
static char *c_string_of(napi_env env, napi_value value, const char *what) {
  size_t length = 0;
  char *text = utf8_of(env, value, &length, what);
  if (text != NULL && strlen(text) != length) {
    char message[128];
    free(text);
    snprintf(message, sizeof message, "%s contains a NUL character", what);
    throw_status(env, VANTORO_INVALID_ARGUMENT, message);
    return NULL;
  }
  return text;
}

/* A string or a Uint8Array (a Buffer is one). */
static int read_text(napi_env env, napi_value value, text_arg *text) {
  bool is_typed = false;
  memset(text, 0, sizeof *text);
  if (type_of(env, value) == napi_string) {
    text->owned = utf8_of(env, value, &text->length, "the text");
    if (text->owned == NULL) return -1;
    text->data = text->owned;
    text->is_string = 1;
    return 0;
  }
  if (napi_is_typedarray(env, value, &is_typed) == napi_ok && is_typed) {
    napi_typedarray_type kind;
    size_t length = 0;
    void *data = NULL;
    if (napi_get_typedarray_info(env, value, &kind, &length, &data, NULL, NULL) == napi_ok &&
        kind == napi_uint8_array) {
      /* An empty view may have no storage at all. */
      text->data = data == NULL ? "" : data;
      text->length = length;
      return 0;
    }
  }
  throw_type(env, "the text must be a string, a Buffer or a Uint8Array");
  return -1;
}

static int read_bool(napi_env env, napi_value value, int *on) {
  bool result = false;
  if (napi_coerce_to_bool(env, value, &value) != napi_ok ||
      napi_get_value_bool(env, value, &result) != napi_ok) {
    throw_napi(env, napi_generic_failure);
    return -1;
  }
  *on = result ? 1 : 0;
  return 0;
}

/* A mark id: a BigInt index.js has checked to be in 0..2**64-1. */
static int read_mark_id(napi_env env, napi_value value, uint64_t *id) {
  bool lossless = false;
  if (type_of(env, value) != napi_bigint ||
      napi_get_value_bigint_uint64(env, value, id, &lossless) != napi_ok) {
    throw_type(env, "the mark id must be a BigInt");
    return -1;
  }
  if (!lossless) {
    napi_throw_range_error(env, "ERR_OUT_OF_RANGE", "the mark id must be in 0..2**64-1");
    return -1;
  }
  return 0;
}

/* ---- Results ---- */

/* The engine's result as the caller's type; takes `out` over in every case. A
 * Buffer gets a copy: handing the engine's allocation to the Buffer would keep
 * it until the garbage collector runs, so every call would take fresh pages
 * from the system instead of reusing the last call's (twice as slow on an
 * 87 KB page). */
static napi_value make_result(napi_env env, char *out, size_t length, int as_string) {
  napi_value result = NULL;
  napi_status status = as_string ? napi_create_string_utf8(env, out, length, &result)
                                 : napi_create_buffer_copy(env, length, out, NULL, &result);
  vantoro_free(out);
  if (status != napi_ok) {
    throw_napi(env, status);
    return NULL;
  }
  return result;
}

/* ---- The handle ---- */

static void handle_finalize(napi_env env, void *data, void *hint) {
  handle_box *box = data;
  (void)env;
  (void)hint;
  vantoro_destroy(box->handle);
  free(box->charset);
  free(box->transport);
  free(box);
}

static napi_value handle_new(napi_env env, napi_callback_info info) {
  napi_value self;
  handle_box *box;
  vantoro_status status;
  CHECK(env, napi_get_cb_info(env, info, NULL, NULL, &self, NULL));
  box = calloc(1, sizeof *box);
  if (box == NULL) {
    throw_status(env, VANTORO_OUT_OF_MEMORY, "out of memory");
    return NULL;
  }
  status = vantoro_create(&box->handle);
  if (status != VANTORO_OK) {
    free(box);
    throw_status(env, status, NULL);
    return NULL;
  }
  box->auto_charset = 1; /* the library's default */
  if (napi_wrap(env, self, box, handle_finalize, NULL, NULL) != napi_ok) {
    vantoro_destroy(box->handle);
    free(box);
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  return self;
}

static vantoro_status run_engine(vantoro_handle *handle, enum pass_kind pass, const char *data,
                                 size_t length, char **out, size_t *out_length) {
  switch (pass) {
    case PASS_PAGE: return vantoro_protect_page(handle, data, length, out, out_length);
    case PASS_CONTENT: return vantoro_protect_content(handle, data, length, out, out_length);
    case PASS_BOTH: break;
  }
  return vantoro_protect(handle, data, length, out, out_length);
}

/* One pass on the box's handle, with the id and the string's character set in
 * force for this call alone. No Node-API inside: it runs on the pool too. */
static vantoro_status run_pass(handle_box *box, enum pass_kind pass, const char *data,
                               size_t length, int is_string, int has_id, uint64_t id, char **out,
                               size_t *out_length) {
  vantoro_status status = VANTORO_OK, restored = VANTORO_OK;
  *out = NULL;
  *out_length = 0;
  if (pass != PASS_PAGE) {
    if (!has_id) id = box->mark_id;
    if (id != box->applied_mark_id) {
      unsigned char bytes[8];
      int i;
      for (i = 0; i < 8; ++i) bytes[i] = (unsigned char)(id >> (56 - 8 * i));
      status = vantoro_set_mark_id(box->handle, bytes);
      if (status != VANTORO_OK) return status;
      box->applied_mark_id = id;
    }
  }
  /* A string is handed over as UTF-8: the inserted text must be UTF-8 too. With
   * "auto" the transport outranks a <meta> declaration, and the only byte order
   * mark UTF-8 text can start with is UTF-8's. */
  if (is_string) {
    status = box->auto_charset ? vantoro_set_transport_charset(box->handle, "UTF-8")
                               : vantoro_set_charset(box->handle, "UTF-8");
  }
  if (status == VANTORO_OK) status = run_engine(box->handle, pass, data, length, out, out_length);
  if (is_string) {
    restored = box->auto_charset ? vantoro_set_transport_charset(box->handle, box->transport)
                                 : vantoro_set_charset(box->handle, box->charset);
  }
  if (restored != VANTORO_OK && status == VANTORO_OK) {
    vantoro_free(*out);
    *out = NULL;
    *out_length = 0;
    status = restored;
  }
  return status;
}

static int read_pass(napi_env env, napi_value value, enum pass_kind *pass) {
  int32_t number = -1;
  if (napi_get_value_int32(env, value, &number) != napi_ok || number < PASS_PAGE ||
      number > PASS_BOTH) {
    throw_type(env, "unknown pass");
    return -1;
  }
  *pass = (enum pass_kind)number;
  return 0;
}

/* run(pass, text, markId?): the pass on the calling thread. */
static napi_value handle_run(napi_env env, napi_callback_info info) {
  napi_value argv[3], self;
  handle_box *box;
  enum pass_kind pass;
  text_arg text;
  int has_id;
  uint64_t id = 0;
  char *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  if (get_args(env, info, 3, argv, &self) < 0 || (box = unwrap_handle(env, self, 1)) == NULL ||
      read_pass(env, argv[0], &pass) < 0) {
    return NULL;
  }
  has_id = type_of(env, argv[2]) != napi_undefined;
  if (has_id && read_mark_id(env, argv[2], &id) < 0) return NULL;
  if (read_text(env, argv[1], &text) < 0) return NULL;
  status = run_pass(box, pass, text.data, text.length, text.is_string, has_id, id, &out,
                    &out_length);
  free(text.owned);
  if (status != VANTORO_OK) {
    throw_status(env, status, vantoro_last_error(box->handle));
    return NULL;
  }
  return make_result(env, out, out_length, text.is_string);
}

static void job_execute(napi_env env, void *data) {
  pass_job *job = data;
  (void)env;
  job->status = run_pass(job->box, job->pass, job->input, job->length, job->is_string,
                         job->has_id, job->id, &job->out, &job->out_length);
}

static void job_complete(napi_env env, napi_status work_status, void *data) {
  pass_job *job = data;
  napi_value value = NULL, error;
  bool pending = false;
  job->box->busy = 0;
  if (work_status == napi_ok && job->status == VANTORO_OK) {
    value = make_result(env, job->out, job->out_length, job->is_string);
    job->out = NULL;
  } else if (work_status == napi_ok) {
    throw_status(env, job->status, vantoro_last_error(job->box->handle));
  } else {
    vantoro_free(job->out);
    job->out = NULL;
    napi_throw_error(env, "ERR_VANTORO_NAPI", "the asynchronous pass was cancelled");
  }
  /* A thrown error becomes the promise's rejection. */
  if (value != NULL) {
    napi_resolve_deferred(env, job->deferred, value);
  } else if (napi_is_exception_pending(env, &pending) == napi_ok && pending &&
             napi_get_and_clear_last_exception(env, &error) == napi_ok) {
    napi_reject_deferred(env, job->deferred, error);
  }
  napi_delete_reference(env, job->self);
  napi_delete_async_work(env, job->work);
  free(job->input);
  free(job);
}

/* runAsync(pass, text, markId?): a promise of the pass, run on libuv's pool. */
static napi_value handle_run_async(napi_env env, napi_callback_info info) {
  napi_value argv[3], self, promise, name;
  handle_box *box;
  pass_job *job;
  text_arg text;
  if (get_args(env, info, 3, argv, &self) < 0 || (box = unwrap_handle(env, self, 1)) == NULL) {
    return NULL;
  }
  job = calloc(1, sizeof *job);
  if (job == NULL) {
    throw_status(env, VANTORO_OUT_OF_MEMORY, "out of memory");
    return NULL;
  }
  job->box = box;
  if (read_pass(env, argv[0], &job->pass) < 0 ||
      (type_of(env, argv[2]) != napi_undefined && read_mark_id(env, argv[2], &job->id) < 0) ||
      read_text(env, argv[1], &text) < 0) {
    free(job);
    return NULL;
  }
  job->has_id = type_of(env, argv[2]) != napi_undefined;
  job->is_string = text.is_string;
  job->length = text.length;
  if (text.owned != NULL) {
    job->input = text.owned;
  } else {
    job->input = malloc(text.length + 1);
    if (job->input != NULL) memcpy(job->input, text.data, text.length);
  }
  if (job->input == NULL) {
    free(job);
    throw_status(env, VANTORO_OUT_OF_MEMORY, "out of memory");
    return NULL;
  }
  if (napi_create_string_utf8(env, "vantoro:pass", NAPI_AUTO_LENGTH, &name) != napi_ok ||
      napi_create_promise(env, &job->deferred, &promise) != napi_ok) {
    free(job->input);
    free(job);
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  if (napi_create_reference(env, self, 1, &job->self) != napi_ok ||
      napi_create_async_work(env, NULL, name, job_execute, job_complete, job, &job->work) !=
          napi_ok ||
      napi_queue_async_work(env, job->work) != napi_ok) {
    /* Nothing was queued: settle the promise here. */
    napi_value error;
    if (job->work != NULL) napi_delete_async_work(env, job->work);
    if (job->self != NULL) napi_delete_reference(env, job->self);
    napi_create_string_utf8(env, "could not queue the pass", NAPI_AUTO_LENGTH, &name);
    napi_create_error(env, NULL, name, &error);
    napi_reject_deferred(env, job->deferred, error);
    free(job->input);
    free(job);
    return promise;
  }
  box->busy = 1;
  return promise;
}

/* Ends a setter: throws for a failed status, else returns undefined. */
static napi_value setter_result(napi_env env, handle_box *box, vantoro_status status) {
  if (status != VANTORO_OK) throw_status(env, status, vantoro_last_error(box->handle));
  return NULL;
}

/* The prologue of every setter: its one argument and the idle box. */
static handle_box *setter_args(napi_env env, napi_callback_info info, size_t count,
                               napi_value *argv) {
  napi_value self;
  if (get_args(env, info, count, argv, &self) < 0) {
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  return unwrap_handle(env, self, 1);
}

static napi_value handle_set_copyright(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  char *text;
  size_t length = 0;
  vantoro_status status;
  if (box == NULL || (text = utf8_of(env, argv[0], &length, "the copyright")) == NULL) return NULL;
  status = vantoro_set_copyright(box->handle, text, length);
  free(text);
  return setter_result(env, box, status);
}

/* A number argument of an enum, out of range as 0 (which every setter refuses). */
static int enum_value(napi_env env, napi_value value) {
  int32_t number = 0;
  if (napi_get_value_int32(env, value, &number) != napi_ok) return 0;
  return number;
}

static napi_value handle_set_decoy_kind(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  if (box == NULL) return NULL;
  return setter_result(
      env, box, vantoro_set_decoy_kind(box->handle, (vantoro_decoy_kind)enum_value(env, argv[0])));
}

static napi_value handle_set_charset(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  char *name;
  vantoro_status status;
  int is_auto;
  if (box == NULL || (name = c_string_of(env, argv[0], "the character set name")) == NULL) {
    return NULL;
  }
  status = vantoro_set_charset(box->handle, name);
  if (status != VANTORO_OK) {
    free(name);
    return setter_result(env, box, status);
  }
  is_auto = strlen(name) == 4 && (name[0] | 0x20) == 'a' && (name[1] | 0x20) == 'u' &&
            (name[2] | 0x20) == 't' && (name[3] | 0x20) == 'o';
  free(box->charset);
  box->charset = is_auto ? NULL : name;
  if (is_auto) free(name);
  box->auto_charset = is_auto;
  return NULL;
}

static napi_value handle_set_transport_charset(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  char *label = NULL;
  vantoro_status status;
  napi_valuetype type;
  if (box == NULL) return NULL;
  type = type_of(env, argv[0]);
  if (type != napi_null && type != napi_undefined &&
      (label = c_string_of(env, argv[0], "the transport charset")) == NULL) {
    return NULL;
  }
  status = vantoro_set_transport_charset(box->handle, label);
  if (status != VANTORO_OK) {
    free(label);
    return setter_result(env, box, status);
  }
  free(box->transport);
  box->transport = label;
  return NULL;
}

/* (method, siteKey): both at once, as hiding by class needs the key. */
static napi_value handle_set_hiding(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  handle_box *box = setter_args(env, info, 2, argv);
  char *key;
  size_t length = 0;
  vantoro_status status;
  if (box == NULL || (key = utf8_of(env, argv[1], &length, "the site key")) == NULL) return NULL;
  status = vantoro_set_hiding(box->handle, (vantoro_hide_method)enum_value(env, argv[0]), key,
                              length);
  free(key);
  return setter_result(env, box, status);
}

static napi_value handle_set_stylesheet_link(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  char *uri;
  size_t length = 0;
  vantoro_status status;
  if (box == NULL || (uri = utf8_of(env, argv[0], &length, "the stylesheet link")) == NULL) {
    return NULL;
  }
  status = vantoro_set_stylesheet_link(box->handle, uri, length);
  free(uri);
  return setter_result(env, box, status);
}

/* The on/off setters share one shape. */
typedef vantoro_status (*flag_setter)(vantoro_handle *, int);

static napi_value set_flag(napi_env env, napi_callback_info info, flag_setter setter) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  int on = 0;
  if (box == NULL || read_bool(env, argv[0], &on) < 0) return NULL;
  return setter_result(env, box, setter(box->handle, on));
}

static napi_value handle_set_nosnippet(napi_env env, napi_callback_info info) {
  return set_flag(env, info, vantoro_set_nosnippet);
}

static napi_value handle_set_empty_notices(napi_env env, napi_callback_info info) {
  return set_flag(env, info, vantoro_set_empty_notices);
}

static napi_value handle_set_marks(napi_env env, napi_callback_info info) {
  return set_flag(env, info, vantoro_set_marks);
}

static napi_value handle_set_tdm_reservation(napi_env env, napi_callback_info info) {
  return set_flag(env, info, vantoro_set_tdm_reservation);
}

/* A count index.js checked (an integer, 0 or more); beyond size_t every count
 * means the same as its largest: a copy-visible notice at the first decoy only. */
static napi_value handle_set_copy_notices(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  double every = 0;
  size_t count;
  if (box == NULL) return NULL;
  if (napi_get_value_double(env, argv[0], &every) != napi_ok || !(every >= 0)) {
    napi_throw_range_error(env, "ERR_OUT_OF_RANGE", "copyNotices must be 0 or more");
    return NULL;
  }
  count = every >= (double)SIZE_MAX ? SIZE_MAX : (size_t)every;
  return setter_result(env, box, vantoro_set_copy_notices(box->handle, count));
}

/* The id of the marks of passes called without one. */
static napi_value handle_set_mark_id(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  uint64_t id;
  if (box == NULL || read_mark_id(env, argv[0], &id) < 0) return NULL;
  box->mark_id = id;
  return NULL;
}

/* replay(Float64Array): the random values of the following calls. */
static napi_value handle_replay(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  handle_box *box = setter_args(env, info, 1, argv);
  bool is_typed = false;
  napi_typedarray_type kind;
  size_t count = 0;
  void *values = NULL;
  if (box == NULL) return NULL;
  if (napi_is_typedarray(env, argv[0], &is_typed) != napi_ok || !is_typed ||
      napi_get_typedarray_info(env, argv[0], &kind, &count, &values, NULL, NULL) != napi_ok ||
      kind != napi_float64_array) {
    throw_type(env, "the replayed values must be a Float64Array");
    return NULL;
  }
  /* The library copies them. */
  return setter_result(env, box, vantoro_replay(box->handle, count == 0 ? NULL : values, count));
}

/* ---- The response policy ---- */

static void policy_finalize(napi_env env, void *data, void *hint) {
  policy_box *box = data;
  (void)env;
  (void)hint;
  vantoro_policy_destroy(box->policy);
  free(box);
}

static napi_value policy_new(napi_env env, napi_callback_info info) {
  napi_value self;
  policy_box *box;
  vantoro_status status;
  CHECK(env, napi_get_cb_info(env, info, NULL, NULL, &self, NULL));
  box = calloc(1, sizeof *box);
  if (box == NULL) {
    throw_status(env, VANTORO_OUT_OF_MEMORY, "out of memory");
    return NULL;
  }
  status = vantoro_policy_create(&box->policy);
  if (status != VANTORO_OK) {
    free(box);
    throw_status(env, status, NULL);
    return NULL;
  }
  if (napi_wrap(env, self, box, policy_finalize, NULL, NULL) != napi_ok) {
    vantoro_policy_destroy(box->policy);
    free(box);
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  return self;
}

static policy_box *unwrap_policy(napi_env env, napi_value self) {
  policy_box *box = NULL;
  if (napi_unwrap(env, self, (void **)&box) != napi_ok || box == NULL) {
    throw_type(env, "not a vantoro policy");
    return NULL;
  }
  return box;
}

static napi_value policy_add_type(napi_env env, napi_callback_info info) {
  napi_value argv[1], self;
  policy_box *box;
  char *type;
  size_t length = 0;
  vantoro_status status;
  if (get_args(env, info, 1, argv, &self) < 0 || (box = unwrap_policy(env, self)) == NULL ||
      (type = utf8_of(env, argv[0], &length, "the media type")) == NULL) {
    return NULL;
  }
  status = vantoro_policy_add_type(box->policy, type, length);
  free(type);
  if (status != VANTORO_OK) throw_status(env, status, vantoro_policy_last_error(box->policy));
  return NULL;
}

/* A header value for judge: a string, or null/undefined when absent. Sets
 * *text to NULL for absent; -1 with an exception for anything else. */
static int optional_utf8(napi_env env, napi_value value, char **text, size_t *length,
                         const char *what) {
  napi_valuetype type = type_of(env, value);
  *text = NULL;
  *length = 0;
  if (type == napi_null || type == napi_undefined) return 0;
  *text = utf8_of(env, value, length, what);
  return *text == NULL ? -1 : 0;
}

/* judge(status, contentType, contentEncoding, cacheControl, contentRange): the
 * verdict's name. */
static napi_value policy_judge(napi_env env, napi_callback_info info) {
  napi_value argv[5], self, result;
  policy_box *box;
  char *values[3] = {NULL, NULL, NULL};
  size_t lengths[3] = {0, 0, 0};
  static const char *const what[3] = {"the content type", "the content encoding",
                                      "the cache control"};
  int32_t status = 0;
  int range = 0, i, failed = 0;
  vantoro_verdict verdict;
  if (get_args(env, info, 5, argv, &self) < 0 || (box = unwrap_policy(env, self)) == NULL) {
    return NULL;
  }
  /* A status that is no int32 is no 200. */
  if (napi_get_value_int32(env, argv[0], &status) != napi_ok) status = 0;
  for (i = 0; i < 3 && !failed; ++i) {
    failed = optional_utf8(env, argv[i + 1], &values[i], &lengths[i], what[i]) < 0;
  }
  if (!failed) failed = read_bool(env, argv[4], &range) < 0;
  if (failed) {
    for (i = 0; i < 3; ++i) free(values[i]);
    return NULL;
  }
  verdict = vantoro_policy_judge(box->policy, status, values[0], lengths[0], values[1],
                                 lengths[1], values[2], lengths[2], range);
  for (i = 0; i < 3; ++i) free(values[i]);
  CHECK(env, napi_create_string_latin1(env, vantoro_verdict_name(verdict), NAPI_AUTO_LENGTH,
                                       &result));
  return result;
}

/* ---- Module functions ---- */

static napi_value make_string(napi_env env, const char *text) {
  napi_value result;
  CHECK(env, napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &result));
  return result;
}

/* stylesheet(siteKey): the stylesheet for hiding by class. */
static napi_value module_stylesheet(napi_env env, napi_callback_info info) {
  napi_value argv[1], self;
  char *key, *out = NULL;
  size_t length = 0, out_length = 0;
  vantoro_status status;
  if (get_args(env, info, 1, argv, &self) < 0 ||
      (key = utf8_of(env, argv[0], &length, "the site key")) == NULL) {
    return NULL;
  }
  status = vantoro_stylesheet(key, length, &out, &out_length);
  free(key);
  /* No handle carries a message here; an empty key is the one argument refused. */
  if (status != VANTORO_OK) {
    throw_status(env, status, status == VANTORO_INVALID_ARGUMENT ? "empty site key" : NULL);
    return NULL;
  }
  return make_result(env, out, out_length, 1);
}

/* trace(text, siteKey): [id, agreeing, seen] of the best mark found, or null. */
static napi_value module_trace(napi_env env, napi_callback_info info) {
  napi_value argv[2], self, result, item;
  text_arg text;
  char *key;
  size_t key_length = 0, agreeing = 0, seen = 0;
  unsigned char bytes[8];
  int found = 0, i;
  uint64_t id = 0;
  vantoro_status status;
  if (get_args(env, info, 2, argv, &self) < 0 || read_text(env, argv[0], &text) < 0) return NULL;
  key = utf8_of(env, argv[1], &key_length, "the site key");
  if (key == NULL) {
    free(text.owned);
    return NULL;
  }
  status = vantoro_trace(text.data, text.length, key, key_length, &found, bytes, &agreeing, &seen);
  free(key);
  free(text.owned);
  if (status != VANTORO_OK) {
    throw_status(env, status, status == VANTORO_INVALID_ARGUMENT ? "empty site key" : NULL);
    return NULL;
  }
  if (!found) {
    CHECK(env, napi_get_null(env, &result));
    return result;
  }
  for (i = 0; i < 8; ++i) id = (id << 8) | bytes[i];
  CHECK(env, napi_create_array_with_length(env, 3, &result));
  CHECK(env, napi_create_bigint_uint64(env, id, &item));
  CHECK(env, napi_set_element(env, result, 0, item));
  CHECK(env, napi_create_double(env, (double)agreeing, &item));
  CHECK(env, napi_set_element(env, result, 1, item));
  CHECK(env, napi_create_double(env, (double)seen, &item));
  CHECK(env, napi_set_element(env, result, 2, item));
  return result;
}

static napi_value module_is_protected(napi_env env, napi_callback_info info) {
  napi_value argv[1], self, result;
  text_arg text;
  int protected_page;
  if (get_args(env, info, 1, argv, &self) < 0 || read_text(env, argv[0], &text) < 0) return NULL;
  protected_page = vantoro_is_protected(text.data, text.length);
  free(text.owned);
  CHECK(env, napi_get_boolean(env, protected_page != 0, &result));
  return result;
}

/* detectCharset(page, transport?): the WHATWG name a browser reads it in. */
static napi_value module_detect_charset(napi_env env, napi_callback_info info) {
  napi_value argv[2], self;
  text_arg text;
  char *label = NULL;
  const char *name;
  napi_valuetype type;
  if (get_args(env, info, 2, argv, &self) < 0) return NULL;
  type = type_of(env, argv[1]);
  if (type != napi_null && type != napi_undefined &&
      (label = c_string_of(env, argv[1], "the transport charset")) == NULL) {
    return NULL;
  }
  if (read_text(env, argv[0], &text) < 0) {
    free(label);
    return NULL;
  }
  /* Reads the byte order mark and the first 1024 bytes only. */
  name = vantoro_detect_charset(text.data, text.length, label);
  free(label);
  free(text.owned);
  return make_string(env, name == NULL ? "UTF-8" : name);
}

/* protectedHeader(name): what protecting a response does to that header. */
static napi_value module_protected_header(napi_env env, napi_callback_info info) {
  napi_value argv[1], self;
  char *name;
  size_t length = 0;
  const char *action = "keep";
  if (get_args(env, info, 1, argv, &self) < 0 ||
      (name = utf8_of(env, argv[0], &length, "the header name")) == NULL) {
    return NULL;
  }
  switch (vantoro_protected_header(name, length)) {
    case VANTORO_HEADER_DROP: action = "drop"; break;
    case VANTORO_HEADER_WEAKEN: action = "weaken"; break;
    case VANTORO_HEADER_LENGTH: action = "length"; break;
    case VANTORO_HEADER_KEEP: break;
  }
  free(name);
  return make_string(env, action);
}

/* setErrorClass(VantoroError): the class failed statuses are thrown as. */
static napi_value module_set_error_class(napi_env env, napi_callback_info info) {
  napi_value argv[1], self;
  addon_data *data = NULL;
  if (get_args(env, info, 1, argv, &self) < 0) return NULL;
  if (type_of(env, argv[0]) != napi_function) {
    throw_type(env, "the error class must be a function");
    return NULL;
  }
  CHECK(env, napi_get_instance_data(env, (void **)&data));
  if (data->error_class != NULL) napi_delete_reference(env, data->error_class);
  data->error_class = NULL;
  CHECK(env, napi_create_reference(env, argv[0], 1, &data->error_class));
  return NULL;
}

static void addon_finalize(napi_env env, void *data, void *hint) {
  addon_data *addon = data;
  (void)hint;
  if (addon->error_class != NULL) napi_delete_reference(env, addon->error_class);
  free(addon);
}

#define METHOD(name, fn) {name, NULL, fn, NULL, NULL, NULL, napi_default, NULL}

static napi_value init(napi_env env, napi_value exports) {
  static const napi_property_descriptor handle_methods[] = {
      METHOD("run", handle_run),
      METHOD("runAsync", handle_run_async),
      METHOD("setCopyright", handle_set_copyright),
      METHOD("setDecoyKind", handle_set_decoy_kind),
      METHOD("setCharset", handle_set_charset),
      METHOD("setTransportCharset", handle_set_transport_charset),
      METHOD("setHiding", handle_set_hiding),
      METHOD("setStylesheetLink", handle_set_stylesheet_link),
      METHOD("setNosnippet", handle_set_nosnippet),
      METHOD("setEmptyNotices", handle_set_empty_notices),
      METHOD("setCopyNotices", handle_set_copy_notices),
      METHOD("setMarks", handle_set_marks),
      METHOD("setMarkId", handle_set_mark_id),
      METHOD("setTdmReservation", handle_set_tdm_reservation),
      METHOD("replay", handle_replay),
  };
  static const napi_property_descriptor policy_methods[] = {
      METHOD("addType", policy_add_type),
      METHOD("judge", policy_judge),
  };
  napi_property_descriptor functions[] = {
      METHOD("stylesheet", module_stylesheet),
      METHOD("trace", module_trace),
      METHOD("isProtected", module_is_protected),
      METHOD("detectCharset", module_detect_charset),
      METHOD("protectedHeader", module_protected_header),
      METHOD("setErrorClass", module_set_error_class),
      {"Handle", NULL, NULL, NULL, NULL, NULL, napi_default, NULL},
      {"Policy", NULL, NULL, NULL, NULL, NULL, napi_default, NULL},
      {"version", NULL, NULL, NULL, NULL, NULL, napi_enumerable, NULL},
  };
  const size_t count = sizeof functions / sizeof functions[0];
  addon_data *data = calloc(1, sizeof *data);
  if (data == NULL) {
    napi_throw_error(env, NULL, "out of memory");
    return NULL;
  }
  if (napi_set_instance_data(env, data, addon_finalize, NULL) != napi_ok) {
    free(data);
    throw_napi(env, napi_generic_failure);
    return NULL;
  }
  CHECK(env, napi_define_class(env, "Handle", NAPI_AUTO_LENGTH, handle_new, NULL,
                               sizeof handle_methods / sizeof handle_methods[0], handle_methods,
                               &functions[count - 3].value));
  CHECK(env, napi_define_class(env, "Policy", NAPI_AUTO_LENGTH, policy_new, NULL,
                               sizeof policy_methods / sizeof policy_methods[0], policy_methods,
                               &functions[count - 2].value));
  functions[count - 1].value = make_string(env, vantoro_version());
  if (functions[count - 1].value == NULL) return NULL;
  CHECK(env, napi_define_properties(env, exports, count, functions));
  return exports;
}

NAPI_MODULE(NODE_GYP_MODULE_NAME, init)
