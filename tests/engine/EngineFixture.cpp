#include "engine/EngineFixture.h"

namespace sw::test {

void EngineFixture::SetUp() {
    Program = std::make_unique<TProgramLifecycle>(Dir.File("streamwright.ini"));
    Config = &Program->Configuration();
    Config->BeginUpdate();
    Config->Video().SetPort(FreePort());
    Config->Audio().SetPort(FreePort());
    Config->Web().SetPort(FreePort());
    Config->Web().SetPath(Dir.Path());
    Config->EndUpdate();
    Program->CreateEngine();
    Engine = &Program->Engine();
    Controller = &Program->Controller();
    QObject::connect(Engine, &TDataModuleMain::LogRecorded,
                     [this](const TAMLog& entry) { Recorded.push_back(entry); });
    ASSERT_TRUE(ProcessEventsUntil([this] { return Controller->DevicesInitialized(); }));
    Settle();
}

void EngineFixture::TearDown() {
    Controller = nullptr;
    Engine = nullptr;
    Config = nullptr;
    Program.reset();
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
