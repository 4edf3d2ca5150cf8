#pragma once

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "engine/LocalAddresses.h"
#include "platform/shell/OperatorPrompts.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace sw::test {

// Collects the message boxes instead of showing them.
class TRecordingPrompts : public TOperatorPrompts {
public:
    TRecordingPrompts() { SetPrompts(this); }
    ~TRecordingPrompts() override { SetPrompts(nullptr); }

    void ShowMessage(const std::string& text, TMessageKind kind) override {
        Messages.emplace_back(text, kind);
    }
    bool Confirm(const std::string&) override { return false; }
    std::optional<int> ChooseItem(const std::string&, const std::string&, const std::vector<std::string>&,
                                  int) override {
        return std::nullopt;
    }
    bool EditValues(const std::string&, std::vector<TValueField>&) override { return false; }

    std::vector<std::pair<std::string, TMessageKind>> Messages;
};

// The process-wide configuration on a settings file of a temporary folder, and a fixed address list.
class TTestConfiguration {
public:
    explicit TTestConfiguration(std::vector<std::string> addresses = {"192.168.1.5", "81.2.3.4"}) {
        FConfiguration = std::make_unique<TConfiguration>(FDir.File("streamwright.ini"));
        SetConfiguration(FConfiguration.get());
        FConfiguration->Reload();
        SetAddresses(std::move(addresses));
    }
    ~TTestConfiguration() {
        SetAddressSource(nullptr);
        SetConfiguration(nullptr);
    }
    TTestConfiguration(const TTestConfiguration&) = delete;
    TTestConfiguration& operator=(const TTestConfiguration&) = delete;

    void SetAddresses(std::vector<std::string> addresses) {
        SetAddressSource([addresses = std::move(addresses)] { return addresses; });
    }
    TConfiguration& Config() { return *FConfiguration; }
    const TTempDir& Dir() const { return FDir; }

private:
    TTempDir FDir;
    std::unique_ptr<TConfiguration> FConfiguration;
};

} // namespace sw::test
