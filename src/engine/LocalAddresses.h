#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sw {

// The machine's IPv4 addresses, public first, then 169.x, then private, and "127.0.0.1" last.
// discovered is the system's list in order of discovery.
std::vector<std::string> OrderLocalAddresses(const std::vector<std::string>& discovered);

// Where the discovered addresses come from; tests replace it.
using TAddressSource = std::function<std::vector<std::string>()>;
void SetAddressSource(TAddressSource source);

void LocalAddresses(std::vector<std::string>& list);
std::string DefaultHostAddress();

} // namespace sw
