// velkan.bpe.openai.ParallelOptions: its record, constructor, getters and
// type object.

#include "python/parallel_options_type.h"

#include "python/static_type.h"

namespace velkan {
namespace {

struct ParallelOptionsObject {
  PyObject_HEAD Py_ssize_t min_batch_size;
  Py_ssize_t chunk_size;
  Py_ssize_t max_threads;
};

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

PyGetSetDef parallel_options_getset[] = {
    {"min_batch_size", parallel_options_get_min_batch_size, nullptr, nullptr, nullptr},
    {"chunk_size", parallel_options_get_chunk_size, nullptr, nullptr, nullptr},
    {"max_threads", parallel_options_get_max_threads, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr} /* sentinel */
};

PyDoc_STRVAR(parallel_options_doc,
             "ParallelOptions(min_batch_size=20, chunk_size=100, max_threads=0)\n--\n\n"
             "Three values kept for callers; accepted and ignored by the parallel methods.");

}  // namespace

PyTypeObject ParallelOptionsType = [] {
  PyTypeObject t = make_type("velkan.bpe.openai.ParallelOptions", sizeof(ParallelOptionsObject),
                             parallel_options_doc);
  t.tp_new = PyType_GenericNew;
  t.tp_init = parallel_options_init;
  t.tp_getset = parallel_options_getset;
  return t;
}();

}  // namespace velkan
