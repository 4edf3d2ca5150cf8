#pragma once

#include "platform/shell/UniqueFd.h"

#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace sw {

// True when the port cannot be taken for listening on 127.0.0.1, or on address when one is given (the
// address the servers will listen on). SO_REUSEADDR is set, so a port left in TIME_WAIT by our own
// Stop does not count as taken, while a listening program still does.
bool PortInUse(int port, const std::string& address = {});

// The machine's IPv4 addresses in dotted form, in the order the system lists its interfaces;
// loopback interfaces are left out (127.0.0.1 is always added by whoever orders the list).
std::vector<std::string> HostIPv4Addresses();

// The socket address of an IPv4 or IPv6 address, or of a host name's first address; every IPv4
// interface when address is empty. Throws std::runtime_error when the name does not resolve.
struct TListenAddress {
    sockaddr_storage Address{};
    socklen_t Length = 0;
};
TListenAddress ResolveListenAddress(const std::string& address, int port);

// A socket listening on port (every IPv4 interface when bindAddress is empty), with SO_REUSEADDR.
// Throws std::runtime_error with the reason when the port cannot be taken.
TUniqueFd OpenListeningSocket(int port, const std::string& bindAddress, bool nonBlocking);

// Text of a peer's address: dotted for IPv4 and for IPv4 peers of a dual-stack socket, so a viewer is
// one registry entry whichever way it came; the usual IPv6 text otherwise.
std::string PeerAddressText(const sockaddr_storage& address, uint16_t* port = nullptr);
// The port a listening socket is bound to; 0 when unknown.
int SocketLocalPort(int fd);

// Dotted form of an IPv4 address in network byte order.
std::string DottedAddress(uint32_t networkOrder);

} // namespace sw
