// Functions of the module velkan.bpe.openai: one constructor and one
// is_cached_* per entry of the vocabulary registry (made at module init from
// the registry), get_num_threads, and the private functions the package's
// Python side uses (_vocabularies, _save_image, _set_image_hooks).
//
// Image lookup: before the first construction of a vocabulary in this
// process, velkan.images._image_paths(name) gives the candidate image paths
// (if it is missing or raises: the package directory's image file only). The
// cache then loads the first valid one or builds, with the interpreter lock
// released; afterwards velkan.images._encoding_ready(name, loaded_path or
// None, refused_paths) is told what happened. Neither call's error survives.
// The package hands both functions in when it is imported (_set_image_hooks):
// the extension never imports a module itself, since a construction in a
// forked child would wait for ever on an import that another thread of the
// parent was in the middle of at the fork.

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <exception>
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
#include "python/budget_methods.h"
#include "python/char_offsets.h"
#include "python/convert.h"
#include "python/interpreter_lock.h"
#include "python/objects.h"
#include "python/py_ref.h"
#include "vocab/embedded.h"
#include "vocab/encoding_cache.h"
#include "vocab/image.h"
#include "vocab/registry.h"
#include "vocab/rule_set_names.h"

namespace velkan {
namespace {

// The path of a file that lies beside the file package_file: its directory
// prefix (up to and including the last '/' or '\\'; empty without either)
// joined with name. Nothing when the path would need 4096 bytes or more with
// its terminating zero.
std::optional<std::string> sibling_path(std::string_view package_file, std::string_view name) {
  const size_t cut = package_file.find_last_of("/\\");
  const std::string_view prefix =
      cut == std::string_view::npos ? std::string_view() : package_file.substr(0, cut + 1);
  if (prefix.size() + name.size() + 1 >= 4096) return std::nullopt;
  std::string path(prefix);
  path += name;
  return path;
}

PyObject* as_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A path-like object as a file system path (bytes as the OS takes them), or
// nothing with the interpreter's error set.
std::optional<std::string> fs_path(PyObject* path) {
  PyObject* converted = nullptr;
  if (!PyUnicode_FSConverter(path, &converted)) return std::nullopt;
  PyRef bytes(converted);
  return std::string(PyBytes_AS_STRING(converted),
                     static_cast<size_t>(PyBytes_GET_SIZE(converted)));
}

// The image file of the vocabulary beside velkan/__init__.py; nothing when
// that cannot be found out. No interpreter error survives.
std::vector<std::string> package_image_path(const VocabularyInfo& info) {
  PyRef package(PyImport_ImportModule("velkan"));
  PyRef file(package ? PyObject_GetAttrString(package.get(), "__file__") : nullptr);
  Py_ssize_t length = 0;
  const char* utf8 =
      file && PyUnicode_Check(file.get()) ? PyUnicode_AsUTF8AndSize(file.get(), &length) : nullptr;
  if (utf8 == nullptr) {
    PyErr_Clear();
    return {};
  }
  std::optional<std::string> path =
      sibling_path(std::string_view(utf8, static_cast<size_t>(length)), info.image_file);
  if (!path) return {};
  return {std::move(*path)};
}

// The package's image functions, as _set_image_hooks was last given them;
// held for the process's lifetime. The mutex guards replacement on
// free-threaded builds (elsewhere the interpreter lock already does).
struct ImageHooks {
  std::mutex mutex;
  PyObject* image_paths = nullptr;
  PyObject* encoding_ready = nullptr;
};

ImageHooks& image_hooks() {
  // The references are never released: the hooks may be called until exit.
  static ImageHooks hooks;
  return hooks;
}

enum class ImageHook { kImagePaths, kEncodingReady };

// Calls one of the image functions with args; null with the error set on any
// failure, including a hook never handed in.
PyRef call_images(ImageHook which, PyObject* args) {
  PyRef callable;
  {
    ImageHooks& hooks = image_hooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    callable =
        py_ref_borrowed(which == ImageHook::kImagePaths ? hooks.image_paths : hooks.encoding_ready);
  }
  if (!callable) {
    PyErr_SetString(PyExc_RuntimeError, "velkan.images has not handed in its image functions");
    return nullptr;
  }
  return PyRef(PyObject_CallObject(callable.get(), args));
}

// The candidate image paths, in order, from velkan.images._image_paths; the
// package directory's image when that fails. Throws std::bad_alloc.
std::vector<std::string> image_paths(const VocabularyInfo& info) {
  PyRef args(Py_BuildValue("(N)", as_str(info.name)));
  PyRef listed = args ? call_images(ImageHook::kImagePaths, args.get()) : nullptr;
  PyRef iterator(listed ? PyObject_GetIter(listed.get()) : nullptr);
  if (iterator) {
    std::vector<std::string> paths;
    bool ok = true;
    while (PyRef item{PyIter_Next(iterator.get())}) {
      std::optional<std::string> path = fs_path(item.get());
      if (!path) {
        ok = false;
        break;
      }
      paths.push_back(std::move(*path));
    }
    if (ok && !PyErr_Occurred()) return paths;
  }
  PyErr_Clear();
  return package_image_path(info);
}

// Tells velkan.images what the first construction did; its errors are
// dropped (the encoding is made either way).
void report_made(const VocabularyInfo& info, const EncodingMade& made) {
  PyRef refused(PyList_New(0));
  bool ok = refused != nullptr;
  for (size_t i = 0; ok && i < made.refused.size(); i++) {
    PyRef path(PyUnicode_DecodeFSDefaultAndSize(made.refused[i].data(),
                                                static_cast<Py_ssize_t>(made.refused[i].size())));
    ok = path && PyList_Append(refused.get(), path.get()) == 0;
  }
  PyRef loaded(made.loaded_from ? PyUnicode_DecodeFSDefaultAndSize(
                                      made.loaded_from->data(),
                                      static_cast<Py_ssize_t>(made.loaded_from->size()))
                                : py_ref_borrowed(Py_None).release());
  PyRef args(ok && loaded ? Py_BuildValue("(NOO)", as_str(info.name), loaded.get(), refused.get())
                          : nullptr);
  if (args) call_images(ImageHook::kEncodingReady, args.get());
  PyErr_Clear();
}

// The cached handle of vocabularies()[index], made on the first call; null
// with MemoryError set when memory runs out. Throws nothing.
const EncodingHandle* cached_handle(size_t index) {
  if (encoding_cache_has(index)) {
    return &encoding_cache_get(index, {});  // made: neither builds nor waits
  }
  const VocabularyInfo& info = vocabularies()[index];
  try {
    const std::vector<std::string> paths = image_paths(info);
    EncodingMade made;
    const EncodingHandle* handle = nullptr;
    bool out_of_memory = false;
    // Released while loading or building, and while waiting for another
    // thread that does: the maker may need the lock to finish (it never
    // calls Python, but a waiter holding the lock would stall every thread).
    std::string failure;
    {
      LockReleased released;
      try {
        handle = &encoding_cache_get(index, paths, &made);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;  // the lock must be taken back before raising
      } catch (const std::exception& e) {
        failure = e.what();  // a lock or thread failure of the system
      }
    }
    if (out_of_memory) {
      PyErr_NoMemory();
      return nullptr;
    }
    if (handle == nullptr) {
      PyErr_Format(PyExc_RuntimeError, "could not make the encoding %s: %s",
                   std::string(info.name).c_str(), failure.c_str());
      return nullptr;
    }
    if (made.made_here) report_made(info, made);
    return handle;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return nullptr;
  }
}

// A new Tokenizer on the cached handle of vocabularies()[index].
PyObject* new_tokenizer(size_t index) {
  const EncodingHandle* handle = cached_handle(index);
  if (handle == nullptr) return nullptr;
  TokenizerObject* object = PyObject_New(TokenizerObject, &TokenizerType);
  if (object == nullptr) return nullptr;
  object->handle = handle;
  object->owns = 0;
  return reinterpret_cast<PyObject*>(object);
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

PyObject* openai_set_image_hooks(PyObject*, PyObject* args) {
  PyObject* paths;
  PyObject* ready;
  if (!PyArg_ParseTuple(args, "OO:_set_image_hooks", &paths, &ready)) return nullptr;
  if (!PyCallable_Check(paths) || !PyCallable_Check(ready)) {
    PyErr_SetString(PyExc_TypeError, "_set_image_hooks: expected two callables");
    return nullptr;
  }
  Py_INCREF(paths);
  Py_INCREF(ready);
  PyObject* old_paths;
  PyObject* old_ready;
  {
    ImageHooks& hooks = image_hooks();
    std::lock_guard<std::mutex> lock(hooks.mutex);
    old_paths = std::exchange(hooks.image_paths, paths);
    old_ready = std::exchange(hooks.encoding_ready, ready);
  }
  // Released outside the mutex: a destructor may run Python code.
  Py_XDECREF(old_paths);
  Py_XDECREF(old_ready);
  Py_RETURN_NONE;
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

// Writes all of bytes to path, which must not exist (O_EXCL; O_NOFOLLOW: a
// link planted at the name is not followed); errno on failure.
int write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int error = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

PyObject* openai_save_image(PyObject*, PyObject* args) {
  const char* name;
  PyObject* path_object;
  if (!PyArg_ParseTuple(args, "sO:_save_image", &name, &path_object)) return nullptr;
  const int index = find_vocabulary(name);
  if (index < 0) {
    PyErr_Format(PyExc_ValueError, "_save_image: unknown vocabulary %R", PyTuple_GET_ITEM(args, 0));
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    std::optional<std::string> path = fs_path(path_object);
    if (!path) return nullptr;
    const EncodingHandle* handle = cached_handle(static_cast<size_t>(index));
    if (handle == nullptr) return nullptr;
    int error = 0;
    bool out_of_memory = false;
    {
      LockReleased released;
      try {
        error = write_file(*path, bpe_to_image(*handle->encoding));
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
      }
    }
    if (out_of_memory) return PyErr_NoMemory();
    if (error != 0) {
      errno = error;
      return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path_object);
    }
    Py_RETURN_NONE;
  });
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
  TokenizerObject* object = PyObject_New(TokenizerObject, &TokenizerType);
  if (object == nullptr) return nullptr;
  object->handle = handle.release();
  object->owns = 1;
  return reinterpret_cast<PyObject*>(object);
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
        // Never written as an image: the forward automaton is all it needs.
        bpe = bpe_build(bytes.data(), starts.data(), static_cast<uint32_t>(n),
                        BuildAutomata::kForwardOnly);
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
    auto handle = std::make_unique<EncodingHandle>();
    handle->owned = from->owned;
    handle->encoding = from->encoding;
    handle->rule_set = *rule_set;
    return tokenizer_owning(std::move(handle));
  });
}

// Per-entry functions: definitions and docstrings live as long as the
// process, since the function objects point at them.
struct EntryFunctions {
  std::string constructor_doc, is_cached_name, is_cached_doc;
  PyMethodDef constructor{}, is_cached{};
};

}  // namespace

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
    {"_char_offsets",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(openai_char_offsets)),
     METH_FASTCALL, kCharOffsetsDoc},
    {"_save_image", openai_save_image, METH_VARARGS,
     "_save_image($module, name, path, /)\n--\n\n"
     "Write the precomputed image of the vocabulary name (made first if needed)\n"
     "to path exactly. Raises OSError naming path when it cannot be written."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

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

}  // namespace velkan
