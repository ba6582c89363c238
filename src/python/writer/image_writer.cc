// velkan._image_writer: builds an encoding from a token list and returns its
// precomputed image. A module of its own so that velkan.bpe keeps exactly its
// public surface; it takes the token list from velkan.bpe at run time, so it
// carries no copy of the vocabularies.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <new>
#include <vector>

#include "core/build.h"
#include "vocab/image.h"

namespace {

// build_image(token_bytes: bytes, token_starts: bytes) -> bytes
// token_starts holds n + 1 little-endian u32 offsets into token_bytes.
PyObject* build_image(PyObject*, PyObject* args) {
  Py_buffer bytes, starts;
  if (!PyArg_ParseTuple(args, "y*y*", &bytes, &starts)) return nullptr;
  PyObject* result = nullptr;
  try {
    const size_t count = static_cast<size_t>(starts.len) / 4;
    std::vector<uint32_t> offsets(count);
    if (count != 0) std::memcpy(offsets.data(), starts.buf, count * 4);
    bool ok = starts.len % 4 == 0 && count >= 1 && offsets[0] == 0 &&
              offsets.back() == static_cast<uint64_t>(bytes.len);
    for (size_t i = 1; ok && i < count; i++) ok = offsets[i - 1] <= offsets[i];
    if (!ok) {
      PyErr_SetString(PyExc_ValueError,
                      "token_starts must be ascending offsets from 0 to len(token_bytes)");
    } else {
      std::vector<uint8_t> image;
      bool built = true;
      Py_BEGIN_ALLOW_THREADS
        try {
          velkan::BytePairEncodingPtr bpe =
              velkan::bpe_build(static_cast<const uint8_t*>(bytes.buf), offsets.data(),
                                static_cast<uint32_t>(count - 1));
          image = velkan::bpe_to_image(*bpe);
        } catch (const std::bad_alloc&) {
          built = false;  // the lock must be taken back before raising
        }
      Py_END_ALLOW_THREADS
      result = built ? PyBytes_FromStringAndSize(reinterpret_cast<const char*>(image.data()),
                                                 static_cast<Py_ssize_t>(image.size()))
                     : PyErr_NoMemory();
    }
  } catch (const std::bad_alloc&) {
    result = PyErr_NoMemory();
  }
  PyBuffer_Release(&bytes);
  PyBuffer_Release(&starts);
  return result;
}

PyMethodDef functions[] = {
    {"build_image", build_image, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT,
    "velkan._image_writer",
    nullptr,
    -1,
    functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__image_writer(void) {
  PyObject* m = PyModule_Create(&module);
#ifdef Py_GIL_DISABLED
  // Its one function shares nothing between threads.
  if (m != nullptr && PyUnstable_Module_SetGIL(m, Py_MOD_GIL_NOT_USED) < 0) {
    Py_DECREF(m);
    return nullptr;
  }
#endif
  return m;
}
