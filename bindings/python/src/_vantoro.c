/* vantoro._vantoro: the handle and policy types the Python package builds on,
 * over the C interface only. It does what needs C: converting texts, running the
 * passes with the GIL released, and turning statuses into exceptions. Option
 * names, defaults and the WSGI layer are Python (vantoro/__init__.py,
 * vantoro/wsgi.py). */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pythread.h>
#include <limits.h>
#include <string.h>

#include "vantoro/vantoro.h"

typedef struct {
  PyObject_HEAD
  vantoro_handle *handle;
  /* A handle serves one thread at a time, and the GIL is released during a
   * pass, so each call holds this lock from start to finish. */
  PyThread_type_lock lock;
  /* The Python codec for str texts when the pages' character set is not
   * UTF-8; NULL for UTF-8 and "auto". */
  PyObject *codec;
  /* The charset is "auto": a str, encoded as UTF-8, must then be read as
   * UTF-8 whatever its <meta> says, or the inserted text would not decode. */
  int auto_charset;
  /* The transport charset the caller set (bytes, NUL-terminated), or NULL: a
   * str pass sets UTF-8 for itself, then puts this one back. */
  PyObject *transport;
  /* The mark id of a content pass called without one, and the id the library
   * handle holds: a pass given its own id sets it for that pass only. */
  unsigned long long mark_id;
  unsigned long long applied_mark_id;
} Handle;

typedef struct {
  PyObject_HEAD
  vantoro_policy *policy;
} Policy;

typedef vantoro_status (*pass_fn)(vantoro_handle *, const char *, size_t, char **, size_t *);

static PyObject *Error; /* vantoro.Error */

/* The largest mark id, as the range in the message of an id outside it. */
#define MARK_ID_RANGE "0..18446744073709551615"

/* Sets the exception for a failed call; always returns NULL. */
static PyObject *raise_status(vantoro_status status, const char *message) {
  PyObject *text, *error, *name;
  if (status == VANTORO_OUT_OF_MEMORY) return PyErr_NoMemory();
  if (message == NULL || message[0] == '\0') message = vantoro_status_name(status);
  /* The message may quote a caller's bytes (a character set name). */
  text = PyUnicode_DecodeUTF8(message, (Py_ssize_t)strlen(message), "replace");
  if (text == NULL) return NULL;
  error = PyObject_CallOneArg(Error, text);
  Py_DECREF(text);
  if (error == NULL) return NULL;
  name = PyUnicode_FromString(vantoro_status_name(status));
  if (name == NULL || PyObject_SetAttrString(error, "status", name) < 0) {
    Py_XDECREF(name);
    Py_DECREF(error);
    return NULL;
  }
  Py_DECREF(name);
  PyErr_SetObject(Error, error);
  Py_DECREF(error);
  return NULL;
}

/* The UTF-8 of a str option as a C string; Error for a NUL inside, which a C
 * string would cut off. */
static const char *c_string(PyObject *text, const char *what) {
  Py_ssize_t size;
  const char *data;
  if (!PyUnicode_Check(text)) {
    PyErr_Format(PyExc_TypeError, "%s must be str, not %.200s", what, Py_TYPE(text)->tp_name);
    return NULL;
  }
  data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data != NULL && (size_t)size != strlen(data)) {
    PyObject *message = PyUnicode_FromFormat("%s contains a NUL character", what);
    if (message != NULL) {
      raise_status(VANTORO_INVALID_ARGUMENT, PyUnicode_AsUTF8(message));
      Py_DECREF(message);
    }
    return NULL;
  }
  return data;
}

/* A mark id from a Python int (not a bool: True would pass for id 1). Returns
 * 0, or -1 with TypeError or Error (a ValueError) for an id out of range. */
