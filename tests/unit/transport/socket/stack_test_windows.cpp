// The Winsock stack's loading, its resolver fall-back and its optional and extension functions.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "transport/socket/stack.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/socket/stack_windows.h"
#include "unit/transport/socket_test_pair.h"

namespace brixa {
namespace {

using testing::StackUse;

TEST(WinsockStackTest, ALibraryThatCannotBeLoadedFailsStackInitialisation) {
  try {
    (void)detail::LoadAndStartSocketLibrary("NO-SUCH-WINSOCK.DLL");
    FAIL() << "a library that does not exist was loaded";
  } catch (const EIdStackInitializationFailed& e) {
    const std::string title = "Error on loading Winsock2 library (NO-SUCH-WINSOCK.DLL)";
    EXPECT_EQ(e.Message().substr(0, title.size()), title);
    // The system's text for the load error follows the title.
    EXPECT_GT(e.Message().size(), title.size() + 2);
    EXPECT_EQ(e.Message().substr(title.size(), 2), ": ");
  }
}

TEST(WinsockStackTest, TheRealLibraryLoadsAndALoadOfOneOwnIsUndoneCleanly) {
  StackUse use;
  TDynamicLibrary library = detail::LoadAndStartSocketLibrary("WS2_32.DLL");
  ASSERT_TRUE(library.Loaded());
  detail::StopAndUnloadSocketLibrary(std::move(library));
  // The process's own library is still started: sockets keep working.
  testing::LoopbackPair pair;
  testing::LoopbackPair::SendText(pair.client, "still");
  EXPECT_TRUE(pair.server.WaitReadable(2000));
}

// Switches the system resolver off for one test.
struct ResolverOff {
  ResolverOff() : was(detail::WinsockResolverAvailable()) {
    detail::SetWinsockResolverEnabled(false);
  }
  ~ResolverOff() { detail::SetWinsockResolverEnabled(was); }
  bool was;
};

TEST(WinsockStackTest, WithoutTheResolverIPv6IsUnavailableAndIPv4UsesTheOldLookup) {
  StackUse use;
  ASSERT_TRUE(detail::WinsockResolverAvailable()) << "the system resolver was not found";
  ResolverOff off;
  try {
    (void)GStack().NameToAddress("localhost", Id_IPv6);
    FAIL();
  } catch (const EIdIPv6Unavailable& e) {
    EXPECT_EQ(e.Message(), "IPv6 unavailable");
  }
  EXPECT_THROW((void)GStack().ResolveHostAddress("some.name", Id_IPv6), EIdIPv6Unavailable);
  EXPECT_EQ(GStack().NameToAddress("localhost", Id_IPv4), "127.0.0.1");
  try {
    (void)GStack().NameToAddress("no-such-host.invalid", Id_IPv4);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
}

}  // namespace
}  // namespace brixa

namespace brixa {
namespace {

TEST(WinsockStackTest, ExtensionFunctionsComeFromTheProviderOrMswsock) {
  StackUse use;
  testing::LoopbackPair pair;
  for (const char* name : {"TransmitFile", "AcceptEx", "GetAcceptExSockaddrs", "ConnectEx",
                           "DisconnectEx", "WSARecvMsg"}) {
    SCOPED_TRACE(name);
    void* first = detail::WinsockExtensionFunction(pair.client.SocketId(), name);
    EXPECT_NE(first, nullptr);
    // Kept after the first lookup.
    EXPECT_EQ(detail::WinsockExtensionFunction(pair.client.SocketId(), name), first);
  }
  try {
    (void)detail::WinsockExtensionFunction(pair.client.SocketId(), "NoSuchExtension");
    FAIL() << "an unknown extension was found";
  } catch (const EIdWinsockStubError& e) {
    EXPECT_EQ(e.Title(), "Error on call to Winsock2 library function NoSuchExtension");
  }
}

TEST(WinsockStackTest, OptionalResolverFunctionsAreProbedNotRequired) {
  StackUse use;
  ASSERT_TRUE(detail::WinsockResolverAvailable());
  // Present on every Windows this runs on; the socket-security ones may be missing (they are
  // only looked at, never needed).
  EXPECT_TRUE(detail::WinsockOptionalFunctionFound("InetPtonW"));
  EXPECT_TRUE(detail::WinsockOptionalFunctionFound("InetNtopW"));
  EXPECT_FALSE(detail::WinsockOptionalFunctionFound("NotAFunction"));
  EXPECT_EQ(GStack().ResolveHostAddress("localhost", Id_IPv4), "127.0.0.1");
}

}  // namespace
}  // namespace brixa
