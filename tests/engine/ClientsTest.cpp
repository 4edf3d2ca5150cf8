#include "engine/ViewerFixture.h"

#include "engine/Clients.h"
#include "platform/profile/IniFile.h"

#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>

namespace sw::test {
namespace {

class ClientsTest : public ::testing::Test {
protected:
    void SetUp() override { IniFile = Dir.File("streamwright.ini"); }

    std::vector<std::string> BlockedKeys() const { return TIniFile(IniFile).ReadKeyNames("Blocked"); }

    TTempDir Dir;
    std::string IniFile;
};

TEST_F(ClientsTest, VideoAndAudioFromOneAddressShareOneEntryTimedFromTheFirstConnect) {
    TClients clients(IniFile);
    clients.VideoConnect("10.0.0.1");
    TClient* client = clients.Find("10.0.0.1", false);
    ASSERT_NE(client, nullptr);
    client->ConnectTicks = 12345;
    client->ConnectTime = 1.5;
    clients.AudioConnect("10.0.0.1");
    EXPECT_EQ(clients.Count(), 1u);
    EXPECT_EQ(client->VideoCount, 1);
    EXPECT_EQ(client->AudioCount, 1);
    EXPECT_EQ(client->Connections(), 2);
    EXPECT_EQ(client->ConnectTicks, 12345u) << "a second stream must not restart the clock";
    EXPECT_EQ(client->ConnectTime, 1.5);
    clients.VideoDisconnect("10.0.0.1");
    EXPECT_EQ(clients.Find("10.0.0.1", false), client);
    clients.AudioDisconnect("10.0.0.1");
    EXPECT_EQ(clients.Find("10.0.0.1", false), nullptr);
}

TEST_F(ClientsTest, TwoVideoConnectionsKeepTheEntryUntilBothEnd) {
    TClients clients(IniFile);
    clients.VideoConnect("10.0.0.1");
    clients.VideoConnect("10.0.0.1");
    clients.AudioConnect("10.0.0.2");
    EXPECT_EQ(clients.Find("10.0.0.1", false)->VideoCount, 2);
    EXPECT_EQ(clients.VideoTotal(), 2);
    EXPECT_EQ(clients.AudioTotal(), 1);
    clients.VideoDisconnect("10.0.0.1");
    ASSERT_NE(clients.Find("10.0.0.1", false), nullptr);
    EXPECT_EQ(clients.VideoTotal(), 1);
    clients.VideoDisconnect("10.0.0.1");
    EXPECT_EQ(clients.Find("10.0.0.1", false), nullptr);
    EXPECT_EQ(clients.Count(), 1u);
}

TEST_F(ClientsTest, DurationWrapsWithTheTickCountAndIsZeroWithoutConnections) {
    TClient client;
    client.ConnectTicks = 0xFFFFFF00u;
    EXPECT_EQ(client.Duration(0x100u), 0u);
    client.VideoCount = 1;
    EXPECT_EQ(client.Duration(0x100u), 0x200u);
    EXPECT_EQ(client.Duration(0xFFFFFF00u + 5000u), 5000u);
}

TEST_F(ClientsTest, DisconnectsAndResetsOfUnknownAddressesChangeNothing) {
    TClients clients(IniFile);
    clients.AudioConnect("10.0.0.1");
    clients.VideoDisconnect("10.0.0.2");
    clients.AudioDisconnect("10.0.0.2");
    clients.Reset("10.0.0.2");
    ASSERT_EQ(clients.Count(), 1u);
    EXPECT_EQ(clients.Items(0).AudioCount, 1);
}

// A stray disconnect once drove a count below zero, so Connections() read 0 while a stream was open.
TEST_F(ClientsTest, CountsNeverGoBelowZero) {
    TClients clients(IniFile);
    clients.AudioConnect("10.0.0.1");
    clients.VideoDisconnect("10.0.0.1");
    TClient* client = clients.Find("10.0.0.1", false);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->VideoCount, 0);
    EXPECT_EQ(client->Connections(), 1);
}

TEST_F(ClientsTest, BlockingAnUnknownAddressPersistsAcrossRestartsAndUnblockRemovesIt) {
    {
        TClients clients(IniFile);
        clients.Block("10.0.0.9");
        ASSERT_EQ(clients.Count(), 1u);
        EXPECT_TRUE(clients.Items(0).Blocked);
        EXPECT_EQ(clients.Items(0).Connections(), 0);
    }
    EXPECT_EQ(TIniFile(IniFile).ReadString("Blocked", "10.0.0.9", ""), "1");
    {
        TClients clients(IniFile);
        TClient* client = clients.Find("10.0.0.9", false);
        ASSERT_NE(client, nullptr);
        EXPECT_TRUE(client->Blocked);
        clients.Unblock("10.0.0.9");
        EXPECT_EQ(clients.Count(), 0u);
    }
    EXPECT_TRUE(BlockedKeys().empty());
    TClients clients(IniFile);
    EXPECT_EQ(clients.Count(), 0u);
}

TEST_F(ClientsTest, UnblockingAConnectedAddressKeepsItsEntry) {
    TClients clients(IniFile);
    clients.VideoConnect("10.0.0.1");
    clients.Block("10.0.0.1");
    clients.Unblock("10.0.0.1");
    TClient* client = clients.Find("10.0.0.1", false);
    ASSERT_NE(client, nullptr);
    EXPECT_FALSE(client->Blocked);
    EXPECT_EQ(client->VideoCount, 1);
}

TEST_F(ClientsTest, OnlyKeyNamesCountSoAHandWrittenZeroStillBlocks) {
    WriteFile(IniFile, "[Video]\r\nPort=2001\r\n[Blocked]\r\n10.0.0.5=0\r\n10.0.0.6=\r\n10.0.0.7=1\r\n");
    TClients clients(IniFile);
    ASSERT_EQ(clients.Count(), 3u);
    for (size_t i = 0; i < clients.Count(); ++i) {
        EXPECT_TRUE(clients.Items(i).Blocked) << clients.Items(i).Address;
    }
    EXPECT_EQ(clients.Items(0).Address, "10.0.0.5");
    EXPECT_EQ(clients.Items(2).Address, "10.0.0.7");
}

TEST_F(ClientsTest, LoadBlockedReadsOnlyTheNamesThatFitTheKeyBuffer) {
    std::string text = "[Blocked]\r\n";
    size_t used = 1; // the buffer's final zero
    size_t fitting = 0;
    bool full = false;
    for (int i = 0; i < 2000; ++i) {
        const std::string address = "10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1";
        text += address + "=1\r\n";
        if (!full && used + address.size() + 1 <= TClients::kBlockedKeyBufferChars) {
            used += address.size() + 1;
            ++fitting;
        } else {
            full = true;
        }
    }
    ASSERT_TRUE(full) << "the test must overflow the buffer";
    WriteFile(IniFile, text);
    TClients clients(IniFile);
    EXPECT_EQ(clients.Count(), fitting);
}

TEST_F(ClientsTest, SaveBlockedRewritesTheSectionInCollectionOrderAndKeepsOtherSettings) {
    WriteFile(IniFile, "[Video]\r\nPort=2001\r\n[Blocked]\r\nstale=1\r\n");
    TClients clients(IniFile);
    clients.Find("stale", false)->Blocked = false;
    clients.VideoConnect("10.0.0.3");
    clients.Block("10.0.0.2");
    clients.Block("10.0.0.3");
    // Collection order: 10.0.0.3 joined first, by its connection.
    EXPECT_EQ(BlockedKeys(), (std::vector<std::string>{"10.0.0.3", "10.0.0.2"}));
    EXPECT_EQ(TIniFile(IniFile).ReadInteger("Video", "Port", 0), 2001);
}

TEST_F(ClientsTest, ResetAllLeavesOnlyBlockedEntriesWithZeroCounts) {
    TClients clients(IniFile);
    clients.VideoConnect("10.0.0.1");
    clients.AudioConnect("10.0.0.2");
    clients.VideoConnect("10.0.0.3");
    clients.Block("10.0.0.2");
    clients.Block("10.0.0.4");
    clients.ResetAll();
    ASSERT_EQ(clients.Count(), 2u);
    EXPECT_EQ(clients.Items(0).Address, "10.0.0.2");
    EXPECT_EQ(clients.Items(1).Address, "10.0.0.4");
    for (size_t i = 0; i < clients.Count(); ++i) {
        EXPECT_EQ(clients.Items(i).AudioCount, 0);
        EXPECT_EQ(clients.Items(i).VideoCount, 0);
    }
}

TEST_F(ClientsTest, AMissingOrUnreadableFileLeavesTheRegistryEmpty) {
    TClients missing(IniFile + ".none");
    EXPECT_EQ(missing.Count(), 0u);
    TClients folder(Dir.Path());
    EXPECT_EQ(folder.Count(), 0u);
}

TEST_F(ClientsTest, AFailedWriteThrowsAndKeepsTheNewStateInMemory) {
    WriteFile(IniFile, "[Blocked]\r\n10.0.0.8=1\r\n");
    TClients clients(IniFile);
    ASSERT_EQ(::chmod(IniFile.c_str(), 0444), 0);
    EXPECT_THROW(clients.Block("10.0.0.1"), std::runtime_error);
    ASSERT_NE(clients.Find("10.0.0.1", false), nullptr);
    EXPECT_TRUE(clients.Find("10.0.0.1", false)->Blocked);
    EXPECT_THROW(clients.Unblock("10.0.0.8"), std::runtime_error);
    EXPECT_EQ(clients.Find("10.0.0.8", false), nullptr);
    EXPECT_NO_THROW(clients.Unblock("10.0.0.77")) << "an unknown address writes nothing";
    ::chmod(IniFile.c_str(), 0644);
    EXPECT_EQ(BlockedKeys(), std::vector<std::string>{"10.0.0.8"});
}

class ClientsEngineTest : public TViewerFixture {};

TEST_F(ClientsEngineTest, AFailedBlockReachesTheUnhandledExceptionPath) {
    ASSERT_EQ(::chmod(IniFile.c_str(), 0444), 0);
    QTimer::singleShot(0, [] { Clients().Block("10.0.0.1"); });
    const bool logged = WaitFor([&] { return !EntriesOf(lmException).empty(); });
    ::chmod(IniFile.c_str(), 0644);
    ASSERT_TRUE(logged);
    const TAMLog entry = EntriesOf(lmException).front();
    EXPECT_EQ(entry.Level, llError);
    EXPECT_EQ(entry.Detail, "Unable to write to " + IniFile);
    ASSERT_NE(Clients().Find("10.0.0.1", false), nullptr);
    EXPECT_TRUE(Clients().Find("10.0.0.1", false)->Blocked);
}

} // namespace
} // namespace sw::test
