// velkan.bpe.openai.Tokenizer: a vocabulary with its pre-split rules. The
// type's record, its method table and type object are in tokenizer_type.cc,
// with the single-text, decode and stream methods; its batches are in
// tokenizer_batch.cc and its token budgets in tokenizer_budget.cc, which
// this header joins to the method table. The module's functions make
// Tokenizers on cached or own handles.

#ifndef VELKAN_PYTHON_TOKENIZER_TYPE_H_
#define VELKAN_PYTHON_TOKENIZER_TYPE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "vocab/encoding_handle.h"

namespace velkan {

extern PyTypeObject TokenizerType;

// A new Tokenizer on a handle of the encoding cache, which outlives it.
PyObject* tokenizer_new(const EncodingHandle* handle);
// A new Tokenizer that owns handle (finished: its derived tables made) and
// frees it with itself.
PyObject* tokenizer_new_owning(std::unique_ptr<EncodingHandle> handle);

// The handle of a Tokenizer object, or null with ValueError set when the
// object was made by calling the type directly (it has no encoding).
const EncodingHandle* tokenizer_handle(PyObject* self);

// ---- methods held by the type's other files ------------------------------------

// tokenizer_batch.cc: the batch methods that encode or count on the pool.
PyObject* tokenizer_encode_batch(PyObject* self, PyObject* arg);
PyObject* tokenizer_encode_batch_parallel(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_encode_batch_flat(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_count_batch(PyObject* self, PyObject* args, PyObject* kwargs);

extern const char kEncodeBatchDoc[];
extern const char kEncodeBatchParallelDoc[];
extern const char kEncodeBatchFlatDoc[];
extern const char kCountBatchDoc[];

// tokenizer_budget.cc: token budgets.
PyObject* tokenizer_chunks(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_chunk_spans(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_truncate(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* tokenizer_encode_with_offsets(PyObject* self, PyObject* arg);
PyObject* tokenizer_decoder(PyObject* self, PyObject* const* args, Py_ssize_t nargs);

extern const char kChunksDoc[];
extern const char kChunkSpansDoc[];
extern const char kTruncateDoc[];
extern const char kEncodeWithOffsetsDoc[];
extern const char kDecoderDoc[];

// velkan.bpe.openai._check_budget(function, max_tokens, option) and
// _budget_too_small(function, max_tokens, offset): the budgets' errors, for
// the general path's budgets.
PyObject* openai_check_budget(PyObject* module, PyObject* args);
PyObject* openai_budget_too_small(PyObject* module, PyObject* args);
extern const char kCheckBudgetDoc[];
extern const char kBudgetTooSmallDoc[];

}  // namespace velkan

#endif  // VELKAN_PYTHON_TOKENIZER_TYPE_H_