static int mark_id_from(PyObject *value, unsigned long long *id) {
  if (PyBool_Check(value) || !PyLong_Check(value)) {
    PyErr_Format(PyExc_TypeError, "the mark id must be int, not %.200s", Py_TYPE(value)->tp_name);
    return -1;
  }
  *id = PyLong_AsUnsignedLongLong(value);
  if (*id == (unsigned long long)-1 && PyErr_Occurred()) {
    /* OverflowError for a negative or too large int: the same error as any
     * other unusable option. */
    PyObject *message;
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return -1;
    PyErr_Clear();
    message = PyUnicode_FromFormat("mark id out of range: %R (must be in " MARK_ID_RANGE ")",
                                   value);
    if (message != NULL) {
      raise_status(VANTORO_INVALID_ARGUMENT, PyUnicode_AsUTF8(message));
      Py_DECREF(message);
    }
    return -1;
  }
  return 0;
}

/* Takes the handle's lock without holding the GIL while waiting: the holder
 * may need the GIL to finish. */
static void lock_handle(Handle *self) {
  if (!PyThread_acquire_lock(self->lock, NOWAIT_LOCK)) {
    Py_BEGIN_ALLOW_THREADS
    PyThread_acquire_lock(self->lock, WAIT_LOCK);
    Py_END_ALLOW_THREADS
  }
}

static PyObject *finish(Handle *self, vantoro_status status) {
  PyObject *result = status == VANTORO_OK ? Py_NewRef(Py_None)
                                          : raise_status(status, vantoro_last_error(self->handle));
  PyThread_release_lock(self->lock);
  return result;
}

static PyObject *Handle_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  Handle *self;
  vantoro_status status;
  (void)args;
  (void)kwargs;
  self = (Handle *)type->tp_alloc(type, 0);
  if (self == NULL) return NULL;
  self->lock = PyThread_allocate_lock();
  if (self->lock == NULL) {
    Py_DECREF(self);
    return PyErr_NoMemory();
  }
  status = vantoro_create(&self->handle);
  if (status != VANTORO_OK) {
    Py_DECREF(self);
    return raise_status(status, NULL);
  }
  self->auto_charset = 1; /* the library's default */
  return (PyObject *)self;
}

static void Handle_dealloc(Handle *self) {
  vantoro_destroy(self->handle);
  if (self->lock != NULL) PyThread_free_lock(self->lock);
  Py_CLEAR(self->codec);
  Py_CLEAR(self->transport);
  Py_TYPE(self)->tp_free((PyObject *)self);
}

/* A str or bytes text through one pass, into the same type. `mark_id`: the
 * id of a content pass's marks, NULL or None for the handle's own; NULL for
 * the page pass, which makes no marks. */
static PyObject *run_pass(Handle *self, PyObject *text, pass_fn pass, PyObject *mark_id) {
  PyObject *encoded = NULL, *result;
  const char *data;
  Py_ssize_t size;
  char *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  const int is_str = PyUnicode_Check(text);
  int override;
  unsigned long long id = 0;
  const int given_id = mark_id != NULL && mark_id != Py_None;

  if (!is_str && !PyBytes_Check(text)) {
    return PyErr_Format(PyExc_TypeError, "expected str or bytes, not %.200s",
                        Py_TYPE(text)->tp_name);
  }
  if (given_id && mark_id_from(mark_id, &id) < 0) return NULL;
  lock_handle(self);
  if (!given_id) id = self->mark_id;
  /* Set under the lock that the pass holds, so a call on a shared handle
   * never marks its page with another call's id. */
  if (mark_id != NULL && id != self->applied_mark_id) {
    unsigned char bytes[8];
    int i;
    for (i = 0; i < 8; ++i) bytes[i] = (unsigned char)(id >> (56 - 8 * i));
    status = vantoro_set_mark_id(self->handle, bytes);
    if (status != VANTORO_OK) return finish(self, status);
    self->applied_mark_id = id;
  }
  if (!is_str) {
    data = PyBytes_AS_STRING(text);
    size = PyBytes_GET_SIZE(text);
  } else if (self->codec == NULL && PyUnicode_IS_ASCII(text)) {
    /* ASCII is its own UTF-8: no copy. */
    data = PyUnicode_AsUTF8AndSize(text, &size);
  } else {
    /* surrogatepass makes every str encodable, and decoding the result the
     * same way gives lone surrogates back unchanged (the library passes bytes
     * that are not UTF-8 through untouched). */
    encoded = self->codec == NULL
                  ? PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass")
                  : PyUnicode_AsEncodedString(text, PyUnicode_AsUTF8(self->codec), "strict");
    data = encoded == NULL ? NULL : PyBytes_AS_STRING(encoded);
    size = encoded == NULL ? 0 : PyBytes_GET_SIZE(encoded);
  }
  if (data == NULL) {
    PyThread_release_lock(self->lock);
    return NULL;
  }
  /* The transport outranks a <meta> declaration, and the only byte order
   * mark UTF-8 text can start with is UTF-8's: the pass reads UTF-8. */
  override = is_str && self->auto_charset;
  status = override ? vantoro_set_transport_charset(self->handle, "UTF-8") : VANTORO_OK;

  if (status == VANTORO_OK) {
    Py_BEGIN_ALLOW_THREADS
    status = pass(self->handle, data, (size_t)size, &out, &out_length);
    Py_END_ALLOW_THREADS
  }
  if (override) {
    const vantoro_status restored = vantoro_set_transport_charset(
        self->handle, self->transport == NULL ? NULL : PyBytes_AS_STRING(self->transport));
    if (restored != VANTORO_OK && status == VANTORO_OK) {
      vantoro_free(out);
      out = NULL;
      status = restored;
    }
  }

  if (status != VANTORO_OK) {
    finish(self, status);
    Py_XDECREF(encoded);
    return NULL;
  }
  Py_XDECREF(encoded);
  if (!is_str) {
    result = PyBytes_FromStringAndSize(out, (Py_ssize_t)out_length);
  } else if (self->codec == NULL) {
    result = PyUnicode_DecodeUTF8(out, (Py_ssize_t)out_length, "surrogatepass");
  } else {
    result = PyUnicode_Decode(out, (Py_ssize_t)out_length, PyUnicode_AsUTF8(self->codec), "strict");
  }
  /* The codec is read above, so the lock is held until here. */
  PyThread_release_lock(self->lock);
  vantoro_free(out);
  return result;
}

