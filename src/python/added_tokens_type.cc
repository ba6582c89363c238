// velkan.bpe.openai.SpecialTokens: an encoding's special tokens, searched
// natively for encode (allowed and disallowed subsets) and looked up by id for
// decode, with tiktoken's results and error messages: its record, methods,
// type object, and SpecialArgs, which reads a call's subsets against it.

#include "python/added_tokens_type.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

#include "python/added_token_search.h"
#include "python/batch.h"
#include "python/bpe_type.h"
#include "python/char_offsets.h"
#include "python/convert.h"
#include "python/static_type.h"

namespace velkan {

// Subsets built from frozensets are kept per object, at most this many: a
// program uses a few distinct sets over and over, and a program that makes
// new ones without end must not grow without end (the cache is then emptied
// and filled anew).
constexpr Py_ssize_t kCachedSubsets = 64;

struct SpecialTokensData {
  std::unique_ptr<const SpecialTokenFinder> finder;
  std::vector<uint32_t> ids;                     // by the finder's index
  std::vector<PyRef> names;                      // the tokens' texts, by index
  SpecialSet all;                                // every token
  PyRef index_of;                                // dict: text -> index
  PyRef subsets;                                 // dict: frozenset -> capsule of a Subset
  PyRef disallowed_subsets;                      // the same, read as disallowed sets
  std::unordered_map<uint32_t, uint32_t> by_id;  // id -> index; the later text wins
};

// A subset of the tokens, as an argument named it. A disallowed set may name
// strings that are no special token: tiktoken searches the text for those
// too, so they get a finder of their own.
struct SpecialSubset {
  SpecialSet set;
  std::unique_ptr<const SpecialTokenFinder> extra;  // the other strings, or null
  std::vector<PyRef> extra_names;                   // their texts, by the extra finder's index
  bool empty_string = false;                        // "" is in the set: it is found anywhere
};

namespace {

using Subset = SpecialSubset;

struct SpecialTokensObject {
  PyObject_HEAD SpecialTokensData* data;  // null when made by the type without arguments
};

const char kSubsetCapsule[] = "velkan.special_subset";

void free_subset(PyObject* capsule) {
  std::default_delete<Subset>()(
      static_cast<Subset*>(PyCapsule_GetPointer(capsule, kSubsetCapsule)));
}

const SpecialTokensData* data_of(PyObject* self) {
  const SpecialTokensData* data = reinterpret_cast<SpecialTokensObject*>(self)->data;
  if (data == nullptr) PyErr_SetString(PyExc_ValueError, "SpecialTokens has no tokens");
  return data;
}

// The error tiktoken's check raises for a disallowed set (a frozenset)
// holding something other than str: its search pattern is "|".join of the
// regex package's escape of each member, in the set's order. escape reads a
// member that is no str as a sequence of bytes, so the first member that is
// not iterable raises TypeError first; else join refuses the first member
// whose escape is no str (bytes for bytes-like members). Always returns
// false with the error set.
bool non_str_member_error(PyObject* frozen) {
  std::vector<const char*> escaped_type;  // the type of each member's escape
  const PyRef iterator(PyObject_GetIter(frozen));
  if (iterator == nullptr) return false;
  while (PyRef item{PyIter_Next(iterator.get())}) {
    PyObject* member = item.get();
    if (PyUnicode_Check(member)) {
      escaped_type.push_back(nullptr);
    } else if (PyBytes_Check(member) || PyByteArray_Check(member)) {
      escaped_type.push_back("bytes");
    } else {
      const PyRef items(PyObject_GetIter(member));
      if (items == nullptr) return false;
      escaped_type.push_back(Py_TYPE(member)->tp_name);
    }
  }
  if (PyErr_Occurred()) return false;
  for (size_t i = 0; i < escaped_type.size(); i++) {
    if (escaped_type[i] != nullptr) {
      PyErr_Format(PyExc_TypeError, "sequence item %zu: expected str instance, %.80s found", i,
                   escaped_type[i]);
      return false;
    }
  }
  PyErr_SetString(PyExc_TypeError, "disallowed_special must hold only str");
  return false;
}

// Fills subset from an iterable of str. For an allowed set, items that are
// no special token are never found: no matter. For a disallowed set, the
// strings that are no special token are searched for as tiktoken does, and
// an item that is no str raises tiktoken's error. False with the error set.
bool fill_subset(const SpecialTokensData& data, PyObject* iterable, bool disallowed,
                 Subset& subset) {
  subset.set = SpecialSet(data.ids.size());
  std::vector<std::string> extra;
  bool non_str = false;
  {
    const PyRef iterator(PyObject_GetIter(iterable));
    if (iterator == nullptr) return false;
    while (PyRef item{PyIter_Next(iterator.get())}) {
      if (!PyUnicode_Check(item.get())) {
        non_str = true;
        continue;
      }
      PyObject* index = PyDict_GetItemWithError(data.index_of.get(), item.get());
      if (index != nullptr) {
        subset.set.insert(PyLong_AsSize_t(index));
        continue;
      }
      if (PyErr_Occurred()) return false;
      if (!disallowed) continue;
      if (PyUnicode_GET_LENGTH(item.get()) == 0) {
        subset.empty_string = true;
        continue;
      }
      // Lone surrogates kept as their three bytes: such a string is found
      // only in a text read the same way, never in UTF-8.
      const PyRef utf8(PyUnicode_AsEncodedString(item.get(), "utf-8", "surrogatepass"));
      if (utf8 == nullptr) return false;
      extra.emplace_back(PyBytes_AS_STRING(utf8.get()),
                         static_cast<size_t>(PyBytes_GET_SIZE(utf8.get())));
      subset.extra_names.push_back(std::move(item));
    }
    if (PyErr_Occurred()) return false;
  }
  if (non_str && disallowed) {
    const PyRef frozen(PyFrozenSet_New(iterable));
    if (frozen == nullptr) return false;
    return non_str_member_error(frozen.get());
  }
  if (!extra.empty()) {
    std::string error;
    subset.extra = SpecialTokenFinder::build(extra, &error);
    if (subset.extra == nullptr) {
      PyErr_Format(PyExc_ValueError, "disallowed_special: %s", error.c_str());
      return false;
    }
  }
  return true;
}

bool is_all(PyObject* arg) {
  return PyUnicode_Check(arg) && PyUnicode_CompareWithASCIIString(arg, "all") == 0;
}

// ---- the type ----------------------------------------------------------------------

PyObject* special_tokens_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"special_tokens", nullptr};
  PyObject* mapping = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!:SpecialTokens", const_cast<char**>(keywords),
                                   &PyDict_Type, &mapping)) {
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    auto data = std::make_unique<SpecialTokensData>();
    data->index_of.reset(PyDict_New());
    data->subsets.reset(PyDict_New());
    data->disallowed_subsets.reset(PyDict_New());
    if (data->index_of == nullptr || data->subsets == nullptr ||
        data->disallowed_subsets == nullptr) {
      return nullptr;
    }
    std::vector<std::string> texts;
    PyObject *key, *value;
    for (Py_ssize_t pos = 0; PyDict_Next(mapping, &pos, &key, &value);) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "SpecialTokens: token texts must be str, not %.200s",
                     Py_TYPE(key)->tp_name);
        return nullptr;
      }
      const unsigned long id = PyLong_Check(value) ? PyLong_AsUnsignedLong(value) : ULONG_MAX;
      if (id > UINT32_MAX) {
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError,
                     "SpecialTokens: the id of %R must be an int from 0 to 2**32 - 1, got %R", key,
                     value);
        return nullptr;
      }
      Py_ssize_t size;
      const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
      if (utf8 == nullptr) return nullptr;
      const PyRef index(PyLong_FromSize_t(texts.size()));
      if (index == nullptr || PyDict_SetItem(data->index_of.get(), key, index.get()) < 0) {
        return nullptr;
      }
      data->by_id[static_cast<uint32_t>(id)] = static_cast<uint32_t>(texts.size());
      data->ids.push_back(static_cast<uint32_t>(id));
      data->names.push_back(py_ref_borrowed(key));
      texts.emplace_back(utf8, static_cast<size_t>(size));
    }
    std::string error;
    data->finder = SpecialTokenFinder::build(texts, &error);
    if (data->finder == nullptr) {
      PyErr_Format(PyExc_ValueError, "SpecialTokens: %s", error.c_str());
      return nullptr;
    }
    data->all = SpecialSet::all(texts.size());
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<SpecialTokensObject*>(self)->data = data.release();
    return self;
  });
}

