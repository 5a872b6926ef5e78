#pragma once
// MemoryRepository: an update server in memory behind the fetch seam (update/net/fetcher.h), so
// the version check and the installer download run, and are attacked, without a socket.
//
//   MemoryRepository repo;
//   repo.Put("http://a/update.exe", {installer, "\"v1\""});
//   repo.AddFault("http://a/update.exe", RepoFault::Cut(100));
//   TInstallerDownload download(*repo.Fetcher(), release, file, {"http://a/update.exe"});
//   ...
//   EXPECT_EQ(repo.Log()[1].Range, "100-");
//
// Files answer as a real server does: HEAD and GET with Content-Length, ETag and Last-Modified;
// "Range: bytes=..." honoured for one range, subject to If-Range (a strong ETag or the exact
// Last-Modified), 416 for a range that starts past the end; an unknown URL is a 404. Faults
// make it misbehave per URL, for a number of GETs or for all of them.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "update/net/fetcher.h"

namespace brixa::test {

// What the repository serves at one URL.
struct RepoFile {
  std::string Body = {};
  std::string ETag = {};          // as sent, quotes included; "" sends none
  std::string LastModified = {};  // as sent; "" sends none
  // Not 200: every request is answered with it. 400 and above raise EFetchStatus; a 3xx sends
  // `Location` (followed by an installer's fetcher only); any other status sends the body whole.
  std::int32_t Status = 200;
  std::string RetryAfter = {};  // sent with a 429 or 503
  std::string Location = {};    // sent with a 3xx
  bool Ranges = true;           // false: "Range" is ignored, every GET answers 200 with everything
  bool AnnounceLength = true;   // false: no Content-Length (ContentLength -1 in the head)
};

// A misbehaviour of one URL's GETs (a HEAD is never affected).
struct RepoFault {
  enum class Kind {
    kCut,          // EIdConnClosedGracefully after `Bytes` body bytes
    kReadTimeout,  // EIdReadTimeout after `Bytes` body bytes
    kEnd,          // the body ends quietly after `Bytes` bytes; the head announced them all
    kIgnoreRange,  // 200 with the whole file whatever was asked
    kWrongRange,   // a range request answered 206 from offset `Bytes` instead
    kServe,        // answered as if `Other` had been asked: another file's head and bytes
    kRefuse,       // the connection is refused: EIdSocketError before any head
    kDeadline,     // EUpdateDeadlinePassed after `Bytes` body bytes
  };
  Kind What = Kind::kCut;
  std::int64_t Bytes = 0;
  std::string Other = {};
  int Times = -1;  // GETs it applies to, counted from the next one; -1: every one
  // For the kinds that stop a body: `Bytes` counts from the file's first byte, not the body's,
  // so a range request from there on gets no byte at all (a link that always drops there).
  bool AtFileOffset = false;

  static RepoFault Cut(std::int64_t after, int times = -1) {
    return {Kind::kCut, after, {}, times};
  }
  static RepoFault CutAt(std::int64_t offset) { return {Kind::kCut, offset, {}, -1, true}; }
  static RepoFault Serve(std::string other, int times = -1) {
    return {Kind::kServe, 0, std::move(other), times};
  }
  static RepoFault Of(Kind what, std::int64_t bytes = 0, int times = -1) {
    return {what, bytes, {}, times};
  }
};

// One request as the server saw it (a followed redirect is a second request).
struct RepoRequest {
  std::string Method = {};  // "HEAD" or "GET"
  std::string Url = {};
  std::string Range = {};    // the value after "bytes="; "" when none was sent
  std::string IfRange = {};  // "" when none was sent
  TFetchPurpose Purpose = TFetchPurpose::fpInstaller;
  std::int64_t Delivered = 0;  // body bytes whose Write returned
};

class MemoryRepository {
 public:
  void Put(const std::string& url, RepoFile file) { files_[url] = std::move(file); }
  void Remove(const std::string& url) { files_.erase(url); }
  [[nodiscard]] RepoFile& File(const std::string& url) { return files_.at(url); }
  // Faults of one URL apply in the order added: a GET takes the first that still has times.
  void AddFault(const std::string& url, RepoFault fault) {
    faults_[url].push_back(std::move(fault));
  }
  void ClearFaults() { faults_.clear(); }
  // The most body bytes handed to TFetchBody::Write at once (a socket read's worth).
  void SetChunkBytes(std::int64_t bytes) { chunkBytes_ = bytes; }

  // A fetcher of `purpose` on this repository; it must not outlive the repository.
  [[nodiscard]] std::unique_ptr<TUpdateFetcher> Fetcher(
      TFetchPurpose purpose = TFetchPurpose::fpInstaller);
  // Makes such fetchers, noting each purpose and deadline it was asked for.
  [[nodiscard]] TFetcherFactory Factory();

  [[nodiscard]] const std::vector<RepoRequest>& Log() const noexcept { return log_; }
  // The GETs (or HEADs) of one URL, in order.
  [[nodiscard]] std::vector<RepoRequest> Requests(const std::string& url,
                                                  const std::string& method = "GET") const;
  void ClearLog() { log_.clear(); }
  struct MadeFetcher {
    TFetchPurpose Purpose = TFetchPurpose::fpInstaller;
    std::uint64_t DeadlineMs = 0;
  };
  [[nodiscard]] const std::vector<MadeFetcher>& Made() const noexcept { return made_; }

 private:
  class Fetch;
  friend class Fetch;
  TFetchHead Serve(const std::string& method, const TFetchRequest& request, TFetchBody* body,
                   TFetchPurpose purpose, const TRedirectRule& rule);
  bool TakeFault(const std::string& url, RepoFault& fault);

  std::map<std::string, RepoFile> files_;
  std::map<std::string, std::vector<RepoFault>> faults_;
  std::vector<RepoRequest> log_;
  std::vector<MadeFetcher> made_;
  std::int64_t chunkBytes_ = 4096;
};

}  // namespace brixa::test
