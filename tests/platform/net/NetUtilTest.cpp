#include "platform/net/NetUtil.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdexcept>

namespace sw {
namespace {

sockaddr_storage Six(const char* text, uint16_t port) {
    sockaddr_storage address{};
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    EXPECT_EQ(::inet_pton(AF_INET6, text, &in6->sin6_addr), 1);
    return address;
}

TEST(NetUtilTest, PeerAddressesOfBothFamilies) {
    uint16_t port = 0;
    EXPECT_EQ(PeerAddressText(Six("::ffff:192.0.2.7", 4000), &port), "192.0.2.7")
        << "an IPv4 viewer on a dual-stack socket is the same registry entry as over IPv4";
    EXPECT_EQ(port, 4000);
    EXPECT_EQ(PeerAddressText(Six("2001:db8::1", 1)), "2001:db8::1");
    sockaddr_storage four{};
    auto* in = reinterpret_cast<sockaddr_in*>(&four);
    in->sin_family = AF_INET;
    in->sin_port = htons(80);
    in->sin_addr.s_addr = htonl(0x7F000001);
    EXPECT_EQ(PeerAddressText(four, &port), "127.0.0.1");
    EXPECT_EQ(port, 80);
}

TEST(NetUtilTest, ListeningAddresses) {
    TListenAddress any = ResolveListenAddress("", 2001);
    EXPECT_EQ(any.Address.ss_family, AF_INET) << "every IPv4 interface, as designed";
    EXPECT_EQ(reinterpret_cast<sockaddr_in*>(&any.Address)->sin_addr.s_addr, htonl(INADDR_ANY));
    TListenAddress six = ResolveListenAddress("::", 2001);
    EXPECT_EQ(six.Address.ss_family, AF_INET6);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in6*>(&six.Address)->sin6_port), 2001);
    EXPECT_THROW(ResolveListenAddress("127.0.0.1", 70000), std::runtime_error);
    EXPECT_THROW(OpenListeningSocket(0, "192.0.2.1", true), std::runtime_error)
        << "not this machine's address";
}

TEST(NetUtilTest, ListeningSocketReportsItsPort) {
    TUniqueFd fd = OpenListeningSocket(0, "127.0.0.1", true);
    EXPECT_GT(SocketLocalPort(fd.Get()), 0);
    EXPECT_TRUE(PortInUse(SocketLocalPort(fd.Get())));
    EXPECT_TRUE(PortInUse(SocketLocalPort(fd.Get()), "127.0.0.1"));
    EXPECT_FALSE(PortInUse(SocketLocalPort(fd.Get()), "192.0.2.1")) << "a foreign address is no busy port";
}

} // namespace
} // namespace sw
