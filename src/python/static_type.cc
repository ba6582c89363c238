#include "python/static_type.h"

#include <cstring>

namespace velkan {

PyObject* new_without_arguments(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
    const char* dot = std::strrchr(type->tp_name, '.');
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments",
                 dot != nullptr ? dot + 1 : type->tp_name);
    return nullptr;
  }
  return PyType_GenericNew(type, args, kwargs);
}

PyTypeObject make_type(const char* name, Py_ssize_t basic_size, const char* doc) {
  // All slots zero, then the header PyVarObject_HEAD_INIT(nullptr, 0) writes.
  PyTypeObject type{};
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = name;
  type.tp_basicsize = basic_size;
  type.tp_itemsize = 0;
  type.tp_doc = doc;
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_new = new_without_arguments;
  return type;
}

}  // namespace velkan
