// Entry point of velkan.bpe: the ParallelOptions type's methods, the type
// objects, and the module tree velkan.bpe / velkan.bpe.openai. Nothing is
// built at import time; an encoding comes into being on the first call of
// its vocabulary's function (o200k_base() and the others of the registry).

#include <cstring>

#include "python/added_token_methods.h"
#include "python/objects.h"
#include "python/py_ref.h"
#include "util/thread_ready.h"

namespace velkan {
namespace {

// ---- ParallelOptions methods -------------------------------------------------

int parallel_options_init(PyObject* self, PyObject* args, PyObject* kwargs) {
  auto* o = reinterpret_cast<ParallelOptionsObject*>(self);
  static const char* keywords[] = {"min_batch_size", "chunk_size", "max_threads", nullptr};
  o->min_batch_size = 20;
  o->chunk_size = 100;
  o->max_threads = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|nnn:ParallelOptions",
                                   const_cast<char**>(keywords), &o->min_batch_size, &o->chunk_size,
                                   &o->max_threads)) {
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

// ---- constructors and destructors ----------------------------------------------

// tp_new of the types only the library makes: calling one directly gives an
// empty object (which says so when used), but arguments mean a mistake.
PyObject* new_without_arguments(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
    const char* dot = std::strrchr(type->tp_name, '.');
    PyErr_Format(PyExc_TypeError, "%s() takes no arguments",
                 dot != nullptr ? dot + 1 : type->tp_name);
    return nullptr;
  }
  return PyType_GenericNew(type, args, kwargs);
}

void bpe_object_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<BytePairEncodingObject*>(self);
  Py_XDECREF(o->owner);
  Py_TYPE(self)->tp_free(self);
}

void tokenizer_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<TokenizerObject*>(self);
  // Only the handle record: the encoding it points at belongs to the cache.
  if (o->owns && o->handle != nullptr) std::default_delete<const EncodingHandle>()(o->handle);
  Py_TYPE(self)->tp_free(self);
}

// ---- getset table and type documentation ------------------------------------------

PyGetSetDef parallel_options_getset[] = {
    {"min_batch_size", parallel_options_get_min_batch_size, nullptr, nullptr, nullptr},
    {"chunk_size", parallel_options_get_chunk_size, nullptr, nullptr, nullptr},
    {"max_threads", parallel_options_get_max_threads, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr} /* sentinel */
};

PyDoc_STRVAR(bpe_type_doc,
             "One vocabulary's byte-pair encoding, used on raw bytes without pre-splitting.\n"
             "Get one from Tokenizer.bpe().");
PyDoc_STRVAR(tokenizer_type_doc,
             "A vocabulary with its pre-split rules. Get one from the function of its\n"
             "name, such as o200k_base(); the worker pool's size can be capped with the\n"
             "environment variable VELKAN_NUM_THREADS (read once, when the pool is made;\n"
             "values that are not a whole number of at least 1 are ignored).");
PyDoc_STRVAR(parallel_options_doc,
             "ParallelOptions(min_batch_size=20, chunk_size=100, max_threads=0)\n--\n\n"
             "Three values kept for callers; accepted and ignored by the parallel methods.");

PyTypeObject make_type(const char* name, Py_ssize_t basic_size, const char* doc) {
  // All slots zero, then the header PyVarObject_HEAD_INIT(nullptr, 0) writes.
  PyTypeObject type{};
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = name;
  type.tp_basicsize = basic_size;
  type.tp_itemsize = 0;
  type.tp_doc = doc;
  // Default flags only: the types cannot be subclassed and take no part in
  // cyclic garbage collection.
  type.tp_flags = Py_TPFLAGS_DEFAULT;
  type.tp_new = new_without_arguments;
  return type;
}

}  // namespace

// ---- type objects --------------------------------------------------------------

PyTypeObject BytePairEncodingType = [] {
  PyTypeObject t =
      make_type("velkan.bpe.BytePairEncoding", sizeof(BytePairEncodingObject), bpe_type_doc);
  t.tp_dealloc = bpe_object_dealloc;
  t.tp_methods = bpe_methods;
  return t;
}();

