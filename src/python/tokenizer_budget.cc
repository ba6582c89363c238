// The Tokenizer type's token budgets (chunks, chunk_spans, truncate,
// encode_with_offsets) and its incremental decoder (decoder). The linear work
// is in driver/budget.cc; here arguments are checked and UTF-8 byte offsets
// become character offsets (for str input; bytes-like input keeps byte
// offsets). Long texts are worked on without the interpreter lock and Ctrl-C
// stops them, as encode does (run_on_text).

#include <cstring>
#include <string>
#include <vector>

#include "driver/budget.h"
#include "python/batch.h"
#include "python/char_offsets.h"
#include "python/convert.h"
#include "python/module.h"
#include "python/py_ref.h"
#include "python/tokenizer_type.h"

namespace velkan {
namespace {

// A slice of the argument, as its own type.
PyObject* slice_of(PyObject* text, const TextArg& bytes, bool is_str, uint64_t byte_start,
                   uint64_t byte_end, uint64_t char_start, uint64_t char_end) {
  if (is_str) {
    return PyUnicode_Substring(text, static_cast<Py_ssize_t>(char_start),
                               static_cast<Py_ssize_t>(char_end));
  }
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data() + byte_start),
                                   static_cast<Py_ssize_t>(byte_end - byte_start));
}

// The budgets' argument errors and chunks' error for a character that needs
// more tokens than the budget, worded once for both paths (the general path
// raises them through _check_budget and _budget_too_small). False with the
// ValueError set.
bool chunk_args_ok(const char* function, long long max_tokens, long long overlap) {
  if (max_tokens < 1) {
    PyErr_Format(PyExc_ValueError, "%s: max_tokens must be at least 1, got %lld", function,
                 max_tokens);
    return false;
  }
  if (overlap < 0 || overlap >= max_tokens) {
    PyErr_Format(PyExc_ValueError,
                 "%s: overlap must be at least 0 and less than max_tokens (%lld), got %lld",
                 function, max_tokens, overlap);
    return false;
  }
  return true;
}

bool truncate_args_ok(long long max_tokens, const char* side) {
  if (max_tokens < 0) {
    PyErr_Format(PyExc_ValueError, "truncate: max_tokens must be at least 0, got %lld", max_tokens);
    return false;
  }
  if (std::strcmp(side, "right") != 0 && std::strcmp(side, "left") != 0) {
    PyErr_Format(PyExc_ValueError, "truncate: side must be 'right' or 'left', got '%s'", side);
    return false;
  }
  return true;
}

void set_too_small(const char* function, long long max_tokens, uint64_t offset) {
  PyErr_Format(PyExc_ValueError,
               "%s: max_tokens=%lld is too small for the character at offset %llu, which "
               "needs more tokens on its own",
               function, max_tokens, static_cast<unsigned long long>(offset));
}

// Shared by chunks and chunk_spans: spans as (byte, char) offsets.
struct ChunkResult {
  std::vector<ByteSpan> spans;
  std::vector<uint64_t> char_starts;
  std::vector<uint64_t> char_ends;
};

bool run_chunks(PyObject* self, PyObject* args, PyObject* kwargs, const char* function,
                PyObject** text_out, TextArg& text, ChunkResult& result) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return false;
  static const char* keywords[] = {"text", "max_tokens", "overlap", nullptr};
  PyObject* arg;
  long long max_tokens;
  long long overlap = 0;
  std::string format = std::string("OL|$L:") + function;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), const_cast<char**>(keywords), &arg,
                                   &max_tokens, &overlap)) {
    return false;
  }
  if (!chunk_args_ok(function, max_tokens, overlap)) return false;
  if (!text_of(function, arg, text)) return false;
  *text_out = arg;
  const bool is_str = PyUnicode_Check(arg);
  uint64_t too_small_at = kBudgetFits;
  const bool done =
      run_on_text(text, [&](const uint8_t* data, uint64_t size, const Interrupt* interrupt) {
        result.spans = budget_chunks(*handle, data, size, static_cast<uint64_t>(max_tokens),
                                     static_cast<uint64_t>(overlap), &too_small_at, interrupt);
        if (too_small_at != kBudgetFits) {
          too_small_at = CharOffsets(data, size, is_str).at(too_small_at);
          return;
        }
        CharOffsets starts(data, size, is_str);
        CharOffsets ends(data, size, is_str);
        result.char_starts.reserve(result.spans.size());
        result.char_ends.reserve(result.spans.size());
        for (const ByteSpan& span : result.spans) {
          result.char_starts.push_back(starts.at(span.start));
          result.char_ends.push_back(ends.at(span.end));
        }
      });
  if (!done) return false;
  if (too_small_at != kBudgetFits) {
    set_too_small(function, max_tokens, too_small_at);
    return false;
  }
  return true;
}

