// Entry point of velkan.bpe: readies the three static types and assembles the
// module tree velkan.bpe / velkan.bpe.openai. Nothing is built at import
// time; encodings come into being on the first cl100k_base()/o200k_base().

#include "python/objects.h"

namespace velkan {
namespace {

// ---- ParallelOptions ------------------------------------------------------

int parallel_options_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  auto* o = reinterpret_cast<ParallelOptionsObject*>(self);
  static const char* keywords[] = {"min_batch_size", "chunk_size", "max_threads", nullptr};
  o->min_batch_size = 20;
  o->chunk_size = 100;
  o->max_threads = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|nnn", const_cast<char**>(keywords),
                                   &o->min_batch_size, &o->chunk_size, &o->max_threads)) {
    return -1;
  }
  return 0;
}

// Values read back as they were given, negative ones included: converting
// them as unsigned would turn -1 into 2**64 - 1.
PyObject* parallel_options_get_min_batch_size(PyObject* self, void*) {
  return PyLong_FromSsize_t(reinterpret_cast<ParallelOptionsObject*>(self)->min_batch_size);
}
PyObject* parallel_options_get_chunk_size(PyObject* self, void*) {
  return PyLong_FromSsize_t(reinterpret_cast<ParallelOptionsObject*>(self)->chunk_size);
}
PyObject* parallel_options_get_max_threads(PyObject* self, void*) {
  return PyLong_FromSsize_t(reinterpret_cast<ParallelOptionsObject*>(self)->max_threads);
}

PyGetSetDef parallel_options_getset[] = {
    {"min_batch_size", parallel_options_get_min_batch_size, nullptr, nullptr, nullptr},
    {"chunk_size", parallel_options_get_chunk_size, nullptr, nullptr, nullptr},
    {"max_threads", parallel_options_get_max_threads, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr} /* sentinel */
};

// ---- destructors -------------------------------------------------------------

void bpe_object_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<BytePairEncodingObject*>(self);
  if (o->owns && o->encoding != nullptr) bpe_free(o->encoding);
  Py_TYPE(self)->tp_free(self);
}

void tokenizer_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<TokenizerObject*>(self);
  // Only the handle record: the encoding it points at belongs to the cache.
  if (o->owns && o->handle != nullptr) std::default_delete<const EncodingHandle>()(o->handle);
  Py_TYPE(self)->tp_free(self);
}

// ---- modules -----------------------------------------------------------------

PyModuleDef openai_module = {
    PyModuleDef_HEAD_INIT, "velkan.bpe.openai", nullptr, -1, openai_functions,
    nullptr,               nullptr,             nullptr, nullptr,
};

PyMethodDef bpe_module_functions[] = {{nullptr, nullptr, 0, nullptr} /* sentinel */};

PyModuleDef bpe_module = {
    PyModuleDef_HEAD_INIT, "bpe",   nullptr, -1, bpe_module_functions,
    nullptr,               nullptr, nullptr, nullptr,
};

PyTypeObject make_type(const char* name, Py_ssize_t basic_size) {
  // All slots zero, then the header PyVarObject_HEAD_INIT(nullptr, 0) writes.
  PyTypeObject type{};
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = name;
  type.tp_basicsize = basic_size;
  type.tp_itemsize = 0;
  // Default flags only: the types cannot be subclassed and take no part in
  // cyclic garbage collection.
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_new = PyType_GenericNew;
  return type;
}

}  // namespace

PyTypeObject BytePairEncodingType = [] {
  PyTypeObject t = make_type("velkan.bpe.BytePairEncoding", sizeof(BytePairEncodingObject));
  t.tp_dealloc = bpe_object_dealloc;
  t.tp_methods = bpe_methods;
  return t;
}();

PyTypeObject TokenizerType = [] {
  PyTypeObject t = make_type("velkan.bpe.openai.Tokenizer", sizeof(TokenizerObject));
  t.tp_dealloc = tokenizer_dealloc;
  t.tp_methods = tokenizer_methods;
  return t;
}();

PyTypeObject ParallelOptionsType = [] {
  PyTypeObject t = make_type("velkan.bpe.openai.ParallelOptions", sizeof(ParallelOptionsObject));
  t.tp_init = parallel_options_init;
  t.tp_getset = parallel_options_getset;
  return t;
}();

}  // namespace velkan

namespace velkan {
namespace {

// Adds a new reference to value as module.name; on failure drops it.
int add_object(PyObject* module, const char* name, PyObject* value) {
  Py_INCREF(value);
  if (PyModule_AddObject(module, name, value) < 0) {
    Py_DECREF(value);
    return -1;
  }
  return 0;
}

PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

}  // namespace
}  // namespace velkan

PyMODINIT_FUNC PyInit_bpe(void) {
  using namespace velkan;
  if (PyType_Ready(&BytePairEncodingType) < 0) return nullptr;
  if (PyType_Ready(&TokenizerType) < 0) return nullptr;
  if (PyType_Ready(&ParallelOptionsType) < 0) return nullptr;

  PyObject* openai = PyModule_Create2(&openai_module, 1013);
  if (openai == nullptr) return nullptr;
  PyObject* module = nullptr;
  if (add_vocabulary_functions(openai) < 0 ||
      add_object(openai, "Tokenizer", as_object(&TokenizerType)) < 0 ||
      add_object(openai, "ParallelOptions", as_object(&ParallelOptionsType)) < 0) {
    goto error;
  }
  module = PyModule_Create2(&bpe_module, 1013);
  if (module == nullptr) goto error;
  if (add_object(module, "BytePairEncoding", as_object(&BytePairEncodingType)) < 0 ||
      add_object(module, "openai", openai) < 0) {
    goto error;
  }
  // Registered so that `import velkan.bpe.openai` finds the submodule.
  if (PyDict_SetItemString(PyImport_GetModuleDict(), "velkan.bpe.openai", openai) < 0) goto error;
  // From here the submodule is held by module.openai and sys.modules.
  Py_DECREF(openai);
  return module;

error:
  Py_XDECREF(module);
  Py_DECREF(openai);
  return nullptr;
}