static PyObject *Handle_protect_page(Handle *self, PyObject *text) {
  return run_pass(self, text, vantoro_protect_page, NULL);
}

/* (text, /, *, mark_id=None): the passes that make marks. */
static PyObject *content_call(Handle *self, PyObject *args, PyObject *kwargs, pass_fn pass,
                              const char *format) {
  static char *keywords[] = {"", "mark_id", NULL};
  PyObject *text, *mark_id = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, keywords, &text, &mark_id)) return NULL;
  return run_pass(self, text, pass, mark_id);
}

static PyObject *Handle_protect_content(Handle *self, PyObject *args, PyObject *kwargs) {
  return content_call(self, args, kwargs, vantoro_protect_content, "O|$O:protect_content");
}

static PyObject *Handle_protect(Handle *self, PyObject *args, PyObject *kwargs) {
  return content_call(self, args, kwargs, vantoro_protect, "O|$O:protect");
}

static PyObject *Handle_set_copyright(Handle *self, PyObject *text) {
  Py_ssize_t size;
  const char *data;
  if (!PyUnicode_Check(text)) {
    return PyErr_Format(PyExc_TypeError, "the copyright must be str, not %.200s",
                        Py_TYPE(text)->tp_name);
  }
  data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == NULL) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_copyright(self->handle, data, (size_t)size));
}

static PyObject *Handle_set_decoy_kind(Handle *self, PyObject *kind) {
  long value = PyLong_AsLong(kind);
  if (value == -1 && PyErr_Occurred()) return NULL;
  /* Beyond int the cast would wrap; 0 is refused like any unknown kind. */
  if (value < INT_MIN || value > INT_MAX) value = 0;
  lock_handle(self);
  return finish(self, vantoro_set_decoy_kind(self->handle, (vantoro_decoy_kind)value));
}

/* (name, codec): the name for the library, the Python codec for str texts or
 * None for UTF-8 (and "auto"). */
