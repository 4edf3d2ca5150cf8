#pragma once

#include "platform/shell/DateTime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sw {

// One remote machine of the client registry.
class TClient {
public:
    std::string Address; // dotted IPv4 address, compared exactly
    int32_t AudioCount = 0;
    int32_t VideoCount = 0;
    bool Blocked = false;
    TDateTime ConnectTime = 0.0;
    uint32_t ConnectTicks = 0;

    int32_t Connections() const { return AudioCount + VideoCount; }
    // Milliseconds since the first of the current connections began; the tick count wraps modulo 2^32.
    uint32_t Duration() const;
    uint32_t Duration(uint32_t nowTicks) const;
};

// The client registry: every address that holds a viewer connection or is blocked, in order of
// creation. Main thread only. Blocked addresses persist in section "Blocked" of the INI file as keys
// whose values are ignored on reading.
class TClients {
public:
    static constexpr const char* kBlockedSection = "Blocked";
    // The size of the key-name buffer of the profile reading: names beyond it are not loaded.
    static constexpr size_t kBlockedKeyBufferChars = 16384;

    // Loads the blocked addresses from the INI file.
    explicit TClients(std::string iniFileName);
    TClients(const TClients&) = delete;
    TClients& operator=(const TClients&) = delete;

    const std::string& IniFileName() const { return FIniFileName; }

    size_t Count() const { return FItems.size(); }
    TClient& Items(size_t index) { return *FItems[index]; }
    const TClient& Items(size_t index) const { return *FItems[index]; }

    // The entry of an address; with create, a new entry is appended when there is none.
    TClient* Find(const std::string& address, bool create);

    void VideoConnect(const std::string& address);
    void AudioConnect(const std::string& address);
    void VideoDisconnect(const std::string& address);
    void AudioDisconnect(const std::string& address);
    // Both counts to 0; the entry goes unless it is blocked.
    void Reset(const std::string& address);
    // Resets every entry, last to first (what Stop does to the registry).
    void ResetAll();

    // Block and Unblock keep the new state in memory and then throw std::runtime_error when the
    // INI file cannot be written.
    void Block(const std::string& address);
    void Unblock(const std::string& address);
    void LoadBlocked();
    void SaveBlocked();

    int32_t AudioTotal() const;
    int32_t VideoTotal() const;

private:
    void Connect(const std::string& address, int32_t TClient::*count);
    void Disconnect(const std::string& address, int32_t TClient::*count);
    void Remove(const TClient* client);

    std::string FIniFileName;
    // Entries are held by pointer so that a found entry stays put while others are added.
    std::vector<std::unique_ptr<TClient>> FItems;
};

// The process-wide registry: created after the configuration and before the engine, freed after the
// engine.
TClients& Clients();
bool ClientsExists();
void SetClients(TClients* clients);

} // namespace sw
