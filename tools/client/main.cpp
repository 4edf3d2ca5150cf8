#include "client/ViewerClient.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gStopWrite = -1;

extern "C" void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gStopWrite, &byte, 1);
}

} // namespace

int main(int argc, char** argv) {
    using namespace sw::client;
    std::string error;
    bool help = false;
    std::optional<TClientOptions> options = ParseClientOptions(argc, argv, error, help);
    if (help) {
        std::fputs(kClientUsage, stdout);
        return ecOk;
    }
    if (!options) {
        std::fprintf(stderr, "streamwright-client: %s\nTry 'streamwright-client --help'.\n", error.c_str());
        return ecUsage;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("streamwright-client: pipe");
        return ecConnection;
    }
    gStopWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    TViewerClient client(std::move(*options));
    const int result = client.Run(fds[0], stdout, stderr);
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
}
