#include "ReportTestSupport.h"
#include "engine/DataModuleMain.h"
#include "engine/Reports.h"
#include "mail/FakeXdgEmail.h"
#include "mail/MapiMail.h"

#include <QCoreApplication>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace sw {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ReportEmailTest : public ::testing::Test {
protected:
    ReportEmailTest() {
        FConfig.Config().StoreRunTimeValues();
        std::filesystem::create_directory(FConfig.Dir().File("log folder"));
        FEngine = std::make_unique<TDataModuleMain>(FConfig.Dir().File("log folder/stream wright.log"));
        QCoreApplication::sendPostedEvents();
        FLines = FEngine->LogLines().size();
    }
    ~ReportEmailTest() override { FEngine.reset(); }

    test::TFakeXdgEmail FFake;
    test::TTestConfiguration FConfig;
    std::unique_ptr<TDataModuleMain> FEngine;
    size_t FLines = 0;
};

TEST_F(ReportEmailTest, LinkGoesOutAsABroadcastNote) {
    FEngine->EmailLink();
    EXPECT_THAT(FFake.Arguments(),
                ElementsAre("--utf8", "--subject", "Broadcast", "--body",
                            "\r\nPlease click the following link to view my broadcast:\r\n\r\n"
                            "http://81.2.3.4/index.htm\r\n"));
}

TEST_F(ReportEmailTest, ConfigurationReportGoesToSupport) {
    FEngine->EmailConfiguration();
    const std::string report = FEngine->ConfigurationReport();
    ASSERT_THAT(report, HasSubstr("\r\n\r\nIP Addresses\r\n  81.2.3.4\r\n"));
    EXPECT_THAT(FFake.Arguments(),
                ElementsAre("--utf8", "--subject", "Configuration", "--body", report, kSupportAddress));
}

TEST_F(ReportEmailTest, LogFileIsAttachedByItsFullPathWithEveryLineWritten) {
    const std::string logFile = FConfig.Dir().File("log folder/stream wright.log");
    FEngine->Log(llInformation, lmStop, Now(), "last words");
    FEngine->EmailLog();
    EXPECT_THAT(FFake.Arguments(),
                ElementsAre("--utf8", "--subject", "Log", "--attach", logFile, kSupportAddress));
    EXPECT_THAT(test::ReadFile(logFile), HasSubstr("last words"));
}

TEST_F(ReportEmailTest, MailsLogNothingAndShowNothingWithoutAMailProgram) {
    FEngine->EmailLink();
    FEngine->EmailConfiguration();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(FEngine->LogLines().size(), FLines);

    FFake.Remove();
    testing::internal::CaptureStderr();
    FEngine->EmailLink();
    FEngine->EmailConfiguration();
    FEngine->EmailLog();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(FEngine->LogLines().size(), FLines);
    EXPECT_EQ(SendNote(kLinkSubject, EmailLinkText()), MAIL_E_USER_ABORT);
}

} // namespace
} // namespace sw