static PyObject *Handle_set_charset(Handle *self, PyObject *args) {
  const char *name;
  PyObject *name_object, *codec, *result;
  if (!PyArg_ParseTuple(args, "UO:_set_charset", &name_object, &codec)) return NULL;
  name = c_string(name_object, "the character set name");
  if (name == NULL) return NULL;
  if (codec != Py_None && !PyUnicode_Check(codec)) {
    PyErr_SetString(PyExc_TypeError, "the codec must be str or None");
    return NULL;
  }
  lock_handle(self);
  result = finish(self, vantoro_set_charset(self->handle, name));
  if (result != NULL) {
    Py_XSETREF(self->codec, codec == Py_None ? NULL : Py_NewRef(codec));
    self->auto_charset = PyOS_stricmp(name, "auto") == 0;
  }
  return result;
}

/* What the transport says the following pages are in (str or None). */
static PyObject *Handle_set_transport_charset(Handle *self, PyObject *label) {
  const char *name = NULL;
  PyObject *copy = NULL, *result;
  if (label != Py_None) {
    name = c_string(label, "the transport charset");
    if (name == NULL) return NULL;
    copy = PyBytes_FromString(name);
    if (copy == NULL) return NULL;
  }
  lock_handle(self);
  result = finish(self, vantoro_set_transport_charset(self->handle, name));
  if (result != NULL) {
    Py_XSETREF(self->transport, copy);
  } else {
    Py_XDECREF(copy);
  }
  return result;
}

/* (method, site_key): both at once, as class hiding needs the key. */
static PyObject *Handle_set_hiding(Handle *self, PyObject *args) {
  int method;
  const char *key;
  Py_ssize_t size;
  if (!PyArg_ParseTuple(args, "is#:_set_hiding", &method, &key, &size)) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_hiding(self->handle, (vantoro_hide_method)method, key,
                                         (size_t)size));
}

static PyObject *Handle_set_stylesheet_link(Handle *self, PyObject *uri) {
  Py_ssize_t size;
  const char *data;
  if (!PyUnicode_Check(uri)) {
    return PyErr_Format(PyExc_TypeError, "the stylesheet link must be str, not %.200s",
                        Py_TYPE(uri)->tp_name);
  }
  data = PyUnicode_AsUTF8AndSize(uri, &size);
  if (data == NULL) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_stylesheet_link(self->handle, data, (size_t)size));
}

static PyObject *Handle_set_nosnippet(Handle *self, PyObject *on) {
  const int value = PyObject_IsTrue(on);
  if (value < 0) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_nosnippet(self->handle, value));
}

static PyObject *Handle_set_empty_notices(Handle *self, PyObject *on) {
  const int value = PyObject_IsTrue(on);
  if (value < 0) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_empty_notices(self->handle, value));
}

/* A count the package checked (not negative); one past size_t means the
 * same as size_t's largest: a copy-visible notice at the first decoy only. */
static PyObject *Handle_set_copy_notices(Handle *self, PyObject *every) {
  size_t value = PyLong_AsSize_t(every);
  if (value == (size_t)-1 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return NULL;
    PyErr_Clear();
  }
  lock_handle(self);
  return finish(self, vantoro_set_copy_notices(self->handle, value));
}

static PyObject *Handle_set_marks(Handle *self, PyObject *on) {
  const int value = PyObject_IsTrue(on);
  if (value < 0) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_marks(self->handle, value));
}

/* The id of the marks of passes called without one. */
static PyObject *Handle_set_mark_id(Handle *self, PyObject *value) {
  unsigned long long id;
  if (mark_id_from(value, &id) < 0) return NULL;
  lock_handle(self);
  self->mark_id = id;
  PyThread_release_lock(self->lock);
  Py_RETURN_NONE;
}

static PyObject *Handle_set_tdm_reservation(Handle *self, PyObject *on) {
  const int value = PyObject_IsTrue(on);
  if (value < 0) return NULL;
  lock_handle(self);
  return finish(self, vantoro_set_tdm_reservation(self->handle, value));
}

static PyObject *Handle_replay(Handle *self, PyObject *values) {
  PyObject *sequence, *result;
  Py_ssize_t count, i;
  double *numbers;
  sequence = PySequence_Fast(values, "the replayed values must be an iterable of floats");
  if (sequence == NULL) return NULL;
  count = PySequence_Fast_GET_SIZE(sequence);
  numbers = PyMem_New(double, count > 0 ? (size_t)count : 1);
  if (numbers == NULL) {
    Py_DECREF(sequence);
    return PyErr_NoMemory();
  }
  for (i = 0; i < count; ++i) {
    numbers[i] = PyFloat_AsDouble(PySequence_Fast_GET_ITEM(sequence, i));
    if (numbers[i] == -1.0 && PyErr_Occurred()) {
      PyMem_Free(numbers);
      Py_DECREF(sequence);
      return NULL;
    }
  }
  Py_DECREF(sequence);
  lock_handle(self);
  result = finish(self, vantoro_replay(self->handle, numbers, (size_t)count));
  PyMem_Free(numbers);
  return result;
}

