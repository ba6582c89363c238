// Special tokens in the binding: the type velkan.bpe.openai.SpecialTokens
// (an encoding's special tokens, found natively) and what the Tokenizer's
// methods need to honour allowed and disallowed subsets of them.

#ifndef VELKAN_PYTHON_ADDED_TOKEN_METHODS_H_
#define VELKAN_PYTHON_ADDED_TOKEN_METHODS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/added_tokens.h"
#include "driver/piecewise.h"
#include "python/py_ref.h"
#include "vocab/encoding_handle.h"

namespace velkan {

struct SpecialTokensData;

extern PyTypeObject SpecialTokensType;

// The special-token arguments of one call, resolved against a SpecialTokens
// object: the tokens that stand for their ids (allowed) and those whose text
// raises ValueError (disallowed). Holds what it points at.
class SpecialArgs {
 public:
  enum Result { kOk, kUnsupported, kFailed };

  // specials: a SpecialTokens object or None (then nothing is special).
  // allowed: "all", a set or frozenset of str, or None (none). disallowed: "all" (every
  // special token not allowed) or a set, frozenset, list or tuple of str.
  // kUnsupported (no error set) when the arguments ask for something only
  // the caller's general path does, such as disallowing a string that is no
  // special token; kFailed with the error set on a bad argument.
  Result parse(PyObject* specials, PyObject* allowed, PyObject* disallowed);

  // The first disallowed special token in the text, by its index.
  std::optional<uint32_t> first_disallowed(const uint8_t* text, uint64_t length) const;
  // Sets tiktoken's ValueError for the disallowed token index; returns null.
  PyObject* raise_disallowed(uint32_t index) const;
  // Appends the ids of the text with the allowed special tokens in it.
  void encode(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
              std::vector<uint32_t>& out, const Interrupt* interrupt) const;

  bool checks() const { return disallowed_ != nullptr && !disallowed_->empty(); }
  bool allows() const { return allowed_ != nullptr && !allowed_->empty(); }

 private:
  bool resolve(PyObject* set, const SpecialSet** out, PyRef& holder, SpecialSet& scratch,
               bool* unknown);

  const SpecialTokensData* data_ = nullptr;
  PyRef specials_;
  PyRef allowed_holder_, disallowed_holder_;
  SpecialSet allowed_scratch_, disallowed_scratch_;
  const SpecialSet* allowed_ = nullptr;
  const SpecialSet* disallowed_ = nullptr;
};

// Tokenizer.encode_special(text, specials, allowed_special, disallowed_special).
PyObject* tokenizer_encode_special(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
extern const char kEncodeSpecialDoc[];

}  // namespace velkan

#endif  // VELKAN_PYTHON_ADDED_TOKEN_METHODS_H_
