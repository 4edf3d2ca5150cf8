// A web server in a process of its own for tests that must limit the process (descriptors):
// serves argv[1] on 127.0.0.1, prints the port, runs until standard input closes.
#include "config/Configuration.h"
#include "web/WebServer.h"

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
    sw::TWebServer server([&limits](sw::TUniqueFd socket, const std::string& address) {
        return sw::CreateWebServerThread(std::move(socket), address, nullptr, limits);
    });
    server.SetPort(0);
    server.SetBindAddress("127.0.0.1");
    std::string error;
    if (!server.Open(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
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
