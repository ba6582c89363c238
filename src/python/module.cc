// The modules velkan.bpe and velkan.bpe.openai: the functions of
// velkan.bpe.openai (one constructor and one is_cached_* per entry of the
// vocabulary registry, made at module init from it; get_num_threads; and the
// private functions the package's Python side uses), the module
// definitions, their exec slot and PyInit_bpe. The image functions and the
// encodings the constructors share are in module_images.cc. Nothing is built
// at import time; an encoding comes into being on the first call of its
// vocabulary's function (o200k_base() and the others of the registry).

#include "python/module.h"

#include <array>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/build.h"
#include "core/encoding.h"
#include "core/rank_merge.h"
#include "pool/worker_pool.h"
#include "python/added_tokens_type.h"
#include "python/bpe_type.h"
#include "python/char_offsets.h"
#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/parallel_options_type.h"
#include "python/py_ref.h"
#include "python/rank_file.h"
#include "python/static_type.h"
#include "python/tokenizer_type.h"
#include "util/thread_ready.h"
#include "vocab/embedded.h"
#include "vocab/encoding_cache.h"
#include "vocab/encoding_handle.h"
#include "vocab/registry.h"
#include "vocab/rule_set_names.h"

namespace velkan {
namespace {

// A new Tokenizer on the cached handle of vocabularies()[index].
PyObject* new_tokenizer(size_t index) {
  const EncodingHandle* handle = cached_handle(index);
  if (handle == nullptr) return nullptr;
  return tokenizer_new(handle);
}

// One C function per registry index, so that the per-entry functions are

// plain module functions (self is the module, as help() expects).
template <size_t Index>
PyObject* openai_constructor(PyObject*, PyObject*) {
  return new_tokenizer(Index);
}

template <size_t Index>
PyObject* openai_is_cached(PyObject*, PyObject*) {
  return PyBool_FromLong(encoding_cache_has(Index));
}

// One constructor and one is_cached per entry of the generated registry.
constexpr size_t kMaxVocabularies = kEmbeddedVocabularies;

template <size_t... I>
constexpr std::array<std::array<PyCFunction, 2>, sizeof...(I)> entry_functions(
    std::index_sequence<I...>) {
  return {{{openai_constructor<I>, openai_is_cached<I>}...}};
}
constexpr auto kEntryFunctions = entry_functions(std::make_index_sequence<kMaxVocabularies>());

PyObject* openai_get_num_threads(PyObject*, PyObject*) {
  WorkerPool* pool = worker_pool_get();
  return PyLong_FromLong(pool != nullptr ? pool->thread_count.load() : 1);
}

PyObject* openai_vocabularies(PyObject*, PyObject*) {
  const auto all = vocabularies();
  PyRef result(PyTuple_New(static_cast<Py_ssize_t>(all.size())));
  if (!result) return nullptr;
  for (size_t i = 0; i < all.size(); i++) {
    PyObject* entry = Py_BuildValue("(NNk)", as_str(all[i].name), as_str(all[i].image_file),
                                    static_cast<unsigned long>(all[i].num_tokens));
    if (entry == nullptr) return nullptr;
    PyTuple_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), entry);
  }
  return result.release();
}

// velkan._budget.StreamDecoder, as _set_stream_decoder was last given it;
// held for the process's lifetime. Handed in by the package at import, so
// that decoder() imports nothing: an import in a forked child can wait for
// ever on one that another thread of the parent was in at the fork. The
// mutex guards replacement on free-threaded builds.
struct StreamDecoderType {
  std::mutex mutex;
  PyObject* type = nullptr;
};

StreamDecoderType& stream_decoder_type() {
  static StreamDecoderType held;
  return held;
}

}  // namespace

PyRef stream_decoder_class() {
  StreamDecoderType& held = stream_decoder_type();
  std::lock_guard<std::mutex> lock(held.mutex);
  return py_ref_borrowed(held.type);
}

namespace {

PyObject* openai_set_stream_decoder(PyObject*, PyObject* type) {
  if (!PyCallable_Check(type)) {
    PyErr_Format(PyExc_TypeError, "_set_stream_decoder: expected a callable, not %.200s",
                 Py_TYPE(type)->tp_name);
    return nullptr;
  }
  Py_INCREF(type);
  PyObject* old;
  {
    StreamDecoderType& held = stream_decoder_type();
    std::lock_guard<std::mutex> lock(held.mutex);
    old = std::exchange(held.type, type);
  }
  Py_XDECREF(old);  // outside the mutex: a destructor may run Python code
  Py_RETURN_NONE;
}

// ---- vocabularies of one's own ------------------------------------------------------

// The token index holds 4 slots per token in a u32 count.
constexpr Py_ssize_t kMaxRanks = Py_ssize_t{1} << 29;

PyObject* token_repr(const uint8_t* data, uint32_t length) {
  PyRef bytes(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data), length));
  return bytes ? PyObject_Repr(bytes.get()) : nullptr;
}

