#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sw {

class TIniFile;

// Base of every settings section: typed slot lists, write-through saving and update brackets.
// Slots may be read from any thread (each access takes the section's lock and returns a copy);
// they are written, loaded and saved on the main thread only.
class TCustomConfiguration {
public:
    explicit TCustomConfiguration(std::string fileName);
    virtual ~TCustomConfiguration() = default;
    TCustomConfiguration(const TCustomConfiguration&) = delete;
    TCustomConfiguration& operator=(const TCustomConfiguration&) = delete;

    virtual void Load() = 0;
    virtual void Save() = 0;
    virtual void BeginUpdate();
    virtual void EndUpdate();

    // Saves unless loading or inside an update bracket.
    void Changed();
    // Loads without saving; a failing Load still ends the loading state.
    void Reload();

    const std::string& FileName() const { return FFileName; }
    int UpdateCount() const { return FUpdateCount; }
    bool Loading() const { return FLoading; }

    // Out-of-range reads give "", 0, false or 0.0 and never grow a list.
    std::string GetString(int index) const;
    int32_t GetInteger(int index) const;
    bool GetBoolean(int index) const;
    double GetFloat(int index) const;
    // A write grows the list as needed, stores the value (even an equal one), then calls Changed.
    void SetString(int index, const std::string& value);
    void SetInteger(int index, int32_t value);
    void SetBoolean(int index, bool value);
    void SetFloat(int index, double value);

    size_t StringCount() const;
    size_t IntegerCount() const;
    size_t BooleanCount() const;
    size_t FloatCount() const;

protected:
    // Runs body with the file opened afresh; every failure inside ends the operation silently.
    template <typename Body>
    void WithFile(Body&& body) const;
    // Saves through body and writes the file once at the end; a file that cannot be written is left alone.
    template <typename Body>
    void SaveWith(Body&& body) const;

    mutable std::mutex FLock;

private:
    std::string FFileName;
    std::vector<std::string> FStrings;
    std::vector<int32_t> FIntegers;
    std::vector<uint8_t> FBooleans;
    std::vector<double> FFloats;
    int FUpdateCount = 0;
    bool FLoading = false;
};

} // namespace sw

#include "platform/profile/IniFile.h"

namespace sw {

template <typename Body>
void TCustomConfiguration::WithFile(Body&& body) const {
    try {
        TIniFile file(FFileName);
        body(file);
    } catch (...) {
        // Settings file errors are swallowed: the values in memory stay as they are.
    }
}

template <typename Body>
void TCustomConfiguration::SaveWith(Body&& body) const {
    WithFile([&](TIniFile& file) {
        body(file);
        file.UpdateFile();
    });
}

} // namespace sw
