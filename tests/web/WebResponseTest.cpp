#include "web/WebResponse.h"
#include "web/HttpDate.h"
#include "web/StatusCodes.h"

#include <ctime>
#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(WebResponseTest, ThreePiecesThenDone) {
    TWebResponse response;
    response.StatusCode = 200;
    response.SetHeader(kResponseContentType, "text/html");
    response.Content = "abc";
    EXPECT_EQ(response.GetNext(), "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(response.State, ResponseSendState::Headers);
    EXPECT_EQ(response.GetNext(), "Content-Type: text/html\r\n\r\n");
    EXPECT_EQ(response.State, ResponseSendState::Content);
    EXPECT_EQ(response.GetNext(), "abc");
    EXPECT_EQ(response.State, ResponseSendState::Done);
    EXPECT_EQ(response.GetNext(), "");
}

TEST(WebResponseTest, EmptyContentSkipsThePieceAndHeadersGoInIndexOrder) {
    TWebResponse response;
    response.StatusCode = 404;
    response.SetHeader(kResponseContentLength, "0");
    response.SetHeader(kResponseDate, "d");
    response.SetHeader(kResponseConnection, "Keep-Alive");
    EXPECT_EQ(response.GetNext(), "HTTP/1.1 404 Not Found\r\n");
    EXPECT_EQ(response.GetNext(), "Connection: Keep-Alive\r\nDate: d\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(response.State, ResponseSendState::Done);
}

TEST(WebResponseTest, UnknownStatusCodeLeavesAnEmptyReason) {
    TWebResponse response;
    response.StatusCode = 299;
    EXPECT_EQ(response.GetNext(), "HTTP/1.1 299 \r\n");
    response.Reset();
    EXPECT_EQ(response.State, ResponseSendState::StatusLine);
    EXPECT_EQ(response.StatusCode, 0);
    EXPECT_TRUE(response.Headers.empty());
}

class TStringSource : public TContentSource {
public:
    TStringSource(std::string text, size_t failAt = std::string::npos)
        : FText(std::move(text)), FFailAt(failAt) {}
    uint64_t Size() const override { return FText.size(); }
    bool Read(std::string& out, size_t maxBytes) override {
        if (FOffset + maxBytes > FFailAt) {
            return false;
        }
        out.append(FText, FOffset, maxBytes);
        FOffset += maxBytes;
        return true;
    }

private:
    std::string FText;
    size_t FFailAt;
    size_t FOffset = 0;
};

TEST(WebResponseTest, ContentSourceComesInBoundedPieces) {
    std::string text;
    for (int i = 0; i < 150000; ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    TWebResponse response;
    response.StatusCode = 200;
    response.SetContentSource(std::make_unique<TStringSource>(text));
    EXPECT_EQ(response.ContentLength(), text.size());
    response.GetNext();
    response.GetNext();
    std::string body;
    std::vector<size_t> sizes;
    while (response.State != ResponseSendState::Done) {
        std::string piece = response.GetNext();
        sizes.push_back(piece.size());
        body += piece;
    }
    EXPECT_EQ(body, text);
    EXPECT_EQ(sizes, (std::vector<size_t>{65536, 65536, 150000 - 131072}));
    EXPECT_FALSE(response.ContentFailed());

    TWebResponse failing;
    failing.SetContentSource(std::make_unique<TStringSource>(text, 70000));
    failing.GetNext();
    failing.GetNext();
    EXPECT_EQ(failing.GetNext().size(), 65536u);
    failing.GetNext();
    EXPECT_EQ(failing.State, ResponseSendState::Done);
    EXPECT_TRUE(failing.ContentFailed());
}

TEST(StatusCodesTest, TableAndAddRules) {
    const TStatusCodes& codes = StatusCodes();
    ASSERT_EQ(codes.Count(), 37);
    for (int i = 1; i < codes.Count(); ++i) {
        EXPECT_LT(codes.Items(i - 1).Code, codes.Items(i).Code);
    }
    EXPECT_EQ(codes.ReasonPhrase(200), "OK");
    EXPECT_EQ(codes.ReasonPhrase(408), "Request Time-out");
    EXPECT_EQ(codes.ReasonPhrase(505), "HTTP Version not supported");
    EXPECT_EQ(codes.IndexOf(100), 0);
    EXPECT_EQ(codes.IndexOf(505), 36);
    EXPECT_EQ(codes.IndexOf(299), -1);
    EXPECT_EQ(&StatusCodes(), &codes);

    TStatusCodes own;
    own.Add(0, "Zero");
    own.Add(600, "");
    own.Add(600, "First");
    own.Add(600, "Second");
    EXPECT_EQ(own.Count(), 1);
    EXPECT_EQ(own.ReasonPhrase(600), "First");
}

TEST(HttpDateTest, FixedEnglishNamesInUtc) {
    TDateTimeParts parts;
    parts.Year = 1994;
    parts.Month = 11;
    parts.Day = 6;
    parts.Hour = 8;
    parts.Minute = 49;
    parts.Second = 37;
    EXPECT_EQ(FormatHttpDate(EncodeDateTime(parts)), "Sun, 06 Nov 1994 08:49:37 GMT");
    parts = {};
    parts.Year = 2026;
    parts.Month = 12;
    parts.Day = 31;
    parts.Hour = 23;
    parts.Minute = 59;
    parts.Second = 59;
    EXPECT_EQ(FormatHttpDate(EncodeDateTime(parts)), "Thu, 31 Dec 2026 23:59:59 GMT");

    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char expected[64];
    std::strftime(expected, sizeof expected, "%d %b %Y %H:%M", &utc); // C locale in the test process
    std::string formatted = FormatHttpDate(UtcNow());
    EXPECT_NE(formatted.find(expected), std::string::npos) << formatted << " vs " << expected;
}

} // namespace
} // namespace sw