PyDoc_STRVAR(protect_page_doc,
"protect_page(text)\n--\n\n"
"The page pass: random letter case of tag and attribute names, random\n"
"whitespace and comments inside tags, and a watermark comment in front.\n"
"Takes str or bytes and returns the same type.");
PyDoc_STRVAR(protect_content_doc,
"protect_content(text, /, *, mark_id=None)\n--\n\n"
"The content pass: a hidden decoy (the copyright notice, random text, or\n"
"both) in front of every \"</p\" and \"<br\", and with marks on, marks\n"
"carrying mark_id (None: the protector's mark_id). Takes str or bytes and\n"
"returns the same type.");
PyDoc_STRVAR(protect_doc,
"protect(text, /, *, mark_id=None)\n--\n\n"
"Both passes, content then page, as for a whole page; mark_id as for\n"
"protect_content. Takes str or bytes and returns the same type.");
PyDoc_STRVAR(replay_doc,
"replay(values)\n--\n\n"
"Makes the following calls take every random decision from `values`\n"
"(floats in [0, 1), copied) in order, to reproduce an output exactly; the\n"
"call that runs out raises Error with status VANTORO_REPLAY_EXHAUSTED and\n"
"leaves the replay unchanged. An empty sequence returns to real random values.");

static PyMethodDef Handle_methods[] = {
  {"protect_page", (PyCFunction)Handle_protect_page, METH_O, protect_page_doc},
  {"protect_content", (PyCFunction)(void (*)(void))Handle_protect_content,
   METH_VARARGS | METH_KEYWORDS, protect_content_doc},
  {"protect", (PyCFunction)(void (*)(void))Handle_protect, METH_VARARGS | METH_KEYWORDS,
   protect_doc},
  {"replay", (PyCFunction)Handle_replay, METH_O, replay_doc},
  {"_set_copyright", (PyCFunction)Handle_set_copyright, METH_O, NULL},
  {"_set_decoy_kind", (PyCFunction)Handle_set_decoy_kind, METH_O, NULL},
  {"_set_charset", (PyCFunction)Handle_set_charset, METH_VARARGS, NULL},
  {"_set_transport_charset", (PyCFunction)Handle_set_transport_charset, METH_O, NULL},
  {"_set_hiding", (PyCFunction)Handle_set_hiding, METH_VARARGS, NULL},
  {"_set_stylesheet_link", (PyCFunction)Handle_set_stylesheet_link, METH_O, NULL},
  {"_set_nosnippet", (PyCFunction)Handle_set_nosnippet, METH_O, NULL},
  {"_set_empty_notices", (PyCFunction)Handle_set_empty_notices, METH_O, NULL},
  {"_set_copy_notices", (PyCFunction)Handle_set_copy_notices, METH_O, NULL},
  {"_set_marks", (PyCFunction)Handle_set_marks, METH_O, NULL},
  {"_set_mark_id", (PyCFunction)Handle_set_mark_id, METH_O, NULL},
  {"_set_tdm_reservation", (PyCFunction)Handle_set_tdm_reservation, METH_O, NULL},
  {NULL, NULL, 0, NULL}
};

static PyTypeObject HandleType = {
  PyVarObject_HEAD_INIT(NULL, 0)
  .tp_name = "vantoro._vantoro.Handle",
  .tp_doc = PyDoc_STR("A handle of the C library: use vantoro.Protector."),
  .tp_basicsize = sizeof(Handle),
  .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
  .tp_new = Handle_new,
  .tp_dealloc = (destructor)Handle_dealloc,
  .tp_methods = Handle_methods,
};

/* ---- The response policy of the web adapters ---- */

