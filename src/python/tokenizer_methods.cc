// Methods of velkan.bpe.openai.Tokenizer and the functions of the module
// velkan.bpe.openai: whole-text encode, count, limit and decode, single and
// batched, and the cached vocabulary constructors.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/piecewise.h"
#include "pool/worker_pool.h"
#include "python/convert.h"
#include "python/objects.h"

namespace velkan {
namespace {

// An object made by calling the type directly has no encoding.
const EncodingHandle* handle_of(PyObject* self) {
  const EncodingHandle* handle = reinterpret_cast<TokenizerObject*>(self)->handle;
  if (handle == nullptr) {
    PyErr_SetString(PyExc_ValueError,
                    "Tokenizer has no encoding; get one from velkan.bpe.openai.cl100k_base() "
                    "or o200k_base()");
  }
  return handle;
}

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const uint8_t* as_bytes(const char* p) { return reinterpret_cast<const uint8_t*>(p); }

// Owns new references to the str elements of a batch and their UTF-8 forms,
// so that the texts stay alive while the interpreter lock is released, even if
// another thread changes the list.
struct BatchTexts {
  std::vector<PyObject*> strings;
  std::vector<const uint8_t*> data;
  std::vector<uint64_t> lengths;

  BatchTexts() = default;
  BatchTexts(const BatchTexts&) = delete;
  BatchTexts& operator=(const BatchTexts&) = delete;
  ~BatchTexts() {
    for (PyObject* s : strings) Py_DECREF(s);
  }

  // False with the interpreter's error set when an element is not a str or
  // has no UTF-8 form (lone surrogates).
  bool collect(PyObject* list) {
    const Py_ssize_t n = PyList_GET_SIZE(list);
    strings.reserve(static_cast<size_t>(n));
    data.reserve(static_cast<size_t>(n));
    lengths.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; i++) {
      PyObject* item = PyList_GET_ITEM(list, i);
      Py_ssize_t length;
      const char* utf8 = PyUnicode_AsUTF8AndSize(item, &length);
      if (utf8 == nullptr) return false;
      Py_INCREF(item);
      strings.push_back(item);
      data.push_back(as_bytes(utf8));
      lengths.push_back(static_cast<uint64_t>(length));
    }
    return true;
  }
};

// The list of lists of ids, or null. Frees each result as it goes.
PyObject* results_to_list(std::vector<std::vector<uint32_t>>& results, uint64_t* total) {
  PyObject* outer = PyList_New(static_cast<Py_ssize_t>(results.size()));
  if (outer == nullptr) return nullptr;
  for (size_t i = 0; i < results.size(); i++) {
    PyObject* inner = tokens_to_list(results[i].data(), results[i].size());
    if (inner == nullptr) {
      Py_DECREF(outer);
      return nullptr;
    }
    *total += results[i].size();
    std::vector<uint32_t>().swap(results[i]);
    PyList_SET_ITEM(outer, static_cast<Py_ssize_t>(i), inner);
  }
  return outer;
}

// Decodes ids to a str; None when an id is out of range or the bytes are not
// UTF-8.
PyObject* decode_ids(const EncodingHandle& handle, const std::vector<uint32_t>& ids) {
  const BytePairEncoding& bpe = *handle.encoding;
  std::optional<uint64_t> length = bpe_decoded_length(bpe, ids.data(), ids.size());
  if (!length) Py_RETURN_NONE;
  std::string bytes(static_cast<size_t>(*length), '\0');
  bpe_decode_into(bpe, ids.data(), ids.size(), reinterpret_cast<uint8_t*>(bytes.data()));
  PyObject* text =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict");
  if (text == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return nullptr;
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  return text;
}

// ---- Tokenizer methods ---------------------------------------------------------

// The one text argument of encode and count (METH_O), as "s#" takes it:
// str as UTF-8, or a read-only bytes-like object. str and bytes are read
// directly; anything else goes through the "s#" converter, which accepts or
// rejects it exactly as before. Performance notes: argument tuples and
// format parsing were about a third of the fixed cost of a call, which is what
// short texts pay most.
bool text_argument(PyObject* arg, const char** text, Py_ssize_t* length) {
  if (PyUnicode_CheckExact(arg)) {
    *text = PyUnicode_AsUTF8AndSize(arg, length);
    return *text != nullptr;
  }
  if (PyBytes_CheckExact(arg)) {
    *text = PyBytes_AS_STRING(arg);
    *length = PyBytes_GET_SIZE(arg);
    return true;
  }
  return PyArg_Parse(arg, "s#", text, length) != 0;
}

// encode and count: the handle and the text argument, then fn(handle, bytes,
// length) with memory failures turned into MemoryError.
template <typename Fn>
PyObject* with_text(PyObject* self, PyObject* arg, Fn fn) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  const char* text;
  Py_ssize_t length;
  if (!text_argument(arg, &text, &length)) return nullptr;
  return guard_memory([&] { return fn(*handle, as_bytes(text), static_cast<uint64_t>(length)); });
}

PyObject* tokenizer_count(PyObject* self, PyObject* arg) {
  return with_text(self, arg, [](const EncodingHandle& handle, const uint8_t* text, uint64_t n) {
    return PyLong_FromSize_t(piecewise_count(handle, text, n));
  });
}

PyObject* tokenizer_count_till_limit(PyObject* self, PyObject* args) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  const char* text;
  Py_ssize_t length;
  Py_ssize_t limit;
  if (!PyArg_ParseTuple(args, "s#n", &text, &length, &limit)) return nullptr;
  if (limit < 0) {
    PyErr_Format(PyExc_ValueError, "limit must not be negative, got %zd", limit);
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    const uint64_t count = piecewise_count_till_limit(
        *handle, as_bytes(text), static_cast<uint64_t>(length), static_cast<uint64_t>(limit));
    if (count == kOverLimit) Py_RETURN_NONE;
    return PyLong_FromSize_t(count);
  });
}

