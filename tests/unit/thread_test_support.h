#pragma once
// Helpers of the threading tests: a watchdog that ends a hung binary, main-thread serving and an
// event log.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/thread/main_thread_queue.h"

namespace brixa::test {

// Bounds a test step whose waits have no limit of their own (joining a thread, destroying a
// component): when it has not finished in time the binary ends with a message instead of
// hanging.
class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds limit = std::chrono::seconds(20))
      : guard_([this, what, limit] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: '%s' did not finish within %lld s\n", what,
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    guard_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread guard_;
};

inline constexpr std::chrono::milliseconds kPatience{10000};

// Serves main-thread calls until `done` holds or the patience runs out.
inline bool ServeUntil(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = kPatience) {
  return ServeMainThreadCallsUntil(done, limit);
}

// An event log that several threads append to.
class EventLog {
 public:
  void Add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  [[nodiscard]] std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  [[nodiscard]] std::size_t Count(const std::string& event) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& e : events_) n += e == event ? 1 : 0;
    return n;
  }
  [[nodiscard]] bool Contains(const std::string& event) const { return Count(event) > 0; }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

}  // namespace brixa::test
