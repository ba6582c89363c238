#include "python/convert.h"

#include <atomic>
#include <climits>
#include <memory>
#include <new>
#include <string>

#include "python/py_ref.h"

namespace velkan {

namespace {

// Performance notes: making a new int per id cost about as much as encoding
// English prose (some 30 ns per id, an allocation each), so each id's int is
// made once and kept, and a result list costs a reference count per id. The
// table covers the ids of every vocabulary (one int serves all); it is a
// lazy singleton like the encoding cache, touched only with the interpreter
// lock held, and bounded: 8 bytes per id for the table (its pages become
// resident only as ids are used) plus one int object per id ever returned.
// Larger ids, which no vocabulary here produces, are made as before.
constexpr uint32_t kCachedIds = 200000;

// The slots are atomic for free-threaded CPython, where two threads may
// make the same id's int at once: one of them is kept, the other dropped.
// (With the interpreter lock they are plain loads and stores.)
using IdInts = std::atomic<PyObject*>;

IdInts* id_ints() {
  static std::unique_ptr<IdInts[]> table(new (std::nothrow) IdInts[kCachedIds]());
  return table.get();
}

PyObject* id_int(IdInts* table, uint32_t id) {
  if (id >= kCachedIds || table == nullptr) return PyLong_FromUnsignedLong(id);
  PyObject* value = table[id].load(std::memory_order_acquire);
  if (value == nullptr) {
    PyObject* made = PyLong_FromUnsignedLong(id);
    if (made == nullptr) return nullptr;
    // The table's reference, never released.
    if (table[id].compare_exchange_strong(value, made, std::memory_order_acq_rel)) {
      value = made;
    } else {
      Py_DECREF(made);  // another thread's came first
    }
  }
  Py_INCREF(value);
  return value;
}

}  // namespace

PyObject* tokens_to_list(const uint32_t* ids, uint64_t n) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
  if (list == nullptr) return nullptr;
  IdInts* table = id_ints();
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

namespace {

// The argument's name as messages give it.
std::string describe(const ArgumentName& name) {
  // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) on
  // "literal" + std::string temporaries.
  std::string text(name.function);
  text += ": ";
  text += name.argument;
  if (name.index >= 0) {
    text += '[';
    text += std::to_string(name.index);
    text += ']';
  }
  return text;
}

}  // namespace

bool id_of(PyObject* item, const ArgumentName* name, uint32_t* id) {
  long value;
  if (PyLong_Check(item)) {
    value = PyLong_AsLong(item);
  } else {
    // Only true integers (and objects with __index__, such as numpy's): older
    // interpreters would truncate a float here.
    Py_INCREF(item);  // __index__ may run code that drops the container's reference
    PyObject* index = PyNumber_Index(item);
    if (index == nullptr && name != nullptr && PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "%s must hold ints, not %.200s", describe(*name).c_str(),
                   Py_TYPE(item)->tp_name);
    }
    Py_DECREF(item);
    if (index == nullptr) return false;
    value = PyLong_AsLong(index);
    Py_DECREF(index);
  }
  if (value == -1 && PyErr_Occurred()) {
    if (name == nullptr || !PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
    PyErr_Clear();
    PyErr_Format(PyExc_OverflowError, "%s: token id does not fit in 32 bits",
                 describe(*name).c_str());
    return false;
  }
  if (name == nullptr) {
    // tiktoken reads ids as u32 from a C long.
    if (value < 0 || static_cast<unsigned long>(value) > UINT32_MAX) {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
      return false;
    }
  } else if (value > INT32_MAX || value < INT32_MIN) {
    PyErr_Format(PyExc_OverflowError, "%s: token id %ld does not fit in 32 bits",
                 describe(*name).c_str(), value);
    return false;
  } else if (value < 0) {
    PyErr_Format(PyExc_ValueError, "%s: token ids are not negative, got %ld",
                 describe(*name).c_str(), value);
    return false;
  }
  *id = static_cast<uint32_t>(value);
  return true;
}

bool sequence_to_ids(PyObject* sequence, std::vector<uint32_t>& ids, const ArgumentName& name) {
  ids.clear();
  // Text and byte strings are sequences too, but their items are not ids.
  if (PyUnicode_Check(sequence) || PyBytes_Check(sequence) || PyByteArray_Check(sequence) ||
      PyMemoryView_Check(sequence) || !PySequence_Check(sequence)) {
    PyErr_Format(PyExc_TypeError, "%s must be a sequence of ints, not %.200s",
                 describe(name).c_str(), Py_TYPE(sequence)->tp_name);
    return false;
  }
  if (PyList_Check(sequence)) {
    ids.reserve(static_cast<size_t>(PyList_GET_SIZE(sequence)));
    // The length is read on every round: an element's __index__ may run
    // Python code that changes the list.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(sequence); i++) {
      uint32_t id;
#ifdef Py_GIL_DISABLED
      const PyRef item = list_item(sequence, i);
      if (item == nullptr || !id_of(item.get(), &name, &id)) return false;
#else
      if (!id_of(PyList_GET_ITEM(sequence, i), &name, &id)) return false;
#endif
      ids.push_back(id);
    }
    return true;
  }
  // Tuples as they are; anything else (range, array) as a new tuple or list
  // that nobody else can change.
  const PyRef fast = sequence_snapshot(sequence, "");
  if (fast == nullptr) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.get());
  ids.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; i++) {
    uint32_t id;
    if (!id_of(PySequence_Fast_GET_ITEM(fast.get(), i), &name, &id)) return false;
    ids.push_back(id);
  }
  return true;
}

PyObject* refs_to_list(std::vector<PyRef>& refs) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(refs.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < refs.size(); i++) {
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), refs[i].release());
  }
  return list;
}

TextArg::TextArg(TextArg&& other) noexcept
    : data_(other.data_), size_(other.size_), view_(other.view_), held_(other.held_) {
  other.held_ = false;
}

TextArg::~TextArg() {
  if (held_) PyBuffer_Release(&view_);
}

// Performance notes: str and bytes are read directly; argument tuples and
// format parsing were about a third of the fixed cost of a call, which is what
// short texts pay most.
TextArg::Result TextArg::parse(PyObject* arg) {
  if (PyUnicode_Check(arg)) {
    Py_ssize_t length;
    const char* utf8 = PyUnicode_AsUTF8AndSize(arg, &length);
    if (utf8 == nullptr) return kFailed;
    data_ = reinterpret_cast<const uint8_t*>(utf8);
    size_ = static_cast<uint64_t>(length);
    return kOk;
  }
  if (PyBytes_Check(arg)) {
    data_ = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(arg));
    size_ = static_cast<uint64_t>(PyBytes_GET_SIZE(arg));
    return kOk;
  }
  if (!PyObject_CheckBuffer(arg)) return kWrongType;
  if (PyObject_GetBuffer(arg, &view_, PyBUF_SIMPLE) < 0) return kFailed;
  held_ = true;
  data_ = static_cast<const uint8_t*>(view_.buf);
  size_ = static_cast<uint64_t>(view_.len);
  return kOk;
}

bool text_of(const char* function, PyObject* arg, TextArg& text, const char* what) {
  const TextArg::Result result = text.parse(arg);
  if (result == TextArg::kWrongType) {
    PyErr_Format(PyExc_TypeError, "%s: %s must be str or bytes, not %.200s", function, what,
                 Py_TYPE(arg)->tp_name);
  }
  return result == TextArg::kOk;
}

}  // namespace velkan
