// The reader / writer synchronizer, with a re-entrant write lock for the writing thread.

#include "platform/core/sync.h"

namespace brixa {

bool TMultiReadExclusiveWriteSynchronizer::WrittenByCaller() const {
  return writeDepth_ > 0 && writer_ == std::this_thread::get_id();
}

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  std::unique_lock lock(mutex_);
  if (WrittenByCaller()) {
    ++writeDepth_;
    return;
  }
  changed_.wait(lock, [this] { return writeDepth_ == 0 && writersWaiting_ == 0; });
  ++readers_;
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  std::unique_lock lock(mutex_);
  if (WrittenByCaller()) {
    --writeDepth_;
    return;
  }
  if (--readers_ == 0) changed_.notify_all();
}

void TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  std::unique_lock lock(mutex_);
  if (WrittenByCaller()) {
    ++writeDepth_;
    return;
  }
  ++writersWaiting_;
  changed_.wait(lock, [this] { return writeDepth_ == 0 && readers_ == 0; });
  --writersWaiting_;
  writer_ = std::this_thread::get_id();
  writeDepth_ = 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  std::unique_lock lock(mutex_);
  if (--writeDepth_ == 0) {
    writer_ = {};
    changed_.notify_all();
  }
}

}  // namespace brixa
