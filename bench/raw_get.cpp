// raw-get: the floor a client's speed is held against. It sends hand-written requests over one
// plain TCP connection and copies every byte received (heads included) to standard output,
// with no HTTP processing beyond finding where each response ends.
//
//   raw-get [-m METHOD] [-n COUNT] [--close] [-o FILE] [-b READ_SIZE] HOST PORT PATH
//
// COUNT requests go one after the other over the same connection; each response must carry a
// Content-Length (or be the answer to HEAD). With --close the last request asks the server to
// close and its response is read until the connection ends: that is how a chunked body is read
// without decoding it. With -o the bytes go to FILE (created or truncated) instead of standard
// output, so opening it is part of what is timed, as for a client's -o. Reads ask for 256 KiB,
// the size a fast reader would pick, unless -b gives another size (to see what the read size
// costs). Exit status 0 when every response arrived complete, 1 otherwise.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kDefaultReadSize = 256 * 1024;

struct Options {
  std::string method = "GET";
  long count = 1;
  bool close = false;
  std::string output;
  std::size_t readSize = kDefaultReadSize;
  std::string host;
  int port = 0;
  std::string path;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Content-Length of a head (the bytes up to and including its blank line); -1 when absent.
long long ContentLength(std::string_view head) {
  static constexpr std::string_view kName = "\r\ncontent-length:";
  for (std::size_t i = 0; i + kName.size() <= head.size(); ++i) {
    if (strncasecmp(head.data() + i, kName.data(), kName.size()) == 0) {
      return std::strtoll(head.data() + i + kName.size(), nullptr, 10);
    }
  }
  return -1;
}

class Reader {
 public:
  Reader(int fd, int out, std::size_t readSize) : fd_(fd), out_(out), buffer_(readSize) {}

  // Reads one response; false when the connection ended early or the framing is unknown.
  bool Response(bool head, bool untilClose) {
    std::string headText;
    std::size_t end;
    while ((end = headText.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill()) return false;
      headText.append(buffer_.data() + start_, filled_ - start_);
      Consume(filled_ - start_);
    }
    // Bytes after the head were taken into headText: count them against the body.
    const std::size_t extra = headText.size() - (end + 4);
    if (untilClose) {
      while (Fill()) Consume(filled_ - start_);
      return true;
    }
    const long long length = head ? 0 : ContentLength(std::string_view(headText).substr(0, end));
    if (length < 0) return false;
    long long left = length - static_cast<long long>(extra);
    while (left > 0) {
      if (!Fill()) return false;
      const std::size_t take = std::min<std::size_t>(filled_ - start_, left);
      Consume(take);
      left -= static_cast<long long>(take);
    }
    return left == 0;
  }

 private:
  bool Fill() {
    if (start_ < filled_) return true;
    const ssize_t n = recv(fd_, buffer_.data(), buffer_.size(), 0);
    if (n <= 0) return false;
    start_ = 0;
    filled_ = static_cast<std::size_t>(n);
    return WriteAll(out_, buffer_.data(), filled_);
  }
  void Consume(std::size_t n) { start_ += n; }

  int fd_;
  int out_;
  std::vector<char> buffer_;
  std::size_t start_ = 0;
  std::size_t filled_ = 0;
};

bool Parse(int argc, char** argv, Options& o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-m" && i + 1 < argc) {
      o.method = argv[++i];
    } else if (arg == "-n" && i + 1 < argc) {
      o.count = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "-o" && i + 1 < argc) {
      o.output = argv[++i];
    } else if (arg == "-b" && i + 1 < argc) {
      o.readSize = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--close") {
      o.close = true;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 3 || o.count < 1 || o.readSize == 0) return false;
  o.host = positional[0];
  o.port = std::atoi(positional[1].c_str());
  o.path = positional[2];
  return o.port > 0;
}

int Connect(const Options& o) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(o.port));
  if (fd < 0 || inet_pton(AF_INET, o.host.c_str(), &address.sin_addr) != 1 ||
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: raw-get [-m METHOD] [-n COUNT] [--close] [-o FILE] [-b READ_SIZE] HOST "
                 "PORT PATH\n");
    return 2;
  }
  const int fd = Connect(o);
  if (fd < 0) {
    std::perror("raw-get: connect");
    return 1;
  }
  const int out =
      o.output.empty() ? STDOUT_FILENO : open(o.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    std::perror("raw-get: output");
    return 1;
  }
  Reader reader(fd, out, o.readSize);
  const bool head = o.method == "HEAD";
  for (long i = 0; i < o.count; ++i) {
    const bool last = i + 1 == o.count;
    std::string request = o.method + " " + o.path + " HTTP/1.1\r\nHost: " + o.host + ":" +
                          std::to_string(o.port) + "\r\n";
    if (last && o.close) request += "Connection: close\r\n";
    request += "\r\n";
    if (!SendAll(fd, request) || !reader.Response(head, last && o.close)) {
      std::fprintf(stderr, "raw-get: response %ld incomplete\n", i + 1);
      return 1;
    }
  }
  close(fd);
  return close(out) == 0 ? 0 : 1;
}
