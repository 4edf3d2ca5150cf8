#include "WebTestSupport.h"

#include <QCoreApplication>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sw::test {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

bool ClosedNow(int fd) {
    pollfd item{fd, POLLIN, 0};
    if (::poll(&item, 1, 0) <= 0) {
        return false;
    }
    char c;
    return ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
}

std::string KeepAliveGet(const std::string& uri) {
    return "GET " + uri + " HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n";
}

class WebHostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteHomeFile(S.Home, "index.htm", "<p>home</p>");
        WriteHomeFile(Outside, "secret.txt", "TOPSECRET");
        ASSERT_EQ(::symlink(Outside.File("secret.txt").c_str(), S.Home.File("link-out").c_str()), 0);
        ASSERT_EQ(::symlink(Outside.Path().c_str(), S.Home.File("dir-out").c_str()), 0);
    }
    TServerFixture S;
    TTempDir Outside;
};

TEST_F(WebHostileTest, NothingOutsideTheHomeDirectoryIsServed) {
    std::string name = Outside.Path().substr(Outside.Path().rfind('/') + 1);
    const std::string uris[] = {
        "/../" + name + "/secret.txt",
        "/%2e%2e/" + name + "/secret.txt",
        "/..%2f" + name + "%2fsecret.txt",
        "/./../" + name + "/secret.txt",
        "http://host/../" + name + "/secret.txt",
        "/..\\" + name + "\\secret.txt",
        "/" + Outside.File("secret.txt"),
        Outside.File("secret.txt").substr(1),
        "/link-out",
        "/dir-out/secret.txt",
        "/dir-out/../" + name + "/secret.txt",
    };
    TClient client(S.Port());
    for (const std::string& uri : uris) {
        ASSERT_TRUE(client.Send(KeepAliveGet(uri)));
        THttpResponse response = client.Read();
        ASSERT_TRUE(response.Ok) << uri;
        EXPECT_EQ(response.Status, 404) << uri;
        EXPECT_EQ(response.Body, "") << uri;
    }
}

TEST_F(WebHostileTest, OversizeRequestsAreAnsweredAndClosed) {
    struct TCase {
        std::string Bytes;
        int Status;
    } cases[] = {
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414},
        {"GET /" + std::string(20000, 'a'), 414},
        {"GET / HTTP/1.1\r\nCookie: " + std::string(17000, 'c') + "\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\n" +
             [] {
                 std::string lines;
                 for (int i = 0; i < 101; ++i) {
                     lines += "Accept: x\r\n";
                 }
                 return lines;
             }() +
             "\r\n",
         400},
        {"PUT /index.htm HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n", 413},
        {"PUT /index.htm HTTP/1.1\r\nContent-Length: 2000000\r\n\r\n" + std::string(1500000, 'b'), 413},
    };
    for (const TCase& c : cases) {
        TClient client(S.Port());
        ASSERT_TRUE(client.Send(c.Bytes));
        THttpResponse response = client.Read();
        ASSERT_TRUE(response.Ok) << c.Status;
        EXPECT_EQ(response.Status, c.Status);
        EXPECT_EQ(response.Get("Content-Type"), "text/html");
        EXPECT_TRUE(client.WaitClosed(3000)) << c.Status;
    }
}

TEST_F(WebHostileTest, SlowHeaderSenderIsClosedWhileOthersAreServed) {
    TClient slow(S.Port());
    ASSERT_TRUE(slow.Send("GET /index.htm HTTP/1.1\r\nX-Slow: "));
    auto firstByte = TClock::now();

    TClient normal(S.Port());
    ASSERT_TRUE(normal.Send(KeepAliveGet("/index.htm")));
    THttpResponse response = normal.Read(false, 10000);
    EXPECT_TRUE(response.Ok) << "served while the slow sender holds its own thread";

    bool closed = false;
    while (!closed && TClock::now() - firstByte < 20s) {
        closed = !slow.Send("a") || ClosedNow(slow.Fd());
        std::this_thread::sleep_for(100ms);
    }
    auto lasted = TClock::now() - firstByte;
    EXPECT_TRUE(closed);
    EXPECT_GE(lasted, 1800ms) << "closed before the header timeout (2 s)";
    EXPECT_LT(lasted, 15s) << "the slow sender is cut off, not left to the end of the wait";

    TClient lineFeeds(S.Port());
    ASSERT_TRUE(lineFeeds.Send("GET /index.htm HTTP/1.1\nHost: x\n\n"));
    EXPECT_TRUE(lineFeeds.WaitClosed(4000)) << "a request that never ends a line waits forever otherwise";
}