static PyObject *Policy_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
  Policy *self;
  vantoro_status status;
  (void)args;
  (void)kwargs;
  self = (Policy *)type->tp_alloc(type, 0);
  if (self == NULL) return NULL;
  status = vantoro_policy_create(&self->policy);
  if (status != VANTORO_OK) {
    Py_DECREF(self);
    return raise_status(status, NULL);
  }
  return (PyObject *)self;
}

static void Policy_dealloc(Policy *self) {
  vantoro_policy_destroy(self->policy);
  Py_TYPE(self)->tp_free((PyObject *)self);
}

/* Policies are only read once their types are added, and both calls keep the
 * GIL, so a policy needs no lock of its own. */
static PyObject *Policy_add_type(Policy *self, PyObject *type) {
  Py_ssize_t size;
  const char *data;
  vantoro_status status;
  if (!PyUnicode_Check(type)) {
    return PyErr_Format(PyExc_TypeError, "the media type must be str, not %.200s",
                        Py_TYPE(type)->tp_name);
  }
  data = PyUnicode_AsUTF8AndSize(type, &size);
  if (data == NULL) return NULL;
  status = vantoro_policy_add_type(self->policy, data, (size_t)size);
  if (status != VANTORO_OK) return raise_status(status, vantoro_policy_last_error(self->policy));
  Py_RETURN_NONE;
}

static PyObject *Policy_judge(Policy *self, PyObject *args, PyObject *kwargs) {
  static char *keywords[] = {"status", "content_type", "content_encoding", "cache_control",
                             "content_range", NULL};
  int status, content_range = 0;
  const char *type = NULL, *encoding = NULL, *cache = NULL;
  Py_ssize_t type_size = 0, encoding_size = 0, cache_size = 0;
  vantoro_verdict verdict;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "iz#z#z#|p:judge", keywords, &status, &type,
                                   &type_size, &encoding, &encoding_size, &cache, &cache_size,
                                   &content_range)) {
    return NULL;
  }
  verdict = vantoro_policy_judge(self->policy, status, type, (size_t)type_size, encoding,
                                 (size_t)encoding_size, cache, (size_t)cache_size, content_range);
  return PyUnicode_FromString(vantoro_verdict_name(verdict));
}

PyDoc_STRVAR(add_type_doc,
"add_type(media_type)\n--\n\n"
"Protects responses of this media type too (text/html always is). Raises\n"
"Error for \"*\", wildcards, types that are not text, and text the passes\n"
"would break (CSS, scripts, XML, event streams, ...).");
PyDoc_STRVAR(judge_doc,
"judge(status, content_type, content_encoding, cache_control, content_range=False)\n--\n\n"
"The verdict on a response from its head, by name: \"protected\" for a\n"
"response to protect, else why it goes out unchanged (\"status\", \"type\",\n"
"\"encoded\", \"no_transform\", \"range\"). A header sent several times is\n"
"given once, its values joined by \", \"; None when absent.");

static PyMethodDef Policy_methods[] = {
  {"add_type", (PyCFunction)Policy_add_type, METH_O, add_type_doc},
  {"judge", (PyCFunction)(void (*)(void))Policy_judge, METH_VARARGS | METH_KEYWORDS, judge_doc},
  {NULL, NULL, 0, NULL}
};

static PyTypeObject PolicyType = {
  PyVarObject_HEAD_INIT(NULL, 0)
  .tp_name = "vantoro._vantoro.Policy",
  .tp_doc = PyDoc_STR("Which responses a web adapter protects; a new one protects text/html."),
  .tp_basicsize = sizeof(Policy),
  .tp_flags = Py_TPFLAGS_DEFAULT,
  .tp_new = Policy_new,
  .tp_dealloc = (destructor)Policy_dealloc,
  .tp_methods = Policy_methods,
};

/* ---- Module functions ---- */

