// velkan.bpe.BytePairEncoding (bpe_type.cc): one vocabulary's byte-pair
// encoding, used on raw bytes without pre-splitting. Tokenizer.bpe() makes
// one; SpecialTokens' decode methods read the encoding of one they are given.

#ifndef VELKAN_PYTHON_BPE_TYPE_H_
#define VELKAN_PYTHON_BPE_TYPE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "core/encoding.h"

namespace velkan {

extern PyTypeObject BytePairEncodingType;

// A new BytePairEncoding on encoding, which it borrows; owner (or null),
// whose encoding it is, is held so that the encoding outlives the object.
PyObject* bpe_object_new(const BytePairEncoding* encoding, PyObject* owner);

// The encoding of a BytePairEncoding object, or null with ValueError set
// when the object was made by calling the type directly (it has none).
const BytePairEncoding* bpe_encoding(PyObject* self);

// Makes the encoding's forward automaton ready without the interpreter
// lock, so that other threads run meanwhile: compiles it, or waits for the
// compile in flight (a vocabulary of one's own compiles it in the
// background, some 50 ms for 128k tokens). False, with MemoryError set,
// when memory ran out.
bool bpe_forward_ready_unlocked(const BytePairEncoding& bpe);

}  // namespace velkan

#endif  // VELKAN_PYTHON_BPE_TYPE_H_
