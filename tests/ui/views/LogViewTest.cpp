#include "ui/views/LogView.h"
#include "log/CommaText.h"
#include "log/EventLog.h"
#include "log/LogFormat.h"
#include "ui/views/LogModel.h"
#include "ui/views/ViewFixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QPlainTextEdit>
#include <QTreeView>
#include <gtest/gtest.h>

namespace sw {
namespace {

using test::TViewFixture;

std::string LinesOf(int count) {
    std::string file;
    for (int i = 0; i < count; ++i) {
        file += ToCommaText({"100", std::to_string(1 + i % 3), "12/08/2026 02:05:09 pm",
                             std::to_string(i % 52), "line " + std::to_string(i), i % 7 ? "" : "a,b"}) +
                "\r\n";
    }
    return file;
}

class LogModelTest : public ::testing::Test {
protected:
    void Load(const std::string& content) {
        test::WriteFile(Dir.File("model.log"), content);
        Log = std::make_unique<TEventLog>(Dir.File("model.log"));
        Log->LoadLog();
        Model = std::make_unique<TLogModel>(Log->LogLines(), nullptr);
        Model->Refresh();
    }
    test::TTempDir Dir;
    std::unique_ptr<TEventLog> Log;
    std::unique_ptr<TLogModel> Model;
};

TEST_F(LogModelTest, TenThousandLinesPassTheModelTester) {
    Load("");
    QAbstractItemModelTester tester(Model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    // Growing, changing in place and shrinking, each checked by the tester as it happens.
    for (const int count : {10000, 10000, 9000, 0}) {
        test::WriteFile(Dir.File("model.log"), LinesOf(count));
        Log->LoadLog();
        Model->Refresh();
        ASSERT_EQ(Model->rowCount(), count);
    }
}

TEST_F(LogModelTest, ReadsOnlyTheRowsAskedFor) {
    Load(LinesOf(10000));
    EXPECT_EQ(Model->ParseCount(), 0u);
    EXPECT_EQ(Model->index(9000, TLogModel::lcValue).data().toString(), QStringLiteral("line 9000"));
    for (int column = 0; column < TLogModel::kColumnCount; ++column) {
        Model->index(9000, column).data();
        Model->index(9000, column).data(Qt::DecorationRole);
    }
    EXPECT_EQ(Model->ParseCount(), 1u);
    Model->index(3, TLogModel::lcDateTime).data();
    EXPECT_EQ(Model->ParseCount(), 2u);

    // A list on screen reads about the rows it shows, not the ten thousand.
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setModel(Model.get());
    view.resize(600, 300);
    view.show();
    view.grab();
    EXPECT_GT(Model->ParseCount(), 2u);
    EXPECT_LT(Model->ParseCount(), 200u);
}

TEST_F(LogModelTest, RowsPastTheLinesReadEmptyUntilRefreshed) {
    Load(LinesOf(20));
    Log->ClearLog();
    // ClearLog's notice has not arrived yet: the list still has 20 rows to paint.
    EXPECT_EQ(Model->rowCount(), 20);
    EXPECT_EQ(Model->index(5, TLogModel::lcDescription).data().toString(), QString());
    Model->Refresh();
    EXPECT_EQ(Model->rowCount(), 0);
}

class LogViewTest : public TViewFixture {
protected:
    void TearDown() override {
        View.reset();
        TViewFixture::TearDown();
    }
    void Create(const std::string& logFile = {}) {
        CreateEngine(logFile);
        View = std::make_unique<TLogView>(*Controller);
        ASSERT_TRUE(WaitFor([this] { return View->Model().rowCount() > 0; }));
    }
    // The row of the last line whose description is text.
    int RowOf(const QString& text) const {
        for (int row = View->Model().rowCount() - 1; row >= 0; --row) {
            if (View->Model().index(row, TLogModel::lcDescription).data().toString() == text) {
                return row;
            }
        }
        return -1;
    }
    void Select(int row) {
        View->ListViewLog()->selectionModel()->select(
            View->Model().index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QString Cell(int row, int column) const { return View->Model().index(row, column).data().toString(); }
    std::unique_ptr<TLogView> View;
};

TEST_F(LogViewTest, ShowsLinesOfOlderVersionsBesideCurrentOnes) {
    std::string file;
    file += ToCommaText({"12", "2", "03/01/2004 10:00:00 am", "4", "Grab failed", "320x240", "a"}) + "\r\n";
    file += ToCommaText({"old", "03/01/2004 09:00:00 am", "Started", "x"}) + "\r\n";
    file += ToCommaText({"3", "3", "03/01/2004 11:00:00 am", "Audio", "Open", "Failed (2)"}) + "\r\n";
    Create(file);
    ASSERT_TRUE(WaitFor([this] { return View->Model().rowCount() >= 4; })); // and "Starting"
    EXPECT_EQ(Cell(0, TLogModel::lcCategory), QStringLiteral("Video"));
    EXPECT_EQ(Cell(0, TLogModel::lcDescription), QStringLiteral("Grab failed"));
    EXPECT_EQ(Cell(0, TLogModel::lcValue), QStringLiteral("320x240"));
    EXPECT_EQ(Cell(1, TLogModel::lcDateTime), QStringLiteral("03/01/2004 09:00:00 am"));
    EXPECT_EQ(Cell(1, TLogModel::lcCategory), QStringLiteral("N/A"));
    EXPECT_EQ(Cell(1, TLogModel::lcDescription), QStringLiteral("Started"));
    EXPECT_EQ(Cell(1, TLogModel::lcValue), QStringLiteral("N/A"));
    EXPECT_EQ(Cell(2, TLogModel::lcValue), QStringLiteral("N/A"));
    EXPECT_EQ(Cell(3, TLogModel::lcCategory), QStringLiteral("Application"));
    EXPECT_EQ(Cell(3, TLogModel::lcDescription), QStringLiteral("Starting"));
    EXPECT_TRUE(View->Model().index(3, TLogModel::lcIcon).data(Qt::DecorationRole).isValid());
    EXPECT_FALSE(View->Model().index(1, TLogModel::lcIcon).data(Qt::DecorationRole).isValid());

    Select(1);
    EXPECT_EQ(View->MemoLogDetails()->toPlainText(), QStringLiteral("x"));
}

TEST_F(LogViewTest, DetailsShowTheHexDumpRowsOfTheSelectedEntry) {
    Create();
    Engine->Log(llError, lmVideoPortInUse, Now(), "");
    Engine->Log(llInformation, lmStart, Now(), "");
    Engine->Log(llInformation, lmClientConnect, Now(), "127.0.0.1");
    Engine->Log(llWarning, lmClientConnectBlocked, Now(), "10.0.0.9");
    std::vector<uint8_t> bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7);
    }
    Engine->LogHexDump(llInformation, lmAudioSocketWrite, Now(), bytes.size(), bytes.data(), "127.0.0.1");
    ASSERT_TRUE(WaitFor([this] { return RowOf(QStringLiteral("Socket write")) >= 0; }));
    const int dump = RowOf(QStringLiteral("Socket write"));
    Select(dump);
    const QStringList shown = View->MemoLogDetails()->toPlainText().split(QLatin1Char('\n'));
    const std::vector<std::string> rows = HexDumpRows(bytes.data(), bytes.size());
    ASSERT_EQ(shown.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(shown[i].toStdString(), rows[static_cast<size_t>(i)]);
    }
    test::ShowView(*View);
    test::SavePicture(*View, "log-hexdump");

    // An entry without values empties the box.
    Select(RowOf(QStringLiteral("Starting")));
    EXPECT_EQ(View->MemoLogDetails()->toPlainText(), QString());

    // The selection and its details stay while later entries arrive.
    Select(dump);
    Engine->Log(llWarning, lmClientBlock, Now(), "10.0.0.9");
    ASSERT_TRUE(WaitFor([this] { return RowOf(QStringLiteral("Block")) >= 0; }));
    EXPECT_EQ(View->SelectedRow(), dump);
    EXPECT_EQ(View->MemoLogDetails()->toPlainText().split(QLatin1Char('\n')).size(), 3);
}

TEST_F(LogViewTest, ClearingTheLogEmptiesTheListAndTheDetails) {
    Create();
    Engine->Log(llInformation, lmConfiguration, Now(), "", "one\r\ntwo");
    ASSERT_TRUE(WaitFor([this] { return RowOf(QStringLiteral("Configuration")) >= 0; }));
    Select(RowOf(QStringLiteral("Configuration")));
    EXPECT_EQ(View->MemoLogDetails()->toPlainText(), QStringLiteral("one\ntwo"));
    ASSERT_TRUE(View->ActionLogClear()->isEnabled());

    View->ActionLogClear()->trigger();
    ASSERT_TRUE(WaitFor([this] { return View->Model().rowCount() == 0; }));
    EXPECT_EQ(View->MemoLogDetails()->toPlainText(), QString());
    EXPECT_EQ(View->SelectedRow(), -1);
    EXPECT_FALSE(View->ActionLogClear()->isEnabled());
    EXPECT_FALSE(View->ActionLogEmail()->isEnabled());
    EXPECT_EQ(test::ReadFile(Engine->LogFileName()), "");
}

} // namespace
} // namespace sw