static PyObject *module_stylesheet(PyObject *module, PyObject *key) {
  Py_ssize_t size;
  const char *data;
  char *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  PyObject *result;
  (void)module;
  if (!PyUnicode_Check(key)) {
    return PyErr_Format(PyExc_TypeError, "the site key must be str, not %.200s",
                        Py_TYPE(key)->tp_name);
  }
  data = PyUnicode_AsUTF8AndSize(key, &size);
  if (data == NULL) return NULL;
  status = vantoro_stylesheet(data, (size_t)size, &out, &out_length);
  /* No handle carries a message here; an empty key is the one argument refused. */
  if (status != VANTORO_OK) {
    return raise_status(status, status == VANTORO_INVALID_ARGUMENT ? "empty site key" : NULL);
  }
  result = PyUnicode_DecodeUTF8(out, (Py_ssize_t)out_length, "strict");
  vantoro_free(out);
  return result;
}

static PyObject *module_is_protected(PyObject *module, PyObject *page) {
  PyObject *encoded = NULL;
  int protected_page;
  (void)module;
  if (PyUnicode_Check(page)) {
    encoded = PyUnicode_AsEncodedString(page, "utf-8", "surrogatepass");
    if (encoded == NULL) return NULL;
    page = encoded;
  } else if (!PyBytes_Check(page)) {
    return PyErr_Format(PyExc_TypeError, "expected str or bytes, not %.200s",
                        Py_TYPE(page)->tp_name);
  }
  protected_page = vantoro_is_protected(PyBytes_AS_STRING(page), (size_t)PyBytes_GET_SIZE(page));
  Py_XDECREF(encoded);
  return PyBool_FromLong(protected_page);
}

static PyObject *module_detect_charset(PyObject *module, PyObject *args, PyObject *kwargs) {
  static char *keywords[] = {"page", "transport", NULL};
  Py_buffer page;
  PyObject *transport = Py_None;
  const char *label = NULL, *name;
  (void)module;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "y*|O:detect_charset", keywords, &page,
                                   &transport)) {
    return NULL;
  }
  if (transport != Py_None) label = c_string(transport, "the transport charset");
  if (transport != Py_None && label == NULL) {
    PyBuffer_Release(&page);
    return NULL;
  }
  /* Reads the byte order mark and the first 1024 bytes only. */
  name = vantoro_detect_charset(page.buf, (size_t)page.len, label);
  PyBuffer_Release(&page);
  return PyUnicode_FromString(name == NULL ? "UTF-8" : name);
}

static PyObject *module_protected_header(PyObject *module, PyObject *name) {
  Py_ssize_t size;
  const char *data;
  (void)module;
  if (!PyUnicode_Check(name)) {
    return PyErr_Format(PyExc_TypeError, "the header name must be str, not %.200s",
                        Py_TYPE(name)->tp_name);
  }
  data = PyUnicode_AsUTF8AndSize(name, &size);
  if (data == NULL) return NULL;
  switch (vantoro_protected_header(data, (size_t)size)) {
    case VANTORO_HEADER_DROP: return PyUnicode_FromString("drop");
    case VANTORO_HEADER_WEAKEN: return PyUnicode_FromString("weaken");
    case VANTORO_HEADER_LENGTH: return PyUnicode_FromString("length");
    case VANTORO_HEADER_KEEP: break;
  }
  return PyUnicode_FromString("keep");
}

/* The id unchanged, or the error a pass given it would raise. */
static PyObject *module_check_mark_id(PyObject *module, PyObject *value) {
  unsigned long long id;
  (void)module;
  if (mark_id_from(value, &id) < 0) return NULL;
  return Py_NewRef(value);
}

