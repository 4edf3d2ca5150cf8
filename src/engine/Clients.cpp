#include "engine/Clients.h"

#include "platform/profile/IniFile.h"

#include <algorithm>
#include <stdexcept>

namespace sw {

namespace {

TClients* gClients = nullptr;

} // namespace

uint32_t TClient::Duration() const {
    return Duration(TickCount());
}

uint32_t TClient::Duration(uint32_t nowTicks) const {
    if (Connections() < 1) {
        return 0;
    }
    return nowTicks - ConnectTicks;
}

TClients::TClients(std::string iniFileName) : FIniFileName(std::move(iniFileName)) {
    LoadBlocked();
}

TClient* TClients::Find(const std::string& address, bool create) {
    for (const std::unique_ptr<TClient>& client : FItems) {
        if (client->Address == address) {
            return client.get();
        }
    }
    if (!create) {
        return nullptr;
    }
    auto client = std::make_unique<TClient>();
    client->Address = address;
    FItems.push_back(std::move(client));
    return FItems.back().get();
}

void TClients::Remove(const TClient* client) {
    auto it = std::find_if(FItems.begin(), FItems.end(),
                           [client](const std::unique_ptr<TClient>& item) { return item.get() == client; });
    if (it != FItems.end()) {
        FItems.erase(it);
    }
}

void TClients::Connect(const std::string& address, int32_t TClient::*count) {
    TClient* client = Find(address, true);
    if (client->Connections() == 0) {
        client->ConnectTime = Now();
        client->ConnectTicks = TickCount();
    }
    ++(client->*count);
}

void TClients::Disconnect(const std::string& address, int32_t TClient::*count) {
    TClient* client = Find(address, false);
    if (!client) {
        return;
    }
    // Never below zero, or a stray disconnect would hide a connection that is still open.
    if (client->*count > 0) {
        --(client->*count);
    }
    if (client->Connections() == 0 && !client->Blocked) {
        Remove(client);
    }
}

void TClients::VideoConnect(const std::string& address) {
    Connect(address, &TClient::VideoCount);
}

void TClients::AudioConnect(const std::string& address) {
    Connect(address, &TClient::AudioCount);
}

void TClients::VideoDisconnect(const std::string& address) {
    Disconnect(address, &TClient::VideoCount);
}

void TClients::AudioDisconnect(const std::string& address) {
    Disconnect(address, &TClient::AudioCount);
}

void TClients::Reset(const std::string& address) {
    TClient* client = Find(address, false);
    if (!client) {
        return;
    }
    client->AudioCount = 0;
    client->VideoCount = 0;
    if (!client->Blocked) {
        Remove(client);
    }
}

void TClients::ResetAll() {
    for (size_t i = FItems.size(); i > 0; --i) {
        // A copy: Reset frees the entry whose address it is given.
        const std::string address = FItems[i - 1]->Address;
        Reset(address);
    }
}

void TClients::Block(const std::string& address) {
    Find(address, true)->Blocked = true;
    SaveBlocked();
}

void TClients::Unblock(const std::string& address) {
    TClient* client = Find(address, false);
    if (!client) {
        return;
    }
    client->Blocked = false;
    if (client->Connections() == 0) {
        Remove(client);
    }
    SaveBlocked();
}

void TClients::LoadBlocked() {
    const TIniFile file(FIniFileName);
    for (const std::string& address : file.ReadKeyNames(kBlockedSection, kBlockedKeyBufferChars)) {
        Find(address, true)->Blocked = true;
    }
}

void TClients::SaveBlocked() {
    TIniFile file(FIniFileName);
    file.EraseSection(kBlockedSection);
    for (const std::unique_ptr<TClient>& client : FItems) {
        if (client->Blocked) {
            file.WriteString(kBlockedSection, client->Address, "1");
        }
    }
    if (!file.UpdateFile()) {
        throw std::runtime_error("Unable to write to " + FIniFileName);
    }
}

int32_t TClients::AudioTotal() const {
    int32_t total = 0;
    for (const std::unique_ptr<TClient>& client : FItems) {
        total += client->AudioCount;
    }
    return total;
}

int32_t TClients::VideoTotal() const {
    int32_t total = 0;
    for (const std::unique_ptr<TClient>& client : FItems) {
        total += client->VideoCount;
    }
    return total;
}

TClients& Clients() {
    return *gClients;
}

bool ClientsExists() {
    return gClients != nullptr;
}

void SetClients(TClients* clients) {
    gClients = clients;
}

} // namespace sw