// A Tokenizer that owns handle: finishes it (the derived tables) and wraps it.
PyObject* tokenizer_owning(std::unique_ptr<EncodingHandle> handle) {
  handle_finish(*handle);
  return tokenizer_new_owning(std::move(handle));
}

// _from_ranks(name, tokens, rule_set): a Tokenizer over tokens[rank] (bytes,
// or None for a rank without a token), owning its encoding. Every check runs
// before anything is built, so bad input leaves nothing behind.
PyObject* openai_from_ranks(PyObject*, PyObject* args) {
  const char* name;
  PyObject* tokens;
  const char* rule_set_name;
  if (!PyArg_ParseTuple(args, "sO!s:_from_ranks", &name, &PyList_Type, &tokens, &rule_set_name)) {
    return nullptr;
  }
  const std::optional<RuleSet> rule_set = rule_set_named(rule_set_name);
  if (!rule_set) {
    PyErr_Format(PyExc_ValueError, "_from_ranks: %s: unknown rule set %R (expected %s)", name,
                 PyTuple_GET_ITEM(args, 2), kRuleSetChoices);
    return nullptr;
  }
  const Py_ssize_t n = PyList_GET_SIZE(tokens);
  if (n > kMaxRanks) {
    PyErr_Format(PyExc_ValueError, "_from_ranks: %s: %zd ranks, at most %zd are supported", name, n,
                 kMaxRanks);
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    // Nothing below calls back into Python until the build, so the list
    // cannot change under the loop.
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> starts{0};
    starts.reserve(static_cast<size_t>(n) + 1);
    for (Py_ssize_t rank = 0; rank < n; rank++) {
      PyObject* item = PyList_GET_ITEM(tokens, rank);
      if (item != Py_None) {
        if (!PyBytes_Check(item)) {
          PyErr_Format(PyExc_TypeError,
                       "_from_ranks: %s: rank %zd is %.200s, expected bytes or None", name, rank,
                       Py_TYPE(item)->tp_name);
          return nullptr;
        }
        const Py_ssize_t length = PyBytes_GET_SIZE(item);
        if (length == 0) {
          PyErr_Format(PyExc_ValueError, "_from_ranks: %s: rank %zd is an empty token", name, rank);
          return nullptr;
        }
        if (static_cast<uint64_t>(length) > UINT32_MAX - bytes.size()) {
          PyErr_Format(PyExc_ValueError,
                       "_from_ranks: %s: the tokens up to rank %zd exceed 4 GiB together", name,
                       rank);
          return nullptr;
        }
        const auto* data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(item));
        bytes.insert(bytes.end(), data, data + length);
      }
      starts.push_back(static_cast<uint32_t>(bytes.size()));
    }
    const auto token = [&](uint32_t rank) {
      return std::string_view(reinterpret_cast<const char*>(bytes.data()) + starts[rank],
                              starts[rank + 1] - starts[rank]);
    };
    // The first rank of each token, in a table like the token index (a
    // std::unordered_map, a node per token, took a tenth of a build).
    TokenIndex first_rank;
    first_rank.capacity = hash_table_capacity(static_cast<uint32_t>(n));
    first_rank.entries.assign(first_rank.capacity, TokenIndexEntry{0, -1});
    const uint32_t mask = first_rank.capacity - 1;
    for (uint32_t rank = 0; rank < static_cast<uint32_t>(n); rank++) {
      const std::string_view t = token(rank);
      if (t.empty()) continue;
      const uint32_t h =
          token_hash(reinterpret_cast<const uint8_t*>(t.data()), t.size(), kHashFactor);
      for (uint32_t slot = h & mask;; slot = (slot + 1) & mask) {
        TokenIndexEntry& e = first_rank.entries[slot];
        if (e.token == -1) {
          e = TokenIndexEntry{h, static_cast<int32_t>(rank)};
          break;
        }
        if (e.hash != h || token(static_cast<uint32_t>(e.token)) != t) continue;
        PyRef repr(token_repr(bytes.data() + starts[rank], static_cast<uint32_t>(t.size())));
        if (!repr) return nullptr;
        PyErr_Format(PyExc_ValueError, "_from_ranks: %s: the token %U has two ranks, %u and %u",
                     name, repr.get(), static_cast<uint32_t>(e.token), rank);
        return nullptr;
      }
    }
    // Any byte string must be encodable, so each byte needs a token of its
    // own (tiktoken fails at encode time without one).
    for (int b = 0; b < 256; b++) {
      const auto byte = static_cast<uint8_t>(b);
      if (token_index_find(first_rank, bytes.data(), starts.data(), kHashFactor, &byte, 1) == -1) {
        PyErr_Format(PyExc_ValueError,
                     "_from_ranks: %s: no token for the single byte 0x%02x (every byte needs one)",
                     name, b);
        return nullptr;
      }
    }
    BytePairEncodingPtr bpe;
    bool out_of_memory = false;
    {
      LockReleased released;
      try {
        // Never written as an image: the forward automaton is all it needs,
        // and it is compiled after the build returns (below).
        bpe = bpe_build(bytes.data(), starts.data(), static_cast<uint32_t>(n),
                        BuildAutomata::kForwardOnly, ForwardCompile::kAtFirstUse);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    }
    if (out_of_memory) return PyErr_NoMemory();
    // The backtracking encoder reaches a token only through the two lower
    // tokens that merge into it; a vocabulary with a token that has none is
    // encoded by merging ranks instead, which is exact for any vocabulary.
    bpe->merge_by_rank = bpe_needs_rank_merge(*bpe);
    auto handle = std::make_unique<EncodingHandle>();
    handle->owned = std::move(bpe);
    handle->encoding = handle->owned.get();
    handle->rule_set = *rule_set;
    // On a thread of its own, while the caller goes on; encodes meanwhile
    // merge ranks (driver/piece_ids.h) rather than wait. Without a thread
    // the first encode compiles it.
    (void)bpe_compile_forward_in_background(handle->owned);
    return tokenizer_owning(std::move(handle));
  });
}

