#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "log/CommaText.h"
#include "log/EventLog.h"
#include "log/LogFormat.h"
#include "log/LogPost.h"
#include "platform/shell/VersionInfo.h"

#include <QThread>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace sw {
namespace {

using test::ReadFile;
using test::TTempDir;
using test::WriteFile;

TEST(CommaTextTest, WritesAwkwardItems) {
    struct Case {
        std::vector<std::string> Items;
        std::string Text;
    };
    const Case cases[] = {
        {{}, ""},
        {{""}, "\"\""},
        {{"a", "b"}, "a,b"},
        {{"a", "", "c"}, "a,,c"},
        {{"", ""}, ","},
        {{"a b"}, "\"a b\""},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
        {{"1,2"}, "\"1,2\""},
        {{"tab\there"}, "\"tab\there\""},
        {{"x", ""}, "x,"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToCommaText(c.Items), c.Text);
    }
}

TEST(CommaTextTest, ReadsBackWhatItWrites) {
    const std::vector<std::vector<std::string>> lists = {
        {"a", "b"},
        {"a b", "c"},
        {"say \"hi\"", "1,2", ""},
        {"x", "", "y", ""},
        {"12/08/2026 02:05:09 pm", "18"},
    };
    for (const auto& list : lists) {
        EXPECT_EQ(FromCommaText(ToCommaText(list)), list) << ToCommaText(list);
    }
}

TEST(CommaTextTest, ReadsLooseText) {
    EXPECT_EQ(FromCommaText("a, b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FromCommaText("a b"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FromCommaText("a,"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(FromCommaText("\"open"), (std::vector<std::string>{"open"}));
    EXPECT_TRUE(FromCommaText("").empty());
}

// A NUL outside quotes once made the reader add empty items until memory ran out.
TEST(CommaTextTest, NulIsBlankOutsideQuotesAndKeptInside) {
    EXPECT_EQ(FromCommaText(std::string("\0\x02", 2)), (std::vector<std::string>{}));
    EXPECT_EQ(FromCommaText(std::string("a,\0b", 4)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FromCommaText(std::string("a\0b", 3)), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FromCommaText(std::string("\"a\0b\",c", 7)),
              (std::vector<std::string>{std::string("a\0b", 3), "c"}));
}

TEST(CommaTextTest, SplitsLinesAtEveryKindOfLineEnd) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd\n"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(LogFormatTest, LineHasSixItemsAndTheTwelveHourTime) {
    TAMLog entry;
    entry.Time = EncodeDateTime({2026, 12, 8, 14, 5, 9, 0, 0});
    entry.Level = 1;
    entry.Message = 18;
    entry.Detail = "10.0.0.7";
    EXPECT_EQ(FormatLogLine(entry), BuildNumber() + ",1,\"12/08/2026 02:05:09 pm\",18,10.0.0.7,");
    EXPECT_GE(std::stoi(BuildNumber()), 22) << "the log view reads lower build numbers as old layouts";
}

TEST(LogFormatTest, MidnightAndNoonAreTwelve) {
    EXPECT_EQ(FormatLogTime(EncodeDateTime({2026, 1, 2, 0, 0, 1, 0, 0})), "01/02/2026 12:00:01 am");
    EXPECT_EQ(FormatLogTime(EncodeDateTime({2026, 1, 2, 12, 30, 0, 0, 0})), "01/02/2026 12:30:00 pm");
    EXPECT_EQ(FormatLogTime(EncodeDateTime({2026, 1, 2, 23, 59, 59, 999, 0})), "01/02/2026 11:59:59 pm");
}

TEST(LogFormatTest, ValuesAreQuotedAgainInsideTheLine) {
    TAMLog entry;
    entry.Time = EncodeDateTime({2026, 12, 8, 9, 0, 0, 0, 0});
    entry.Level = 1;
    entry.Message = 1;
    entry.Values = ValuesFromText("a b\r\nc");
    EXPECT_EQ(entry.Values, "\"a b\",c");
    std::vector<std::string> items = FromCommaText(FormatLogLine(entry));
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[5], "\"a b\",c");
    EXPECT_NE(FormatLogLine(entry).find(",\"\"\"a b\"\",c\""), std::string::npos);
}

TEST(LogFormatTest, LineBreaksInDetailOrValuesNeverSplitTheLine) {
    TAMLog entry;
    entry.Level = 1;
    entry.Message = 48;
    entry.Detail = "GET /x HTTP/1.1\r\nInjected: yes";
    entry.Values = "\"a\r\nb\"";
    std::string line = FormatLogLine(entry);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(FromCommaText(line)[4], "GET /x HTTP/1.1  Injected: yes");
}

