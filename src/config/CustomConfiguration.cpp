#include "config/CustomConfiguration.h"

namespace sw {

namespace {

template <typename T>
T ReadSlot(const std::vector<T>& list, int index) {
    if (index < 0 || static_cast<size_t>(index) >= list.size()) {
        return T{};
    }
    return list[static_cast<size_t>(index)];
}

template <typename T>
void WriteSlot(std::vector<T>& list, int index, T value) {
    if (index < 0) {
        return;
    }
    if (list.size() <= static_cast<size_t>(index)) {
        list.resize(static_cast<size_t>(index) + 1);
    }
    list[static_cast<size_t>(index)] = std::move(value);
}

} // namespace

TCustomConfiguration::TCustomConfiguration(std::string fileName) : FFileName(std::move(fileName)) {}

void TCustomConfiguration::BeginUpdate() {
    ++FUpdateCount;
}

void TCustomConfiguration::EndUpdate() {
    --FUpdateCount;
    if (FUpdateCount == 0) {
        Changed();
    }
}

void TCustomConfiguration::Changed() {
    if (!FLoading && FUpdateCount <= 0) {
        Save();
    }
}

void TCustomConfiguration::Reload() {
    if (FLoading) {
        return;
    }
    FLoading = true;
    try {
        Load();
    } catch (...) {
        FLoading = false;
        throw;
    }
    FLoading = false;
}

std::string TCustomConfiguration::GetString(int index) const {
    std::lock_guard lock(FLock);
    return ReadSlot(FStrings, index);
}

int32_t TCustomConfiguration::GetInteger(int index) const {
    std::lock_guard lock(FLock);
    return ReadSlot(FIntegers, index);
}

bool TCustomConfiguration::GetBoolean(int index) const {
    std::lock_guard lock(FLock);
    return ReadSlot(FBooleans, index) != 0;
}

double TCustomConfiguration::GetFloat(int index) const {
    std::lock_guard lock(FLock);
    return ReadSlot(FFloats, index);
}

void TCustomConfiguration::SetString(int index, const std::string& value) {
    {
        std::lock_guard lock(FLock);
        WriteSlot(FStrings, index, value);
    }
    Changed();
}

void TCustomConfiguration::SetInteger(int index, int32_t value) {
    {
        std::lock_guard lock(FLock);
        WriteSlot(FIntegers, index, value);
    }
    Changed();
}

void TCustomConfiguration::SetBoolean(int index, bool value) {
    {
        std::lock_guard lock(FLock);
        WriteSlot<uint8_t>(FBooleans, index, value ? 1 : 0);
    }
    Changed();
}

void TCustomConfiguration::SetFloat(int index, double value) {
    {
        std::lock_guard lock(FLock);
        WriteSlot(FFloats, index, value);
    }
    Changed();
}

size_t TCustomConfiguration::StringCount() const {
    std::lock_guard lock(FLock);
    return FStrings.size();
}

size_t TCustomConfiguration::IntegerCount() const {
    std::lock_guard lock(FLock);
    return FIntegers.size();
}

size_t TCustomConfiguration::BooleanCount() const {
    std::lock_guard lock(FLock);
    return FBooleans.size();
}

size_t TCustomConfiguration::FloatCount() const {
    std::lock_guard lock(FLock);
    return FFloats.size();
}

} // namespace sw
