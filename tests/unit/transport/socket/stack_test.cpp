// The stack's error messages, literal resolution, socket addresses, byte order, checksums and the
// life of the process-wide instance.

#include "transport/socket/stack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/stack_usage.h"
#include "transport/socket/stack_bsd.h"
#include "transport/socket/stack_exceptions.h"

namespace brixa {
namespace {

// Holds a use of the process-wide stack for one test.
struct StackUse {
  StackUse() { AcquireStack(); }
  ~StackUse() { ReleaseStack(); }
  StackUse(const StackUse&) = delete;
  StackUse& operator=(const StackUse&) = delete;
};

// A stack whose system calls are scripted: it records what reaches them. Family numbers are
// Winsock's, so socket addresses can be checked byte by byte.
class ScriptedStack final : public TIdStackBSDBase {
 public:
  std::vector<std::string> lookups;
  std::vector<int> sendLengths;
  std::vector<std::string> sentData;
  TIdSockAddr lastBound;
  int nextError = 0;

  std::string NameToAddress(const std::string& AHost, TIdIPVersion) override {
    lookups.push_back(AHost);
    return "10.9.8.7";
  }
  std::string AddressToName(const std::string&, TIdIPVersion) override { return {}; }
  std::string LocalHostName() override { return "scripted"; }
  void AddLocalAddressesToList(std::vector<std::string>& AList) override {
    AList.push_back("10.0.0." + std::to_string(++addressQueries));
  }
  bool SupportsIPv6() override { return true; }
  std::uint16_t ServiceToPort(const std::string&) override { return 0; }
  std::vector<std::string> PortToServices(std::uint16_t) override { return {}; }
  int IOControl(TIdStackSocketHandle, std::uint32_t, std::uint32_t&) override { return 0; }
  TIdStackSocketHandle RawSocket(int, int, int, bool) override { return 3; }
  int RawClose(TIdStackSocketHandle) override { return 0; }
  int RawShutdown(TIdStackSocketHandle, int) override { return 0; }
  int RawReceive(TIdStackSocketHandle, void*, int, int) override { return Failed(); }
  int RawSend(TIdStackSocketHandle, const void* AData, int ALength, int) override {
    sendLengths.push_back(ALength);
    sentData.emplace_back(static_cast<const char*>(AData), static_cast<std::size_t>(ALength));
    return ALength;
  }
  int RawReceiveFrom(TIdStackSocketHandle, void*, int, int, TIdSockAddr&) override { return 0; }
  int RawSendTo(TIdStackSocketHandle, const void*, int ALength, int, const TIdSockAddr&) override {
    return nextError != 0 ? Failed() : ALength - 1;
  }
  int RawGetOption(TIdStackSocketHandle, int, int, void*, int&) override { return 0; }
  int ReceiveMsg(TIdStackSocketHandle, TIdByteArray&, TIdByteArray&, TIdEndpoint&) override {
    return Failed();
  }
  int RawSelect(TIdSocketSet*, TIdSocketSet*, TIdSocketSet*, int) override { return 0; }
  int LastSocketError() override { return lastError; }
  void SetLastSocketError(int AError) override { lastError = AError; }

 protected:
  int NativeFamily(TIdIPVersion AIPVersion) const override {
    return AIPVersion == Id_IPv6 ? 23 : 2;
  }
  int RawBind(TIdStackSocketHandle, const TIdSockAddr& AAddress) override {
    lastBound = AAddress;
    return 0;
  }
  int RawConnect(TIdStackSocketHandle, const TIdSockAddr&) override { return Failed(); }
  int RawListen(TIdStackSocketHandle, int) override { return 0; }
  TIdStackSocketHandle RawAccept(TIdStackSocketHandle, TIdSockAddr&) override { return 4; }
  int RawLocalName(TIdStackSocketHandle, TIdSockAddr& VAddress) override {
    VAddress = lastBound;
    return 0;
  }
  int RawPeerName(TIdStackSocketHandle, TIdSockAddr&) override { return Failed(); }
  int RawSetOption(TIdStackSocketHandle, int, int, const void*, int) override { return 0; }

 private:
  int Failed() {
    lastError = nextError;
    return Id_SOCKET_ERROR;
  }
  int lastError = 0;
  int addressQueries = 0;
};

std::string Hex(const TIdSockAddr& address) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < address.Length; ++i) {
    text += kDigits[address.Bytes[i] >> 4];
    text += kDigits[address.Bytes[i] & 0xF];
  }
  return text;
}

