// What every stack shares: the Winsock error table and messages, name resolution helpers, byte
// order, checksums, and the process-wide instance.

#include "transport/socket/stack.h"

#include <atomic>
#include <mutex>

#include "platform/core/exception.h"
#include "runtime/stack_usage.h"
#include "transport/socket/stack_bsd.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {

namespace {

constexpr int kIPv4Pieces = 4;
constexpr int kMaxIPv4Piece = 255;
constexpr std::uint32_t kChecksumCarryMask = 0xFFFF;

// Winsock error numbers and their texts. 11001 belongs to the resolver; both stacks report a
// failed lookup with it, so it is part of the one table.
struct ErrorText {
  int number;
  const char* text;
};
constexpr ErrorText kSocketErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {Id_WSAHOST_NOT_FOUND, "Host not found."},
};

[[nodiscard]] const char* SocketErrorText(int number) {
  for (const ErrorText& entry : kSocketErrorTexts) {
    if (entry.number == number) return entry.text;
  }
  return "";
}

// A piece of a dotted IPv4 literal as a number; -1 for anything that is not decimal digits.
[[nodiscard]] int DecimalPiece(std::string_view piece) {
  if (piece.empty() || piece.size() > 3) return -1;
  int value = 0;
  for (const char c : piece) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

[[nodiscard]] bool SameTextNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

TIdStack::~TIdStack() = default;

std::string TIdStack::ResolveHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) {
  CheckIPVersion(AIPVersion);
  if (AIPVersion == Id_IPv4) {
    if (SameTextNoCaseAscii(AHost, "LOCALHOST")) return "127.0.0.1";
    if (IsIPv4Literal(AHost)) return AHost;
    return NameToAddress(AHost, Id_IPv4);
  }
  std::string canonical = CanonicalIPv6(AHost);
  if (!canonical.empty()) return canonical;
  return NameToAddress(AHost, Id_IPv6);
}

bool TIdStack::IsIPv4Literal(const std::string& AText) {
  std::string_view rest = AText;
  for (int i = 0; i < kIPv4Pieces; ++i) {
    const std::size_t dot = rest.find('.');
    const std::string_view piece = rest.substr(0, dot);
    rest = dot == std::string_view::npos ? std::string_view{} : rest.substr(dot + 1);
    const int value = DecimalPiece(piece);
    if (value < 0 || value > kMaxIPv4Piece) return false;
  }
  return rest.empty();
}

const std::vector<std::string>& TIdStack::LocalAddresses() {
  if (!localAddresses_) {
    auto list = std::make_unique<std::vector<std::string>>();
    AddLocalAddressesToList(*list);
    localAddresses_ = std::move(list);
  }
  return *localAddresses_;
}

bool TIdStack::WouldBlock(int AResult) {
  return CheckSocketResult(AResult, {Id_WSAEWOULDBLOCK}) == Id_WSAEWOULDBLOCK;
}

std::string TIdStack::TranslateSocketError(int AErrorCode) {
  return "Socket Error # " + std::to_string(AErrorCode) + "\r\n" + SocketErrorText(AErrorCode);
}

void TIdStack::ThrowSocketError(int AErrorCode) {
  std::string message = TranslateSocketError(AErrorCode);
  if (AErrorCode == Id_WSAENOTSOCK) throw EIdNotASocket(std::move(message), AErrorCode);
  throw EIdSocketError(std::move(message), AErrorCode);
}

int TIdStack::CheckSocketResult(int AResult) {
  if (AResult == Id_SOCKET_ERROR) ThrowSocketError(LastSocketError());
  return AResult;
}

int TIdStack::CheckSocketResult(int AResult, std::initializer_list<int> ATolerated) {
  if (AResult != Id_SOCKET_ERROR) return AResult;
  const int error = LastSocketError();
  for (const int tolerated : ATolerated) {
    if (tolerated == error) return error;
  }
  ThrowSocketError(error);
  return error;  // not reached: the call is virtual, so the compiler cannot see it never returns
}

void TIdStack::CheckIPVersion(TIdIPVersion AIPVersion) {
  if (AIPVersion != Id_IPv4 && AIPVersion != Id_IPv6) {
    throw EIdIPVersionUnsupported(RSIPVersionUnsupported);
  }
}

// Network order is big-endian; these are written without the platform's htons family so the
// same code serves every stack (the compiler turns them into byte swaps).
std::uint16_t TIdStack::HostToNetwork(std::uint16_t AValue) {
  std::uint16_t out = 0;
  auto* bytes = reinterpret_cast<std::uint8_t*>(&out);
  bytes[0] = static_cast<std::uint8_t>(AValue >> 8);
  bytes[1] = static_cast<std::uint8_t>(AValue);
  return out;
}

