#pragma once

#include <unistd.h>
#include <utility>

namespace sw {

// Owns one file descriptor and closes it exactly once.
class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.FFd, -1));
        }
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    ~TUniqueFd() { Reset(); }

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    explicit operator bool() const { return Valid(); }
    int Release() { return std::exchange(FFd, -1); }
    // Closes the descriptor now; false when close() reported an error (a failed delayed write).
    bool Reset(int fd = -1) {
        int old = std::exchange(FFd, fd);
        return old < 0 || ::close(old) == 0;
    }

private:
    int FFd = -1;
};

} // namespace sw
