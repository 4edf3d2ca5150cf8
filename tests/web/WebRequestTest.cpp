#include "web/WebRequest.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

using S = RequestParseState;

TWebRequest Parse(const std::string& text) {
    TWebRequest request;
    request.AddData(text);
    return request;
}

TEST(WebRequestTest, CompleteRequestWholeOrOneCharacterAtATime) {
    const std::string text = "GET /a.htm HTTP/1.1\r\nConnection: keep-alive\r\n\r\n";
    TWebRequest whole = Parse(text);
    TWebRequest pieces;
    for (char c : text) {
        pieces.AddData(std::string(1, c));
    }
    for (const TWebRequest* request : {&whole, &pieces}) {
        EXPECT_EQ(request->State, S::Complete);
        EXPECT_EQ(request->Method, WebMethod::Get);
        EXPECT_EQ(request->MethodName, "GET");
        EXPECT_EQ(request->URI, "/a.htm");
        EXPECT_EQ(request->Version, "HTTP/1.1");
        EXPECT_EQ(request->GetHeader(kRequestConnection), "keep-alive");
        EXPECT_EQ(request->ErrorCode, 0);
    }
}

TEST(WebRequestTest, LinesEndingInLineFeedAloneNeverEndTheRequestLine) {
    TWebRequest request = Parse("GET /a.htm HTTP/1.1\nConnection: keep-alive\n\n");
    EXPECT_EQ(request.State, S::RequestLine);
    request.AddData("\n\n\n");
    EXPECT_EQ(request.State, S::RequestLine);
}

TEST(WebRequestTest, RequestLines) {
    struct TCase {
        const char* Line;
        S State;
        WebMethod Method;
    } cases[] = {
        {"POST / HTTP/1.1", S::Invalid, WebMethod::Post},
        {"FOO / HTTP/1.1", S::Invalid, WebMethod::Unknown},
        {"GET /", S::Invalid, WebMethod::Unknown},
        {"", S::Invalid, WebMethod::Unknown},
        {"get / HTTP/1.0", S::Headers, WebMethod::Get},
        {"hEaD /x HTTP/1.1", S::Headers, WebMethod::Head},
        {"PUT /x HTTP/1.1", S::Headers, WebMethod::Put},
        {"GET / HTTP/1.1 ", S::Invalid, WebMethod::Unknown},
        {"GET /a b HTTP/1.1", S::Invalid, WebMethod::Unknown},
        {"   GET    /    HTTP/1.1", S::Headers, WebMethod::Get},
    };
    for (const TCase& c : cases) {
        TWebRequest request = Parse(std::string(c.Line) + "\r\n");
        EXPECT_EQ(request.State, c.State) << c.Line;
        EXPECT_EQ(request.Method, c.Method) << c.Line;
        EXPECT_EQ(request.ErrorCode, 0) << c.Line;
    }
    TWebRequest post = Parse("POST /form HTTP/1.1\r\n");
    EXPECT_EQ(post.MethodName, "POST");
    EXPECT_EQ(post.URI, "") << "a rejected line leaves the URI alone";
}

TEST(WebRequestTest, SplitWords) {
    using W = std::vector<std::string>;
    EXPECT_EQ(SplitWords("a b  c"), (W{"a", "b", "c"}));
    EXPECT_EQ(SplitWords(" \r\n a b"), (W{"a", "b"}));
    EXPECT_EQ(SplitWords("a b "), (W{"a", "b", ""}));
    EXPECT_EQ(SplitWords("a \"b c\" d"), (W{"a", "b c", "d"}));
    EXPECT_EQ(SplitWords("'x y' z"), (W{"x y", "z"}));
    EXPECT_EQ(SplitWords("a \"open to end"), (W{"a", "open to end"}));
    EXPECT_EQ(SplitWords("mid\"quote x"), (W{"mid\"quote", "x"}));
    EXPECT_EQ(SplitWords(""), W{});
    EXPECT_EQ(SplitWords("   "), W{});
}

