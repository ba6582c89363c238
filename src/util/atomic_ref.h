// AtomicRef<T>: atomic operations on a plain object that other threads read
// or write the same way (the caches' seqlock slots). std::atomic_ref where
// the standard library has it; else the same few operations on the
// compiler's __atomic builtins, which g++ and clang both have (libc++ gained
// atomic_ref only in version 19, and Apple's libc++ later still).

#ifndef VELKAN_UTIL_ATOMIC_REF_H_
#define VELKAN_UTIL_ATOMIC_REF_H_

#include <atomic>
#include <version>

namespace velkan {

#if defined(__cpp_lib_atomic_ref) && __cpp_lib_atomic_ref >= 201806L

template <typename T>
using AtomicRef = std::atomic_ref<T>;

#else

template <typename T>
class AtomicRef {
 public:
  explicit AtomicRef(T& object) : object_(&object) {}

  T load(std::memory_order order = std::memory_order_seq_cst) const {
    return __atomic_load_n(object_, builtin(order));
  }
  void store(T value, std::memory_order order = std::memory_order_seq_cst) const {
    __atomic_store_n(object_, value, builtin(order));
  }
  // As std::atomic_ref's: a failure reads with the order less its release.
  bool compare_exchange_strong(T& expected, T desired,
                               std::memory_order order = std::memory_order_seq_cst) const {
    return __atomic_compare_exchange_n(object_, &expected, desired, false, builtin(order),
                                       builtin(on_failure(order)));
  }

 private:
  static constexpr int builtin(std::memory_order order) {
    switch (order) {
    case std::memory_order_relaxed:
      return __ATOMIC_RELAXED;
    case std::memory_order_consume:
      return __ATOMIC_CONSUME;
    case std::memory_order_acquire:
      return __ATOMIC_ACQUIRE;
    case std::memory_order_release:
      return __ATOMIC_RELEASE;
    case std::memory_order_acq_rel:
      return __ATOMIC_ACQ_REL;
    default:
      return __ATOMIC_SEQ_CST;
    }
  }
  static constexpr std::memory_order on_failure(std::memory_order order) {
    if (order == std::memory_order_release) return std::memory_order_relaxed;
    if (order == std::memory_order_acq_rel) return std::memory_order_acquire;
    return order;
  }

  T* object_;
};

#endif

}  // namespace velkan

#endif  // VELKAN_UTIL_ATOMIC_REF_H_
