#include "python/stream_methods.h"

#include <new>
#include <string>
#include <vector>

#include "driver/stream.h"
#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/objects.h"
#include "python/py_ref.h"

namespace velkan {
namespace {

// Buffers from this size up are encoded without the interpreter lock, as
// Tokenizer.encode does with long texts, so that other threads run meanwhile.
constexpr uint64_t kReleaseLockBytes = 64 * 1024;

// Both methods take (data, last): data a str or bytes-like object, last
// whether the text ends with it.
PyObject* prefix_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs, const char* name,
                    bool want_ids) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  if (nargs != 2) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly 2 arguments (data, last) (%zd given)", name,
                 nargs);
    return nullptr;
  }
  TextArg text;
  const TextArg::Result parsed = text.parse(args[0]);
  if (parsed == TextArg::kWrongType) text_type_error(name, "data", args[0]);
  if (parsed != TextArg::kOk) return nullptr;
  const int last = PyObject_IsTrue(args[1]);
  if (last < 0) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    uint64_t count = 0;
    SignalCheck check;
    uint64_t consumed = 0;
    if (text.size() < kReleaseLockBytes) {
      consumed = stream_encode_prefix(*handle, text.data(), text.size(), last != 0,
                                      want_ids ? &ids : nullptr, &count, &check.hook);
    } else {
      // A stream's buffer is a bytearray its owner may change meanwhile.
      std::string copy;
      const uint8_t* data = text.data();
      if (text.writable()) {
        copy.assign(reinterpret_cast<const char*>(data), text.size());
        data = reinterpret_cast<const uint8_t*>(copy.data());
      }
      bool out_of_memory = false;
      check.release();
      // Nothing below touches a Python object until the lock is back.
      try {
        consumed = stream_encode_prefix(*handle, data, text.size(), last != 0,
                                        want_ids ? &ids : nullptr, &count, &check.hook);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
      check.take_back();
      if (out_of_memory) throw std::bad_alloc();
    }
    if (check.raised) return nullptr;
    PyRef result(want_ids ? tokens_to_list(ids.data(), ids.size())
                          : PyLong_FromUnsignedLongLong(count));
    if (result == nullptr) return nullptr;
    return Py_BuildValue("(NK)", result.release(), static_cast<unsigned long long>(consumed));
  });
}

}  // namespace

PyObject* tokenizer_encode_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return prefix_of(self, args, nargs, "_encode_prefix", true);
}

PyObject* tokenizer_count_prefix(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  return prefix_of(self, args, nargs, "_count_prefix", false);
}

const char kEncodePrefixDoc[] =
    "_encode_prefix($self, data, last, /)\n--\n\n"
    "Encode the pieces at the start of data (str or UTF-8 bytes-like) whose ends no\n"
    "later text can change. Return (ids, consumed): their ids and the number of bytes\n"
    "they cover; the caller keeps data[consumed:] and appends the next part to it.\n"
    "With last true, data is the end of the text and all of it is encoded.";
const char kCountPrefixDoc[] =
    "_count_prefix($self, data, last, /)\n--\n\n"
    "The same as _encode_prefix, counting the ids instead: (count, consumed).";

}  // namespace velkan