TEST(SocketErrorTest, MessagesCarryTheNumberAndTheTableText) {
  ScriptedStack stack;
  EXPECT_EQ(stack.TranslateSocketError(10061), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(stack.TranslateSocketError(10004), "Socket Error # 10004\r\nInterrupted system call.");
  EXPECT_EQ(stack.TranslateSocketError(10066), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_EQ(stack.TranslateSocketError(11001), "Socket Error # 11001\r\nHost not found.");
  // Numbers without an entry end in CR LF with no text.
  EXPECT_EQ(stack.TranslateSocketError(12345), "Socket Error # 12345\r\n");
  EXPECT_EQ(stack.TranslateSocketError(0), "Socket Error # 0\r\n");
}

TEST(SocketErrorTest, NotASocketHasItsOwnClassAndEveryErrorKeepsItsNumber) {
  ScriptedStack stack;
  try {
    stack.ThrowSocketError(10038);
    FAIL();
  } catch (const EIdNotASocket& e) {
    EXPECT_EQ(e.LastError(), 10038);
    EXPECT_EQ(e.Message(), "Socket Error # 10038\r\nSocket operation on non-socket.");
  }
  try {
    stack.ThrowSocketError(10054);
    FAIL();
  } catch (const EIdNotASocket&) {
    FAIL() << "10054 is not 'not a socket'";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
}

TEST(SocketErrorTest, LibraryFailuresShowTheSystemTextAfterTheTitleUnlessNumberedZero) {
  const EIdWinsockStubError bare(0, "unused", "Error on call to Winsock2 library function select");
  EXPECT_EQ(bare.Message(), "Error on call to Winsock2 library function select");
  const EIdWinsockStubError numbered(10093, "Not started.",
                                     "Error on loading Winsock2 library (X)");
  EXPECT_EQ(numbered.Message(), "Error on loading Winsock2 library (X): Not started.");
  EXPECT_EQ(numbered.Win32Error(), 10093);
  EXPECT_EQ(numbered.Title(), "Error on loading Winsock2 library (X)");
}

TEST(SocketErrorTest, CheckSocketResultRaisesOnlyOnMinusOneAndToleratesListedErrors) {
  ScriptedStack stack;
  EXPECT_EQ(stack.CheckSocketResult(0), 0);
  EXPECT_EQ(stack.CheckSocketResult(17), 17);
  stack.SetLastSocketError(10035);
  EXPECT_EQ(stack.CheckSocketResult(-1, {10035}), 10035);
  EXPECT_TRUE(stack.WouldBlock(-1));
  EXPECT_FALSE(stack.WouldBlock(5));
  stack.SetLastSocketError(10054);
  EXPECT_THROW((void)stack.CheckSocketResult(-1, {10035}), EIdSocketError);
  EXPECT_THROW((void)stack.WouldBlock(-1), EIdSocketError);
  // The error raised is the one set at the time, not one remembered from before.
  try {
    (void)stack.CheckSocketResult(-1);
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
}

TEST(ResolveHostAddressTest, LocalhostAndIPv4LiteralsNeedNoLookup) {
  ScriptedStack stack;
  EXPECT_EQ(stack.ResolveHostAddress("localhost", Id_IPv4), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostAddress("LocalHost", Id_IPv4), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostAddress("LOCALHOST", Id_IPv4), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostAddress("192.168.0.1", Id_IPv4), "192.168.0.1");
  EXPECT_EQ(stack.ResolveHostAddress("::1", Id_IPv6), "0:0:0:0:0:0:0:1");
  EXPECT_TRUE(stack.lookups.empty());

  EXPECT_EQ(stack.ResolveHostAddress("192.168.0.256", Id_IPv4), "10.9.8.7");
  EXPECT_EQ(stack.ResolveHostAddress("update.example", Id_IPv4), "10.9.8.7");
  EXPECT_EQ(stack.ResolveHostAddress("localhost", Id_IPv6), "10.9.8.7");
  EXPECT_EQ(stack.lookups,
            (std::vector<std::string>{"192.168.0.256", "update.example", "localhost"}));
  EXPECT_THROW((void)stack.ResolveHostAddress("x", static_cast<TIdIPVersion>(7)),
               EIdIPVersionUnsupported);
}

TEST(ResolveHostAddressTest, IPv4LiteralIsExactlyFourDecimalPieces) {
  for (const char* literal : {"1.2.3.4", "0.0.0.0", "255.255.255.255", "010.1.1.1"}) {
    EXPECT_TRUE(TIdStack::IsIPv4Literal(literal)) << literal;
  }
  for (const char* other : {"1.2.3", "1.2.3.4.5", "1.2.3.256", "a.b.c.d", "", "1.2.3.", "1..2.3",
                            "1.2.3.-4", "0x1.2.3.4", "1.2.3.4 ", "1000.2.3.4"}) {
    EXPECT_FALSE(TIdStack::IsIPv4Literal(other)) << other;
  }
}

TEST(SockAddrTest, LayoutIsFamilyPortInNetworkOrderThenAddress) {
  ScriptedStack stack;
  const TIdSockAddr v4 = stack.MakeSockAddr("10.0.0.1", Id_IPv4, 8080);
  EXPECT_EQ(Hex(v4), "02001F900A0000010000000000000000");
  const TIdSockAddr any = stack.MakeSockAddr("", Id_IPv4, 80);
  EXPECT_EQ(Hex(any),
            "0200005000000000"
            "0000000000000000");
  const TIdSockAddr v6 = stack.MakeSockAddr("2001:db8::1", Id_IPv6, 443);
  EXPECT_EQ(v6.Length, 28);
  EXPECT_EQ(Hex(v6),
            "170001BB00000000"
            "20010DB8000000000000000000000001"
            "00000000");

  const TIdEndpoint back4 = stack.ParseSockAddr(v4);
  EXPECT_EQ(back4.IP, "10.0.0.1");
  EXPECT_EQ(back4.Port, 8080);
  EXPECT_EQ(back4.IPVersion, Id_IPv4);
  const TIdEndpoint back6 = stack.ParseSockAddr(stack.MakeSockAddr("fe80::abc:0:12", Id_IPv6, 1));
  EXPECT_EQ(back6.IP, "FE80:0:0:0:0:ABC:0:12");
  EXPECT_EQ(back6.IPVersion, Id_IPv6);

  EXPECT_THROW((void)stack.MakeSockAddr("1.2.3.256", Id_IPv4, 1), EConvertError);
  EXPECT_THROW((void)stack.MakeSockAddr("1.2.3", Id_IPv4, 1), EConvertError);
  EXPECT_THROW((void)stack.MakeSockAddr("1:2", Id_IPv6, 1), EIdInvalidIPv6Address);
  TIdSockAddr unknown;
  unknown.Bytes[0] = 99;
  EXPECT_THROW((void)stack.ParseSockAddr(unknown), EIdIPVersionUnsupported);
}

TEST(SendBytesTest, SendsWhatIsAvailableFromTheOffsetAtMostSizeBytes) {
  ScriptedStack stack;
  const TIdByteArray data{'a', 'b', 'c', 'd', 'e'};
  EXPECT_EQ(stack.SendBytes(3, data), 5);
  EXPECT_EQ(stack.SendBytes(3, data, 2, 1), 2);
  EXPECT_EQ(stack.SendBytes(3, data, 99, 3), 2);
  EXPECT_EQ(stack.SendBytes(3, data, -1, 4), 1);
  EXPECT_EQ(stack.sentData, (std::vector<std::string>{"abcde", "bc", "de", "e"}));
  // Nothing to send: no call at all.
  EXPECT_EQ(stack.SendBytes(3, data, 0, 0), 0);
  EXPECT_EQ(stack.SendBytes(3, data, -1, 5), 0);
  EXPECT_EQ(stack.SendBytes(3, data, -1, 9), 0);
  EXPECT_EQ(stack.SendBytes(3, TIdByteArray{}), 0);
  EXPECT_EQ(stack.sendLengths.size(), 4u);
  EXPECT_THROW((void)stack.SendBytes(3, data, -1, -1), EAssertionFailed);
}

TEST(SendBytesTest, ReceiveAndDatagramFailuresRaiseTheirOwnClasses) {
  ScriptedStack stack;
  TIdByteArray empty;
  EXPECT_THROW((void)stack.ReceiveBytes(3, empty), EAssertionFailed);
  TIdByteArray buffer(8);
  stack.nextError = 10054;
  EXPECT_THROW((void)stack.ReceiveBytes(3, buffer), EIdSocketError);

  stack.nextError = 10040;
  try {
    (void)stack.SendTo(3, buffer, 0, -1, "10.0.0.1", 9, Id_IPv4);
    FAIL();
  } catch (const EIdPackageSizeTooBig& e) {
    EXPECT_EQ(e.Message(), "Package Size Too Big.");
  }
  stack.nextError = 0;  // the scripted send then accepts one byte less than asked
  try {
    (void)stack.SendTo(3, buffer, 0, -1, "10.0.0.1", 9, Id_IPv4);
    FAIL();
  } catch (const EIdNotAllBytesSent& e) {
    EXPECT_EQ(e.Message(), "Not all bytes sent.");
  }
}

TEST(ByteOrderTest, NetworkOrderIsBigEndianAndChecksumsFollowRfc1071) {
  const std::uint32_t value = 0x01020304;
  const std::uint32_t wire = TIdStack::HostToNetwork(value);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&wire);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[3], 4);
  EXPECT_EQ(TIdStack::NetworkToHost(wire), value);
  EXPECT_EQ(TIdStack::NetworkToHost(TIdStack::HostToNetwork(std::uint64_t{0x0102030405060708})),
            0x0102030405060708u);
  TIdIPv6Address words{1, 2, 3, 4, 5, 6, 7, 0xABCD};
  TIdStack::HostToNetwork(words);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&words[7])[0], 0xAB);
  TIdStack::NetworkToHost(words);
  EXPECT_EQ(words[7], 0xABCD);

  // The IPv4 header example of RFC 1071's companions: checksum B861.
  TIdByteArray header{0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                      0xAA, 0xBB, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7};
  TIdStack::WriteChecksum(header, 10);
  EXPECT_EQ(header[10], 0xB8);
  EXPECT_EQ(header[11], 0x61);
  EXPECT_EQ(TIdStack::CalcCheckSum(header), 0);       // a correct header sums to zero
  EXPECT_EQ(TIdStack::CalcCheckSum({0x01}), 0xFEFF);  // odd length: padded with zero
}

