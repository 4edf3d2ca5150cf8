#pragma once

namespace sw {

// Socket error codes are reported in the Windows Sockets numbering (10000 plus the BSD errno value,
// so ECONNRESET reports 10054), so that the socket error texts apply unchanged.
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAECONNRESET = 10054;

// The Windows Sockets code of a Linux errno value; an errno without an equivalent is returned as is.
int WinsockErrorCode(int linuxErrno);

} // namespace sw
