#pragma once
// An I/O handler over a block of memory, so the benchmarks time the handler without a socket.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "transport/io/io_handler.h"

namespace brixa::bench {

// An I/O handler whose source is a block of memory, handed out at most RecvBufferSize() bytes
// per read, so the benchmarks time the handler's own work without a socket under it. Writes
// are accepted and dropped.
class MemoryIOHandler : public TIdIOHandler {
 public:
  // Opens the handler on `data`; the text must outlive the reads.
  void Load(const std::string& data) {
    OpenHandler();
    data_ = &data;
    offset_ = 0;
  }

 protected:
  bool SourceIsAvailable() const override { return IsOpen(); }
  bool SourceReadable(std::int32_t) override { return true; }
  std::int32_t ReadDataFromSource(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::min(buffer.size(), data_->size() - offset_);
    std::memcpy(buffer.data(), data_->data() + offset_, n);
    offset_ += n;
    return static_cast<std::int32_t>(n);
  }
  std::int32_t WriteDataToTarget(std::span<const std::uint8_t> buffer) override {
    return static_cast<std::int32_t>(buffer.size());
  }

 private:
  const std::string* data_ = nullptr;
  std::size_t offset_ = 0;
};

}  // namespace brixa::bench
