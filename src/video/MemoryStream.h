#pragma once

#include "video/Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sw {

// A stream over a growable block of memory. Emptying it keeps the block, so a stream that holds one
// JPEG per frame allocates only while the pictures grow. Bytes beyond the written ones are not
// cleared when the size grows: SetSize makes room for a writer that fills it.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, uint16_t origin) override;

    // Size 0 and position 0; the memory stays.
    void Clear();
    // The position is clamped to the new size; false when the size cannot be had.
    bool SetSize(size_t size);
    // Makes sure size bytes fit without a new allocation.
    bool Reserve(size_t size);

    uint8_t* Memory() { return FData.get(); }
    const uint8_t* Memory() const { return FData.get(); }
    size_t StreamSize() const { return FSize; }
    size_t Capacity() const { return FCapacity; }
    int32_t Position() const { return FPosition; }

private:
    std::unique_ptr<uint8_t[]> FData;
    size_t FSize = 0;
    size_t FCapacity = 0;
    int32_t FPosition = 0;
};

} // namespace sw
