#pragma once
// An I/O handler whose peer is a byte string: reads hand out the string in pieces of at most
// `readSize` bytes (then report the peer's close), writes are kept. It drives the HTTP client
// without sockets, for grind tests that deliver one response at every read size and for
// fuzzing. Header-only, so the fuzz targets can use it without the test support library.

#include <algorithm>
#include <cstring>
#include <string>

#include "transport/io/io_handler.h"

namespace brixa::test {

class MemoryIOHandler : public TIdIOHandler {
 public:
  MemoryIOHandler(std::string input, std::size_t readSize)
      : input_(std::move(input)), readSize_(std::max<std::size_t>(readSize, 1)) {}

  void OpenHandler() override {
    TIdIOHandler::OpenHandler();
    sourceOpen_ = true;
  }
  void CloseHandler() override {
    sourceOpen_ = false;
    TIdIOHandler::CloseHandler();
  }

  // Everything the client wrote.
  [[nodiscard]] const std::string& Written() const noexcept { return written_; }
  // How often the client opened the handler (one per connection).
  [[nodiscard]] int Opens() const noexcept { return opens_; }

 protected:
  [[nodiscard]] bool SourceIsAvailable() const override { return sourceOpen_; }
  // Bytes, or the end of the input, are always there at once.
  [[nodiscard]] bool SourceReadable(std::int32_t /*ATimeout*/) override { return true; }
  std::int32_t ReadDataFromSource(std::span<std::uint8_t> buffer) override {
    const std::size_t count = std::min({buffer.size(), readSize_, input_.size() - offset_});
    std::memcpy(buffer.data(), input_.data() + offset_, count);
    offset_ += count;
    return static_cast<std::int32_t>(count);
  }
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> buffer) override {
    if (written_.empty() && buffer.size() > 0) ++opens_;
    written_.append(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    return static_cast<std::int32_t>(buffer.size());
  }

 private:
  std::string input_;
  std::size_t readSize_;
  std::size_t offset_ = 0;
  std::string written_;
  bool sourceOpen_ = false;
  int opens_ = 0;
};

}  // namespace brixa::test
