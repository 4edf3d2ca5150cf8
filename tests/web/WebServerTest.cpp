#include "log/CommaText.h"
#include "log/LogTypes.h"

#include "WebTestSupport.h"

#include <gtest/gtest.h>

namespace sw::test {
namespace {

using TNames = std::vector<std::string>;

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteHomeFile(S.Home, "index.htm", "<html>hello</html>");
        WriteHomeFile(S.Home, "empty.htm", "");
        WriteHomeFile(S.Home, "data.unknownext", "raw");
        WriteHomeFile(S.Home, "k.zzz", std::string(1000, 'k'));
    }
    std::string Get(const std::string& uri, const std::string& extra = {}) {
        return "GET " + uri + " HTTP/1.1\r\nHost: test\r\nUser-Agent: test-agent/1.0\r\n" + extra + "\r\n";
    }
    TServerFixture S;
};

TEST_F(WebServerTest, KeepAliveRequestIsServedAndTheConnectionStaysOpen) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(Get("/index.htm", "Connection: Keep-Alive\r\n")));
    THttpResponse first = client.Read();
    ASSERT_TRUE(first.Ok);
    EXPECT_EQ(first.StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(first.Names(), (TNames{"Connection", "Date", "Content-Length", "Content-Type"}));
    EXPECT_EQ(first.Get("Connection"), "Keep-Alive");
    EXPECT_EQ(first.Get("Content-Length"), "18");
    EXPECT_EQ(first.Get("Content-Type"), "text/html");
    EXPECT_EQ(first.Body, "<html>hello</html>");
    EXPECT_EQ(first.Get("Date").size(), 29u);
    EXPECT_EQ(first.Get("Date").substr(25), " GMT");

    ASSERT_TRUE(client.Send(Get("/index.htm", "connection: keep-alive\r\n")));
    THttpResponse second = client.Read();
    EXPECT_TRUE(second.Ok);
    EXPECT_EQ(second.Body, first.Body);
}

TEST_F(WebServerTest, WithoutKeepAliveTheConnectionClosesAfterTheResponse) {
    for (const char* extra : {"", "Connection: close\r\n", "Connection: keep-alive, Upgrade\r\n"}) {
        TClient client(S.Port());
        ASSERT_TRUE(client.Send(Get("/index.htm", extra)));
        THttpResponse response = client.Read();
        ASSERT_TRUE(response.Ok) << extra;
        EXPECT_EQ(response.Names(), (TNames{"Date", "Content-Length", "Content-Type"})) << extra;
        EXPECT_EQ(response.Body, "<html>hello</html>");
        std::string rest;
        EXPECT_TRUE(client.WaitClosed(3000, &rest)) << extra;
        EXPECT_EQ(rest, "");
    }
}

TEST_F(WebServerTest, NotFoundAndDirectoriesAre404WithAnEmptyBody) {
    TClient client(S.Port());
    for (const char* uri : {"/", "/missing.htm", "http://somehost", "/index.htm?x=1", "/%69ndex.htm"}) {
        ASSERT_TRUE(client.Send(Get(uri, "Connection: Keep-Alive\r\n")));
        THttpResponse response = client.Read();
        ASSERT_TRUE(response.Ok) << uri;
        EXPECT_EQ(response.StatusLine, "HTTP/1.1 404 Not Found") << uri;
        EXPECT_EQ(response.Names(), (TNames{"Connection", "Date", "Content-Length"})) << uri;
        EXPECT_EQ(response.Get("Content-Length"), "0");
    }
}

