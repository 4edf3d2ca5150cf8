#include "common/TestSupport.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sw::test {

TTempDir::TTempDir() {
    std::string pattern = "/tmp/sw-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    FPath = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(FPath, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReplayCorpus(const std::string& folder, size_t minimumFiles,
                         const std::function<std::string(const uint8_t*, size_t)>& check) {
    std::string problems;
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string bytes = ReadFile(entry.path().string());
        const std::string problem = check(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        if (!problem.empty()) {
            problems += entry.path().filename().string() + ": " + problem + "\n";
        }
        ++files;
    }
    if (files < minimumFiles) {
        problems += folder + " holds " + std::to_string(files) + " files, fewer than " +
                    std::to_string(minimumFiles) + "\n";
    }
    return problems;
}

bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
    return true;
}

void ProcessEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
}

std::vector<uint8_t> TLogCollector::Messages() const {
    std::vector<uint8_t> messages;
    for (const TAMLog& entry : Entries) {
        messages.push_back(entry.Message);
    }
    return messages;
}

bool TLogCollector::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(WM_LOGENTRY)) {
        auto* logEvent = static_cast<TLogEntryEvent*>(event);
        if (const TAMLog* record = logEvent->Record()) {
            Entries.push_back(*record);
        }
        return true;
    }
    return QObject::event(event);
}

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

} // namespace

int FreePort() {
    // Below the kernel's ephemeral range, so a port handed out by bind(0) elsewhere (parallel tests,
    // client sockets) is not chosen here a moment later; random, so parallel callers rarely meet.
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> range(20000, 32000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        int port = range(random);
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = Loopback(port);
        bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if (free && !CanConnect(port)) {
            return port;
        }
    }
    throw std::runtime_error("no free port found");
}

TPortHolder::TPortHolder(int port) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(port);
    FListening = ::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(FFd, 1) == 0;
}

TPortHolder::~TPortHolder() {
    ::close(FFd);
}

bool CanConnect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (struct dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        ::closedir(dir);
    }
    return count - 1; // the directory stream itself
}

} // namespace sw::test
