#pragma once

#include <cstdint>

namespace sw {

// Where encoded sound goes: the engine sends it to every eligible audio viewer. Called on the main
// thread; buffer is valid only during the call.
class TAudioSink {
public:
    virtual ~TAudioSink() = default;
    virtual void SendAudio(const uint8_t* buffer, int count) = 0;
};

} // namespace sw
