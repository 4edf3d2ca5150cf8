#include "engine/LocalAddresses.h"

#include "platform/net/NetUtil.h"

#include <cstdio>

namespace sw {

namespace {

TAddressSource gAddressSource;

int Tier(const std::string& address) {
    unsigned a = 0;
    unsigned b = 0;
    if (std::sscanf(address.c_str(), "%u.%u", &a, &b) != 2) {
        return 0;
    }
    if (a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168)) {
        return 2;
    }
    return a == 169 ? 1 : 0;
}

} // namespace

std::vector<std::string> OrderLocalAddresses(const std::vector<std::string>& discovered) {
    std::vector<std::string> list;
    std::vector<int> tiers;
    auto insertAt = [&](size_t index, const std::string& address, int tier) {
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), address);
        tiers.insert(tiers.begin() + static_cast<std::ptrdiff_t>(index), tier);
    };
    auto firstOfTier = [&](int tier) {
        for (size_t i = 0; i < tiers.size(); ++i) {
            if (tiers[i] == tier) {
                return i;
            }
        }
        return tiers.size();
    };
    for (const std::string& address : discovered) {
        switch (int tier = Tier(address)) {
        case 2:
            insertAt(list.size(), address, tier);
            break;
        case 1: {
            size_t at = firstOfTier(1);
            if (at == list.size()) {
                at = firstOfTier(2);
            }
            insertAt(at, address, tier);
            break;
        }
        default:
            insertAt(0, address, tier);
            break;
        }
    }
    list.push_back("127.0.0.1");
    return list;
}

void SetAddressSource(TAddressSource source) {
    gAddressSource = std::move(source);
}

void LocalAddresses(std::vector<std::string>& list) {
    list = OrderLocalAddresses(gAddressSource ? gAddressSource() : HostIPv4Addresses());
}

std::string DefaultHostAddress() {
    std::vector<std::string> list;
    LocalAddresses(list);
    return list.front();
}

} // namespace sw