// _with_rule_set(tokenizer, rule_set): a Tokenizer over the same encoding
// that pre-splits with another rule set (a built-in vocabulary with another
// known pattern). The encoding is shared, not copied: a cached one lives as
// long as the process, one of a tokenizer's own through its shared owner.
PyObject* openai_with_rule_set(PyObject*, PyObject* args) {
  PyObject* source;
  const char* rule_set_name;
  if (!PyArg_ParseTuple(args, "O!s:_with_rule_set", &TokenizerType, &source, &rule_set_name)) {
    return nullptr;
  }
  const EncodingHandle* from = tokenizer_handle(source);
  if (from == nullptr) return nullptr;
  const std::optional<RuleSet> rule_set = rule_set_named(rule_set_name);
  if (!rule_set) {
    PyErr_Format(PyExc_ValueError, "_with_rule_set: unknown rule set %R (expected %s)",
                 PyTuple_GET_ITEM(args, 1), kRuleSetChoices);
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    // The cache's handle lives as long as the process and lends its tables
    // and piece cache; a handle of a tokenizer's own may go before this one,
    // which then makes its own (without them the encodes would skip the pair
    // filter, the short tokens and the small merge).
    std::unique_ptr<EncodingHandle> handle;
    if (from->owned == nullptr) {
      handle = std::make_unique<EncodingHandle>(handle_tables(*from), *rule_set);
    } else {
      handle = std::make_unique<EncodingHandle>();
      handle->owned = from->owned;
      handle->encoding = from->encoding;
      handle->rule_set = *rule_set;
      handle_finish(*handle);
    }
    return tokenizer_owning(std::move(handle));
  });
}

// Per-entry functions: definitions and docstrings live as long as the
// process, since the function objects point at them.
struct EntryFunctions {
  std::string constructor_doc, is_cached_name, is_cached_doc;
  PyMethodDef constructor{}, is_cached{};
};

