// A web server in a process of its own for tests that must limit the process (descriptors):
// serves argv[1] on 127.0.0.1, prints the port, runs until standard input closes.
#include "config/Configuration.h"
#include "platform/net/ThreadedServer.h"
#include "web/WebServerThread.h"

#include <exception>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: web_test_server HOME INI\n");
        return 2;
    }
    sw::TConfiguration configuration(argv[2]);
    configuration.Reload();
    configuration.Web().SetPath(argv[1]);
    sw::SetConfiguration(&configuration);
    sw::TWebConnectionLimits limits;
    limits.IdleTimeoutMs = 3000;
    sw::TThreadedServer server;
    server.Port = 0;
    server.BindAddress = "127.0.0.1";
    server.OnGetThread = [&limits](sw::TUniqueFd socket, const std::string& address) {
        return sw::CreateWebServerThread(std::move(socket), address, nullptr, limits);
    };
    try {
        server.Open();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%d\n", server.LocalPort());
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    server.Close();
    sw::SetConfiguration(nullptr);
    return 0;
}
