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

}  // namespace velkan

#endif  // VELKAN_PYTHON_PY_REF_H_