PyTypeObject TokenizerType = [] {
  PyTypeObject t =
      make_type("velkan.bpe.openai.Tokenizer", sizeof(TokenizerObject), tokenizer_type_doc);
  t.tp_dealloc = tokenizer_dealloc;
  t.tp_methods = tokenizer_methods;
  return t;
}();

PyTypeObject ParallelOptionsType = [] {
  PyTypeObject t = make_type("velkan.bpe.openai.ParallelOptions", sizeof(ParallelOptionsObject),
                             parallel_options_doc);
  t.tp_new = PyType_GenericNew;
  t.tp_init = parallel_options_init;
  t.tp_getset = parallel_options_getset;
  return t;
}();

// ---- modules -------------------------------------------------------------------

namespace {

PyDoc_STRVAR(openai_module_doc,
             "OpenAI's vocabularies: the function of each one's name (o200k_base() and\n"
             "the others _vocabularies() lists) gives a Tokenizer.");
PyDoc_STRVAR(bpe_module_doc,
             "Exact byte-pair encoding; the vocabularies are in the submodule openai.");

PyModuleDef openai_module = {
    PyModuleDef_HEAD_INIT,
    "velkan.bpe.openai",
    openai_module_doc,
    -1,
    openai_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Adds a new reference to value as module.name.
int add_object(PyObject* module, const char* name, PyObject* value) {
  Py_INCREF(value);
  if (PyModule_AddObject(module, name, value) < 0) {
    Py_DECREF(value);
    return -1;
  }
  return 0;
}

PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// Runs on every import of velkan.bpe: in each interpreter, and again after
// its entries are removed from sys.modules. The submodule is made anew and
// registered each time, so `import velkan.bpe.openai` finds it wherever
// `from velkan.bpe import openai` does.
int bpe_exec(PyObject* module) {
  if (PyType_Ready(&BytePairEncodingType) < 0 || PyType_Ready(&TokenizerType) < 0 ||
      PyType_Ready(&ParallelOptionsType) < 0 || PyType_Ready(&SpecialTokensType) < 0) {
    return -1;
  }
  const PyRef openai(PyModule_Create2(&openai_module, PYTHON_API_VERSION));
  if (openai == nullptr) return -1;
  if (add_vocabulary_functions(openai.get()) < 0 ||
      add_object(openai.get(), "Tokenizer", as_object(&TokenizerType)) < 0 ||
      add_object(openai.get(), "ParallelOptions", as_object(&ParallelOptionsType)) < 0 ||
      add_object(openai.get(), "SpecialTokens", as_object(&SpecialTokensType)) < 0 ||
      add_object(module, "BytePairEncoding", as_object(&BytePairEncodingType)) < 0 ||
      add_object(module, "openai", openai.get()) < 0) {
    return -1;
  }
  return PyDict_SetItemString(PyImport_GetModuleDict(), "velkan.bpe.openai", openai.get());
}

PyModuleDef_Slot bpe_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(bpe_exec)},
#ifdef Py_mod_multiple_interpreters
    // Interpreters that share the main interpreter's lock only: the types are
    // static and shared by all interpreters.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // Free-threaded CPython keeps its lock off: the native core is immutable
    // or locked (encoding cache, worker pool) or lock-free (piece cache), and
    // the binding's own shared state takes no borrowed reference that
    // another thread could free (py_ref.h) and makes ints atomically
    // (convert.cc).
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr} /* sentinel */
};

PyModuleDef bpe_module = {
    PyModuleDef_HEAD_INIT,
    "velkan.bpe",
    bpe_module_doc,
    0,
    nullptr,
    bpe_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace velkan

PyMODINIT_FUNC PyInit_bpe(void) {
  // The importing thread may later throw std::bad_alloc from native code;
  // ready it while memory is not short (see thread_ready.h).
  velkan::ready_thread_for_exceptions();
  return PyModuleDef_Init(&velkan::bpe_module);
}