void special_tokens_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<SpecialTokensObject*>(self);
  std::default_delete<SpecialTokensData>()(o->data);
  Py_TYPE(self)->tp_free(self);
}

Py_ssize_t special_tokens_length(PyObject* self) {
  const SpecialTokensData* data = reinterpret_cast<SpecialTokensObject*>(self)->data;
  return data == nullptr ? 0 : static_cast<Py_ssize_t>(data->ids.size());
}

// ---- decoding ------------------------------------------------------------------------

// The ids of a sequence, all converted before any is looked up (as tiktoken
// reads them). False with the error set.
bool sequence_ids(PyObject* tokens, std::vector<uint32_t>& ids) {
  if (PyUnicode_Check(tokens)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(tokens)) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not an instance of 'Sequence'",
                 Py_TYPE(tokens)->tp_name);
    return false;
  }
  const PyRef items = sequence_snapshot(tokens, "expected a sequence");
  if (items == nullptr) return false;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
  ids.resize(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; i++) {
    if (!id_of(PySequence_Fast_GET_ITEM(items.get(), i), nullptr, &ids[static_cast<size_t>(i)])) {
      return false;
    }
  }
  return true;
}

// The bytes of one token, ordinary or special; false when there is none.
bool token_bytes(const BytePairEncoding& bpe, const SpecialTokensData& data, uint32_t id,
                 const uint8_t** bytes, uint64_t* length) {
  if (id < bpe.num_tokens && bpe.token_length(id) > 0) {
    *bytes = bpe.token_data(id);
    *length = bpe.token_length(id);
    return true;
  }
  const auto found = data.by_id.find(id);
  if (found == data.by_id.end()) return false;
  const std::string_view text = data.finder->token(found->second);
  *bytes = reinterpret_cast<const uint8_t*>(text.data());
  *length = text.size();
  return true;
}

