#include "platform/net/NetUtil.h"

#include "platform/shell/UniqueFd.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sw {

TListenAddress ResolveListenAddress(const std::string& address, int port) {
    if (port < 0 || port > 65535) {
        throw std::runtime_error("Cannot listen on port " + std::to_string(port) + ": " +
                                 std::strerror(EINVAL));
    }
    TListenAddress result;
    if (address.empty()) {
        auto* in = reinterpret_cast<sockaddr_in*>(&result.Address);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(port));
        in->sin_addr.s_addr = htonl(INADDR_ANY);
        result.Length = sizeof(sockaddr_in);
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        throw std::runtime_error("Invalid listening address " + address + ": " + ::gai_strerror(rc));
    }
    std::memcpy(&result.Address, list->ai_addr, list->ai_addrlen);
    result.Length = list->ai_addrlen;
    ::freeaddrinfo(list);
    return result;
}

bool PortInUse(int port, const std::string& address) {
    if (port < 0 || port > 65535) {
        return true;
    }
    TListenAddress where;
    try {
        where = ResolveListenAddress(address.empty() ? "127.0.0.1" : address, port);
    } catch (const std::runtime_error&) {
        // Opening the server reports the unusable address with its reason.
        return false;
    }
    TUniqueFd fd(::socket(where.Address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return false;
    }
    int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&where.Address), where.Length) != 0) {
        // An address that is not this machine's is no busy port; opening the server says why.
        return address.empty() || errno != EADDRNOTAVAIL;
    }
    return ::listen(fd.Get(), 5) != 0;
}

TUniqueFd OpenListeningSocket(int port, const std::string& bindAddress, bool nonBlocking) {
    TListenAddress where = ResolveListenAddress(bindAddress, port);
    TUniqueFd fd(
        ::socket(where.Address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0));
    if (!fd) {
        throw std::runtime_error("Cannot create a socket: " + std::string(std::strerror(errno)));
    }
    int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&where.Address), where.Length) != 0 ||
        ::listen(fd.Get(), SOMAXCONN) != 0) {
        throw std::runtime_error("Cannot listen on port " + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
    return fd;
}

std::string PeerAddressText(const sockaddr_storage& address, uint16_t* port) {
    if (address.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
        if (port) {
            *port = ntohs(in6->sin6_port);
        }
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
            uint32_t v4;
            std::memcpy(&v4, in6->sin6_addr.s6_addr + 12, sizeof v4);
            return DottedAddress(v4);
        }
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        return text;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    if (port) {
        *port = ntohs(in->sin_port);
    }
    return DottedAddress(in->sin_addr.s_addr);
}

int SocketLocalPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    uint16_t port = 0;
    PeerAddressText(address, &port);
    return port;
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
