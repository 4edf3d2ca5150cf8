#include "platform/net/NetUtil.h"

#include "platform/shell/UniqueFd.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sw {

bool PortInUse(int port) {
    if (port < 0 || port > 65535) {
        return true;
    }
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return false;
    }
    int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return true;
    }
    return ::listen(fd.Get(), 5) != 0;
}

TUniqueFd OpenListeningSocket(int port, const std::string& bindAddress, bool nonBlocking) {
    TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    if (!fd) {
        throw std::runtime_error("Cannot create a socket: " + std::string(std::strerror(errno)));
    }
    int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &addr.sin_addr) != 1) {
        throw std::runtime_error("Invalid listening address " + bindAddress);
    }
    if (port < 0 || port > 65535) {
        throw std::runtime_error("Cannot listen on port " + std::to_string(port) + ": " +
                                 std::strerror(EINVAL));
    }
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.Get(), SOMAXCONN) != 0) {
        throw std::runtime_error("Cannot listen on port " + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
    return fd;
}

std::string DottedAddress(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr addr{};
    addr.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

std::vector<std::string> HostIPv4Addresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return addresses;
    }
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || (it->ifa_flags & IFF_LOOPBACK) ||
            !(it->ifa_flags & IFF_UP)) {
            continue;
        }
        addresses.push_back(DottedAddress(reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr));
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace sw
