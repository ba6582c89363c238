// Zeroed memory for the driver's large lookup tables, on huge pages where the
// system gives them. The tables are read at random positions, one or two per
// piece: on 4 KiB pages nearly every such read also misses the TLB and walks
// the page tables, on 2 MiB pages a table of a few MiB needs a few TLB
// entries. Linux gives huge pages to regions aligned to 2 MiB that ask with
// madvise (transparent huge pages in "madvise" mode, the common default);
// elsewhere, or when refused, this is plain zeroed memory.

#ifndef VELKAN_UTIL_HUGE_PAGES_H_
#define VELKAN_UTIL_HUGE_PAGES_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace velkan {

class HugePageBuffer {
 public:
  static constexpr size_t kHugePage = size_t{2} << 20;

  HugePageBuffer() = default;
  // bytes of zeroed memory, aligned to a huge page when bytes is at least one.
  explicit HugePageBuffer(size_t bytes) : memory_(allocate(bytes), Release{bytes}) {}

  uint8_t* data() const { return memory_.get(); }
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(memory_.get());
  }

 private:
  struct Release {
    size_t bytes;  // no default member initializer: used while the class is incomplete
    void operator()(uint8_t* p) const {
#if defined(__linux__)
      munmap(p, bytes);
#else
      std::free(p);
#endif
    }
  };

  static uint8_t* allocate(size_t bytes) {
    if (bytes == 0) return nullptr;
#if defined(__linux__)
    // A huge page more than asked, then the unaligned ends given back.
    const size_t mapped = bytes + kHugePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    if (aligned > start) munmap(raw, aligned - start);
    if (aligned + bytes < start + mapped)
      munmap(reinterpret_cast<void*>(aligned + bytes), start + mapped - aligned - bytes);
    void* memory = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    if (bytes >= kHugePage) madvise(memory, bytes, MADV_HUGEPAGE);  // a hint: fine if refused
#endif
    return static_cast<uint8_t*>(memory);
#else
    void* memory = std::calloc(bytes, 1);
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<uint8_t*>(memory);
#endif
  }

  std::unique_ptr<uint8_t[], Release> memory_;
};

// Asks that the whole huge pages inside [data, data + bytes), memory not yet
// written, be huge pages when they are first written: the faults then give
// huge pages at once, where collapsing 4 KiB pages later
// (advise_huge_pages) copies them.
inline void prefer_huge_pages(const void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first =
      (start + HugePageBuffer::kHugePage - 1) & ~(HugePageBuffer::kHugePage - 1);
  const uintptr_t last = (start + bytes) & ~(HugePageBuffer::kHugePage - 1);
  if (last <= first) return;
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // a hint
#else
  (void)data;
  (void)bytes;
#endif
}

// Asks that the whole huge pages inside [data, data + bytes) be huge pages,
// now: memory already written (a loaded vocabulary's arrays) is collapsed in
// place, its contents kept. Nothing happens where unsupported, or when the
// system has no huge page free at once; the range is not marked for the
// kernel's background collapsing either, which would otherwise copy it
// later, in the middle of the first encodes.
inline void advise_huge_pages(const void* data, size_t bytes) {
#if defined(__linux__)
  const uintptr_t start = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first =
      (start + HugePageBuffer::kHugePage - 1) & ~(HugePageBuffer::kHugePage - 1);
  const uintptr_t last = (start + bytes) & ~(HugePageBuffer::kHugePage - 1);
  if (last <= first) return;
  // Linux 6.1 and later; older kernels refuse the unknown advice.
  constexpr int kCollapse = 25;  // MADV_COLLAPSE, absent from older headers
  madvise(reinterpret_cast<void*>(first), last - first, kCollapse);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace velkan

#endif  // VELKAN_UTIL_HUGE_PAGES_H_
