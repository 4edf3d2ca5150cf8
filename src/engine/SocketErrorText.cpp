#include "engine/SocketErrorText.h"

namespace sw {

const std::array<const char*, 7> ErrorEventNames = {
    "General", "Send", "Receive", "Connect", "Disconnect", "Accept", "Lookup",
};

const char* ErrorEventName(int errorEvent) {
    if (errorEvent < 0 || errorEvent >= static_cast<int>(ErrorEventNames.size())) {
        return "Unknown";
    }
    return ErrorEventNames[static_cast<size_t>(errorEvent)];
}

std::string SocketErrorText(int errorCode) {
    switch (errorCode) {
    case 10004:
        return "Interrupted function call";
    case 10009:
        return "Bad family";
    case 10013:
        return "Permission denied";
    case 10014:
        return "Bad address";
    case 10022:
        return "Invalid argument";
    case 10024:
        return "Too many open files";
    case 10035:
        return "Resource temporarily unavailable";
    case 10036:
        return "Operation now in progress";
    case 10037:
        return "Operation already in progress";
    case 10038:
        return "Socket operation on non-socket";
    case 10039:
        return "Destionation address required";
    case 10040:
        return "Message too long";
    case 10041:
        return "Protocol wrong type for socket";
    case 10042:
        return "Bad protocol option";
    case 10043:
        return "Protocol not supported";
    case 10044:
        return "Socket type not supported";
    case 10045:
        return "Operation not supported";
    case 10046:
        return "Protocol family not supported";
    case 10047:
        return "Address family not supported by protocol family";
    case 10048:
        return "Address already in use";
    case 10049:
        return "Cannot assign requested address";
    case 10050:
        return "Network is down";
    case 10051:
        return "Network is unreachable";
    case 10052:
        return "Network dropped connection on reset";
    case 10053:
        return "Software caused connection abort";
    case 10054:
        return "Connection reset by peer";
    case 10055:
        return "No  buffer space is available";
    case 10056:
        return "Socket is already connected";
    case 10057:
        return "Socket is not connected";
    case 10058:
        return "Cannot send after socket shutdown";
    case 10059:
        return "WSAETOOMANYREFS";
    case 10060:
        return "Connection timed out";
    case 10061:
        return "Connection refused";
    case 10062:
        return "WSAELOOP";
    case 10063:
        return "WSAENAMETOOLONG";
    case 10064:
        return "Host is down";
    case 10065:
        return "No route to host";
    case 10066:
        return "WSAENOTEMPTY";
    case 10067:
        return "Too many processes";
    case 10068:
        return "WSAEUSERS";
    case 10069:
        return "WSAEDQUOT";
    case 10070:
        return "WSAESTALE";
    case 10071:
        return "WSAEREMOTE";
    case 10091:
        return "Network subsystem is unavailable";
    case 10092:
        return "WINSOCK.DLL version out of range";
    case 10093:
        return "Successful WSAStartup not yet performed";
    case 10101:
        return "Graceful shutdown in progress";
    case 11001:
        return "Host not found";
    case 11002:
        return "non-authoritative host not found";
    case 11003:
        return "This is a non-recoverable error";
    case 11004:
        return "Valid name, no data record of requested type";
    default:
        return "Unknown socket error: " + std::to_string(errorCode);
    }
}

} // namespace sw
