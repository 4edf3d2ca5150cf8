#include "video/MemoryStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace sw {

namespace {

constexpr size_t kMaxStreamBytes = static_cast<size_t>(std::numeric_limits<int32_t>::max());

} // namespace

bool TMemoryStream::Reserve(size_t size) {
    if (size <= FCapacity) {
        return true;
    }
    if (size > kMaxStreamBytes) {
        return false;
    }
    // Grow by half again so a picture that creeps up a little each frame does not reallocate each time.
    size_t capacity = std::min(kMaxStreamBytes, std::max(size, FCapacity + FCapacity / 2));
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[capacity]);
    if (!data) {
        return false;
    }
    if (FSize > 0) {
        std::memcpy(data.get(), FData.get(), FSize);
    }
    FData = std::move(data);
    FCapacity = capacity;
    return true;
}

void TMemoryStream::Clear() {
    FSize = 0;
    FPosition = 0;
}

bool TMemoryStream::SetSize(size_t size) {
    if (!Reserve(size)) {
        return false;
    }
    FSize = size;
    FPosition = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(std::max(FPosition, 0)), size));
    return true;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    if (FPosition < 0 || count <= 0 || static_cast<size_t>(FPosition) >= FSize) {
        return 0;
    }
    size_t n = std::min(static_cast<size_t>(count), FSize - static_cast<size_t>(FPosition));
    std::memcpy(buffer, FData.get() + FPosition, n);
    FPosition += static_cast<int32_t>(n);
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (FPosition < 0 || count <= 0) {
        return 0;
    }
    size_t end = static_cast<size_t>(FPosition) + static_cast<size_t>(count);
    if (!Reserve(end)) {
        return 0;
    }
    if (static_cast<size_t>(FPosition) > FSize) {
        // A write past the end leaves zeros in the gap, not stale bytes.
        std::memset(FData.get() + FSize, 0, static_cast<size_t>(FPosition) - FSize);
    }
    std::memcpy(FData.get() + FPosition, buffer, static_cast<size_t>(count));
    FPosition += count;
    FSize = std::max(FSize, end);
    return count;
}

int32_t TMemoryStream::Seek(int32_t offset, uint16_t origin) {
    int64_t position = FPosition;
    switch (origin) {
    case soBeginning:
        position = offset;
        break;
    case soCurrent:
        position += offset;
        break;
    case soEnd:
        position = static_cast<int64_t>(FSize) + offset;
        break;
    default:
        break;
    }
    FPosition = static_cast<int32_t>(std::clamp<int64_t>(position, 0, static_cast<int64_t>(kMaxStreamBytes)));
    return FPosition;
}

} // namespace sw