// The bytes of all ids into out; false with tiktoken's KeyError set.
bool decode_into(const BytePairEncoding& bpe, const SpecialTokensData& data,
                 const std::vector<uint32_t>& ids, std::string& out) {
  out.clear();
  for (const uint32_t id : ids) {
    const uint8_t* bytes;
    uint64_t length;
    if (!token_bytes(bpe, data, id, &bytes, &length)) {
      const PyRef message(PyUnicode_FromFormat("Invalid token for decoding: %u", id));
      if (message != nullptr) PyErr_SetObject(PyExc_KeyError, message.get());
      return false;
    }
    out.append(reinterpret_cast<const char*>(bytes), length);
  }
  return true;
}

const BytePairEncoding* bpe_arg(PyObject* arg) {
  if (!PyObject_TypeCheck(arg, &BytePairEncodingType)) {
    PyErr_Format(PyExc_TypeError, "expected a BytePairEncoding, not %.200s", Py_TYPE(arg)->tp_name);
    return nullptr;
  }
  return bpe_encoding(arg);
}

// errors: None gives bytes, a str the text decoded with that error handler.
PyObject* decoded(const std::string& bytes, PyObject* errors) {
  if (errors == Py_None) {
    return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  }
  const char* handler = PyUnicode_AsUTF8(errors);
  if (handler == nullptr) return nullptr;
  return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), handler);
}

// The optional third argument errors of decode and decode_batch (None when
// absent), or null with TypeError when it is neither None nor a str.
PyObject* errors_arg(PyObject* const* args, Py_ssize_t nargs) {
  PyObject* errors = nargs == 3 ? args[2] : Py_None;
  if (errors == Py_None || PyUnicode_Check(errors)) return errors;
  PyErr_Format(PyExc_TypeError, "decode() argument 'errors' must be str, not %.200s",
               Py_TYPE(errors)->tp_name);
  return nullptr;
}

// What decode, decode_batch and tokens_bytes, each called as
// signature(bpe, items, optional), check first: the receiver's data, the
// argument count and the bpe argument. False with the error set.
bool bpe_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, const char* signature,
              const SpecialTokensData** data, const BytePairEncoding** bpe) {
  *data = data_of(self);
  if (*data == nullptr) return false;
  if (nargs < 2 || nargs > 3) {
    PyErr_Format(PyExc_TypeError, "%s takes 2 or 3 arguments", signature);
    return false;
  }
  *bpe = bpe_arg(args[0]);
  return *bpe != nullptr;
}

