#include "engine/EngineFixture.h"

namespace sw::test {

void EngineFixture::SetUp() {
    Config = std::make_unique<TConfiguration>(Dir.File("streamwright.ini"));
    SetConfiguration(Config.get());
    Config->Reload();
    Config->StoreRunTimeValues();
    Config->BeginUpdate();
    Config->Video().SetPort(FreePort());
    Config->Audio().SetPort(FreePort());
    Config->Web().SetPort(FreePort());
    Config->Web().SetPath(Dir.Path());
    Config->EndUpdate();
    Engine = std::make_unique<TDataModuleMain>(Dir.File("streamwright.log"));
    Engine->OnLogRecorded = [this](const TAMLog& entry) { Recorded.push_back(entry); };
    Controller = std::make_unique<TBroadcastController>(*Engine);
    Controller->Create();
    ASSERT_TRUE(ProcessEventsUntil([this] { return Controller->DevicesInitialized(); }));
    Settle();
}

void EngineFixture::TearDown() {
    if (Controller) {
        Controller->Destroy();
    }
    Controller.reset();
    Engine.reset();
    SetConfiguration(nullptr);
    Config.reset();
}

std::vector<uint8_t> EngineFixture::RecordedMessages() const {
    std::vector<uint8_t> messages;
    for (const TAMLog& entry : Recorded) {
        messages.push_back(entry.Message);
    }
    return messages;
}

void EngineFixture::Settle(int ms) {
    ProcessEventsFor(ms);
}

} // namespace sw::test
