#pragma once

#include "platform/shell/UniqueFd.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sw {

// True when the port cannot be taken for listening on 127.0.0.1. SO_REUSEADDR is set, so a port left
// in TIME_WAIT by our own Stop does not count as taken, while a listening program still does.
bool PortInUse(int port);

// The machine's IPv4 addresses in dotted form, in the order the system lists its interfaces;
// loopback interfaces are left out (127.0.0.1 is always added by whoever orders the list).
std::vector<std::string> HostIPv4Addresses();

// A socket listening on port (all interfaces when bindAddress is empty), with SO_REUSEADDR.
// Throws std::runtime_error with the reason when the port cannot be taken.
TUniqueFd OpenListeningSocket(int port, const std::string& bindAddress, bool nonBlocking);

// Dotted form of an IPv4 address in network byte order.
std::string DottedAddress(uint32_t networkOrder);

} // namespace sw
