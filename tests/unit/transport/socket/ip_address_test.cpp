// Address texts of either version parsed and written in network order.

#include "transport/socket/ip_address.h"

#include <gtest/gtest.h>

namespace brixa {
namespace {

TEST(IPAddressTest, ParsesEitherVersionAndRendersNetworkOrderBytes) {
  const auto v6 = TIdIPAddress::MakeAddressObject("2001:db8::ff00:42");
  ASSERT_NE(v6, nullptr);
  EXPECT_EQ(v6->AddrType(), Id_IPv6);
  EXPECT_EQ(v6->AsString(), "2001:DB8:0:0:0:0:FF00:42");
  const TIdByteArray v6Bytes = v6->HToNBytes();
  ASSERT_EQ(v6Bytes.size(), 16u);
  EXPECT_EQ(v6Bytes[0], 0x20);
  EXPECT_EQ(v6Bytes[1], 0x01);
  EXPECT_EQ(v6Bytes[12], 0xFF);
  EXPECT_EQ(v6Bytes[15], 0x42);

  const auto v4 = TIdIPAddress::MakeAddressObject("192.168.10.1");
  ASSERT_NE(v4, nullptr);
  EXPECT_EQ(v4->AddrType(), Id_IPv4);
  EXPECT_EQ(v4->IPv4(), 0xC0A80A01u);
  EXPECT_EQ(v4->HToNBytes(), (TIdByteArray{192, 168, 10, 1}));
  EXPECT_EQ(v4->AsString(), "192.168.10.1");
  // The short IPv4 forms are addresses too.
  EXPECT_EQ(TIdIPAddress::MakeAddressObject("127.1")->AsString(), "127.0.0.1");

  for (const char* neither : {"", "host.example", "1:2:3", "1.2.3.4.5"}) {
    EXPECT_EQ(TIdIPAddress::MakeAddressObject(neither), nullptr) << neither;
  }
}

}  // namespace
}  // namespace brixa