PyMethodDef openai_functions[] = {
    {"get_num_threads", openai_get_num_threads, METH_NOARGS,
     "get_num_threads($module, /)\n--\n\n"
     "The number of worker threads the parallel batch methods use (1: none)."},
    {"_vocabularies", openai_vocabularies, METH_NOARGS,
     "_vocabularies($module, /)\n--\n\n"
     "The vocabularies of this build, in order: a tuple of (name, image_file_name,\n"
     "num_tokens) tuples."},
    {"_from_ranks", openai_from_ranks, METH_VARARGS,
     "_from_ranks($module, name, tokens, rule_set, /)\n--\n\n"
     "A Tokenizer over a vocabulary of one's own: tokens is a list indexed by rank\n"
     "of bytes, or None for a rank without a token; rule_set is 'r50k', 'cl100k',\n"
     "'cl100k_legacy', 'o200k', 'qwen2', 'tekken' or 'whole' (no pre-split). The\n"
     "tokenizer owns its encoding. Raises ValueError naming the rank or token of bad input."},
    {"_with_rule_set", openai_with_rule_set, METH_VARARGS,
     "_with_rule_set($module, tokenizer, rule_set, /)\n--\n\n"
     "A Tokenizer over tokenizer's encoding (shared, not copied) that pre-splits\n"
     "with rule_set ('r50k', 'cl100k', 'cl100k_legacy', 'o200k', 'qwen2', 'tekken'\n"
     "or 'whole')."},
    {"_set_image_hooks", openai_set_image_hooks, METH_VARARGS,
     "_set_image_hooks($module, image_paths, encoding_ready, /)\n--\n\n"
     "Hand in velkan.images' _image_paths and _encoding_ready, which the first\n"
     "construction of each vocabulary calls (the package does this on import)."},
    {"_set_stream_decoder", openai_set_stream_decoder, METH_O,
     "_set_stream_decoder($module, type, /)\n--\n\n"
     "Hand in velkan._budget.StreamDecoder, which Tokenizer.decoder() makes (the\n"
     "package does this on import)."},
    {"_char_offsets", as_method(openai_char_offsets), METH_FASTCALL, kCharOffsetsDoc},
    {"_parse_rank_file", openai_parse_rank_file, METH_O, kParseRankFileDoc},
    {"_cut_levels", as_method(openai_cut_levels), METH_FASTCALL, kCutLevelsDoc},
    {"_check_budget", openai_check_budget, METH_VARARGS, kCheckBudgetDoc},
    {"_budget_too_small", openai_budget_too_small, METH_VARARGS, kBudgetTooSmallDoc},
    {"_ids", as_method(openai_ids), METH_FASTCALL, kIdsDoc},
    {"_save_image", openai_save_image, METH_VARARGS,
     "_save_image($module, name, path, /)\n--\n\n"
     "Write the precomputed image of the vocabulary name (made first if needed)\n"
     "to path exactly. Raises OSError naming path when it cannot be written."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

// Adds the constructor and is_cached_* of every registry entry to module;
// -1 with the error set on failure.
int add_vocabulary_functions(PyObject* module) {
  try {
    static std::vector<std::unique_ptr<EntryFunctions>> entries;  // process lifetime
    const auto all = vocabularies();
    if (all.size() > kMaxVocabularies) {
      PyErr_SetString(PyExc_SystemError, "more vocabularies than kMaxVocabularies");
      return -1;
    }
    if (entries.empty()) {
      for (const VocabularyInfo& info : all) {
        auto e = std::make_unique<EntryFunctions>();
        e->constructor_doc = std::string(info.name) + "($module, /)\n--\n\nA Tokenizer for " +
                             std::string(info.name) +
                             ". The first call in a process loads its precomputed image or "
                             "builds it; every later call shares that encoding.";
        e->is_cached_name = "is_cached_" + std::string(info.short_name);
        e->is_cached_doc = e->is_cached_name + "($module, /)\n--\n\nWhether " +
                           std::string(info.name) +
                           " is made in this process. Never builds anything.";
        // The registry's names are literals, so data() ends with a zero.
        const size_t i = entries.size();
        e->constructor = {info.name.data(), kEntryFunctions[i][0], METH_NOARGS,
                          e->constructor_doc.c_str()};
        e->is_cached = {e->is_cached_name.c_str(), kEntryFunctions[i][1], METH_NOARGS,
                        e->is_cached_doc.c_str()};
        entries.push_back(std::move(e));
      }
    }
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (size_t i = 0; i < all.size(); i++) {
      for (PyMethodDef* def : {&entries[i]->constructor, &entries[i]->is_cached}) {
        PyRef function(PyCFunction_NewEx(def, module, module_name.get()));
        if (!function || PyModule_AddObject(module, def->ml_name, function.get()) < 0) return -1;
        function.release();  // the module took it
      }
    }
    return 0;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return -1;
  }
}

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
