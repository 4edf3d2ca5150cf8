#pragma once

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace sw::test {

// The real engine and broadcast controller on a settings file in a temporary folder, with free
// video, audio and web ports.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Recorded entries (message numbers) since the engine started, "Starting" included.
    std::vector<uint8_t> RecordedMessages() const;
    std::vector<TAMLog> Recorded;
    void Settle(int ms = 50);

    TTempDir Dir;
    std::unique_ptr<TConfiguration> Config;
    std::unique_ptr<TDataModuleMain> Engine;
    std::unique_ptr<TBroadcastController> Controller;
};

} // namespace sw::test