TEST(StackTest, LocalAddressesAreGatheredOnceAndKept) {
  ScriptedStack stack;
  EXPECT_EQ(stack.LocalAddresses(), std::vector<std::string>{"10.0.0.1"});
  EXPECT_EQ(stack.LocalAddresses(), std::vector<std::string>{"10.0.0.1"});
}

// ---- The process-wide instance ---------------------------------------------------------------

int gCreated = 0;
int gFailuresLeft = 0;

std::unique_ptr<TIdStack> CountingFactory() {
  if (gFailuresLeft > 0) {
    --gFailuresLeft;
    throw EIdStackInitializationFailed("scripted start-up failure");
  }
  ++gCreated;
  return std::make_unique<ScriptedStack>();
}

// Restores the platform stack class however the test ends.
struct StackClassRestorer {
  TIdStackFactory saved = StackClass();
  ~StackClassRestorer() { SetStackClass(saved); }
};

TEST(StackInstanceTest, FirstUseCreatesAndLastReleaseDestroysTheInstance) {
  if (StackUsageCount() != 0) GTEST_SKIP() << "another object holds the stack";
  StackClassRestorer restore;
  SetStackClass(&CountingFactory);
  gCreated = 0;
  {
    StackUse first;
    StackUse second;
    EXPECT_EQ(gCreated, 1);
    EXPECT_EQ(GStack().LocalHostName(), "scripted");
    try {
      CreateStackInstance();
      FAIL();
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Stack already created.");
    }
  }
  EXPECT_EQ(StackUsageCount(), 0);
  EXPECT_THROW((void)GStack(), EAssertionFailed);
  StackUse again;
  EXPECT_EQ(gCreated, 2);
}

