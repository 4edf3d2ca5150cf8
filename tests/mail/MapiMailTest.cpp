#include "mail/MapiMail.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace sw {
namespace {

using ::testing::ElementsAre;

// Records what reaches the mail program instead of starting one.
class TRecordingMailProgram : public TMailProgram {
public:
    int SendMail(const TMailMessage& message, bool showDialog) override {
        Messages.push_back(message);
        Dialogs.push_back(showDialog);
        return Result;
    }
    std::vector<TMailMessage> Messages;
    std::vector<bool> Dialogs;
    int Result = MAIL_SUCCESS;
};

class MapiMailTest : public ::testing::Test {
protected:
    void SetUp() override { SetMailProgram(&FProgram); }
    void TearDown() override { SetMailProgram(nullptr); }
    TRecordingMailProgram FProgram;
};

TMailRecipient Entry(TRecipientClass recipientClass, const std::string& address,
                     std::optional<std::string> name = std::nullopt) {
    return TMailRecipient{recipientClass, address, std::move(name)};
}

TEST_F(MapiMailTest, RecipientEntriesSplitAtTheFirstComma) {
    EXPECT_EQ(TMapiMail::Recipient("a@example.org", TRecipientClass::To),
              Entry(TRecipientClass::To, "a@example.org"));
    EXPECT_EQ(TMapiMail::Recipient("a@example.org,Ann Smith", TRecipientClass::Cc),
              Entry(TRecipientClass::Cc, "a@example.org", "Ann Smith"));
    EXPECT_EQ(TMapiMail::Recipient("a@example.org,Smith, Ann", TRecipientClass::Bcc),
              Entry(TRecipientClass::Bcc, "a@example.org", "Smith, Ann"));
}

TEST_F(MapiMailTest, MessageKeepsListOrderClassesAndBodyLines) {
    TMapiMail mail;
    mail.Originator = "me@example.org";
    mail.ToList = {"to1@example.org", "to2@example.org,Two"};
    mail.CcList = {"cc@example.org"};
    mail.BccList = {"bcc@example.org,Hidden"};
    mail.Attachments = {"/tmp/a b.log", "/tmp/c.txt"};
    mail.Subject = "Subject";
    mail.Body = {"first", "", "third"};
    TMailMessage message = mail.Message();
    EXPECT_EQ(message.Subject, "Subject");
    EXPECT_EQ(message.NoteText, "first\r\n\r\nthird\r\n");
    ASSERT_TRUE(message.Originator);
    EXPECT_EQ(*message.Originator, Entry(TRecipientClass::Originator, "SMTP:me@example.org"));
    EXPECT_THAT(message.Recipients, ElementsAre(Entry(TRecipientClass::To, "to1@example.org"),
                                                Entry(TRecipientClass::To, "to2@example.org", "Two"),
                                                Entry(TRecipientClass::Cc, "cc@example.org"),
                                                Entry(TRecipientClass::Bcc, "bcc@example.org", "Hidden")));
    EXPECT_THAT(message.Attachments, ElementsAre("/tmp/a b.log", "/tmp/c.txt"));
}

TEST_F(MapiMailTest, DialogIsShownWithoutSenderOrRecipientsWhateverTheFlag) {
    TMapiMail mail;
    EXPECT_TRUE(mail.DialogShown(false));
    mail.ToList = {"to@example.org"};
    EXPECT_TRUE(mail.DialogShown(false)); // no originator
    mail.Originator = "me@example.org";
    EXPECT_FALSE(mail.DialogShown(false));
    EXPECT_TRUE(mail.DialogShown(true));
    mail.ToList.clear();
    EXPECT_TRUE(mail.DialogShown(false)); // no recipients

    EXPECT_EQ(SendMail("me@example.org", {}, {}, false, {}, "", "s", {}), MAIL_SUCCESS);
    ASSERT_EQ(FProgram.Dialogs.size(), 1u);
    EXPECT_TRUE(FProgram.Dialogs[0]);
}

TEST_F(MapiMailTest, SendMailSplitsTheBodyIntoLines) {
    SendMail({}, {"a@example.org"}, {}, true, {}, "one\rtwo\nthree\r\nfour\r\n", "s", {});
    ASSERT_EQ(FProgram.Messages.size(), 1u);
    EXPECT_EQ(FProgram.Messages[0].NoteText, "one\r\ntwo\r\nthree\r\nfour\r\n");
    SendMail({}, {}, {}, true, {}, "", "s", {});
    EXPECT_EQ(FProgram.Messages[1].NoteText, "");
}

TEST_F(MapiMailTest, SendNoteHasNoSenderRecipientsOrAttachments) {
    EXPECT_EQ(SendNote("Broadcast", "link"), MAIL_SUCCESS);
    ASSERT_EQ(FProgram.Messages.size(), 1u);
    const TMailMessage& message = FProgram.Messages[0];
    EXPECT_EQ(message.Subject, "Broadcast");
    EXPECT_EQ(message.NoteText, "link\r\n");
    EXPECT_FALSE(message.Originator);
    EXPECT_TRUE(message.Recipients.empty());
    EXPECT_TRUE(message.Attachments.empty());
    EXPECT_TRUE(FProgram.Dialogs[0]);
}

TEST_F(MapiMailTest, MailListItemsKeepQuotedCommasAndInnerSpaces) {
    struct TCase {
        const char* Text;
        std::vector<std::string> Items;
    };
    const TCase cases[] = {
        {"", {}},
        {"a@x.org", {"a@x.org"}},
        {"a@x.org, b@x.org", {"a@x.org", "b@x.org"}},
        {" a@x.org ,b@x.org ", {"a@x.org", "b@x.org"}},
        {"\"a@x.org,Smith, Ann\",b@x.org", {"a@x.org,Smith, Ann", "b@x.org"}},
        {"/tmp/my file.log", {"/tmp/my file.log"}},
        {"\" /tmp/lead space\"", {" /tmp/lead space"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"a,,b,", {"a", "b"}},
        {"\"unterminated, still one", {"unterminated, still one"}},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(SplitMailList(c.Text), c.Items) << c.Text;
    }
}

TEST_F(MapiMailTest, SendMailTextFillsEachList) {
    SendMailText("", "\"to@x.org,To Name\", to2@x.org", "cc@x.org", true, "\"/tmp/a, b.log\",/tmp/c d.txt",
                 "body", "Subject", "bcc@x.org");
    ASSERT_EQ(FProgram.Messages.size(), 1u);
    const TMailMessage& message = FProgram.Messages[0];
    EXPECT_THAT(message.Recipients,
                ElementsAre(Entry(TRecipientClass::To, "to@x.org", "To Name"),
                            Entry(TRecipientClass::To, "to2@x.org"), Entry(TRecipientClass::Cc, "cc@x.org"),
                            Entry(TRecipientClass::Bcc, "bcc@x.org")));
    EXPECT_THAT(message.Attachments, ElementsAre("/tmp/a, b.log", "/tmp/c d.txt"));
    EXPECT_FALSE(message.Originator);
}

} // namespace
} // namespace sw
