#include "python/convert.h"

#include <climits>
#include <memory>
#include <new>

namespace velkan {

namespace {

// Performance notes: making a new int per id cost about as much as encoding
// English prose (some 30 ns per id, an allocation each), so each id's int is
// made once and kept, and a result list costs a reference count per id. The
// table covers the ids of both vocabularies (one int serves both); it is a
// lazy singleton like the encoding cache, touched only with the interpreter
// lock held, and bounded: 8 bytes per id for the table (its pages become
// resident only as ids are used) plus one int object per id ever returned.
// Larger ids, which no vocabulary here produces, are made as before.
constexpr uint32_t kCachedIds = 200000;

PyObject** id_ints() {
  static std::unique_ptr<PyObject*[]> table(new (std::nothrow) PyObject*[kCachedIds]());
  return table.get();
}

PyObject* id_int(PyObject** table, uint32_t id) {
  if (id >= kCachedIds || table == nullptr) return PyLong_FromUnsignedLong(id);
  PyObject* value = table[id];
  if (value == nullptr) {
    value = PyLong_FromUnsignedLong(id);
    if (value == nullptr) return nullptr;
    table[id] = value;  // the table's reference, never released
  }
  Py_INCREF(value);
  return value;
}

}  // namespace

PyObject* tokens_to_list(const uint32_t* ids, uint64_t n) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list == nullptr) return nullptr;
  PyObject** table = id_ints();
  for (uint64_t i = 0; i < n; i++) {
    PyObject* value = id_int(table, ids[i]);
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
