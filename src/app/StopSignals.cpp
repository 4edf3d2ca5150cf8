#include "app/StopSignals.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace sw {

namespace {

std::atomic<int> gSignalWrite{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

extern "C" void HandleStopSignal(int signal) {
    const int fd = gSignalWrite.load();
    if (fd >= 0) {
        unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
}

} // namespace

TStopSignals::TStopSignals() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    FRead = TUniqueFd(fds[0]);
    FWrite = TUniqueFd(fds[1]);
    gSignalWrite.store(FWrite.Get());
    FNotifier = std::make_unique<QSocketNotifier>(static_cast<qintptr>(FRead.Get()), QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte;
        while (::read(FRead.Get(), &byte, 1) == 1) {
        }
        Q_EMIT Received();
    });
    struct sigaction action {};
    action.sa_handler = HandleStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

TStopSignals::~TStopSignals() {
    if (!FNotifier) {
        return;
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    gSignalWrite.store(-1);
}

} // namespace sw
