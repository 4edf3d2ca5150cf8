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

// A port that was free a moment ago (bound to port 0 and released).
int FreePort();
// A socket listening on 127.0.0.1:port, closed with the object.
class TPortHolder {
public:
    explicit TPortHolder(int port);
    ~TPortHolder();
    TPortHolder(const TPortHolder&) = delete;
    TPortHolder& operator=(const TPortHolder&) = delete;

private:
    int FFd = -1;
};
// True when a TCP connection to 127.0.0.1:port is accepted.
bool CanConnect(int port);

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
