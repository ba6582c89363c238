// What the binding's static types are made of: the type record with the
// defaults they share, the tp_new of the types only the library makes, and
// the cast that puts a method of any calling convention into a PyMethodDef.

#ifndef VELKAN_PYTHON_STATIC_TYPE_H_
#define VELKAN_PYTHON_STATIC_TYPE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velkan {

// tp_new of the types only the library makes: calling one directly gives an
// empty object (which says so when used), but arguments mean a mistake.
PyObject* new_without_arguments(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// A static type record with every slot zero but these, default flags only
// (the types cannot be subclassed and take no part in cyclic garbage
// collection) and tp_new new_without_arguments.
PyTypeObject make_type(const char* name, Py_ssize_t basic_size, const char* doc);

// A METH_FASTCALL or METH_VARARGS | METH_KEYWORDS function as the
// PyCFunction a method table holds (through void (*)(): a direct cast warns).
template <typename F>
PyCFunction as_method(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace velkan

#endif  // VELKAN_PYTHON_STATIC_TYPE_H_