// A body sent a byte at a time, each within the idle timeout, used to hold its thread for good.
TEST_F(WebHostileTest, TricklingBodyIsCutOffByTheRequestDeadline) {
    TClient slow(S.Port());
    ASSERT_TRUE(slow.Send("PUT /index.htm HTTP/1.1\r\nContent-Length: 1000\r\n\r\n"));
    auto firstByte = TClock::now();
    bool closed = false;
    while (!closed && TClock::now() - firstByte < 30s) {
        closed = !slow.Send("b") || ClosedNow(slow.Fd());
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(closed);
    EXPECT_GE(TClock::now() - firstByte, 2800ms) << "closed before the request deadline (3 s)";
    EXPECT_TRUE(S.WaitIdle(10000));
}

TEST_F(WebHostileTest, IdleConnectionsAreClosedAfterTheIdleTimeout) {
    TClient silent(S.Port());
    TClient kept(S.Port());
    ASSERT_TRUE(kept.Send(KeepAliveGet("/index.htm")));
    ASSERT_TRUE(kept.Read().Ok);
    auto started = TClock::now();
    EXPECT_TRUE(kept.WaitClosed(5000));
    EXPECT_TRUE(silent.WaitClosed(1000));
    EXPECT_GE(TClock::now() - started, 2500ms);
    EXPECT_TRUE(S.WaitIdle(1000));
}

TEST(WebLimitsTest, ThreadsAreBoundedInTotalAndPerAddress) {
    TWebConnectionLimits fast = TServerFixture::FastLimits();
    // Every connection must still be open when the last thread starts, which takes seconds under
    // ThreadSanitizer.
    fast.IdleTimeoutMs = Deadline(2500);
    TServerFixture s(fast);
    ASSERT_EQ(s.Server->MaxThreads, 256u);
    ASSERT_EQ(s.Server->MaxThreadsPerAddress, 32u);
    WriteHomeFile(s.Home, "index.htm", "x");
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 300; ++i) {
        clients.push_back(std::make_unique<TClient>(s.Port(), "127.0.0." + std::to_string(2 + i / 30)));
        ASSERT_TRUE(clients.back()->Connected()) << i;
    }
    auto countClosed = [&clients] {
        int closed = 0;
        for (auto& client : clients) {
            closed += ClosedNow(client->Fd()) ? 1 : 0;
        }
        return closed;
    };
    // A thread per connection: under ThreadSanitizer each start costs tens of milliseconds.
    auto deadline = TClock::now() + std::chrono::milliseconds(Deadline(5000));
    while ((s.Connections() < 256 || countClosed() < 44) && TClock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(s.Connections(), 256);
    EXPECT_EQ(countClosed(), 44);
    EXPECT_TRUE(ClosedNow(clients[256]->Fd())) << "the 257th connection is closed at once";
    EXPECT_FALSE(ClosedNow(clients[255]->Fd()));

    EXPECT_TRUE(s.WaitIdle(Deadline(6000))) << "every thread ends after the idle timeout";
    clients.clear();

    std::vector<std::unique_ptr<TClient>> same;
    for (int i = 0; i < 40; ++i) {
        same.push_back(std::make_unique<TClient>(s.Port(), "127.0.0.77"));
    }
    deadline = TClock::now() + std::chrono::milliseconds(Deadline(5000));
    while (s.Connections() < 32 && TClock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(s.Connections(), 32);
    TClient elsewhere(s.Port(), "127.0.0.78");
    ASSERT_TRUE(elsewhere.Send(KeepAliveGet("/index.htm")));
    EXPECT_EQ(elsewhere.Read().Status, 200) << "another address is still served";
}

TEST(WebLimitsTest, AConnectionWhoseThreadFailsIsClosedAndAcceptingGoesOn) {
    TTempDir home;
    WriteHomeFile(home, "index.htm", "ok");
    TTestConfiguration config(home.Path());
    std::atomic<int> calls{0};
    TThreadedServer server;
    server.Port = 0;
    server.BindAddress = "127.0.0.1";
    server.OnGetThread = [&calls](TUniqueFd socket,
                                  const std::string& address) -> std::unique_ptr<TServerThread> {
        if (calls++ % 2 == 0) {
            return nullptr;
        }
        return CreateWebServerThread(std::move(socket), address, nullptr);
    };
    server.Open();
    TClient refused(server.LocalPort());
    EXPECT_TRUE(refused.WaitClosed(2000));
    TClient served(server.LocalPort());
    ASSERT_TRUE(served.Send(KeepAliveGet("/index.htm")));
    EXPECT_EQ(served.Read().Body, "ok");
    EXPECT_EQ(calls.load(), 2);
}

TEST_F(WebHostileTest, PipelinedRequestsAreAnsweredInOrder) {
    WriteHomeFile(S.Home, "b.txt", "second file");
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(KeepAliveGet("/index.htm") +
                            "HEAD /b.txt HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n" +
                            "GET /b.txt HTTP/1.1\r\n\r\n"));
    THttpResponse first = client.Read();
    THttpResponse second = client.Read(true);
    THttpResponse third = client.Read();
    EXPECT_EQ(first.Body, "<p>home</p>");
    EXPECT_EQ(second.Status, 200);
    EXPECT_EQ(second.Get("Content-Length"), "11");
    EXPECT_EQ(third.Body, "second file");
    EXPECT_FALSE(third.Has("Connection"));
    EXPECT_TRUE(client.WaitClosed());
    ASSERT_TRUE(WaitForEntries(S.Log, 3, 3000));
    EXPECT_EQ(S.Log.Entries[0].Detail, "/index.htm");
    EXPECT_EQ(S.Log.Entries[1].Message, lmWebHead);
    EXPECT_EQ(S.Log.Entries[2].Message, lmWebGet);
}

TEST_F(WebHostileTest, BodyIsDroppedAndTheNextRequestIsServed) {
    TClient together(S.Port());
    ASSERT_TRUE(
        together.Send("PUT /index.htm HTTP/1.1\r\nConnection: Keep-Alive\r\nContent-Length: 25\r\n\r\n"
                      "GET /nothing HTTP/1.1\r\n\r\n" +
                      KeepAliveGet("/index.htm")));
    THttpResponse put = together.Read();
    THttpResponse get = together.Read();
    EXPECT_EQ(put.Body, "<p>home</p>");
    EXPECT_EQ(get.Status, 200) << "the body looked like a request and must not have been parsed as one";
    EXPECT_EQ(get.Body, "<p>home</p>");

    TClient split(S.Port());
    ASSERT_TRUE(
        split.Send("PUT /index.htm HTTP/1.1\r\nConnection: Keep-Alive\r\nContent-Length: 10\r\n\r\n01234"));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(split.Send("56789" + KeepAliveGet("/index.htm")));
    EXPECT_EQ(split.Read().Status, 200);
    EXPECT_EQ(split.Read().Body, "<p>home</p>");
}

TEST_F(WebHostileTest, FramingAttacks) {
    TClient chunked(S.Port());
    ASSERT_TRUE(
        chunked.Send("GET /index.htm HTTP/1.1\r\nConnection: Keep-Alive\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "1a\r\nGET /dir-out/secret.txt HTTP/1.1\r\n\r\n0\r\n\r\n"));
    THttpResponse answered = chunked.Read();
    EXPECT_EQ(answered.Status, 200);
    EXPECT_FALSE(answered.Has("Connection"));
    std::string rest;
    EXPECT_TRUE(chunked.WaitClosed(3000, &rest));
    EXPECT_EQ(rest, "") << "the chunked body was answered as a request";

    for (const std::string& bytes :
         {std::string("PUT / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 0\r\n\r\nhello"),
          std::string("PUT / HTTP/1.1\r\nContent-Length: 5x\r\n\r\nhello"),
          std::string("GET /ind\0ex.htm HTTP/1.1\r\n\r\n", 28),
          std::string("GET / HTTP/1.1\r\nHost: a\rGET /x HTTP/1.1\r\n\r\n")}) {
        TClient client(S.Port());
        ASSERT_TRUE(client.Send(bytes));
        THttpResponse response = client.Read();
        EXPECT_EQ(response.Status, 400);
        EXPECT_TRUE(client.WaitClosed(3000));
    }
    ASSERT_TRUE(WaitForEntries(S.Log, 5, 3000));
    WaitForEntries(S.Log, 6, 200);
    EXPECT_EQ(S.Log.Entries.size(), 5u);
}

TEST_F(WebHostileTest, PeerResettingMidResponseLeaksNothing) {
    WriteHomeFile(S.Home, "big.bin", std::string(16 * 1024 * 1024, 'z'));
    // A finished connection's descriptors close when the server reaps its thread, a moment after the
    // thread count drops; so the counts are waited for, never sampled right away.
    auto descriptorsSettleAt = [](int expected) {
        auto deadline = TClock::now() + 20s;
        while (OpenDescriptorCount() > expected && TClock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        return OpenDescriptorCount();
    };
    const int initial = OpenDescriptorCount();
    // Warm the process-wide tables so their one-time descriptors do not count.
    {
        TClient warm(S.Port());
        ASSERT_TRUE(warm.Send(KeepAliveGet("/index.htm")));
        ASSERT_TRUE(warm.Read().Ok);
    }
    ASSERT_TRUE(S.WaitIdle(5000));
    const int before = descriptorsSettleAt(initial);
    for (int i = 0; i < 5; ++i) {
        TClient client(S.Port());
        int small = 4096;
        ::setsockopt(client.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        ASSERT_TRUE(client.Send(KeepAliveGet("/big.bin")));
        char buffer[4096];
        size_t got = 0;
        while (got < 100000) {
            ssize_t n = ::recv(client.Fd(), buffer, sizeof buffer, 0);
            ASSERT_GT(n, 0);
            got += static_cast<size_t>(n);
        }
        linger reset{1, 0};
        ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        client.Close();
    }
    EXPECT_TRUE(S.WaitIdle(5000));
    EXPECT_EQ(descriptorsSettleAt(before), before);
    TClient after(S.Port());
    ASSERT_TRUE(after.Send(KeepAliveGet("/index.htm")));
    EXPECT_EQ(after.Read().Status, 200);
}

// The server in a process of its own under "prlimit --nofile=64", so exhausting its descriptors does
// not touch the test's.
class TLimitedServer {
public:
    TLimitedServer(const std::string& home, const std::string& ini) {
        int toParent[2];
        int toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) {
            return;
        }
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(toParent[1], 1);
            ::close(toChild[1]);
            ::close(toParent[0]);
            ::execlp("prlimit", "prlimit", "--nofile=64:64", SW_WEB_TEST_SERVER, home.c_str(), ini.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(toParent[1]);
        FStdin.Reset(toChild[1]);
        TUniqueFd out(toParent[0]);
        std::string line;
        char c;
        while (::read(out.Get(), &c, 1) == 1 && c != '\n') {
            line += c;
        }
        FPort = std::atoi(line.c_str());
    }
    ~TLimitedServer() {
        FStdin.Reset();
        if (FPid > 0) {
            int status = 0;
            for (int i = 0; i < 100 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i) {
                std::this_thread::sleep_for(50ms);
            }
            if (::waitpid(FPid, &status, WNOHANG) == 0) {
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, &status, 0);
            }
        }
    }
    int Port() const { return FPort; }
    // User plus system time of the server process, in clock ticks.
    long CpuTicks() const {
        std::ifstream stat("/proc/" + std::to_string(FPid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t pos = text.rfind(')');
        std::istringstream fields(text.substr(pos + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14 || i == 15) {
                ticks += std::atol(field.c_str());
            }
        }
        return ticks;
    }

private:
    pid_t FPid = -1;
    TUniqueFd FStdin;
    int FPort = 0;
};

TEST(WebExhaustionTest, OutOfDescriptorsTheServerWaitsWithoutSpinningAndRecovers) {
    TTempDir home;
    WriteHomeFile(home, "index.htm", "still here");
    TTempDir iniDir;
    TLimitedServer server(home.Path(), iniDir.File("limited.ini"));
    ASSERT_GT(server.Port(), 0);
    // Serve once first, as a running server has. This also matters under UBSan: its vptr check probes
    // memory through a pipe, which fails without descriptors and turns every first check of a type
    // into a false report; checks already made are cached.
    {
        TClient first(server.Port());
        ASSERT_TRUE(first.Send("GET /index.htm HTTP/1.1\r\n\r\n"));
        ASSERT_EQ(first.Read().Body, "still here");
        EXPECT_TRUE(first.WaitClosed());
        std::this_thread::sleep_for(1200ms);
    }

    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.push_back(std::make_unique<TClient>(server.Port(), "127.0.0." + std::to_string(10 + i / 20)));
        if (clients.back()->Connected()) {
            clients.back()->Send(KeepAliveGet("/index.htm"));
        }
    }
    std::this_thread::sleep_for(300ms);
    long before = server.CpuTicks();
    std::this_thread::sleep_for(1500ms);
    long used = server.CpuTicks() - before;
    long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    EXPECT_LT(used, ticksPerSecond * 3 / 10) << "the server spins while out of descriptors";
    int answered = 0;
    for (auto& client : clients) {
        answered += client->Connected() && client->Read(false, 20).Status == 200 ? 1 : 0;
    }
    EXPECT_LT(answered, 100) << "the descriptors never ran out, so this test proves nothing";

    clients.clear();
    bool served = false;
    auto deadline = TClock::now() + 10s;
    while (!served && TClock::now() < deadline) {
        TClient client(server.Port());
        if (client.Send(KeepAliveGet("/index.htm"))) {
            served = client.Read(false, 2000).Body == "still here";
        }
        if (!served) {
            std::this_thread::sleep_for(200ms);
        }
    }
    EXPECT_TRUE(served);
}

} // namespace
} // namespace sw::test