PyObject* tokenizer_encode(PyObject* self, PyObject* arg) {
  return with_text(self, arg, [](const EncodingHandle& handle, const uint8_t* text, uint64_t n) {
    const std::vector<uint32_t> ids = piecewise_encode(handle, text, n);
    return tokens_to_list(ids.data(), ids.size());
  });
}

PyObject* tokenizer_encode_batch(PyObject* self, PyObject* args) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  PyObject* list;
  if (!PyArg_ParseTuple(args, "O!", &PyList_Type, &list)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts texts;
    if (!texts.collect(list)) return nullptr;
    const size_t n = texts.data.size();
    std::vector<std::vector<uint32_t>> results(n);
    const double start = seconds_now();
    for (size_t i = 0; i < n; i++) {
      results[i] = piecewise_encode(*handle, texts.data[i], texts.lengths[i]);
    }
    const double elapsed = seconds_now() - start;
    uint64_t total = 0;
    PyObject* outer = results_to_list(results, &total);
    if (outer == nullptr) return nullptr;
    return Py_BuildValue("(Nnd)", outer, static_cast<Py_ssize_t>(total), elapsed);
  });
}

PyObject* tokenizer_encode_batch_parallel(PyObject* self, PyObject* args) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  PyObject* list;
  PyObject* options = Py_None;  // accepted and ignored
  if (!PyArg_ParseTuple(args, "O!|O", &PyList_Type, &list, &options)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    BatchTexts texts;
    if (!texts.collect(list)) return nullptr;
    const size_t n = texts.data.size();
    std::vector<std::vector<uint32_t>> results(n);
    std::vector<uint64_t> counts(n, 0);
    bool ok = true;
    const double start = seconds_now();
    PyThreadState* saved = PyEval_SaveThread();
    // Nothing below touches a Python object until the lock is back.
    try {
      WorkerPool* pool = worker_pool_get();
      if (pool != nullptr) {
        ok = pool_encode_batch(*pool, *handle, texts.data.data(), texts.lengths.data(),
                               static_cast<int64_t>(n), results.data(), counts.data());
      } else {
        for (size_t i = 0; i < n; i++) {
          results[i] = piecewise_encode(*handle, texts.data[i], texts.lengths[i]);
        }
      }
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    PyEval_RestoreThread(saved);
    const double elapsed = seconds_now() - start;
    if (!ok) return PyErr_NoMemory();
    uint64_t total = 0;
    PyObject* outer = results_to_list(results, &total);
    if (outer == nullptr) return nullptr;
    WorkerPool* pool = worker_pool_get();
    const long threads = pool != nullptr ? pool->thread_count : 1;
    return Py_BuildValue("(Nndl)", outer, static_cast<Py_ssize_t>(total), elapsed, threads);
  });
}