TEST(WebRequestTest, HeaderLines) {
    TWebRequest request = Parse("GET / HTTP/1.1\r\n"
                                "content-length:  12  \r\n"
                                "X-Thing: ignored\r\n"
                                "no colon here\r\n"
                                "User-Agent: first\r\n"
                                "user-agent:\tsecond agent \t\r\n");
    EXPECT_EQ(request.State, S::Headers);
    EXPECT_EQ(request.GetHeader(kRequestContentLength), "12");
    EXPECT_EQ(request.GetHeader(kRequestUserAgent), "second agent");
    for (int i = 0; i < kRequestHeaderCount; ++i) {
        if (i != kRequestContentLength && i != kRequestUserAgent) {
            EXPECT_EQ(request.GetHeader(i), "") << i;
        }
    }
    EXPECT_EQ(request.GetHeader(-1), "");
    EXPECT_EQ(request.GetHeader(500), "");

    TWebRequest blank;
    blank.SetHeader(3, "x");
    EXPECT_EQ(blank.Headers.size(), 4u);
    EXPECT_EQ(blank.GetHeader(3), "x");
    EXPECT_EQ(blank.GetHeader(2), "");
}

TEST(WebRequestTest, BodyIsCountedAndMayArriveWithTheHeaders) {
    const std::string head = "PUT /x HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
    EXPECT_EQ(Parse(head + "12345").State, S::Complete);

    TWebRequest request = Parse(head + "123");
    EXPECT_EQ(request.State, S::Body);
    EXPECT_EQ(request.BodyReceived(), 3u);
    request.AddData("4");
    EXPECT_EQ(request.State, S::Body);
    request.AddData("5");
    EXPECT_EQ(request.State, S::Complete);
    EXPECT_EQ(request.Buffer, "") << "body bytes are dropped, not kept";

    EXPECT_EQ(Parse("GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n").State, S::Complete);
}

TEST(WebRequestTest, BytesAfterARequestStartTheNextOne) {
    TWebRequest request =
        Parse("PUT /a HTTP/1.1\r\nContent-Length: 4\r\n\r\nbodyGET /b HTTP/1.1\r\n\r\nHEAD /c");
    ASSERT_EQ(request.State, S::Complete);
    EXPECT_EQ(request.URI, "/a");
    EXPECT_EQ(request.Buffer, "GET /b HTTP/1.1\r\n\r\nHEAD /c");
    request.NextRequest();
    ASSERT_EQ(request.State, S::Complete);
    EXPECT_EQ(request.Method, WebMethod::Get);
    EXPECT_EQ(request.URI, "/b");
    EXPECT_EQ(request.GetHeader(kRequestContentLength), "") << "headers of the previous request are gone";
    request.NextRequest();
    EXPECT_EQ(request.State, S::RequestLine);
    request.AddData(" HTTP/1.1\r\n\r\n");
    EXPECT_EQ(request.State, S::Complete);
    EXPECT_EQ(request.Method, WebMethod::Head);
    EXPECT_EQ(request.URI, "/c");
}

TEST(WebRequestTest, ResetForgetsEverything) {
    TWebRequest request = Parse("GET /a HTTP/1.1\r\nHost: h\r\n\r\nGET /b");
    request.Reset();
    EXPECT_EQ(request.State, S::RequestLine);
    EXPECT_EQ(request.Method, WebMethod::Unknown);
    EXPECT_TRUE(request.MethodName.empty() && request.URI.empty() && request.Version.empty());
    EXPECT_TRUE(request.Buffer.empty());
    EXPECT_TRUE(request.Headers.empty());
}