// decode(bpe, tokens, errors=None): bytes when errors is None, else str.
PyObject* special_tokens_decode(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const SpecialTokensData* data = nullptr;
  const BytePairEncoding* bpe = nullptr;
  if (!bpe_call(self, args, nargs, "decode(bpe, tokens, errors=None)", &data, &bpe)) return nullptr;
  PyObject* errors = errors_arg(args, nargs);
  if (errors == nullptr) return nullptr;
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    std::string bytes;
    if (!sequence_ids(args[1], ids) || !decode_into(*bpe, *data, ids, bytes)) return nullptr;
    return decoded(bytes, errors);
  });
}

// decode_batch(bpe, batch, errors=None): decode of each item, in order; the
// first item that fails raises.
PyObject* special_tokens_decode_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const SpecialTokensData* data = nullptr;
  const BytePairEncoding* bpe = nullptr;
  if (!bpe_call(self, args, nargs, "decode_batch(bpe, batch, errors=None)", &data, &bpe))
    return nullptr;
  PyObject* errors = errors_arg(args, nargs);
  if (errors == nullptr) return nullptr;
  return guard_memory([&]() -> PyObject* {
    const PyRef items(PySequence_List(args[1]));
    if (items == nullptr) return nullptr;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    std::vector<PyRef> out;
    out.reserve(static_cast<size_t>(n));
    std::vector<uint32_t> ids;
    std::string bytes;
    for (Py_ssize_t i = 0; i < n; i++) {
      if (!sequence_ids(PyList_GET_ITEM(items.get(), i), ids) ||
          !decode_into(*bpe, *data, ids, bytes)) {
        return nullptr;
      }
      out.emplace_back(decoded(bytes, errors));
      if (out.back() == nullptr) return nullptr;
    }
    return refs_to_list(out);
  });
}

// tokens_bytes(bpe, tokens, with_offsets=False): the bytes of each token,
// each id converted and looked up in turn (KeyError names the id alone);
// with_offsets gives (text, offsets) as tiktoken's decode_with_offsets.
PyObject* special_tokens_tokens_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  const SpecialTokensData* data = nullptr;
  const BytePairEncoding* bpe = nullptr;
  if (!bpe_call(self, args, nargs, "tokens_bytes(bpe, tokens, with_offsets=False)", &data, &bpe))
    return nullptr;
  const int with_offsets = nargs == 3 ? PyObject_IsTrue(args[2]) : 0;
  if (with_offsets < 0) return nullptr;
  return guard_memory([&]() -> PyObject* {
    const PyRef items(PySequence_List(args[1]));
    if (items == nullptr) return nullptr;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    std::vector<PyRef> pieces;
    std::vector<uint64_t> starts;
    std::string all;
    pieces.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; i++) {
      uint32_t id;
      if (!id_of(PyList_GET_ITEM(items.get(), i), nullptr, &id)) return nullptr;
      const uint8_t* bytes;
      uint64_t length;
      if (!token_bytes(*bpe, *data, id, &bytes, &length)) {
        const PyRef key(PyUnicode_FromFormat("%u", id));
        if (key != nullptr) PyErr_SetObject(PyExc_KeyError, key.get());
        return nullptr;
      }
      if (!with_offsets) {
        pieces.emplace_back(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes),
                                                      static_cast<Py_ssize_t>(length)));
        if (pieces.back() == nullptr) return nullptr;
        continue;
      }
      starts.push_back(all.size());
      all.append(reinterpret_cast<const char*>(bytes), length);
    }
    if (!with_offsets) return refs_to_list(pieces);
    const PyRef text(
        PyUnicode_DecodeUTF8(all.data(), static_cast<Py_ssize_t>(all.size()), "strict"));
    if (text == nullptr) return nullptr;
    std::vector<PyRef> offsets;
    offsets.reserve(starts.size());
    CharOffsets at(reinterpret_cast<const uint8_t*>(all.data()), all.size(), true);
    for (const uint64_t start : starts) {
      offsets.emplace_back(PyLong_FromUnsignedLongLong(at.at(start)));
      if (offsets.back() == nullptr) return nullptr;
    }
    PyObject* list = refs_to_list(offsets);
    if (list == nullptr) return nullptr;
    return Py_BuildValue("(ON)", text.get(), list);
  });
}

}  // namespace

