// velkan.bpe.openai.ParallelOptions: three values kept for callers of the
// parallel batch methods, which accept and ignore them. The module adds the
// type (module.cc); nothing else reads its record.

#ifndef VELKAN_PYTHON_PARALLEL_OPTIONS_TYPE_H_
#define VELKAN_PYTHON_PARALLEL_OPTIONS_TYPE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velkan {

extern PyTypeObject ParallelOptionsType;

}  // namespace velkan

#endif  // VELKAN_PYTHON_PARALLEL_OPTIONS_TYPE_H_