TEST(WebRequestTest, SizeLimits) {
    std::string longUri(kMaxRequestLineBytes, 'a');
    TWebRequest tooLong = Parse("GET /" + longUri + " HTTP/1.1\r\n");
    EXPECT_EQ(tooLong.State, S::Invalid);
    EXPECT_EQ(tooLong.ErrorCode, 414);

    TWebRequest neverEnding;
    for (int i = 0; i < 20 && neverEnding.State == S::RequestLine; ++i) {
        neverEnding.AddData(std::string(1024, 'x'));
    }
    EXPECT_EQ(neverEnding.State, S::Invalid);
    EXPECT_EQ(neverEnding.ErrorCode, 414);
    EXPECT_LE(neverEnding.Buffer.size(), kMaxRequestLineBytes + 1024);

    std::string withinLine = "GET /" + std::string(kMaxRequestLineBytes - 20, 'a') + " HTTP/1.1\r\n";
    ASSERT_LE(withinLine.size() - 2, kMaxRequestLineBytes);
    EXPECT_EQ(Parse(withinLine).State, S::Headers);

    std::string header = "Cookie: " + std::string(100, 'c') + "\r\n"; // 110 bytes
    std::string hundred;
    for (int i = 0; i < kMaxHeaderLines; ++i) {
        hundred += header;
    }
    EXPECT_EQ(Parse("GET / HTTP/1.1\r\n" + hundred + "\r\n").State, S::Complete);
    TWebRequest tooMany = Parse("GET / HTTP/1.1\r\n" + hundred + "A: b\r\n\r\n");
    EXPECT_EQ(tooMany.State, S::Invalid);
    EXPECT_EQ(tooMany.ErrorCode, 400);
    EXPECT_EQ(tooMany.Method, WebMethod::Get);

    TWebRequest tooBig =
        Parse("GET / HTTP/1.1\r\nCookie: " + std::string(kMaxHeaderBlockBytes, 'c') + "\r\n\r\n");
    EXPECT_EQ(tooBig.State, S::Invalid);
    EXPECT_EQ(tooBig.ErrorCode, 400);
    TWebRequest growing = Parse("GET / HTTP/1.1\r\nCookie: ");
    for (int i = 0; i < 40 && growing.State == S::Headers; ++i) {
        growing.AddData(std::string(1024, 'c'));
    }
    EXPECT_EQ(growing.ErrorCode, 400);

    TWebRequest bodyTooBig = Parse("PUT / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n");
    EXPECT_EQ(bodyTooBig.State, S::Invalid);
    EXPECT_EQ(bodyTooBig.ErrorCode, 413);
    EXPECT_EQ(Parse("PUT / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n").State, S::Body);
}

TEST(WebRequestTest, FramingAttacksAreInvalid) {
    const char* bad[] = {
        "GET /a\0b HTTP/1.1\r\n\r\n",
        "GET /a\rb HTTP/1.1\r\n\r\n",
        "GET /a\nb HTTP/1.1\r\n\r\n",
        "GET /a\tb HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\nGET /smuggled HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\x01\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 3\r\n\r\nabc",
        "PUT / HTTP/1.1\r\nContent-Length: 3\r\ncontent-length: 30\r\n\r\nabc",
        "PUT / HTTP/1.1\r\nContent-Length: abc\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length: +5\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length: 1 2\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length:\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
        // A name with white space before its colon is a header to some proxies and none to us, so
        // its body would be read as a further request.
        "PUT / HTTP/1.1\r\nContent-Length : 41\r\n\r\nGET /smuggled HTTP/1.1\r\nHost: x\r\n\r\n",
        "PUT / HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n",
        "PUT / HTTP/1.1\r\nContent-Length\t: 5\r\n\r\nhello",
        "PUT / HTTP/1.1\r\nHost: a\r\n Content-Length: 5\r\n\r\nhello",
    };
    // The first entry holds a NUL, so its length is given by hand.
    TWebRequest nul;
    nul.AddData(std::string_view("GET /a\0b HTTP/1.1\r\n\r\n", 21));
    EXPECT_EQ(nul.State, S::Invalid);
    EXPECT_EQ(nul.ErrorCode, 400);
    for (size_t i = 1; i < std::size(bad); ++i) {
        TWebRequest request = Parse(bad[i]);
        EXPECT_EQ(request.State, S::Invalid) << i;
        EXPECT_EQ(request.ErrorCode, 400) << i;
    }
    TWebRequest tab = Parse("GET / HTTP/1.1\r\nUser-Agent: a\tb\r\n\r\n");
    EXPECT_EQ(tab.State, S::Complete);
    EXPECT_EQ(tab.GetHeader(kRequestUserAgent), "a\tb");
}

TEST(WebRequestTest, TransferEncodingCompletesAtTheHeaderBlockAndClosesTheConnection) {
    for (const char* text : {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
                             "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 100\r\n\r\n"}) {
        TWebRequest request = Parse(text);
        EXPECT_EQ(request.State, S::Complete) << text;
        EXPECT_TRUE(request.MustClose) << text;
    }
    EXPECT_FALSE(Parse("GET / HTTP/1.1\r\n\r\n").MustClose);
}

} // namespace
} // namespace sw
