#pragma once
// TIdSocketList: a locked set of up to 64 sockets to wait on for readiness.

#include <memory>

#include "platform/core/sync.h"
#include "transport/socket/stack.h"

namespace brixa {

// A set of at most 64 sockets that can be waited on for readiness.
//
// Every operation takes the list's own lock; waits copy the set under the lock and wait
// outside it, so another thread may change the list while one waits. Adding to a full list, or
// an index outside 0..Count()-1, raises EIdStackSetSizeExceeded "Set Size Exceeded.".
//
// The waits use select() on Windows and poll() on Linux (poll has no limit on descriptor
// numbers, so descriptors at or above FD_SETSIZE are waited on correctly); both watch the same
// 64 slots and report the same results.
class TIdSocketList {
 public:
  TIdSocketList() = default;
  TIdSocketList(const TIdSocketList&) = delete;
  TIdSocketList& operator=(const TIdSocketList&) = delete;

  // Adding a socket already present changes nothing.
  void Add(TIdStackSocketHandle AHandle);
  void Remove(TIdStackSocketHandle AHandle);
  void Clear();
  [[nodiscard]] int Count() const;
  [[nodiscard]] TIdStackSocketHandle Items(int AIndex) const;
  [[nodiscard]] bool Contains(TIdStackSocketHandle AHandle) const;
  [[nodiscard]] std::unique_ptr<TIdSocketList> Clone() const;

  // Waits until any member is readable (data, end of stream or a pending error) or ATimeout ms
  // pass: TimeoutInfinite (or any negative value) waits without a limit, 0 polls once.
  // A failing wait raises its socket error.
  [[nodiscard]] bool SelectRead(int ATimeout = TimeoutInfinite) const;
  // Waits over whichever lists are given (null for none); each given list is left holding only
  // its ready members. True when any member of any list is ready.
  [[nodiscard]] static bool Select(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                                   TIdSocketList* AExceptList, int ATimeout = TimeoutInfinite);

 private:
  [[nodiscard]] TIdSocketSet Snapshot() const;
  void Assign(const TIdSocketSet& ASet);

  mutable TIdCriticalSection lock_;
  TIdSocketSet set_;
};

}  // namespace brixa
