#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace sw {

// Plays a PCM WAV file through ALSA on a short-lived thread of its own, so the caller never waits for
// the file, the device or the sound. One sound at a time; the thread is joined, never detached.
class TSoundPlayer {
public:
    enum class TResult {
        None, // nothing played yet
        Playing,
        Played,
        Unreadable, // missing, not a regular file, or unreadable
        NotPcmWav,
        DeviceFailed, // the device could not be opened or did not take the format
        Stopped,
    };

    explicit TSoundPlayer(std::string device = "default");
    ~TSoundPlayer();
    TSoundPlayer(const TSoundPlayer&) = delete;
    TSoundPlayer& operator=(const TSoundPlayer&) = delete;

    // The ALSA device name (tests use a file PCM). Takes effect at the next PlayAsync.
    void SetDevice(const std::string& device) { FDevice = device; }
    const std::string& Device() const { return FDevice; }

    // Starts playing and returns at once. False when nothing was started because a sound is still
    // playing; a file that turns out unplayable plays nothing and no default sound.
    bool PlayAsync(const std::string& fileName);
    bool Playing() const;
    // Waits for the current sound to end.
    void Wait();
    // Ends the current sound early and waits for its thread.
    void Stop();
    // How the last sound went; Playing while it plays.
    TResult LastResult() const { return FResult.load(); }

private:
    void Run(std::string fileName, std::string device);
    TResult Play(const std::string& fileName, const std::string& device);

    std::string FDevice;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDone{true};
    std::atomic<TResult> FResult{TResult::None};
};

} // namespace sw
