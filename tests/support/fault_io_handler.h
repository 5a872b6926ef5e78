#pragma once
// An I/O handler whose every connection is a byte string that ends in an orderly close or a
// reset, for fault-injection tests: cut a response after every byte offset and see what the
// client makes of it, and whether it opens a new connection for the next request. Header-only,
// like MemoryIOHandler.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "transport/io/io_handler.h"
#include "transport/socket/stack_consts.h"

namespace brixa::test {

class FaultIOHandler : public TIdIOHandler {
 public:
  enum class End { kClose, kReset };
  // What the peer of one connection sends before it ends.
  struct Peer {
    std::string input;
    End end = End::kClose;
  };

  // Connection N (0-based) plays peers[N]; connections past the list end at once.
  explicit FaultIOHandler(std::vector<Peer> peers, std::size_t readSize = 7)
      : peers_(std::move(peers)), readSize_(std::max<std::size_t>(readSize, 1)) {}

  void OpenHandler() override {
    TIdIOHandler::OpenHandler();
    current_ = written_.size();
    written_.emplace_back();
    offset_ = 0;
    sourceOpen_ = true;
  }
  void CloseHandler() override {
    sourceOpen_ = false;
    TIdIOHandler::CloseHandler();
  }

  [[nodiscard]] std::size_t Opens() const noexcept { return written_.size(); }
  // What the client wrote on connection N.
  [[nodiscard]] const std::string& Written(std::size_t connection) const {
    return written_.at(connection);
  }

 protected:
  [[nodiscard]] bool SourceIsAvailable() const override { return sourceOpen_; }
  [[nodiscard]] bool SourceReadable(std::int32_t /*ATimeout*/) override { return true; }
  std::int32_t ReadDataFromSource(std::span<std::uint8_t> buffer) override {
    if (current_ >= peers_.size()) return 0;
    const Peer& peer = peers_[current_];
    if (offset_ == peer.input.size()) return peer.end == End::kReset ? -1 : 0;
    const std::size_t count = std::min({buffer.size(), readSize_, peer.input.size() - offset_});
    std::memcpy(buffer.data(), peer.input.data() + offset_, count);
    offset_ += count;
    return static_cast<std::int32_t>(count);
  }
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> buffer) override {
    written_.back().append(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    return static_cast<std::int32_t>(buffer.size());
  }
  [[nodiscard]] int LastSourceError() override { return Id_WSAECONNRESET; }

 private:
  std::vector<Peer> peers_;
  std::size_t readSize_;
  std::size_t current_ = 0;
  std::size_t offset_ = 0;
  std::vector<std::string> written_;
  bool sourceOpen_ = false;
};

}  // namespace brixa::test
