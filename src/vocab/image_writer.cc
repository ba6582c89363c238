// Writing an image: the header and arrays in the order of image_layout.h,
// into a buffer sized in advance so that every field is one memcpy.

#include <cstring>

#include "core/build.h"
#include "vocab/image.h"
#include "vocab/image_layout.h"

namespace velkan {

namespace {

struct Writer {
  uint8_t* out;
  template <typename T>
  void field(const T& value) {
    std::memcpy(out, &value, sizeof(T));
    out += sizeof(T);
  }
  template <typename T>
  void array(const std::vector<T>& values, uint64_t count) {
    const size_t bytes = static_cast<size_t>(count) * sizeof(T);
    if (bytes != 0) std::memcpy(out, values.data(), bytes);
    out += bytes;
  }
  template <typename T>
  void copy(const std::vector<T>& values, const std::vector<T>&, uint64_t count) {
    array(values, count);
  }
  void unheld(const TokenAutomaton& a) { visit_automaton_arrays(reverse ? *reverse : a, *this); }
  const TokenAutomaton* reverse = nullptr;  // compiled again, when the record holds none
};

}  // namespace

std::vector<uint8_t> bpe_to_image(const BytePairEncoding& bpe) {
  // An automaton left to its first use is compiled now: images carry it.
  (void)bpe_forward_automaton(bpe);
  std::vector<uint8_t> image(static_cast<size_t>(image_size(bpe)));
  Writer writer{image.data()};
  TokenAutomaton reverse;
  if (!bpe.reverse_held) {
    reverse = bpe_reverse_automaton(bpe);
    writer.reverse = &reverse;
  }
  visit_image_header(bpe, writer);
  visit_image_body(bpe, writer);
  return image;
}

}  // namespace velkan
