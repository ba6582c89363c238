// What the module velkan.bpe.openai holds for the rest of the binding: the
// encodings of its vocabulary functions, found or made through the package's
// image hooks (module_images.cc), and the class Tokenizer.decoder() makes
// (module.cc). Both are handed in by the package when it is imported.

#ifndef VELKAN_PYTHON_MODULE_H_
#define VELKAN_PYTHON_MODULE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "python/py_ref.h"
#include "vocab/encoding_handle.h"

namespace velkan {

// The cached handle of vocabularies()[index], made on the first call; null
// with MemoryError (or RuntimeError, for a failure of the system) set.
// Throws nothing.
const EncodingHandle* cached_handle(size_t index);

// velkan.bpe.openai._set_image_hooks(image_paths, encoding_ready) and
// _save_image(name, path) (module_images.cc).
PyObject* openai_set_image_hooks(PyObject* module, PyObject* args);
PyObject* openai_save_image(PyObject* module, PyObject* args);

// A new reference to the class velkan._budget handed in through
// _set_stream_decoder, or null (no error set) before it did.
PyRef stream_decoder_class();

}  // namespace velkan

#endif  // VELKAN_PYTHON_MODULE_H_
