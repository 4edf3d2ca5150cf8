#pragma once

#include <cstdint>

namespace sw {

// A byte stream with a 32-bit position, as the frame pipeline reads and writes its images.
class TStream {
public:
    enum TSeekOrigin : uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

    virtual ~TStream() = default;

    // Bytes placed in buffer, at most count.
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    // Bytes taken from buffer, at most count.
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    // The new position.
    virtual int32_t Seek(int32_t offset, uint16_t origin) = 0;

    // What Seek reports for the end; the position is kept.
    int32_t Size() {
        int32_t position = Seek(0, soCurrent);
        int32_t size = Seek(0, soEnd);
        Seek(position, soBeginning);
        return size;
    }
};

} // namespace sw
