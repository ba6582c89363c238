#include "python/convert.h"

#include <climits>

namespace velkan {

PyObject* tokens_to_list(const uint32_t* ids, uint64_t n) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list == nullptr) return nullptr;
  for (uint64_t i = 0; i < n; i++) {
    PyObject* value = PyLong_FromUnsignedLong(ids[i]);
    if (value == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), value);
  }
  return list;
}

bool list_to_ids(PyObject* list, std::vector<uint32_t>& ids) {
  ids.clear();
  ids.reserve(static_cast<size_t>(PyList_GET_SIZE(list)));
  // The length is read on every round: an element's __index__ may run Python
  // code that changes the list.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); i++) {
    PyObject* item = PyList_GET_ITEM(list, i);
    long value;
    if (PyLong_Check(item)) {
      value = PyLong_AsLong(item);
    } else {
      // Only true integers: older interpreters would truncate a float here.
      Py_INCREF(item);
      PyObject* index = PyNumber_Index(item);
      Py_DECREF(item);
      if (index == nullptr) return false;
      value = PyLong_AsLong(index);
      Py_DECREF(index);
    }
    if (value == -1 && PyErr_Occurred()) return false;
    if (value > INT32_MAX || value < INT32_MIN) {
      PyErr_Format(PyExc_OverflowError, "token id %ld does not fit in 32 bits", value);
      return false;
    }
    if (value < 0) {
      PyErr_Format(PyExc_ValueError, "token ids are not negative, got %ld", value);
      return false;
    }
    ids.push_back(static_cast<uint32_t>(value));
  }
  return true;
}

}  // namespace velkan
