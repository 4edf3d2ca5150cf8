#include "engine/SocketErrorText.h"

#include "platform/net/ServerSocket.h"
#include "platform/net/SocketError.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(SocketErrorTextTest, KnownCodesKeepTheirTextsExactly) {
    const std::pair<int, const char*> cases[] = {
        {10004, "Interrupted function call"},
        {10035, "Resource temporarily unavailable"},
        {10039, "Destionation address required"},
        {10054, "Connection reset by peer"},
        {10055, "No  buffer space is available"},
        {10059, "WSAETOOMANYREFS"},
        {10071, "WSAEREMOTE"},
        {10091, "Network subsystem is unavailable"},
        {10101, "Graceful shutdown in progress"},
        {11002, "non-authoritative host not found"},
        {11004, "Valid name, no data record of requested type"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(SocketErrorText(code), text) << code;
    }
}

TEST(SocketErrorTextTest, OtherCodesAreUnknownWithTheirNumber) {
    EXPECT_EQ(SocketErrorText(12345), "Unknown socket error: 12345");
    EXPECT_EQ(SocketErrorText(10010), "Unknown socket error: 10010");
    EXPECT_EQ(SocketErrorText(0), "Unknown socket error: 0");
    EXPECT_EQ(SocketErrorText(-1), "Unknown socket error: -1");
}

TEST(SocketErrorTextTest, LinuxErrorsReachTheirTexts) {
    EXPECT_EQ(SocketErrorText(WinsockErrorCode(ECONNRESET)), "Connection reset by peer");
    EXPECT_EQ(SocketErrorText(WinsockErrorCode(EPIPE)), "Cannot send after socket shutdown");
    EXPECT_EQ(SocketErrorText(WinsockErrorCode(ETIMEDOUT)), "Connection timed out");
}

TEST(SocketErrorTextTest, ErrorEventNamesFollowTheKinds) {
    EXPECT_STREQ(ErrorEventName(eeGeneral), "General");
    EXPECT_STREQ(ErrorEventName(eeSend), "Send");
    EXPECT_STREQ(ErrorEventName(eeReceive), "Receive");
    EXPECT_STREQ(ErrorEventName(eeConnect), "Connect");
    EXPECT_STREQ(ErrorEventName(eeDisconnect), "Disconnect");
    EXPECT_STREQ(ErrorEventName(eeAccept), "Accept");
    EXPECT_STREQ(ErrorEventName(eeLookup), "Lookup");
    EXPECT_STREQ(ErrorEventName(7), "Unknown");
}

} // namespace
} // namespace sw
