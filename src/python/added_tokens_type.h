// velkan.bpe.openai.SpecialTokens (added_tokens_type.cc): an encoding's
// special tokens, found natively; and what the Tokenizer's methods need to
// honour allowed and disallowed subsets of them (SpecialArgs).

#ifndef VELKAN_PYTHON_ADDED_TOKENS_TYPE_H_
#define VELKAN_PYTHON_ADDED_TOKENS_TYPE_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "driver/added_tokens.h"
#include "driver/piecewise.h"
#include "python/py_ref.h"
#include "vocab/encoding_handle.h"

namespace velkan {

struct SpecialTokensData;
struct SpecialSubset;

extern PyTypeObject SpecialTokensType;

// Sets tiktoken's ValueError for the disallowed special token text token (a
// str), word for word (callers match on it); returns null. The one place its
// words live: velkan._added_tokens raises it through SpecialTokens.raise_disallowed.
PyObject* raise_disallowed_special(PyObject* token);

// velkan.bpe.openai._ids(tokens): a sequence of ids read as decode reads it,
// for the general path's decoding.
PyObject* openai_ids(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char kIdsDoc[];

// The special-token arguments of one call, resolved against a SpecialTokens
// object as tiktoken reads them: the tokens that stand for their ids
// (allowed) and the strings whose text raises ValueError (disallowed).
// Holds what it points at.
class SpecialArgs {
 public:
  SpecialArgs();
  ~SpecialArgs();
  SpecialArgs(const SpecialArgs&) = delete;
  SpecialArgs& operator=(const SpecialArgs&) = delete;

  // specials: a SpecialTokens object or None (then nothing is special).
  // allowed: "all", any iterable of str (strings that are no special token
  // never match), or null or None (none). disallowed: "all" (every special
  // token not allowed), or anything tiktoken takes: a false value checks
  // nothing, any other iterable of str is searched for, special token or
  // not. False with the error set on a bad argument (tiktoken's errors).
  bool parse(PyObject* specials, PyObject* allowed, PyObject* disallowed);

  // Whether a disallowed string is in the text (an index only this class
  // reads, so that a batch can keep one per text).
  std::optional<uint32_t> first_disallowed(const uint8_t* text, uint64_t length) const;
  // Sets tiktoken's ValueError for the disallowed string it names in the
  // text (one first_disallowed found); returns null.
  PyObject* raise_disallowed(const uint8_t* text, uint64_t length) const;
  // The disallowed string tiktoken names in the text (of those found
  // leftmost, the first in its set's order) and where it starts; null when
  // there is none, or with the error set.
  PyRef named_disallowed(const uint8_t* text, uint64_t length, uint64_t* start) const;
  // (allowed, disallowed) as frozensets, for callers that hold them (the
  // general path, streams): the sets tiktoken's Python would make of the
  // arguments, disallowed in the order that names the token it reports.
  PyObject* resolved() const;
  // The leftmost allowed special token at pos or after it (the longest of
  // those starting there), its index replaced by its id.
  std::optional<SpecialMatch> find_allowed(const uint8_t* text, uint64_t length,
                                           uint64_t pos) const;
  // Appends the ids of the text with the allowed special tokens in it.
  void encode(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
              std::vector<uint32_t>& out, const Interrupt* interrupt) const;

  bool checks() const;
  bool allows() const { return allowed_ != nullptr && !allowed_->empty(); }

 private:
  // "" in the disallowed set, found at the text's start.
  static constexpr uint32_t kEmptyString = UINT32_MAX - 1;

  // The leftmost disallowed string, the longest of those starting there.
  std::optional<SpecialMatch> find_disallowed(const uint8_t* text, uint64_t length) const;
  // The disallowed strings in the order tiktoken tries them.
  PyRef disallowed_in_order() const;
  bool resolve(PyObject* set, bool disallowed, const SpecialSubset** out, PyRef& holder,
               std::unique_ptr<SpecialSubset>& scratch);

  const SpecialTokensData* data_ = nullptr;
  PyRef specials_;
  PyRef allowed_holder_, disallowed_holder_;
  std::unique_ptr<SpecialSubset> allowed_scratch_, disallowed_scratch_;
  SpecialSet disallowed_all_;
  const SpecialSet* allowed_ = nullptr;
  const SpecialSet* disallowed_ = nullptr;
  const SpecialSubset* disallowed_subset_ = nullptr;  // its strings that are no special token
  // The call's arguments as sets (borrowed, or held when made from another
  // iterable); null for none, or disallowed "all".
  PyObject* allowed_arg_ = nullptr;
  PyObject* disallowed_arg_ = nullptr;
  PyRef allowed_frozen_, disallowed_frozen_;
};

// A text with lone surrogates has no UTF-8, but tiktoken checks it as it
// is: read with each surrogate kept as its three bytes, every disallowed
// string is found where it is in the str. Called after the text's UTF-8 read
// failed (its UnicodeEncodeError set): sets tiktoken's ValueError when a
// disallowed string is there, else leaves the UnicodeEncodeError (the caller
// mends the text and tries again). Returns null.
PyObject* refuse_unencodable(const SpecialArgs& special, PyObject* text);

}  // namespace velkan

#endif  // VELKAN_PYTHON_ADDED_TOKENS_TYPE_H_
