// PyRef: an owned reference to a Python object, released when it goes out of
// scope. Any binding code that holds a reference across a call that can throw
// (std::bad_alloc from native code) holds it in a PyRef, so that no path
// leaks it.

#ifndef VELKAN_PYTHON_PY_REF_H_
#define VELKAN_PYTHON_PY_REF_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

namespace velkan {

struct PyDecRef {
  void operator()(PyObject* object) const { Py_DECREF(object); }
};

// Takes over a new reference (or null). release() hands it back to the caller.
using PyRef = std::unique_ptr<PyObject, PyDecRef>;

// A PyRef holding a new reference to a borrowed object.
inline PyRef py_ref_borrowed(PyObject* object) {
  Py_XINCREF(object);
  return PyRef(object);
}

// Borrowed references to the items of a list or a dict that another thread
// may change are safe only while the interpreter lock keeps that thread
// out. On free-threaded CPython (Py_GIL_DISABLED) nothing does, so these
// take a new reference in one step there, and the plain way elsewhere.

// A new reference to list[i]; i must be below the list's size as read just
// before (on free-threaded builds an IndexError when another thread shrank
// it meanwhile, and null).
inline PyRef list_item(PyObject* list, Py_ssize_t i) {
#ifdef Py_GIL_DISABLED
  return PyRef(PyList_GetItemRef(list, i));
#else
  return py_ref_borrowed(PyList_GET_ITEM(list, i));
#endif
}

// The items of a sequence in a list or tuple that no other thread changes
// while it is read with PySequence_Fast_GET_ITEM (a list given is copied on
// free-threaded builds), or null with the error set.
inline PyRef sequence_snapshot(PyObject* sequence, const char* message) {
#ifdef Py_GIL_DISABLED
  if (!PyTuple_Check(sequence) && PySequence_Check(sequence)) {
    return PyRef(PySequence_Tuple(sequence));
  }
#endif
  return PyRef(PySequence_Fast(sequence, message));
}

// dict[key] as a new reference in found (null when the key is absent);
// false with the error set on failure.
inline bool dict_item(PyObject* dict, PyObject* key, PyRef& found) {
#if PY_VERSION_HEX >= 0x030D0000
  PyObject* item = nullptr;
  const int status = PyDict_GetItemRef(dict, key, &item);
  found.reset(item);
  return status >= 0;
#else
  found = py_ref_borrowed(PyDict_GetItemWithError(dict, key));
  return found != nullptr || !PyErr_Occurred();
#endif
}

}  // namespace velkan

#endif  // VELKAN_PYTHON_PY_REF_H_
