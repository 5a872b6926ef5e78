#pragma once
// TStream and its memory and file streams, with file removal and existence checks.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brixa {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A sequence of bytes with a position. Read and Write move as many bytes as they can and return
// the count; ReadBuffer and WriteBuffer raise EReadError / EWriteError when fewer moved.
class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(std::int64_t size) = 0;

  [[nodiscard]] virtual std::int64_t Size();
  [[nodiscard]] std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies `count` bytes from `source` at its position (count 0: the whole source from its start).
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream in memory; Memory() stays valid until the next write or SetSize.
class TMemoryStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  [[nodiscard]] std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

  [[nodiscard]] const std::uint8_t* Memory() const noexcept { return data_.data(); }
  [[nodiscard]] std::uint8_t* Memory() noexcept { return data_.data(); }
  [[nodiscard]] std::string DataString() const { return {data_.begin(), data_.end()}; }
  void Clear();

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// File open modes, as the numeric mode word of the file stream constructor.
inline constexpr unsigned fmOpenRead = 0x0000;
inline constexpr unsigned fmOpenWrite = 0x0001;
inline constexpr unsigned fmOpenReadWrite = 0x0002;
inline constexpr unsigned fmShareExclusive = 0x0010;
inline constexpr unsigned fmShareDenyWrite = 0x0020;
inline constexpr unsigned fmShareDenyNone = 0x0040;
// Create or truncate, opened for reading and writing, shared with nobody.
inline constexpr unsigned fmCreate = 0xFFFF;

class TFileHandle;  // the platform's open file

// A stream over a file. fmCreate creates or truncates; other modes open an existing file.
// Raises EFCreateError / EFOpenError with the system's reason when the file cannot be had.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  [[nodiscard]] const std::string& FileName() const noexcept { return fileName_; }

 private:
  std::string fileName_;
  std::unique_ptr<TFileHandle> handle_;
};

// Deletes a file; false when it did not exist or could not be deleted.
bool RemoveFile(const std::string& fileName);
[[nodiscard]] bool FileExists(const std::string& fileName);

}  // namespace brixa