TEST(LogFormatTest, LongItemsAreCutOnACharacterBoundary) {
    EXPECT_EQ(BoundLogItem(std::string(1024, 'x')), std::string(1024, 'x'));
    EXPECT_EQ(BoundLogItem(std::string(1025, 'x')), std::string(1024, 'x') + "... (1025 bytes)");
    // "\xC3\xA9" straddles byte 1024: the whole character goes.
    std::string text = std::string(1023, 'x') + "\xC3\xA9" + std::string(10, 'y');
    EXPECT_EQ(BoundLogItem(text), std::string(1023, 'x') + "... (1035 bytes)");
    std::string values = ToCommaText({"short", std::string(5000, 'v')});
    EXPECT_EQ(FromCommaText(BoundLogValues(values)),
              (std::vector<std::string>{"short", std::string(1024, 'v') + "... (5000 bytes)"}));
    std::string manyShort = HexDumpValues(reinterpret_cast<const uint8_t*>(text.data()), 200);
    EXPECT_EQ(BoundLogValues(manyShort), manyShort) << "many short values stay whole";
}

TEST(LogFormatTest, HexDumpRowsAreSeventyFiveCharacters) {
    const uint8_t bytes[] = {0x01, 0x00, 0x00, 0x00, 0x07, 0x02, 0x00, 0x00, 0x12, 0x34};
    std::vector<std::string> rows = HexDumpRows(bytes, sizeof bytes);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], "00000000: 01 00 00 00 07 02 00 00 12 34" + std::string(18, ' ') + "  " +
                           ".........4" + std::string(6, ' '));
    EXPECT_EQ(rows[0].size(), 75u);

    std::vector<uint8_t> many(33);
    for (size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<uint8_t>(0x20 + i * 3);
    }
    rows = HexDumpRows(many.data(), many.size());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].substr(0, 10), "00000010: ");
    EXPECT_EQ(rows[2].substr(0, 13), "00000020: 80 ");
    for (const std::string& row : rows) {
        EXPECT_EQ(row.size(), 75u);
    }
    EXPECT_EQ(rows[0].substr(59), " #&),/258;>ADGJM");
    EXPECT_TRUE(HexDumpRows(bytes, 0).empty());
}

TEST(LogFormatTest, FormatsDurations) {
    EXPECT_EQ(FormatDuration(90061000), "001:01:01:01");
    EXPECT_EQ(FormatDuration(999), "000:00:00:00");
    EXPECT_EQ(FormatDuration(0xFFFFFFFFu), "049:17:02:47");
}

TEST(LogTablesTest, MessagesKeepTheirCategories) {
    EXPECT_STREQ(MessageText(lmVideoSocketConnect), "Socket connect");
    EXPECT_STREQ(MessageCategoryName(lmVideoSocketConnect), "Video");
    EXPECT_STREQ(MessageCategoryName(lmAudioSocketConnect), "Audio");
    EXPECT_STREQ(MessageText(lmClientConnectBlocked), "Connect, blocked");
    EXPECT_STREQ(MessageCategoryName(lmWebHead), "Web");
    EXPECT_STREQ(MessageCategoryName(kLogMessageCount), "Unknown");
}

TEST(LogTablesTest, AddedMessagesFollowTheOriginalNumbers) {
    EXPECT_STREQ(MessageText(51), "Head") << "numbers in existing log files keep their meaning";
    const char* publish[] = {"Start", "Connect", "Error", "Reconnect", "Stop"};
    for (uint8_t n = lmPublishStart; n <= lmPublishStop; ++n) {
        EXPECT_STREQ(MessageCategoryName(n), "Publish") << int(n);
        EXPECT_STREQ(MessageText(n), publish[n - lmPublishStart]);
    }
    EXPECT_STREQ(MessageCategoryName(lmVideoDeviceLost), "Video");
    EXPECT_STREQ(MessageText(lmVideoDeviceRestored), "Device restored");
    EXPECT_STREQ(MessageCategoryName(lmAudioDeviceLost), "Audio");
    EXPECT_STREQ(MessageText(lmAudioDeviceRestored), "Device restored");
    EXPECT_EQ(lmFiles + 1, kLogMessageCount);
}

class EventLogTest : public ::testing::Test {
protected:
    EventLogTest() : Settings(Dir.File("s.ini")), Log(Dir.File("s.log")) { Settings.Reload(); }

    static TAMLog Entry(uint8_t level, uint8_t message, const std::string& detail = {}) {
        TAMLog entry;
        entry.Time = Now();
        entry.Level = level;
        entry.Message = message;
        entry.Detail = detail;
        return entry;
    }

    TTempDir Dir;
    TLogConfiguration Settings;
    TEventLog Log;
};

