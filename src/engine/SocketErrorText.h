#pragma once

#include <array>
#include <string>

namespace sw {

// Names of the socket error kinds, indexed by TErrorEvent.
extern const std::array<const char*, 7> ErrorEventNames;

// The kind's name; "Unknown" for a kind outside the table.
const char* ErrorEventName(int errorEvent);

// The text of a Windows Sockets error code; "Unknown socket error: " and the code for any other.
std::string SocketErrorText(int errorCode);

} // namespace sw