std::uint32_t TIdStack::HostToNetwork(std::uint32_t AValue) {
  std::uint32_t out = 0;
  auto* bytes = reinterpret_cast<std::uint8_t*>(&out);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(AValue >> (24 - 8 * i));
  return out;
}

std::uint64_t TIdStack::HostToNetwork(std::uint64_t AValue) {
  std::uint64_t out = 0;
  auto* bytes = reinterpret_cast<std::uint8_t*>(&out);
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(AValue >> (56 - 8 * i));
  return out;
}

void TIdStack::HostToNetwork(TIdIPv6Address& VAddress) {
  for (std::uint16_t& word : VAddress) word = HostToNetwork(word);
}

// Swapping to big-endian is its own inverse.
std::uint16_t TIdStack::NetworkToHost(std::uint16_t AValue) {
  return HostToNetwork(AValue);
}
std::uint32_t TIdStack::NetworkToHost(std::uint32_t AValue) {
  return HostToNetwork(AValue);
}
std::uint64_t TIdStack::NetworkToHost(std::uint64_t AValue) {
  return HostToNetwork(AValue);
}
void TIdStack::NetworkToHost(TIdIPv6Address& VAddress) {
  HostToNetwork(VAddress);
}

std::uint16_t TIdStack::CalcCheckSum(const TIdByteArray& AData) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < AData.size(); i += 2) {
    sum += static_cast<std::uint32_t>(AData[i] << 8 | AData[i + 1]);
    sum = (sum & kChecksumCarryMask) + (sum >> 16);
  }
  if (i < AData.size()) {
    sum += static_cast<std::uint32_t>(AData[i] << 8);  // an odd last byte is padded with zero
    sum = (sum & kChecksumCarryMask) + (sum >> 16);
  }
  sum = (sum & kChecksumCarryMask) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

void TIdStack::WriteChecksum(TIdByteArray& VBuffer, int AOffset) {
  Require(AOffset >= 0 && static_cast<std::size_t>(AOffset) + 2 <= VBuffer.size(),
          "checksum offset inside the buffer");
  VBuffer[AOffset] = 0;
  VBuffer[AOffset + 1] = 0;
  const std::uint16_t sum = CalcCheckSum(VBuffer);
  VBuffer[AOffset] = static_cast<std::uint8_t>(sum >> 8);
  VBuffer[AOffset + 1] = static_cast<std::uint8_t>(sum);
}

// ---- The process-wide instance -------------------------------------------------------------

namespace {

constinit std::atomic<TIdStackFactory> gStackClass{&NewPlatformStack};
constinit std::atomic<TIdStack*> gStack{nullptr};

// Guards creating and destroying the instance. The usage count's lock is always taken before
// this one (the hooks run under it), never after.
std::mutex& InstanceLock() {
  static std::mutex lock;
  return lock;
}

void CreateLocked() {
  if (gStack.load() != nullptr) throw EIdException(RSStackAlreadyCreated);
  const TIdStackFactory factory = gStackClass.load();
  if (factory == nullptr) throw EIdException(RSStackClassUndefined);
  gStack.store(factory().release());
}

// Runs when this unit is linked in, i.e. in every program that uses sockets.
const bool gHooksInstalled = [] {
  InstallStackHooks({&CreateStackInstance, &DestroyStackInstance});
  return true;
}();

}  // namespace

void SetStackClass(TIdStackFactory AFactory) {
  gStackClass.store(AFactory);
}

TIdStackFactory StackClass() {
  return gStackClass.load();
}

void CreateStackInstance() {
  std::lock_guard guard(InstanceLock());
  CreateLocked();
}

void DestroyStackInstance() {
  std::lock_guard guard(InstanceLock());
  delete gStack.exchange(nullptr);
}

TIdStack& GStack() {
  if (TIdStack* stack = gStack.load(); stack != nullptr) return *stack;
  // No instance: either nothing holds a use (a programming error), or creating it failed when
  // the first use was taken. Then every call tries again, so a passing failure heals and a
  // lasting one keeps raising its own message.
  Require(StackUsageCount() > 0, "the socket stack is used only while a use of it is taken");
  std::lock_guard guard(InstanceLock());
  if (gStack.load() == nullptr) CreateLocked();
  (void)gHooksInstalled;
  return *gStack.load();
}

}  // namespace brixa
