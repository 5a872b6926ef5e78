// The socket list's set operations and its readiness waits, done on a snapshot taken under the
// lock.

#include "transport/socket/socket_list.h"

#include <mutex>

#include "transport/socket/stack_exceptions.h"

namespace brixa {

void TIdSocketList::Add(TIdStackSocketHandle AHandle) {
  std::lock_guard guard(lock_);
  for (int i = 0; i < set_.Count; ++i) {
    if (set_.Sockets[i] == AHandle) return;
  }
  if (set_.Count >= Id_SOCKET_SET_SIZE) throw EIdStackSetSizeExceeded(RSSetSizeExceeded);
  set_.Sockets[set_.Count++] = AHandle;
}

void TIdSocketList::Remove(TIdStackSocketHandle AHandle) {
  std::lock_guard guard(lock_);
  for (int i = 0; i < set_.Count; ++i) {
    if (set_.Sockets[i] != AHandle) continue;
    for (int j = i + 1; j < set_.Count; ++j) set_.Sockets[j - 1] = set_.Sockets[j];
    --set_.Count;
    return;
  }
}

void TIdSocketList::Clear() {
  std::lock_guard guard(lock_);
  set_.Count = 0;
}

int TIdSocketList::Count() const {
  std::lock_guard guard(lock_);
  return set_.Count;
}

TIdStackSocketHandle TIdSocketList::Items(int AIndex) const {
  std::lock_guard guard(lock_);
  if (AIndex < 0 || AIndex >= set_.Count) throw EIdStackSetSizeExceeded(RSSetSizeExceeded);
  return set_.Sockets[AIndex];
}

bool TIdSocketList::Contains(TIdStackSocketHandle AHandle) const {
  std::lock_guard guard(lock_);
  for (int i = 0; i < set_.Count; ++i) {
    if (set_.Sockets[i] == AHandle) return true;
  }
  return false;
}

std::unique_ptr<TIdSocketList> TIdSocketList::Clone() const {
  auto copy = std::make_unique<TIdSocketList>();
  copy->Assign(Snapshot());
  return copy;
}

TIdSocketSet TIdSocketList::Snapshot() const {
  std::lock_guard guard(lock_);
  return set_;
}

void TIdSocketList::Assign(const TIdSocketSet& ASet) {
  std::lock_guard guard(lock_);
  set_ = ASet;
}

bool TIdSocketList::SelectRead(int ATimeout) const {
  TIdSocketSet ready = Snapshot();
  return GStack().CheckSocketResult(GStack().RawSelect(&ready, nullptr, nullptr, ATimeout)) > 0;
}

bool TIdSocketList::Select(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                           TIdSocketList* AExceptList, int ATimeout) {
  TIdSocketSet sets[3];
  TIdSocketList* lists[3] = {AReadList, AWriteList, AExceptList};
  TIdSocketSet* given[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (lists[i] == nullptr) continue;
    sets[i] = lists[i]->Snapshot();
    given[i] = &sets[i];
  }
  const int ready =
      GStack().CheckSocketResult(GStack().RawSelect(given[0], given[1], given[2], ATimeout));
  for (int i = 0; i < 3; ++i) {
    if (lists[i] != nullptr) lists[i]->Assign(sets[i]);
  }
  return ready > 0;
}

}  // namespace brixa