// A list of ints from offsets, built straight into the list (no array of
// references beside it: a long text has one offset per token).
PyObject* offsets_to_list(const std::vector<uint64_t>& offsets) {
  PyRef list(PyList_New(static_cast<Py_ssize_t>(offsets.size())));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < offsets.size(); i++) {
    PyObject* item = PyLong_FromUnsignedLongLong(offsets[i]);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace

PyObject* tokenizer_chunks(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard_memory([&]() -> PyObject* {
    TextArg text;
    ChunkResult result;
    PyObject* arg = nullptr;
    if (!run_chunks(self, args, kwargs, "chunks", &arg, text, result)) return nullptr;
    const bool is_str = PyUnicode_Check(arg);
    std::vector<PyRef> items;
    items.reserve(result.spans.size());
    for (size_t i = 0; i < result.spans.size(); i++) {
      items.emplace_back(slice_of(arg, text, is_str, result.spans[i].start, result.spans[i].end,
                                  result.char_starts[i], result.char_ends[i]));
      if (items.back() == nullptr) return nullptr;
    }
    return refs_to_list(items);
  });
}

PyObject* tokenizer_chunk_spans(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard_memory([&]() -> PyObject* {
    TextArg text;
    ChunkResult result;
    PyObject* arg = nullptr;
    if (!run_chunks(self, args, kwargs, "chunk_spans", &arg, text, result)) return nullptr;
    std::vector<PyRef> items;
    items.reserve(result.spans.size());
    for (size_t i = 0; i < result.spans.size(); i++) {
      items.emplace_back(Py_BuildValue("(KK)",
                                       static_cast<unsigned long long>(result.char_starts[i]),
                                       static_cast<unsigned long long>(result.char_ends[i])));
      if (items.back() == nullptr) return nullptr;
    }
    return refs_to_list(items);
  });
}

PyObject* tokenizer_truncate(PyObject* self, PyObject* args, PyObject* kwargs) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  static const char* keywords[] = {"text", "max_tokens", "side", nullptr};
  PyObject* arg;
  long long max_tokens;
  const char* side = "right";
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OL|$s:truncate", const_cast<char**>(keywords),
                                   &arg, &max_tokens, &side)) {
    return nullptr;
  }
  if (!truncate_args_ok(max_tokens, side)) return nullptr;
  const std::string which(side);
  return guard_memory([&]() -> PyObject* {
    TextArg text;
    if (!text_of("truncate", arg, text)) return nullptr;
    const bool is_str = PyUnicode_Check(arg);
    const uint64_t limit = static_cast<uint64_t>(max_tokens);
    uint64_t start = 0;
    uint64_t end = text.size();
    const bool done =
        run_on_text(text, [&](const uint8_t* data, uint64_t size, const Interrupt* interrupt) {
          if (which == "right") {
            end = budget_truncate_right(*handle, data, size, limit, interrupt);
          } else {
            start = budget_truncate_left(*handle, data, size, limit, interrupt);
          }
        });
    if (!done) return nullptr;
    // The text itself when nothing is cut (other bytes-like input always
    // gives bytes).
    if (start == 0 && end == text.size() && (is_str || PyBytes_CheckExact(arg))) {
      Py_INCREF(arg);  // not Py_NewRef: that is 3.10's
      return arg;
    }
    if (!is_str) return slice_of(arg, text, false, start, end, 0, 0);
    // Character offsets of a str cut: the kept part is decoded from UTF-8.
    return PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(text.data() + start),
                                static_cast<Py_ssize_t>(end - start), "strict");
  });
}

PyObject* tokenizer_encode_with_offsets(PyObject* self, PyObject* arg) {
  const EncodingHandle* handle = tokenizer_handle(self);
  if (handle == nullptr) return nullptr;
  return guard_memory([&]() -> PyObject* {
    TextArg text;
    if (!text_of("encode_with_offsets", arg, text)) return nullptr;
    std::vector<uint32_t> ids;
    std::vector<uint64_t> starts;
    const bool is_str = PyUnicode_Check(arg);
    const bool done =
        run_on_text(text, [&](const uint8_t* data, uint64_t size, const Interrupt* interrupt) {
          budget_encode_with_offsets(*handle, data, size, ids, starts, interrupt);
          // Character offsets in place, with the lock still let go.
          CharOffsets at(data, size, is_str);
          for (uint64_t& start : starts) start = at.at(start);
        });
    if (!done) return nullptr;
    // Each array is freed as soon as its list exists: at the peak, the two
    // lists (an int object and a pointer per token in each) and the offsets.
    const PyRef id_list(tokens_to_list(ids.data(), ids.size()));
    if (id_list == nullptr) return nullptr;
    std::vector<uint32_t>().swap(ids);
    const PyRef offset_list(offsets_to_list(starts));
    if (offset_list == nullptr) return nullptr;
    std::vector<uint64_t>().swap(starts);
    return PyTuple_Pack(2, id_list.get(), offset_list.get());
  });
}

