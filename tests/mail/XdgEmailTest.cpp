#include "mail/FakeXdgEmail.h"
#include "mail/MapiMail.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace sw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

TEST(XdgEmailTest, MailboxQuotesNamesWithAddressSpecials) {
    EXPECT_EQ(TXdgEmail::Mailbox({TRecipientClass::To, "a@x.org", std::nullopt}), "a@x.org");
    EXPECT_EQ(TXdgEmail::Mailbox({TRecipientClass::To, "a@x.org", ""}), "a@x.org");
    EXPECT_EQ(TXdgEmail::Mailbox({TRecipientClass::To, "a@x.org", "Ann Smith"}), "Ann Smith <a@x.org>");
    EXPECT_EQ(TXdgEmail::Mailbox({TRecipientClass::To, "a@x.org", "Smith, Ann"}), "\"Smith, Ann\" <a@x.org>");
    EXPECT_EQ(TXdgEmail::Mailbox({TRecipientClass::To, "a@x.org", "A \"B\" C."}),
              "\"A \\\"B\\\" C.\" <a@x.org>");
}

class XdgEmailSendTest : public ::testing::Test {
protected:
    test::TFakeXdgEmail FFake;
    TXdgEmail FProgram;
    void SetUp() override { SetMailProgram(&FProgram); }
    void TearDown() override { SetMailProgram(nullptr); }
};

TEST_F(XdgEmailSendTest, EverythingArrivesAsSeparateArgumentsIntact) {
    test::TTempDir dir;
    std::filesystem::create_directory(dir.File("mail dir"));
    const std::string attachment = dir.File("mail dir/my log file.log");
    test::WriteFile(attachment, "x");
    const std::string subject = "Caf\xC3\xA9 \xE2\x80\x94 $(touch /tmp/never) `id` 'q' \"d\"";
    const int result =
        SendMailText("", "\"to@x.org,Smith, Ann\",plain@x.org", "\"cc@x.org,Carl\"", true,
                     "\"" + attachment + "\"", "line one\r\n  line two\n\nline $HOME", subject, "bcc@x.org");
    EXPECT_EQ(result, MAIL_SUCCESS);
    EXPECT_THAT(FFake.Arguments(), ElementsAre("--utf8", "--subject", subject, "--body",
                                               "line one\r\n  line two\r\n\r\nline $HOME\r\n", "--cc",
                                               "Carl <cc@x.org>", "--bcc", "bcc@x.org", "--attach",
                                               attachment, "\"Smith, Ann\" <to@x.org>", "plain@x.org"));
}

TEST_F(XdgEmailSendTest, EmptySubjectAndBodyAreLeftOut) {
    EXPECT_EQ(SendNote("", ""), MAIL_SUCCESS);
    EXPECT_THAT(FFake.Arguments(), ElementsAre("--utf8"));
}

TEST_F(XdgEmailSendTest, NoMailProgramReturnsOneAndShowsNothing) {
    FFake.Remove();
    testing::internal::CaptureStderr();
    EXPECT_EQ(SendNote("Broadcast", "text"), MAIL_E_USER_ABORT);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(FFake.Ran());
}

TEST_F(XdgEmailSendTest, ExitStatusesMapToResultCodes) {
    struct TCase {
        int Status;
        int Result;
    };
    const TCase cases[] = {{0, MAIL_SUCCESS},
                           {1, MAIL_E_FAILURE},
                           {2, MAIL_E_ATTACHMENT_NOT_FOUND},
                           {3, MAIL_E_USER_ABORT}, // no tool found to open the composer
                           {4, MAIL_E_FAILURE},
                           {5, MAIL_E_ATTACHMENT_OPEN_FAILURE},
                           {77, MAIL_E_FAILURE}};
    for (const TCase& c : cases) {
        FFake.Install(c.Status, 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(SendNote("s", "b"), c.Result) << "exit status " << c.Status;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

TEST_F(XdgEmailSendTest, ProgramDoesNotInheritOpenDescriptors) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0); // deliberately without O_CLOEXEC
    EXPECT_EQ(SendNote("s", "b"), MAIL_SUCCESS);
    ::close(fds[0]);
    ::close(fds[1]);
    const std::vector<int> inherited = FFake.Descriptors();
    ASSERT_FALSE(inherited.empty());
    EXPECT_THAT(inherited, Not(Contains(fds[0])));
    EXPECT_THAT(inherited, Not(Contains(fds[1])));
}

TEST_F(XdgEmailSendTest, ProgramStillRunningAfterTheWaitCountsAsHandedOver) {
    FFake.Install(4, 1);
    FProgram.WaitMs = 50;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(SendNote("s", "b"), MAIL_SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    EXPECT_EQ(FProgram.PendingCount(), 1u);
    // It is collected once it ends; no zombie is left behind.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FProgram.PendingCount() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(FProgram.PendingCount(), 0u);
}

} // namespace
} // namespace sw