const char kIdsDoc[] =
    "_ids($module, tokens, /)\n--\n\n"
    "tokens as a list of ints, each converted as decode converts it (tiktoken's\n"
    "TypeError and OverflowError for the first one that is no 32-bit id).";

PyObject* openai_ids(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 1) {
    PyErr_Format(PyExc_TypeError, "_ids() takes exactly one argument (%zd given)", nargs);
    return nullptr;
  }
  return guard_memory([&]() -> PyObject* {
    std::vector<uint32_t> ids;
    if (!sequence_ids(args[0], ids)) return nullptr;
    return tokens_to_list(ids.data(), ids.size());
  });
}

PyObject* refuse_unencodable(const SpecialArgs& special, PyObject* text) {
  if (!special.checks() || !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
  PyErr_Clear();
  const PyRef bytes(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (bytes != nullptr) {
    const auto* data = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(bytes.get()));
    const auto size = static_cast<uint64_t>(PyBytes_GET_SIZE(bytes.get()));
    if (special.first_disallowed(data, size)) return special.raise_disallowed(data, size);
  }
  PyErr_Clear();
  Py_ssize_t unused;
  if (PyUnicode_AsUTF8AndSize(text, &unused) == nullptr) return nullptr;  // the error again
  PyErr_SetString(PyExc_SystemError, "refuse_unencodable: the text read as UTF-8 after all");
  return nullptr;
}

namespace {

// check(text, allowed_special, disallowed_special): tiktoken's ValueError
// when a disallowed special token is in text (a str), else None.
PyObject* special_tokens_check(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  if (data_of(self) == nullptr) return nullptr;
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError,
                    "check(text, allowed_special, disallowed_special) takes 3 arguments");
    return nullptr;
  }
  if (!PyUnicode_Check(args[0])) Py_RETURN_NOTIMPLEMENTED;
  return guard_memory([&]() -> PyObject* {
    SpecialArgs special;
    if (!special.parse(self, args[1], args[2])) return nullptr;
    if (!special.checks()) Py_RETURN_NONE;
    TextArg text;
    if (text.parse(args[0]) != TextArg::kOk) return refuse_unencodable(special, args[0]);
    if (special.first_disallowed(text.data(), text.size())) {
      return special.raise_disallowed(text.data(), text.size());
    }
    Py_RETURN_NONE;
  });
}

PyObject* special_tokens_raise_disallowed(PyObject*, PyObject* token) {
  if (!PyUnicode_Check(token)) {
    PyErr_Format(PyExc_TypeError, "raise_disallowed: token must be str, not %.200s",
                 Py_TYPE(token)->tp_name);
    return nullptr;
  }
  return raise_disallowed_special(token);
}

