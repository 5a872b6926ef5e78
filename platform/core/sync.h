#pragma once
// Locks: a re-entrant critical section and a many-readers / one-writer synchronizer.

#include <condition_variable>
#include <mutex>
#include <thread>

namespace brixa {

// A re-entrant mutual-exclusion lock: the holding thread may enter again.
class TIdCriticalSection {
 public:
  TIdCriticalSection() = default;
  TIdCriticalSection(const TIdCriticalSection&) = delete;
  TIdCriticalSection& operator=(const TIdCriticalSection&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  [[nodiscard]] bool TryEnter() { return mutex_.try_lock(); }

  // For std::lock_guard / std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

// Many readers or one writer. The writing thread may take the write lock again and may also
// read while it writes; readers must not upgrade to writing (that would deadlock).
class TMultiReadExclusiveWriteSynchronizer {
 public:
  TMultiReadExclusiveWriteSynchronizer() = default;
  TMultiReadExclusiveWriteSynchronizer(const TMultiReadExclusiveWriteSynchronizer&) = delete;
  TMultiReadExclusiveWriteSynchronizer& operator=(const TMultiReadExclusiveWriteSynchronizer&) =
      delete;

  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();

 private:
  [[nodiscard]] bool WrittenByCaller() const;

  std::mutex mutex_;
  std::condition_variable changed_;
  int readers_ = 0;
  int writeDepth_ = 0;      // re-entry depth of the writer (reads inside a write count too)
  int writersWaiting_ = 0;  // waiting writers hold back new readers
  std::thread::id writer_;
};

}  // namespace brixa