TEST_F(EventLogTest, FiltersByLevelAndByMessage) {
    Settings.SetInformation(false);
    EXPECT_FALSE(Log.WriteLogEntry(Entry(llInformation, lmVideoSocketConnect), Settings));
    EXPECT_TRUE(Log.WriteLogEntry(Entry(llWarning, lmVideoSocketConnect), Settings));
    EXPECT_TRUE(Log.WriteLogEntry(Entry(7, lmVideoSocketConnect), Settings)) << "unknown levels always pass";
    Settings.SetMessageEnabled(lmAudioSocketWrite, false);
    EXPECT_FALSE(Log.WriteLogEntry(Entry(llError, lmAudioSocketWrite), Settings));
    EXPECT_FALSE(Log.WriteLogEntry(Entry(llError, kLogMessageCount), Settings))
        << "a number without a switch";
    EXPECT_TRUE(Log.WriteLogEntry(Entry(llError, lmPublishError), Settings))
        << "added messages are switched on";
    EXPECT_EQ(Log.LogLines().size(), 3u);
}

TEST_F(EventLogTest, KeepsAtMostTenThousandLines) {
    std::string text;
    for (int i = 0; i < 10005; ++i) {
        text += "old " + std::to_string(i) + "\r\n";
    }
    WriteFile(Dir.File("s.log"), text);
    Log.LoadLog();
    EXPECT_EQ(Log.LogLines().size(), 10005u) << "a long file loads whole";
    Log.WriteLogEntry(Entry(llInformation, lmStart), Settings);
    EXPECT_EQ(Log.LogLines().size(), 10000u);
    EXPECT_EQ(Log.LogLines().front(), "old 6");
    Log.WriteLogEntry(Entry(llInformation, lmStop), Settings);
    EXPECT_EQ(Log.LogLines().size(), 10000u);
    EXPECT_EQ(Log.LogLines().front(), "old 7");
}

TEST_F(EventLogTest, SavesLoadsAndClears) {
    Log.WriteLogEntry(Entry(llInformation, lmStart, "a\r\nb"), Settings);
    Log.WriteLogEntry(Entry(llError, lmException, "boom"), Settings);
    ASSERT_TRUE(Log.SaveLog());
    EXPECT_FALSE(Log.Unsaved());
    std::string file = ReadFile(Dir.File("s.log"));
    EXPECT_EQ(file, Log.LogLines()[0] + "\r\n" + Log.LogLines()[1] + "\r\n");

    TEventLog reloaded(Dir.File("s.log"));
    reloaded.LoadLog();
    EXPECT_EQ(reloaded.LogLines(), Log.LogLines()) << "a detail with a line break reloads as one line";

    Log.ClearLog();
    EXPECT_TRUE(Log.LogLines().empty());
    EXPECT_TRUE(test::FileExists(Dir.File("s.log")));
    EXPECT_EQ(ReadFile(Dir.File("s.log")), "");
}

TEST_F(EventLogTest, AsynchronousSaveCatchesUp) {
    for (int i = 0; i < 100; ++i) {
        Log.WriteLogEntry(Entry(llInformation, lmWebGet, std::to_string(i)), Settings);
        if (i % 10 == 0) {
            Log.SaveLogAsync();
        }
    }
    Log.SaveLogAsync();
    EXPECT_FALSE(Log.Unsaved());
    std::string expected;
    for (const std::string& line : Log.LogLines()) {
        expected += line + "\r\n";
    }
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return ReadFile(Dir.File("s.log")) == expected; }));
}

TEST_F(EventLogTest, MissingFileLoadsEmpty) {
    TEventLog log(Dir.File("missing/none.log"));
    log.LoadLog();
    EXPECT_TRUE(log.LogLines().empty());
    log.WriteLogEntry(Entry(llInformation, lmStart), Settings);
    EXPECT_FALSE(log.WaitWritten()) << "the folder does not exist";
    EXPECT_TRUE(log.Unsaved());
    EXPECT_FALSE(log.SaveLog());
    EXPECT_TRUE(log.Unsaved());
}

std::string FileImage(const TLogLines& lines) {
    std::string image;
    for (const std::string& line : lines) {
        image += line + "\r\n";
    }
    return image;
}

TEST_F(EventLogTest, FileIsCurrentAfterEveryEntryWithoutRewrites) {
    Log.LoadLog();
    for (int i = 0; i < 50; ++i) {
        // Appended, not "/" + ...: GCC's optimised build warns of a false overlap in the insert.
        ASSERT_TRUE(Log.WriteLogEntry(
            Entry(llInformation, lmWebGet, std::string("/").append(std::to_string(i))), Settings));
        ASSERT_TRUE(Log.WaitWritten());
        ASSERT_EQ(ReadFile(Dir.File("s.log")), FileImage(Log.LogLines())) << i;
    }
    EXPECT_FALSE(Log.Unsaved());
    EXPECT_EQ(Log.Rewrites(), 0u) << "appends only while the cap drops nothing";
}