TEST(StackInstanceTest, WithoutAStackClassTheFirstUseRaises) {
  if (StackUsageCount() != 0) GTEST_SKIP() << "another object holds the stack";
  StackClassRestorer restore;
  SetStackClass(nullptr);
  try {
    AcquireStack();
    FAIL();
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Stack Class is undefined.");
  }
  // The failed use stays counted; giving it back leaves no instance behind.
  EXPECT_EQ(StackUsageCount(), 1);
  ReleaseStack();
  EXPECT_EQ(StackUsageCount(), 0);
}

TEST(StackInstanceTest, AFailedCreationIsRetriedByTheNextCaller) {
  if (StackUsageCount() != 0) GTEST_SKIP() << "another object holds the stack";
  StackClassRestorer restore;
  SetStackClass(&CountingFactory);
  gCreated = 0;
  gFailuresLeft = 2;
  EXPECT_THROW(AcquireStack(), EIdStackInitializationFailed);
  StackUse holder;  // counted, but finds no instance
  EXPECT_EQ(gCreated, 0);
  EXPECT_THROW((void)GStack(), EIdStackInitializationFailed);
  EXPECT_EQ(GStack().LocalHostName(), "scripted");
  EXPECT_EQ(gCreated, 1);
  ReleaseStack();  // the use the failed AcquireStack left counted
}

}  // namespace
}  // namespace brixa