/* (text, site_key): (id, agreeing, seen) of the best mark found, or None. */
static PyObject *module_trace(PyObject *module, PyObject *args) {
  PyObject *text, *encoded = NULL;
  const char *key;
  Py_ssize_t key_size;
  int found = 0;
  unsigned char id_bytes[8];
  unsigned long long id = 0;
  size_t agreeing = 0, seen = 0;
  vantoro_status status;
  int i;
  (void)module;
  if (!PyArg_ParseTuple(args, "Os#:_trace", &text, &key, &key_size)) return NULL;
  if (PyUnicode_Check(text)) {
    encoded = PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass");
    if (encoded == NULL) return NULL;
    text = encoded;
  } else if (!PyBytes_Check(text)) {
    return PyErr_Format(PyExc_TypeError, "expected str or bytes, not %.200s",
                        Py_TYPE(text)->tp_name);
  } else {
    Py_INCREF(text);
    encoded = text;
  }
  /* `encoded` keeps the bytes alive while the GIL is released. */
  Py_BEGIN_ALLOW_THREADS
  status = vantoro_trace(PyBytes_AS_STRING(text), (size_t)PyBytes_GET_SIZE(text), key,
                         (size_t)key_size, &found, id_bytes, &agreeing, &seen);
  Py_END_ALLOW_THREADS
  Py_DECREF(encoded);
  /* No handle carries a message here; an empty key is the one argument refused. */
  if (status != VANTORO_OK) {
    return raise_status(status, status == VANTORO_INVALID_ARGUMENT ? "empty site key" : NULL);
  }
  if (!found) Py_RETURN_NONE;
  for (i = 0; i < 8; ++i) id = (id << 8) | id_bytes[i];
  return Py_BuildValue("(Knn)", id, (Py_ssize_t)agreeing, (Py_ssize_t)seen);
}

PyDoc_STRVAR(stylesheet_doc,
"stylesheet(site_key)\n--\n\n"
"The stylesheet that hides the decoys of hide=\"class\" with this site key:\n"
"the same for a key on every run and in every version.");
PyDoc_STRVAR(is_protected_doc,
"is_protected(page)\n--\n\n"
"Whether the page (str or bytes) already went through the page pass: its\n"
"watermark stands at the start.");
PyDoc_STRVAR(detect_charset_doc,
"detect_charset(page, transport=None)\n--\n\n"
"The character set a browser reads the page's bytes in, by its WHATWG\n"
"name (\"UTF-8\", \"windows-1252\", \"GBK\", ...): the byte order mark's, else\n"
"`transport` (a Content-Type's charset) when it names a known set, else the\n"
"page's <meta> declaration in its first 1024 bytes, else \"UTF-8\".");
PyDoc_STRVAR(protected_header_doc,
"protected_header(name)\n--\n\n"
"What protecting a response does to the header of this name (any case):\n"
"\"keep\", \"drop\", \"weaken\" (ETag) or \"length\" (Content-Length: the\n"
"result's length, or dropped when it is not known).");

static PyMethodDef module_methods[] = {
  {"stylesheet", (PyCFunction)module_stylesheet, METH_O, stylesheet_doc},
  {"is_protected", (PyCFunction)module_is_protected, METH_O, is_protected_doc},
  {"detect_charset", (PyCFunction)(void (*)(void))module_detect_charset,
   METH_VARARGS | METH_KEYWORDS, detect_charset_doc},
  {"protected_header", (PyCFunction)module_protected_header, METH_O, protected_header_doc},
  {"_trace", (PyCFunction)module_trace, METH_VARARGS, NULL},
  {"_check_mark_id", (PyCFunction)module_check_mark_id, METH_O, NULL},
  {NULL, NULL, 0, NULL}
};

static struct PyModuleDef module_def = {
  PyModuleDef_HEAD_INIT,
  .m_name = "vantoro._vantoro",
  .m_doc = "The C part of the vantoro package.",
  .m_size = -1,
  .m_methods = module_methods,
};

PyMODINIT_FUNC PyInit__vantoro(void) {
  PyObject *module;
  if (PyType_Ready(&HandleType) < 0 || PyType_Ready(&PolicyType) < 0) return NULL;
  module = PyModule_Create(&module_def);
  if (module == NULL) return NULL;
  Error = PyErr_NewExceptionWithDoc(
      "vantoro.Error",
      "A call into the library failed, or an option is unusable. `status` names\n"
      "the reason as the C interface does, e.g. \"VANTORO_UNKNOWN_CHARSET\";\n"
      "running out of memory raises MemoryError instead. A subclass of\n"
      "ValueError, so code catching bad option values catches it too.",
      PyExc_ValueError, NULL);
  if (Error == NULL || PyModule_AddObjectRef(module, "Error", Error) < 0 ||
      PyModule_AddObjectRef(module, "Handle", (PyObject *)&HandleType) < 0 ||
      PyModule_AddObjectRef(module, "Policy", (PyObject *)&PolicyType) < 0 ||
      PyModule_AddStringConstant(module, "version", vantoro_version()) < 0) {
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
