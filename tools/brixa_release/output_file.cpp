// An output file: written fresh beside its name, put in place only when whole and on the disk.

#include "output_file.h"

#include <utility>

#include "platform/core/exception.h"
#include "platform/core/stream.h"

namespace brixa::release {

namespace {

constexpr const char* kFreshSuffix = ".new";

}  // namespace

TOutputFile::TOutputFile(std::string name)
    : name_(std::move(name)), fresh_(name_ + kFreshSuffix), file_(TPrivateFile::Create(fresh_)) {}

TOutputFile::~TOutputFile() {
  if (!file_) return;
  file_.reset();
  (void)RemoveFile(fresh_);
}

void TOutputFile::Write(const void* data, std::size_t size) {
  file_->WriteBuffer(data, static_cast<std::int64_t>(size));
}

void TOutputFile::Commit() {
  try {
    file_->Flush();
    file_.reset();
    if (!ReplaceFileAtomically(fresh_, name_)) {
      throw EWriteError("Cannot put \"" + fresh_ + "\" in place of \"" + name_ + "\"");
    }
  } catch (...) {
    (void)RemoveFile(fresh_);
    throw;
  }
}

}  // namespace brixa::release