PyMethodDef special_tokens_methods[] = {
    {"decode", as_method(special_tokens_decode), METH_FASTCALL,
     "decode($self, bpe, tokens, errors=None, /)\n--\n\n"
     "The bytes of the tokens (ordinary ones from bpe, else special), or with\n"
     "errors a str decoded with that error handler. KeyError for an unknown id."},
    {"decode_batch", as_method(special_tokens_decode_batch), METH_FASTCALL,
     "decode_batch($self, bpe, batch, errors=None, /)\n--\n\n"
     "decode() of each item of batch, as a list."},
    {"tokens_bytes", as_method(special_tokens_tokens_bytes), METH_FASTCALL,
     "tokens_bytes($self, bpe, tokens, with_offsets=False, /)\n--\n\n"
     "The bytes of each token as a list; with_offsets: (text, offsets), the index\n"
     "of the character where each token starts. KeyError for an unknown id."},
    {"check", as_method(special_tokens_check), METH_FASTCALL,
     "check($self, text, allowed_special, disallowed_special, /)\n--\n\n"
     "Raise tiktoken's ValueError when a special token of disallowed_special (\"all\":\n"
     "every one not in allowed_special; any iterable of str, as tiktoken reads it) is in\n"
     "text; None otherwise, and NotImplemented for a text that is no str."},
    {"find", as_method(special_tokens_find), METH_FASTCALL, kSpecialFindDoc},
    {"find_disallowed", as_method(special_tokens_find_disallowed), METH_FASTCALL,
     kSpecialFindDisallowedDoc},
    {"resolve", as_method(special_tokens_resolve), METH_FASTCALL, kSpecialResolveDoc},
    {"raise_disallowed", as_method(special_tokens_raise_disallowed), METH_O | METH_STATIC,
     "raise_disallowed(token, /)\n--\n\n"
     "Raise tiktoken's ValueError for the disallowed special token text token (a str)."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PySequenceMethods special_tokens_sequence = [] {
  PySequenceMethods m{};
  m.sq_length = special_tokens_length;
  return m;
}();

PyDoc_STRVAR(added_tokens_type_doc,
             "SpecialTokens(special_tokens)\n--\n\n"
             "An encoding's special tokens (a dict of text to id), found in texts natively.\n"
             "Tokenizer.encode_special and the batch methods take it with the allowed and\n"
             "disallowed subsets. The subsets given as frozensets are resolved once and kept\n"
             "(at most 64 distinct ones; then the cache starts anew); other collections are\n"
             "read on every call.");

}  // namespace

PyTypeObject SpecialTokensType = [] {
  PyTypeObject t = make_type("velkan.bpe.openai.SpecialTokens", sizeof(SpecialTokensObject),
                             added_tokens_type_doc);
  t.tp_new = special_tokens_new;
  t.tp_dealloc = special_tokens_dealloc;
  t.tp_methods = special_tokens_methods;
  t.tp_as_sequence = &special_tokens_sequence;
  return t;
}();

// ---- SpecialArgs ----------------------------------------------------------------------

SpecialArgs::SpecialArgs() = default;
SpecialArgs::~SpecialArgs() = default;

bool SpecialArgs::resolve(PyObject* set, bool disallowed, const SpecialSubset** out, PyRef& holder,
                          std::unique_ptr<SpecialSubset>& scratch) {
  const SpecialTokensData& data = *data_;
  if (PyFrozenSet_CheckExact(set)) {
    if (PySet_GET_SIZE(set) == 0) return true;
    // Allowed and disallowed subsets of one frozenset differ (the latter
    // searches strings that are no special token): cached apart.
    PyObject* cache = disallowed ? data.disallowed_subsets.get() : data.subsets.get();
    PyRef found;
    if (!dict_item(cache, set, found)) return false;
    if (found == nullptr) {
      auto subset = std::make_unique<Subset>();
      if (!fill_subset(data, set, disallowed, *subset)) return false;
      PyRef capsule(PyCapsule_New(subset.get(), kSubsetCapsule, free_subset));
      if (capsule == nullptr) return false;
      subset.release();
      if (PyDict_GET_SIZE(cache) >= kCachedSubsets) PyDict_Clear(cache);
      if (PyDict_SetItem(cache, set, capsule.get()) < 0) return false;
      holder = std::move(capsule);
    } else {
      holder = std::move(found);
    }
    *out = static_cast<const Subset*>(PyCapsule_GetPointer(holder.get(), kSubsetCapsule));
    return true;
  }
  // Other collections change, so they are read on every call.
  if (PyObject_Length(set) == 0) return !PyErr_Occurred();
  scratch = std::make_unique<Subset>();
  if (!fill_subset(data, set, disallowed, *scratch)) return false;
  *out = scratch.get();
  return true;
}

bool SpecialArgs::parse(PyObject* specials, PyObject* allowed, PyObject* disallowed) {
  if (specials == Py_None) return true;
  if (!PyObject_TypeCheck(specials, &SpecialTokensType)) {
    PyErr_Format(PyExc_TypeError, "specials must be SpecialTokens or None, not %.200s",
                 Py_TYPE(specials)->tp_name);
    return false;
  }
  data_ = data_of(specials);
  if (data_ == nullptr) return false;
  specials_ = py_ref_borrowed(specials);
  if (allowed == nullptr || allowed == Py_None) {
    allowed_ = nullptr;
  } else if (is_all(allowed)) {
    allowed_ = &data_->all;
  } else if (PyUnicode_Check(allowed)) {
    // A string other than "all" is no set of tokens (tiktoken's error).
    PyErr_SetString(PyExc_TypeError, "unsupported operand type(s) for -: 'set' and 'str'");
    return false;
  } else {
    // Any other iterable of str is read as its frozenset.
    PyObject* set = allowed;
    if (!PyAnySet_Check(allowed)) {
      allowed_frozen_.reset(PyFrozenSet_New(allowed));
      if (allowed_frozen_ == nullptr) return false;
      set = allowed_frozen_.get();
    }
    allowed_arg_ = set;
    const SpecialSubset* subset = nullptr;
    if (!resolve(set, false, &subset, allowed_holder_, allowed_scratch_)) return false;
    if (subset != nullptr) allowed_ = &subset->set;
  }
  if (is_all(disallowed)) {
    if (allowed_ == nullptr || allowed_->empty()) {
      disallowed_ = &data_->all;
    } else if (!allowed_->full()) {
      disallowed_all_ = data_->all.minus(*allowed_);
      disallowed_ = &disallowed_all_;
    }
    return true;
  }
  // tiktoken checks only when the argument is true (an empty collection,
  // None: no check), and reads any other iterable as its frozenset.
  const int truth = PyObject_IsTrue(disallowed);
  if (truth <= 0) return truth == 0;
  PyObject* set = disallowed;
  if (!PyAnySet_Check(disallowed) && !PyList_Check(disallowed) && !PyTuple_Check(disallowed)) {
    disallowed_frozen_.reset(PyFrozenSet_New(disallowed));
    if (disallowed_frozen_ == nullptr) return false;
    set = disallowed_frozen_.get();
  }
  disallowed_arg_ = set;
  if (!resolve(set, true, &disallowed_subset_, disallowed_holder_, disallowed_scratch_)) {
    return false;
  }
  if (disallowed_subset_ != nullptr) disallowed_ = &disallowed_subset_->set;
  return true;
}

bool SpecialArgs::checks() const {
  return (disallowed_ != nullptr && !disallowed_->empty()) ||
         (disallowed_subset_ != nullptr &&
          (disallowed_subset_->extra != nullptr || disallowed_subset_->empty_string));
}

std::optional<uint32_t> SpecialArgs::first_disallowed(const uint8_t* text, uint64_t length) const {
  const std::optional<SpecialMatch> m = find_disallowed(text, length);
  if (!m) return std::nullopt;
  return m->index;
}

std::optional<SpecialMatch> SpecialArgs::find_disallowed(const uint8_t* text,
                                                         uint64_t length) const {
  if (!checks()) return std::nullopt;
  std::optional<SpecialMatch> m;
  if (disallowed_ != nullptr && !disallowed_->empty()) {
    m = data_->finder->find(text, length, 0, *disallowed_);
  }
  const SpecialSubset* subset = disallowed_subset_;
  if (subset != nullptr && subset->extra != nullptr) {
    const SpecialTokenFinder& extra = *subset->extra;
    const SpecialSet every = SpecialSet::all(extra.size());
    if (std::optional<SpecialMatch> e = extra.find(text, length, 0, every)) {
      // The leftmost of both, and of those the longest.
      if (!m || e->start < m->start || (e->start == m->start && e->end > m->end)) {
        m = SpecialMatch{e->start, e->end, static_cast<uint32_t>(data_->ids.size() + e->index)};
      }
    }
  }
  // "" is found at the text's start, unless a token starts there.
  if (subset != nullptr && subset->empty_string && (!m || m->start > 0)) {
    return SpecialMatch{0, 0, kEmptyString};
  }
  return m;
}

PyRef SpecialArgs::disallowed_in_order() const {
  // tiktoken searches the alternation of frozenset(disallowed), in that
  // set's order; for "all", of frozenset(special_tokens_set - allowed).
  if (disallowed_arg_ == nullptr) {
    const PyRef names(PySet_New(nullptr));
    if (names == nullptr) return PyRef();
    for (const PyRef& name : data_->names) {
      if (PySet_Add(names.get(), name.get()) < 0) return PyRef();
    }
    if (allowed_arg_ == nullptr) return PyRef(PyFrozenSet_New(names.get()));
    const PyRef rest(PyNumber_Subtract(names.get(), allowed_arg_));
    return rest == nullptr ? PyRef() : PyRef(PyFrozenSet_New(rest.get()));
  }
  if (PyFrozenSet_Check(disallowed_arg_)) return py_ref_borrowed(disallowed_arg_);
  return PyRef(PyFrozenSet_New(disallowed_arg_));
}

PyRef SpecialArgs::named_disallowed(const uint8_t* text, uint64_t length, uint64_t* start) const {
  const std::optional<SpecialMatch> found = find_disallowed(text, length);
  if (!found) return PyRef();
  *start = found->start;
  // Of the strings found at the leftmost place, tiktoken names the first in
  // its set's order, not the longest.
  const PyRef order = disallowed_in_order();
  const PyRef items(order == nullptr ? nullptr : PyObject_GetIter(order.get()));
  if (items == nullptr) return PyRef();
  while (PyRef item{PyIter_Next(items.get())}) {
    if (!PyUnicode_Check(item.get())) continue;
    const PyRef utf8(PyUnicode_AsEncodedString(item.get(), "utf-8", "surrogatepass"));
    if (utf8 == nullptr) return PyRef();
    const auto size = static_cast<uint64_t>(PyBytes_GET_SIZE(utf8.get()));
    if (size <= length - found->start &&
        std::memcmp(text + found->start, PyBytes_AS_STRING(utf8.get()), size) == 0) {
      return item;
    }
  }
  if (PyErr_Occurred()) return PyRef();
  const uint32_t index = found->index;
  if (index == kEmptyString) return PyRef(PyUnicode_FromStringAndSize("", 0));
  if (index < data_->names.size()) return py_ref_borrowed(data_->names[index].get());
  return py_ref_borrowed(disallowed_subset_->extra_names[index - data_->names.size()].get());
}

PyObject* SpecialArgs::raise_disallowed(const uint8_t* text, uint64_t length) const {
  uint64_t start;
  const PyRef name = named_disallowed(text, length, &start);
  if (name == nullptr) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "raise_disallowed: the text holds no disallowed string");
    }
    return nullptr;
  }
  return raise_disallowed_special(name.get());
}