TEST_F(WebServerTest, AbsoluteUriServesTheSameFile) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(Get("http://example.org/index.htm", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(client.Read().Body, "<html>hello</html>");
    ASSERT_TRUE(client.Send(Get("HTTP://example.org:81/index.htm", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(client.Read().Status, 200);
}

TEST_F(WebServerTest, EmptyFileIs204WithoutLengthOrType) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(Get("/empty.htm", "Connection: Keep-Alive\r\n")));
    THttpResponse response = client.Read();
    ASSERT_TRUE(response.Ok);
    EXPECT_EQ(response.StatusLine, "HTTP/1.1 204 No Content");
    EXPECT_EQ(response.Names(), (TNames{"Connection", "Date"}));
    // Nothing may follow the header block: the next response must parse from the first byte.
    ASSERT_TRUE(client.Send(Get("/index.htm", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(client.Read().Status, 200);
}

TEST_F(WebServerTest, HeadGivesTheLengthWithoutTheBody) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send("HEAD /k.zzz HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"));
    THttpResponse head = client.Read(true);
    ASSERT_TRUE(head.Ok);
    EXPECT_EQ(head.Status, 200);
    EXPECT_EQ(head.Get("Content-Length"), "1000");
    EXPECT_FALSE(head.Has("Content-Type")) << ".zzz is not a type this machine knows";
    ASSERT_TRUE(client.Send(Get("/index.htm")));
    THttpResponse next = client.Read();
    EXPECT_EQ(next.Body, "<html>hello</html>") << "the HEAD response carried body bytes";
}

TEST_F(WebServerTest, PutIsAnsweredLikeGet) {
    auto strip = [](THttpResponse r) {
        r.Headers.erase(r.Headers.begin() + 1); // Date
        return std::make_tuple(r.StatusLine, r.Headers, r.Body);
    };
    for (const char* uri : {"/index.htm", "/missing", "/empty.htm"}) {
        TClient a(S.Port());
        TClient b(S.Port());
        ASSERT_TRUE(a.Send(std::string("GET ") + uri + " HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"));
        ASSERT_TRUE(b.Send(std::string("PUT ") + uri + " HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"));
        EXPECT_EQ(strip(a.Read()), strip(b.Read())) << uri;
    }
}

TEST_F(WebServerTest, PostIs400WithTheErrorPageAndCloses) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send("POST /form HTTP/1.1\r\nConnection: Keep-Alive\r\nContent-Length: 3\r\n\r\nabc"));
    THttpResponse response = client.Read();
    ASSERT_TRUE(response.Ok);
    EXPECT_EQ(response.StatusLine, "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(response.Names(), (TNames{"Date", "Content-Length", "Content-Type"}));
    EXPECT_EQ(response.Get("Content-Type"), "text/html");
    EXPECT_EQ(response.Body, "<html>\r\n<head>\r\n<title>Error 400</title>\r\n</head>\r\n<body>\r\n"
                             "<h2>HTTP Error 400</h2>\r\n<p><strong>400 Bad Request</strong></p>\r\n"
                             "</body>\r\n</html>");
    EXPECT_TRUE(client.WaitClosed());
}

TEST_F(WebServerTest, UnknownMethodOrMalformedLineIs405) {
    for (const char* line : {"FOO / HTTP/1.1", "GET /", "DELETE /index.htm HTTP/1.1"}) {
        TClient client(S.Port());
        ASSERT_TRUE(client.Send(std::string(line) + "\r\nConnection: Keep-Alive\r\n\r\n"));
        THttpResponse response = client.Read();
        ASSERT_TRUE(response.Ok) << line;
        EXPECT_EQ(response.StatusLine, "HTTP/1.1 405 Method Not Allowed");
        EXPECT_NE(response.Body.find("<p><strong>405 Method Not Allowed</strong></p>"), std::string::npos);
        EXPECT_TRUE(client.WaitClosed()) << line;
    }
}

TEST_F(WebServerTest, UnknownExtensionGoesWithoutContentType) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(Get("/data.unknownext")));
    THttpResponse response = client.Read();
    EXPECT_EQ(response.Status, 200);
    EXPECT_EQ(response.Body, "raw");
    EXPECT_FALSE(response.Has("Content-Type"));
}

