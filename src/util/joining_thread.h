// JoiningThread: a thread joined when its owner goes out of scope, on every
// path (what velkan takes from std::jthread, which libc++ gained only in
// version 18 and Apple's libc++ later still; no stop token is used).

#ifndef VELKAN_UTIL_JOINING_THREAD_H_
#define VELKAN_UTIL_JOINING_THREAD_H_

#include <thread>
#include <type_traits>
#include <utility>

namespace velkan {

class JoiningThread {
 public:
  JoiningThread() = default;
  template <typename Fn>
  requires(!std::is_same_v<std::remove_cvref_t<Fn>, JoiningThread>) explicit JoiningThread(Fn&& fn)
      : thread_(std::forward<Fn>(fn)) {}
  JoiningThread(JoiningThread&&) noexcept = default;
  JoiningThread& operator=(JoiningThread&& other) noexcept {
    if (this != &other) {
      if (thread_.joinable()) thread_.join();
      thread_ = std::move(other.thread_);
    }
    return *this;
  }
  ~JoiningThread() {
    if (thread_.joinable()) thread_.join();
  }

  bool joinable() const { return thread_.joinable(); }
  void join() { thread_.join(); }

 private:
  std::thread thread_;
};

}  // namespace velkan

#endif  // VELKAN_UTIL_JOINING_THREAD_H_