PyObject* tokenizer_decoder(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
  // The encoding first, as every method of an object without one refuses.
  if (tokenizer_handle(self) == nullptr) return nullptr;
  if (nargs != 0) {
    PyErr_Format(PyExc_TypeError, "decoder() takes no arguments (%zd given)", nargs);
    return nullptr;
  }
  const PyRef type = stream_decoder_class();
  if (type == nullptr) {
    PyErr_SetString(PyExc_RuntimeError,
                    "decoder(): velkan._budget has not handed in StreamDecoder (import velkan)");
    return nullptr;
  }
  return PyObject_CallOneArg(type.get(), self);
}

PyObject* openai_check_budget(PyObject*, PyObject* args) {
  const char* function;
  long long max_tokens;
  PyObject* option;
  if (!PyArg_ParseTuple(args, "sLO:_check_budget", &function, &max_tokens, &option)) {
    return nullptr;
  }
  if (std::strcmp(function, "truncate") == 0) {
    const char* side = PyUnicode_Check(option) ? PyUnicode_AsUTF8(option) : nullptr;
    if (side == nullptr) {
      if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_TypeError, "truncate() argument 'side' must be str, not %.200s",
                     Py_TYPE(option)->tp_name);
      }
      return nullptr;
    }
    if (!truncate_args_ok(max_tokens, side)) return nullptr;
    Py_RETURN_NONE;
  }
  const long long overlap = PyLong_AsLongLong(option);
  if (overlap == -1 && PyErr_Occurred()) return nullptr;
  if (!chunk_args_ok(function, max_tokens, overlap)) return nullptr;
  Py_RETURN_NONE;
}

PyObject* openai_budget_too_small(PyObject*, PyObject* args) {
  const char* function;
  long long max_tokens;
  unsigned long long offset;
  if (!PyArg_ParseTuple(args, "sLK:_budget_too_small", &function, &max_tokens, &offset)) {
    return nullptr;
  }
  set_too_small(function, max_tokens, offset);
  return nullptr;
}

const char kCheckBudgetDoc[] =
    "_check_budget($module, function, max_tokens, option, /)\n--\n\n"
    "The ValueError the Tokenizer's function ('chunks', 'chunk_spans': option is\n"
    "overlap; 'truncate': option is side) raises for these arguments; None when\n"
    "they are good.";
const char kBudgetTooSmallDoc[] =
    "_budget_too_small($module, function, max_tokens, offset, /)\n--\n\n"
    "Raise the ValueError chunks raises when the character at offset needs more\n"
    "than max_tokens tokens on its own.";

const char kChunksDoc[] =
    "chunks($self, text, max_tokens, *, overlap=0)\n--\n\n"
    "Split text into chunks that each encode, on their own, to at most\n"
    "max_tokens ordinary tokens. Cuts prefer a blank line, then a line break,\n"
    "then a sentence end, then whitespace, then any piece boundary. A piece\n"
    "longer than the budget is cut inside, at the longest character boundary\n"
    "that fits (also where the chunk before it would be less than half full).\n"
    "With overlap=0 the chunks joined give the text back; overlap=k starts each\n"
    "chunk after the first with up to k tokens of the previous chunk's end.\n"
    "Memory: 16 bytes per pre-split piece of the text while it works (about\n"
    "2.6 times an English text), besides the chunks.";
const char kChunkSpansDoc[] =
    "chunk_spans($self, text, max_tokens, *, overlap=0)\n--\n\n"
    "The cuts of chunks() as (start, end): character offsets for str (byte\n"
    "offsets for bytes). Memory as for chunks().";
const char kTruncateDoc[] =
    "truncate($self, text, max_tokens, *, side='right')\n--\n\n"
    "The longest prefix (side='left': suffix) of text that encodes to at most\n"
    "max_tokens ordinary tokens, cut between characters: one more character\n"
    "would not fit. Cost grows with the part kept.";
const char kEncodeWithOffsetsDoc[] =
    "encode_with_offsets($self, text, /)\n--\n\n"
    "(ids, starts): the ids of encode(text) and where each token starts, as a\n"
    "character offset for str (a token starting inside a character gets that\n"
    "character's offset) or a byte offset for bytes. Memory: two lists with\n"
    "an int object per offset, about 12 times an English text at the peak.";
const char kDecoderDoc[] =
    "decoder($self, /)\n--\n\n"
    "An incremental decoder: feed(ids) returns the complete text so far and\n"
    "holds back an unfinished UTF-8 sequence; flush() returns the rest.";

}  // namespace velkan