PyObject* SpecialArgs::resolved() const {
  // allowed "all" is every token; a false disallowed value checks nothing.
  PyRef allowed;
  if (allowed_arg_ != nullptr && PyFrozenSet_CheckExact(allowed_arg_)) {
    allowed = py_ref_borrowed(allowed_arg_);
  } else if (allowed_arg_ != nullptr) {
    allowed.reset(PyFrozenSet_New(allowed_arg_));
  } else {
    const PyRef names(PySet_New(nullptr));
    if (names == nullptr) return nullptr;
    for (size_t i = 0; allowed_ != nullptr && i < data_->names.size(); i++) {
      if (PySet_Add(names.get(), data_->names[i].get()) < 0) return nullptr;
    }
    allowed.reset(PyFrozenSet_New(names.get()));
  }
  if (allowed == nullptr) return nullptr;
  const PyRef disallowed(checks() ? disallowed_in_order() : PyRef(PyFrozenSet_New(nullptr)));
  if (disallowed == nullptr) return nullptr;
  return PyTuple_Pack(2, allowed.get(), disallowed.get());
}

std::optional<SpecialMatch> SpecialArgs::find_allowed(const uint8_t* text, uint64_t length,
                                                      uint64_t pos) const {
  if (!allows()) return std::nullopt;
  std::optional<SpecialMatch> m = data_->finder->find(text, length, pos, *allowed_);
  if (m) m->index = data_->ids[m->index];
  return m;
}

