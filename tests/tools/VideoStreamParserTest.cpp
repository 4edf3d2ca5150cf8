#include "client/VideoStreamParser.h"
#include "VideoPacket.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace sw::client {
namespace {

std::string Jpeg(size_t middle, char fill = 'j') {
    return "\xFF\xD8" + std::string(middle, fill) + "\xFF\xD9";
}

struct TCollected {
    std::vector<uint32_t> Numbers;
    std::vector<std::string> Jpegs;
};

bool FeedInPieces(TVideoStreamParser& parser, const std::string& stream, size_t piece, TCollected& out) {
    for (size_t at = 0; at < stream.size(); at += piece) {
        const std::string part = stream.substr(at, piece);
        if (!parser.Feed(reinterpret_cast<const uint8_t*>(part.data()), part.size(),
                         [&](uint32_t number, const uint8_t* jpeg, size_t size) {
                             out.Numbers.push_back(number);
                             out.Jpegs.emplace_back(reinterpret_cast<const char*>(jpeg), size);
                         })) {
            return false;
        }
    }
    return true;
}

TEST(VideoStreamParserTest, PacketsAreFoundWhateverTheSplit) {
    const std::string stream =
        Packet(1, Jpeg(100)) + Packet(0x01020304, Jpeg(0)) + Packet(3, Jpeg(5000, 'x'));
    for (size_t piece : {size_t{1}, size_t{3}, size_t{10}, size_t{11}, size_t{4096}, stream.size()}) {
        SCOPED_TRACE(piece);
        TVideoStreamParser parser;
        TCollected got;
        ASSERT_TRUE(FeedInPieces(parser, stream, piece, got)) << parser.Error();
        EXPECT_TRUE(parser.Finish());
        EXPECT_EQ(got.Numbers, (std::vector<uint32_t>{1, 0x01020304, 3}));
        EXPECT_EQ(got.Jpegs[2], Jpeg(5000, 'x'));
        EXPECT_EQ(parser.Offset(), stream.size());
    }
}

TEST(VideoStreamParserTest, MalformedStreamsAreRejectedWithTheReason) {
    const std::string good = Packet(7, Jpeg(20));
    struct TCase {
        std::string Stream;
        std::string Reason;
    } cases[] = {
        {"A" + good, "bad packet tag 0x41 at stream offset 0"},
        {good + good.substr(0, 5) + "\x03" + good.substr(6), "bad length tag 0x03 at stream offset 39"},
        {Packet(8, "\xFF\xD8xx"), "does not end with FF D9 (truncated JPEG)"},
        {Packet(8, std::string("\x00\xD8xx\xFF\xD9", 6)), "does not start with FF D8"},
        {Packet(9, "\xFF\xD9"), "JPEG length 2 is too short"},
        {Packet(9, ""), "JPEG length 0 is too short"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Reason);
        TVideoStreamParser parser;
        TCollected got;
        EXPECT_FALSE(FeedInPieces(parser, c.Stream, 1, got));
        EXPECT_NE(parser.Error().find(c.Reason), std::string::npos) << parser.Error();
        EXPECT_FALSE(parser.Feed(reinterpret_cast<const uint8_t*>(good.data()), good.size(), nullptr))
            << "a failed parser stays failed";
    }
}

TEST(VideoStreamParserTest, ALengthBeyondTheLimitIsRejectedBeforeItsBytesArrive) {
    TVideoStreamParser parser(1000);
    const std::string header = Packet(1, Jpeg(2000)).substr(0, 10);
    EXPECT_FALSE(parser.Feed(reinterpret_cast<const uint8_t*>(header.data()), header.size(), nullptr));
    EXPECT_NE(parser.Error().find("exceeds the limit of 1000 bytes"), std::string::npos);
}

TEST(VideoStreamParserTest, AStreamEndingInsideAPacketIsTruncated) {
    const std::string packet = Packet(4, Jpeg(50));
    for (size_t cut : {size_t{3}, size_t{10}, size_t{40}}) {
        TVideoStreamParser parser;
        TCollected got;
        ASSERT_TRUE(FeedInPieces(parser, packet.substr(0, cut), 7, got));
        EXPECT_FALSE(parser.Finish());
        EXPECT_NE(parser.Error().find("the stream ended inside"), std::string::npos) << parser.Error();
    }
}

TEST(FrameCounterTest, GapsAndOutOfOrderNumbersAreCounted) {
    TFrameCounter counter;
    for (uint32_t n : {10u, 11u, 14u, 15u, 15u, 12u, 20u}) {
        counter.Add(n);
    }
    EXPECT_EQ(counter.Frames, 7u);
    EXPECT_EQ(counter.Gaps, 2u);
    EXPECT_EQ(counter.Missed, 2u + 7u);
    EXPECT_EQ(counter.OutOfOrder, 2u);
    EXPECT_EQ(counter.First, 10u);
    EXPECT_EQ(counter.Last, 20u);

    TFrameCounter wrap;
    wrap.Add(0xFFFFFFFFu);
    wrap.Add(0);
    wrap.Add(2);
    EXPECT_EQ(wrap.Gaps, 1u) << "the number wraps like the server's counter";
    EXPECT_EQ(wrap.Missed, 1u);
    EXPECT_EQ(wrap.OutOfOrder, 0u);
}

} // namespace
} // namespace sw::client
