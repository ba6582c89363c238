// Where each token starts as a character offset: the one rule for a token
// that starts inside a character (it gets that character's offset, as
// tiktoken's decode_with_offsets counts), shared by decode_with_offsets,
// encode_with_offsets and the budgets, and offered to the package's general
// path as velkan.bpe.openai._char_offsets; beside it, for that path too,
// velkan.bpe.openai._cut_levels, the chunks' ranking of their cuts.

#ifndef VELKAN_PYTHON_CHAR_OFFSETS_H_
#define VELKAN_PYTHON_CHAR_OFFSETS_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>

namespace velkan {

// Turns increasing byte offsets of a UTF-8 text into character offsets in
// one forward pass. A byte inside a character maps to that character; with
// chars false the byte offsets stay (bytes-like input).
class CharOffsets {
 public:
  CharOffsets(const uint8_t* text, uint64_t length, bool chars)
      : text_(text), length_(length), chars_(chars) {}
  uint64_t at(uint64_t byte) {
    if (!chars_) return byte;
    for (; pos_ < byte && pos_ < length_; pos_++) count_ += (text_[pos_] & 0xC0) != 0x80;
    const bool inside = byte < length_ && (text_[byte] & 0xC0) == 0x80 && count_ > 0;
    return count_ - (inside ? 1 : 0);
  }

 private:
  const uint8_t* text_;
  uint64_t length_;
  bool chars_;
  uint64_t pos_ = 0;
  uint64_t count_ = 0;
};

// velkan.bpe.openai._char_offsets(data, starts): the character offset of
// each byte offset of starts (increasing, as ints) into data (UTF-8,
// bytes-like), as a list.
PyObject* openai_char_offsets(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char kCharOffsetsDoc[];

// velkan.bpe.openai._cut_levels(data, cuts): budget_cut_level of each byte
// offset of cuts (each above 0) into data (bytes-like), as a list of ints.
PyObject* openai_cut_levels(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
extern const char kCutLevelsDoc[];

}  // namespace velkan

#endif  // VELKAN_PYTHON_CHAR_OFFSETS_H_
