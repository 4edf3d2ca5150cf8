#pragma once

#include "platform/shell/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sw {

// The live resources of the web port, answered before the home directory is looked at: the video as
// multipart JPEG, the newest frame, and the sound as the audio port's mu-law bytes ("audio/basic").
enum class TLiveResource { Stream, Snapshot, Audio };

struct TLiveRequest {
    TLiveResource Resource = TLiveResource::Stream;
    int Fps = 0;           // stream only: at most this many frames per second; 0 every frame
    bool HeadOnly = false; // a HEAD request: the header block alone
    // For the request's log entry, which the engine writes once it knows the answer.
    uint8_t Message = 0;
    std::string Uri;
    std::string RemoteAddress;
    std::string Agent;
};

// The live resource that a URI path names ("/live/stream.mjpg?fps=10"), none for any other path.
// Unknown query parameters are ignored; a malformed or non-positive fps means every frame.
std::optional<TLiveRequest> LiveResourceOf(const std::string& path);

// Takes a web connection (its own descriptor) whose request named a live resource; callable from a
// web connection thread.
using TLiveHandOver = std::function<void(TUniqueFd connection, TLiveRequest request)>;

inline constexpr const char* kLiveBoundary = "streamwright-frame";
inline constexpr int kLiveMaxFps = 1000;

// The header block of a stream answer. The multipart stream's first boundary line follows it at
// once, so that every part can end with the next boundary: browsers show a part only when that
// arrives.
std::string LiveStreamHeader(const std::string& httpDate);
// The headers of one part (ending with the blank line); the JPEG and LivePartTrailer() follow.
// sentSeconds is the wall-clock time at which the encoded frame was handed out (seconds since 1970).
std::string LivePartHeader(uint32_t frameNumber, size_t jpegBytes, double sentSeconds);
std::string LivePartTrailer();
std::string LiveAudioHeader(const std::string& httpDate);
std::string LiveSnapshotHeader(const std::string& httpDate, size_t jpegBytes);
// 503 with a short text, for a snapshot while no video runs.
std::string LiveUnavailable(const std::string& httpDate);

} // namespace sw