PyObject* tokenizer_decode(PyObject* self, PyObject* args) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  PyObject* list;
  if (!PyArg_ParseTuple(args, "O!", &PyList_Type, &list)) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    if (!list_to_ids(list, ids)) return nullptr;
    return decode_ids(*handle, ids);
  });
}

PyObject* decode_batch_of(const EncodingHandle& handle, PyObject* lists) {
  return guard_memory([&]() -> PyObject* {
    const Py_ssize_t n = PyList_GET_SIZE(lists);
    PyObject* result = PyList_New(n);
    if (result == nullptr) return nullptr;
    std::vector<uint32_t> ids;
    for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(lists); i++) {
      PyObject* item = PyList_GET_ITEM(lists, i);
      if (!PyList_Check(item)) {
        PyErr_SetString(PyExc_TypeError, "expected list of ints");
        Py_DECREF(result);
        return nullptr;
      }
      Py_INCREF(item);  // converting may run Python code that changes the outer list
      PyObject* text = list_to_ids(item, ids) ? decode_ids(handle, ids) : nullptr;
      Py_DECREF(item);
      if (text == nullptr) {
        Py_DECREF(result);
        return nullptr;
      }
      PyList_SET_ITEM(result, i, text);
    }
    // Elements removed meanwhile leave no holes: fill them with None.
    for (Py_ssize_t i = 0; i < n; i++) {
      if (PyList_GET_ITEM(result, i) == nullptr) {
        Py_INCREF(Py_None);
        PyList_SET_ITEM(result, i, Py_None);
      }
    }
    return result;
  });
}

PyObject* tokenizer_decode_batch(PyObject* self, PyObject* args) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  PyObject* lists;
  if (!PyArg_ParseTuple(args, "O!", &PyList_Type, &lists)) return nullptr;
  return decode_batch_of(*handle, lists);
}

PyObject* tokenizer_decode_batch_parallel(PyObject* self, PyObject* args) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  PyObject* lists;
  PyObject* options = Py_None;  // accepted and ignored
  if (!PyArg_ParseTuple(args, "O!|O", &PyList_Type, &lists, &options)) return nullptr;
  // Decoding is cheap next to building the strings, which needs the lock.
  return decode_batch_of(*handle, lists);
}

PyObject* tokenizer_bpe(PyObject* self, PyObject*) {
  const EncodingHandle* handle = handle_of(self);
  if (handle == nullptr) return nullptr;
  BytePairEncodingObject* object = PyObject_New(BytePairEncodingObject, &BytePairEncodingType);
  if (object == nullptr) return nullptr;
  // Borrowed: cached encodings live as long as the process.
  object->encoding = handle->encoding;
  object->owns = 0;
  return reinterpret_cast<PyObject*>(object);
}

}  // namespace

PyMethodDef tokenizer_methods[] = {
    {"count", tokenizer_count, METH_O, nullptr},
    {"count_till_limit", tokenizer_count_till_limit, METH_VARARGS, nullptr},
    {"encode", tokenizer_encode, METH_O, nullptr},
    {"encode_batch", tokenizer_encode_batch, METH_VARARGS, nullptr},
    {"encode_batch_parallel", tokenizer_encode_batch_parallel, METH_VARARGS, nullptr},
    {"decode", tokenizer_decode, METH_VARARGS, nullptr},
    {"decode_batch", tokenizer_decode_batch, METH_VARARGS, nullptr},
    {"decode_batch_parallel", tokenizer_decode_batch_parallel, METH_VARARGS, nullptr},
    {"bpe", tokenizer_bpe, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};


}  // namespace velkan
