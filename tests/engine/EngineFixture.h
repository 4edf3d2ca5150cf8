#pragma once

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace sw::test {

// The program as it starts, on a settings file in a temporary folder with free video, audio and
// web ports: configuration, registry, engine and broadcast controller, devices initialised.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Recorded entries (message numbers) since the engine started, "Starting" included.
    std::vector<uint8_t> RecordedMessages() const;
    std::vector<TAMLog> Recorded;
    void Settle(int ms = 50);

    TTempDir Dir;
    std::unique_ptr<TProgramLifecycle> Program;
    TConfiguration* Config = nullptr;
    TDataModuleMain* Engine = nullptr;
    TBroadcastController* Controller = nullptr;
};

} // namespace sw::test
