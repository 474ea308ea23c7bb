/* vantoro._vantoro: the handle type the Python package builds on, over the C
 * interface only. It does what needs C: converting texts, running the passes
 * with the GIL released, and turning statuses into exceptions. Option names,
 * defaults and the WSGI layer are Python (vantoro/__init__.py, vantoro/wsgi.py). */
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
   * UTF-8; NULL for UTF-8. */
  PyObject *codec;
} Handle;

typedef vantoro_status (*pass_fn)(vantoro_handle *, const char *, size_t, char **, size_t *);

static PyObject *Error; /* vantoro.Error */

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
  return (PyObject *)self;
}

static void Handle_dealloc(Handle *self) {
  vantoro_destroy(self->handle);
  if (self->lock != NULL) PyThread_free_lock(self->lock);
  Py_CLEAR(self->codec);
  Py_TYPE(self)->tp_free((PyObject *)self);
}

/* A str or bytes text through one pass, into the same type. */
static PyObject *run_pass(Handle *self, PyObject *text, pass_fn pass) {
  PyObject *encoded = NULL, *result;
  const char *data;
  Py_ssize_t size;
  char *out = NULL;
  size_t out_length = 0;
  vantoro_status status;
  const int is_str = PyUnicode_Check(text);

  if (!is_str && !PyBytes_Check(text)) {
    return PyErr_Format(PyExc_TypeError, "expected str or bytes, not %.200s",
                        Py_TYPE(text)->tp_name);
  }
  lock_handle(self);
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

  Py_BEGIN_ALLOW_THREADS
  status = pass(self->handle, data, (size_t)size, &out, &out_length);
  Py_END_ALLOW_THREADS

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
  return run_pass(self, text, vantoro_protect_page);
}

static PyObject *Handle_protect_content(Handle *self, PyObject *text) {
  return run_pass(self, text, vantoro_protect_content);
}

static PyObject *Handle_protect(Handle *self, PyObject *text) {
  return run_pass(self, text, vantoro_protect);
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
 * None for UTF-8. */
static PyObject *Handle_set_charset(Handle *self, PyObject *args) {
  const char *name;
  Py_ssize_t size;
  PyObject *codec, *result;
  if (!PyArg_ParseTuple(args, "s#O:_set_charset", &name, &size, &codec)) return NULL;
  if ((size_t)size != strlen(name)) {
    PyErr_SetString(PyExc_ValueError, "the character set name contains a NUL character");
    return NULL;
  }
  if (codec != Py_None && !PyUnicode_Check(codec)) {
    PyErr_SetString(PyExc_TypeError, "the codec must be str or None");
    return NULL;
  }
  lock_handle(self);
  result = finish(self, vantoro_set_charset(self->handle, name));
  if (result != NULL) Py_XSETREF(self->codec, codec == Py_None ? NULL : Py_NewRef(codec));
  return result;
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
"protect_content(text)\n--\n\n"
"The content pass: a hidden decoy (the copyright notice, random text, or\n"
"both) in front of every \"</p\" and \"<br\". Takes str or bytes and returns\n"
"the same type.");
PyDoc_STRVAR(protect_doc,
"protect(text)\n--\n\n"
"Both passes, content then page, as for a whole page. Takes str or bytes\n"
"and returns the same type.");
PyDoc_STRVAR(replay_doc,
"replay(values)\n--\n\n"
"Makes the following calls take every random decision from `values`\n"
"(floats in [0, 1), copied) in order, to reproduce an output exactly; the\n"
"call that runs out raises Error with status VANTORO_REPLAY_EXHAUSTED and\n"
"leaves the replay unchanged. An empty sequence returns to real random values.");

static PyMethodDef Handle_methods[] = {
  {"protect_page", (PyCFunction)Handle_protect_page, METH_O, protect_page_doc},
  {"protect_content", (PyCFunction)Handle_protect_content, METH_O, protect_content_doc},
  {"protect", (PyCFunction)Handle_protect, METH_O, protect_doc},
  {"replay", (PyCFunction)Handle_replay, METH_O, replay_doc},
  {"_set_copyright", (PyCFunction)Handle_set_copyright, METH_O, NULL},
  {"_set_decoy_kind", (PyCFunction)Handle_set_decoy_kind, METH_O, NULL},
  {"_set_charset", (PyCFunction)Handle_set_charset, METH_VARARGS, NULL},
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

static struct PyModuleDef module_def = {
  PyModuleDef_HEAD_INIT,
  .m_name = "vantoro._vantoro",
  .m_doc = "The C part of the vantoro package.",
  .m_size = -1,
};

PyMODINIT_FUNC PyInit__vantoro(void) {
  PyObject *module;
  if (PyType_Ready(&HandleType) < 0) return NULL;
  module = PyModule_Create(&module_def);
  if (module == NULL) return NULL;
  Error = PyErr_NewExceptionWithDoc(
      "vantoro.Error",
      "A call into the library failed. `status` names the reason as the C\n"
      "interface does, e.g. \"VANTORO_UNKNOWN_CHARSET\"; running out of memory\n"
      "raises MemoryError instead.",
      NULL, NULL);
  if (Error == NULL || PyModule_AddObjectRef(module, "Error", Error) < 0 ||
      PyModule_AddObjectRef(module, "Handle", (PyObject *)&HandleType) < 0 ||
      PyModule_AddStringConstant(module, "version", vantoro_version()) < 0) {
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