TEST_F(EventLogTest, LinesDroppedByTheCapAskForOneRewrite) {
    std::string text;
    for (size_t i = 0; i < TEventLog::kMaxLines; ++i) {
        text += "old " + std::to_string(i) + "\r\n";
    }
    WriteFile(Dir.File("s.log"), text);
    Log.LoadLog();
    EXPECT_FALSE(Log.Unsaved());
    for (int i = 0; i < 3; ++i) {
        Log.WriteLogEntry(Entry(llInformation, lmWebGet, std::to_string(i)), Settings);
    }
    ASSERT_TRUE(Log.WaitWritten());
    EXPECT_TRUE(Log.Unsaved());
    const TLogLines& lines = Log.LogLines();
    std::string newest =
        lines[lines.size() - 3] + "\r\n" + lines[lines.size() - 2] + "\r\n" + lines.back() + "\r\n";
    std::string before = ReadFile(Dir.File("s.log"));
    EXPECT_TRUE(before.starts_with("old 0\r\n") && before.ends_with(newest))
        << "the new lines are in the file before the rewrite";
    Log.SaveLogAsync();
    EXPECT_FALSE(Log.Unsaved());
    ASSERT_TRUE(Log.WaitWritten());
    EXPECT_EQ(ReadFile(Dir.File("s.log")), FileImage(Log.LogLines()));
    EXPECT_EQ(Log.Rewrites(), 1u);
}

TEST_F(EventLogTest, LoadedFileWithoutAFinalLineEndIsRewrittenNotAppendedTo) {
    WriteFile(Dir.File("s.log"), "first\r\nhalf a line");
    Log.LoadLog();
    EXPECT_TRUE(Log.Unsaved());
    Log.WriteLogEntry(Entry(llInformation, lmStart), Settings);
    ASSERT_TRUE(Log.WaitWritten());
    EXPECT_EQ(ReadFile(Dir.File("s.log")), "first\r\nhalf a line") << "not glued to the last line";
    ASSERT_TRUE(Log.SaveLog());
    Log.WriteLogEntry(Entry(llInformation, lmStop), Settings);
    ASSERT_TRUE(Log.WaitWritten());
    EXPECT_EQ(ReadFile(Dir.File("s.log")), FileImage(Log.LogLines()));
    EXPECT_EQ(Log.LogLines().size(), 4u);
}

// A flood of long URIs once grew the process by hundreds of megabytes and the file to 242 MB.
TEST_F(EventLogTest, EntriesFromOutsideAreBoundedPerItem) {
    TAMLog entry = Entry(llInformation, lmWebGet, "/" + std::string(8000, 'u'));
    entry.Values =
        ToCommaText({"Status code: 404", "Remote Address: 10.0.0.1", "Agent: " + std::string(7000, 'a')});
    for (size_t i = 0; i < TEventLog::kMaxLines + 10; ++i) {
        Log.WriteLogEntry(entry, Settings);
    }
    ASSERT_TRUE(Log.SaveLog());
    size_t bytes = ReadFile(Dir.File("s.log")).size();
    EXPECT_LT(bytes, TEventLog::kMaxLines * 2300) << "detail and agent cut at 1 KiB each";
    std::vector<std::string> items = FromCommaText(Log.LogLines().back());
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[4], "/" + std::string(1023, 'u') + "... (8001 bytes)");
    std::vector<std::string> values = FromCommaText(items[5]);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], "Status code: 404");
    EXPECT_EQ(values[2], "Agent: " + std::string(1017, 'a') + "... (7007 bytes)");
}

TEST(LogPostTest, EntriesPostedFromEightThreadsArriveExactlyOnce) {
    test::TLogCollector collector;
    constexpr int kThreads = 8;
    constexpr int kPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&collector, t] {
            for (int i = 0; i < kPerThread; ++i) {
                Log(collector.Window(), llInformation, lmWebGet, Now(), std::to_string(t * kPerThread + i),
                    "line one\nline two");
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    QCoreApplication::sendPostedEvents(&collector);
    ASSERT_EQ(collector.Entries.size(), static_cast<size_t>(kThreads * kPerThread));
    std::set<std::string> details;
    for (const TAMLog& entry : collector.Entries) {
        details.insert(entry.Detail);
        EXPECT_EQ(entry.Values, "\"line one\",\"line two\"");
    }
    EXPECT_EQ(details.size(), static_cast<size_t>(kThreads * kPerThread));
}

TEST(LogPostTest, PostingToNoWindowDropsTheEntry) {
    EXPECT_FALSE(PostLogEntry(nullptr, llInformation, lmStart, Now(), "", ""));
}

} // namespace
} // namespace sw
