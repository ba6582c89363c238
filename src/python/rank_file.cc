#include "python/rank_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "python/convert.h"
#include "python/py_ref.h"

namespace velkan {
namespace {

constexpr uint64_t kMaxRank = (uint64_t{1} << 32) - 2;  // velkan.load.MAX_RANK

// Base64 digit values; -1 for any other byte ("=" is handled apart).
struct Base64Values {
  int8_t of[256] = {};
  constexpr Base64Values() {
    for (int i = 0; i < 256; i++) of[i] = -1;
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; i++) of[static_cast<uint8_t>(digits[i])] = static_cast<int8_t>(i);
  }
};
constexpr Base64Values kBase64;

// Decodes a token of whole quads, "=" only as its last one or two bytes, as
// binascii decodes what b64decode(validate=True) lets through (the bits the
// padding leaves over are ignored). False for anything else.
bool decode_base64(const uint8_t* p, size_t n, std::string& out) {
  out.clear();
  if (n == 0 || n % 4 != 0) return false;
  size_t pads = 0;
  if (p[n - 1] == '=') pads = p[n - 2] == '=' ? 2 : 1;
  for (size_t i = 0; i < n; i += 4) {
    const bool last = i + 4 == n;
    uint32_t quad = 0;
    const size_t digits = last ? 4 - pads : 4;
    for (size_t k = 0; k < 4; k++) {
      int v = 0;
      if (k < digits) {
        v = kBase64.of[p[i + k]];
        if (v < 0) return false;
      }
      quad = quad << 6 | static_cast<uint32_t>(v);
    }
    out.push_back(static_cast<char>(quad >> 16));
    if (digits >= 3) out.push_back(static_cast<char>(quad >> 8 & 0xFF));
    if (digits == 4) out.push_back(static_cast<char>(quad & 0xFF));
  }
  return true;
}

}  // namespace

const char kParseRankFileDoc[] =
    "_parse_rank_file($module, data, /)\n--\n\n"
    "Return {token: rank} of a rank file's bytes as tiktoken writes them (lines of\n"
    "\"<base64 token> <rank>\", tokens and ranks distinct), or None for any other\n"
    "file, which velkan.load then reads line by line.";

PyObject* openai_parse_rank_file(PyObject*, PyObject* data) {
  if (!PyBytes_Check(data)) {
    PyErr_Format(PyExc_TypeError, "_parse_rank_file: expected bytes, not %.200s",
                 Py_TYPE(data)->tp_name);
    return nullptr;
  }
  const auto* text = reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(data));
  const auto size = static_cast<size_t>(PyBytes_GET_SIZE(data));
  return guard_memory([&]() -> PyObject* {
    PyRef ranks(PyDict_New());
    if (!ranks) return nullptr;
    std::vector<uint32_t> seen;
    std::string token;
    size_t lines = 0;
    for (size_t at = 0; at < size;) {
      const auto* line_end = static_cast<const uint8_t*>(std::memchr(text + at, '\n', size - at));
      const size_t end = line_end != nullptr ? static_cast<size_t>(line_end - text) : size;
      const auto* space = static_cast<const uint8_t*>(std::memchr(text + at, ' ', end - at));
      if (space == nullptr) Py_RETURN_NONE;
      const size_t cut = static_cast<size_t>(space - text);
      if (!decode_base64(text + at, cut - at, token) || cut + 1 == end) Py_RETURN_NONE;
      uint64_t rank = 0;
      for (size_t i = cut + 1; i < end; i++) {
        const unsigned digit = static_cast<unsigned>(text[i]) - '0';
        if (digit > 9) Py_RETURN_NONE;  // a second space, a CR, a sign
        rank = rank * 10 + digit;
        if (rank > kMaxRank) Py_RETURN_NONE;
      }
      PyRef key(PyBytes_FromStringAndSize(token.data(), static_cast<Py_ssize_t>(token.size())));
      PyRef value(PyLong_FromUnsignedLongLong(rank));
      if (!key || !value || PyDict_SetItem(ranks.get(), key.get(), value.get()) < 0) {
        return nullptr;
      }
      seen.push_back(static_cast<uint32_t>(rank));
      lines++;
      at = end + 1;
    }
    // A token seen twice leaves the dict smaller; a rank seen twice, a
    // neighbour equal to it once sorted.
    if (lines == 0 || static_cast<size_t>(PyDict_GET_SIZE(ranks.get())) != lines) Py_RETURN_NONE;
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) Py_RETURN_NONE;
    return ranks.release();
  });
}

}  // namespace velkan
