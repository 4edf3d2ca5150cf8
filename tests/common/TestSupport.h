#pragma once

#include "log/LogPost.h"

#include <QCoreApplication>
#include <QObject>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sw::test {

// A fresh folder under /tmp, removed with everything in it when the object goes away.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// Runs check over every file of a fuzz corpus folder; "" from check means the input held every
// invariant. Returns one "file: problem" line per failing file, and fails the test when the folder
// holds fewer than minimumFiles files.
std::string ReplayCorpus(const std::string& folder, size_t minimumFiles,
                         const std::function<std::string(const uint8_t*, size_t)>& check);

// Sanitizer builds run several times slower (ThreadSanitizer most) on CI machines that others share,
// so a deadline for a condition a test waits for stretches by this factor. Nothing a test measures
// is scaled.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kDeadlineScale = 4;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int kDeadlineScale = 2;
#else
inline constexpr int kDeadlineScale = 1;
#endif
constexpr int Deadline(int ms) {
    return ms * kDeadlineScale;
}
// A bound on a process's resident memory grows by this factor in a sanitizer build: ThreadSanitizer
// keeps shadow memory and access history beside every byte the program touches, AddressSanitizer pads
// every block and holds up to 256 MB of freed blocks back to catch late uses.
#if defined(__SANITIZE_THREAD__)
inline constexpr long kResidentScale = 4;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr long kResidentScale = 5;
#else
inline constexpr long kResidentScale = 1;
#endif

// Runs the event loop until done() is true or timeoutMs passed; returns done().
bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 15000);
// Runs the event loop for the given time.
void ProcessEventsFor(int ms);

// A message window for tests: keeps every log record posted to it, in arrival order.
class TLogCollector : public QObject {
public:
    std::vector<TAMLog> Entries;
    TMessageWindow Window() { return this; }
    std::vector<uint8_t> Messages() const;

protected:
    bool event(QEvent* event) override;
};

// A port that was free a moment ago (bound to port 0 and released).
int FreePort();
// A socket listening on 127.0.0.1:port, closed with the object.
class TPortHolder {
public:
    explicit TPortHolder(int port);
    ~TPortHolder();
    TPortHolder(const TPortHolder&) = delete;
    TPortHolder& operator=(const TPortHolder&) = delete;
    bool Listening() const { return FListening; }

private:
    int FFd = -1;
    bool FListening = false;
};
// True when a TCP connection to 127.0.0.1:port is accepted.
bool CanConnect(int port);

// Open descriptors of this process.
int OpenDescriptorCount();

} // namespace sw::test