TEST_F(WebServerTest, EachRequestPostsOneInformationEntry) {
    TClient client(S.Port());
    ASSERT_TRUE(
        client.Send("GET /index.htm HTTP/1.1\r\nConnection: Keep-Alive\r\nUser-Agent: A \"Q\", v2\r\n\r\n"));
    ASSERT_TRUE(client.Read().Ok);
    ASSERT_TRUE(client.Send("HEAD /missing HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n"));
    ASSERT_TRUE(client.Read(true).Ok);
    ASSERT_TRUE(client.Send("POST / HTTP/1.1\r\nUser-Agent: not parsed after a rejected line\r\n\r\n"));
    ASSERT_TRUE(client.Read().Ok);
    TClient other(S.Port());
    ASSERT_TRUE(other.Send("BREW /pot HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(other.Read().Ok);

    ASSERT_TRUE(WaitForEntries(S.Log, 4, 5000));
    WaitForEntries(S.Log, 5, 200);
    ASSERT_EQ(S.Log.Entries.size(), 4u);
    struct TExpected {
        uint8_t Message;
        const char* Detail;
        TNames Values;
    } expected[] = {
        {lmWebGet, "/index.htm", {"Status code: 200", "Remote Address: 127.0.0.1", "Agent: A \"Q\", v2"}},
        {lmWebHead, "/missing", {"Status code: 404", "Remote Address: 127.0.0.1", "Agent: "}},
        {lmWebPost, "", {"Status code: 400", "Remote Address: 127.0.0.1", "Agent: "}},
        {lmWebUnknown, "", {"Status code: 405", "Remote Address: 127.0.0.1", "Agent: "}},
    };
    for (size_t i = 0; i < 4; ++i) {
        const TAMLog& entry = S.Log.Entries[i];
        EXPECT_EQ(entry.Level, llInformation) << i;
        EXPECT_EQ(entry.Message, expected[i].Message) << i;
        EXPECT_EQ(entry.Detail, expected[i].Detail) << i;
        EXPECT_EQ(FromCommaText(entry.Values), expected[i].Values) << i;
        EXPECT_GT(entry.Time, 40000.0) << "stamped with the local time";
    }
}

TEST_F(WebServerTest, InvalidGetIsLoggedWithoutItsUri) {
    TClient client(S.Port());
    ASSERT_TRUE(client.Send("GET /index.htm HTTP/1.1\r\nContent-Length : 5\r\n\r\nhello"));
    THttpResponse response = client.Read();
    EXPECT_EQ(response.Status, 400);
    EXPECT_TRUE(client.WaitClosed()) << "an invalid request closes the connection";
    ASSERT_TRUE(WaitForEntries(S.Log, 1, 5000));
    EXPECT_EQ(S.Log.Entries[0].Message, lmWebGet);
    EXPECT_EQ(S.Log.Entries[0].Detail, "");
}

// With no "Path" the home directory is the executable's folder, where the settings and the log lie.
TEST_F(WebServerTest, TheProgramsOwnFilesAreNeverServed) {
    TConfiguration own(S.Home.File("streamwright.ini"));
    own.Reload();
    own.Web().SetPath(S.Home.Path());
    SetConfiguration(&own);
    WriteHomeFile(S.Home, "streamwright.ini", "[Blocked]\r\n10.0.0.1=1\r\n");
    WriteHomeFile(S.Home, "streamwright.log", "100,1,x,42,10.0.0.7,\r\n");
    WriteHomeFile(S.Home, "streamwright.ini.Ab3xZ9", "half");
    WriteHomeFile(S.Home, "streamwright.log.q1W2e3", "half");
    WriteHomeFile(S.Home, "index.htm.Zz9Yy8", "half");
    WriteHomeFile(S.Home, "index.20261208.140509.htm", "old page");
    ASSERT_EQ(::link(S.Home.File("streamwright.ini").c_str(), S.Home.File("copy.txt").c_str()), 0);
    ASSERT_EQ(::symlink("streamwright.log", S.Home.File("log.txt").c_str()), 0);
    WriteHomeFile(S.Home, "streamwright.ini.bak", "an ordinary file");
    WriteHomeFile(S.Home, "index.2026.htm", "an ordinary file");

    TClient client(S.Port());
    for (const char* uri : {"/streamwright.ini", "/streamwright.log", "/streamwright.ini.Ab3xZ9",
                            "/streamwright.log.q1W2e3", "/index.htm.Zz9Yy8", "/index.20261208.140509.htm",
                            "/copy.txt", "/log.txt", "http://host/streamwright.ini", "//streamwright.log"}) {
        ASSERT_TRUE(client.Send(Get(uri, "Connection: Keep-Alive\r\n")));
        THttpResponse response = client.Read();
        EXPECT_EQ(response.Status, 404) << uri;
        EXPECT_EQ(response.Body, "") << uri;
    }
    for (const char* uri : {"/index.htm", "/streamwright.ini.bak", "/index.2026.htm"}) {
        ASSERT_TRUE(client.Send(Get(uri, "Connection: Keep-Alive\r\n")));
        EXPECT_EQ(client.Read().Status, 200) << uri;
    }
    SetConfiguration(nullptr);
}

TEST_F(WebServerTest, LargeFileArrivesByteForByte) {
    std::string content(5 * 1024 * 1024 + 123, '\0');
    uint32_t x = 12345;
    for (char& c : content) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    WriteHomeFile(S.Home, "big.bin", content);
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(Get("/big.bin", "Connection: Keep-Alive\r\n")));
    THttpResponse response = client.Read(false, 20000);
    ASSERT_TRUE(response.Ok);
    EXPECT_EQ(response.Get("Content-Length"), std::to_string(content.size()));
    EXPECT_TRUE(response.Body == content);
}

TEST_F(WebServerTest, HomeDirectoryIsReadAfreshForEveryRequest) {
    TTempDir other;
    WriteHomeFile(other, "index.htm", "other home");
    TClient client(S.Port());
    ASSERT_TRUE(client.Send(Get("/index.htm", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(client.Read().Body, "<html>hello</html>");
    Configuration().Web().SetPath(other.Path());
    ASSERT_TRUE(client.Send(Get("/index.htm", "Connection: Keep-Alive\r\n")));
    EXPECT_EQ(client.Read().Body, "other home");
}

TEST_F(WebServerTest, CloseEndsEveryConnectionAndJoinsItsThread) {
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<TClient>(S.Port()));
        ASSERT_TRUE(clients.back()->Send(Get("/index.htm", "Connection: Keep-Alive\r\n")));
        ASSERT_TRUE(clients.back()->Read().Ok);
    }
    EXPECT_EQ(S.Connections(), 5);
    auto started = std::chrono::steady_clock::now();
    S.Server->Close();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_FALSE(S.Server->Active());
    EXPECT_EQ(S.Connections(), 0);
    for (auto& client : clients) {
        EXPECT_TRUE(client->WaitClosed(1000));
    }
    EXPECT_FALSE(TClient(S.Port()).Connected());
    S.Server->Open();
    EXPECT_TRUE(S.Server->Active()) << "the server opens again after Close";
}

} // namespace
} // namespace sw::test