PyObject* raise_disallowed_special(PyObject* token) {
  // tiktoken's words: callers match on them.
  const PyRef message(PyUnicode_FromFormat(
      "Encountered text corresponding to disallowed special token %R.\n"
      "If you want this text to be encoded as a special token, pass it to `allowed_special`, "
      "e.g. `allowed_special={%R, ...}`.\n"
      "If you want this text to be encoded as normal text, disable the check for this token by "
      "passing `disallowed_special=(enc.special_tokens_set - {%R})`.\n"
      "To disable this check for all special tokens, pass `disallowed_special=()`.\n",
      token, token, token));
  if (message != nullptr) PyErr_SetObject(PyExc_ValueError, message.get());
  return nullptr;
}

void SpecialArgs::encode(const EncodingHandle& handle, const uint8_t* text, uint64_t length,
                         std::vector<uint32_t>& out, const Interrupt* interrupt) const {
  if (!allows()) {
    if (out.empty()) {
      piecewise_encode_into(handle, text, length, out, interrupt);  // keeps out's buffer
    } else {
      const std::vector<uint32_t> ids = piecewise_encode(handle, text, length, interrupt);
      out.insert(out.end(), ids.begin(), ids.end());
    }
    return;
  }
  encode_with_specials(handle, *data_->finder, data_->ids.data(), *allowed_, text, length, out,
                       interrupt);
}

}  // namespace velkan
