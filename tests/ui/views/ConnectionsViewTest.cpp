#include "ui/views/ConnectionsView.h"
#include "engine/ViewerFixture.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/views/ViewFixture.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLocale>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace sw {
namespace {

class ConnectionsViewTest : public test::TViewerFixture {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        TViewerFixture::SetUp();
        View = std::make_unique<TConnectionsView>(Program->Controller());
        View->Refresh();
    }
    void TearDown() override {
        View.reset();
        TViewerFixture::TearDown();
        QLocale::setDefault(QLocale::system());
    }
    QTreeWidget& List() const { return *View->ListViewConnection(); }
    QTreeWidgetItem* Row(const char* address) const {
        const QList<QTreeWidgetItem*> found = List().findItems(QString::fromUtf8(address), Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.front();
    }
    QString Status(int panel) const { return View->StatusBarConnection()->PanelText(panel); }
    QStringList Captions() const {
        QStringList captions;
        for (int i = 0; i < List().topLevelItemCount(); ++i) {
            captions.push_back(List().topLevelItem(i)->text(TConnectionsView::ccAddress));
        }
        return captions;
    }
    void Select(const char* address) { List().setCurrentItem(Row(address)); }
    // Refreshes as the window would on the registry's notice.
    void Changed() {
        PostWindowMessage(&Program->Controller(), WM_CONNECTIONSCHANGED);
        QCoreApplication::sendPostedEvents(&Program->Controller());
    }
    std::unique_ptr<TConnectionsView> View;
};

TEST_F(ConnectionsViewTest, TwoStreamsFromOneAddressShareOneRow) {
    TUniqueFd video = ConnectViewer(VideoPort, "127.0.0.1");
    TUniqueFd audio = ConnectViewer(AudioPort, "127.0.0.1");
    ASSERT_TRUE(WaitFor([this] {
        QTreeWidgetItem* row = Row("127.0.0.1");
        return row && row->text(TConnectionsView::ccAudio) == QStringLiteral("1") &&
               row->text(TConnectionsView::ccVideo) == QStringLiteral("1");
    }));
    EXPECT_EQ(List().topLevelItemCount(), 1);
    EXPECT_EQ(Status(TConnectionsView::cpAddresses), QStringLiteral("1 IP(s)"));
    EXPECT_EQ(Status(TConnectionsView::cpAudio), QStringLiteral("1 Audio"));
    EXPECT_EQ(Status(TConnectionsView::cpVideo), QStringLiteral("1 Video"));
    EXPECT_EQ(Row("127.0.0.1")->text(TConnectionsView::ccDateTime),
              TConnectionsView::FormatConnectTime(Registry->Find("127.0.0.1", false)->ConnectTime));
    EXPECT_FALSE(Row("127.0.0.1")->text(TConnectionsView::ccDateTime).isEmpty());

    // A second machine, and a blocked address that has never connected.
    TUniqueFd other = ConnectViewer(VideoPort, "127.0.0.2");
    Registry->Block("10.9.9.9");
    Changed();
    ASSERT_TRUE(WaitFor([this] { return Row("127.0.0.2") != nullptr; }));
    Select("127.0.0.2");
    test::ShowView(*View);
    test::SavePicture(*View, "connections");

    video.Reset();
    audio.Reset();
    ASSERT_TRUE(WaitFor([this] { return Row("127.0.0.1") == nullptr; }));
    EXPECT_EQ(Captions(), (QStringList{QStringLiteral("10.9.9.9"), QStringLiteral("127.0.0.2")}));
    EXPECT_EQ(View->SelectedAddress(), "127.0.0.2");
    EXPECT_EQ(Status(TConnectionsView::cpAddresses), QStringLiteral("2 IP(s)"));
}

TEST_F(ConnectionsViewTest, BlockedAddressWithoutConnectionsHasARowAndCounts) {
    Registry->Block("10.0.0.5");
    Changed();
    QTreeWidgetItem* row = Row("10.0.0.5");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->data(TConnectionsView::ccAddress, TConnectionsView::kImageIndexRole).toInt(), 1);
    EXPECT_EQ(row->text(TConnectionsView::ccAudio), QStringLiteral("0"));
    EXPECT_EQ(row->text(TConnectionsView::ccVideo), QStringLiteral("0"));
    EXPECT_EQ(row->text(TConnectionsView::ccDateTime), QString());
    EXPECT_EQ(Status(TConnectionsView::cpAddresses), QStringLiteral("1 IP(s)"));
    EXPECT_EQ(Status(TConnectionsView::cpVideo), QStringLiteral("0 Video"));

    // Unblocking from the view: the action runs through the controller and the row goes.
    Select("10.0.0.5");
    ASSERT_TRUE(View->ActionClientBlocked()->isEnabled());
    EXPECT_TRUE(View->ActionClientBlocked()->isChecked());
    EXPECT_FALSE(View->ActionClientDisconnect()->isEnabled());
    View->ActionClientBlocked()->trigger();
    ASSERT_TRUE(WaitFor([this] { return List().topLevelItemCount() == 0; }));
    EXPECT_EQ(Registry->Find("10.0.0.5", false), nullptr);
    EXPECT_EQ(EntriesOf(lmClientUnblock).size(), 1u);
    EXPECT_EQ(View->ContextMenu(), nullptr);
}

TEST_F(ConnectionsViewTest, BlockingTheSelectedViewerChangesItsIcon) {
    TUniqueFd video = ConnectViewer(VideoPort, "127.0.0.3");
    ASSERT_TRUE(WaitFor([this] { return Row("127.0.0.3") != nullptr; }));
    Select("127.0.0.3");
    EXPECT_TRUE(View->ActionClientDisconnect()->isEnabled());
    EXPECT_FALSE(View->ActionClientBlocked()->isChecked());
    View->ActionClientBlocked()->trigger();
    ASSERT_TRUE(WaitFor([this] {
        return Row("127.0.0.3")
                   ->data(TConnectionsView::ccAddress, TConnectionsView::kImageIndexRole)
                   .toInt() == 1;
    }));
    EXPECT_TRUE(Registry->Find("127.0.0.3", false)->Blocked);
    EXPECT_TRUE(View->ActionClientBlocked()->isChecked());
    EXPECT_EQ(EntriesOf(lmClientBlock).size(), 1u);
    EXPECT_EQ(View->SelectedAddress(), "127.0.0.3");
    test::ShowView(*View);
    test::SavePicture(*View, "connections-blocked");
}

TEST_F(ConnectionsViewTest, ThousandsOfEntriesAreCountedWithTheThousandsSeparator) {
    for (int i = 0; i < 1234; ++i) {
        Registry->VideoConnect("10." + std::to_string(i / 250) + ".0." + std::to_string(i % 250));
    }
    Changed();
    EXPECT_EQ(List().topLevelItemCount(), 1234);
    EXPECT_EQ(Status(TConnectionsView::cpAddresses), QStringLiteral("1,234 IP(s)"));
    EXPECT_EQ(Status(TConnectionsView::cpVideo), QStringLiteral("1,234 Video"));
    EXPECT_EQ(Status(TConnectionsView::cpAudio), QStringLiteral("0 Audio"));
    // Sorted as text: every caption is not above the next one.
    const QStringList captions = Captions();
    EXPECT_EQ(captions.front(), QStringLiteral("10.0.0.0"));
    EXPECT_LT(captions.indexOf(QStringLiteral("10.0.0.10")), captions.indexOf(QStringLiteral("10.0.0.2")));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Changed();
    EXPECT_EQ(Status(TConnectionsView::cpAddresses), QStringLiteral("1.234 IP(s)"));
}

TEST_F(ConnectionsViewTest, RowsSortAsTextAndKeepTheSelection) {
    for (const char* address : {"9.0.0.1", "10.0.0.2", "192.168.1.20", "10.0.0.7"}) {
        Registry->AudioConnect(address);
    }
    Changed();
    EXPECT_EQ(Captions(), (QStringList{QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.7"),
                                       QStringLiteral("192.168.1.20"), QStringLiteral("9.0.0.1")}));
    EXPECT_EQ(View->ContextMenu(), nullptr);
    Select("10.0.0.7");
    EXPECT_EQ(View->ContextMenu(), View->MenuConnection());

    Registry->AudioDisconnect("10.0.0.2");
    Registry->AudioConnect("10.0.0.1");
    Registry->AudioConnect("10.0.0.7");
    Changed();
    EXPECT_EQ(Captions(), (QStringList{QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.7"),
                                       QStringLiteral("192.168.1.20"), QStringLiteral("9.0.0.1")}));
    EXPECT_EQ(View->SelectedAddress(), "10.0.0.7");
    EXPECT_EQ(Row("10.0.0.7")->text(TConnectionsView::ccAudio), QStringLiteral("2"));

    // The selected address leaves: nothing is selected and the menu goes.
    Registry->Reset("10.0.0.7");
    Changed();
    EXPECT_EQ(View->SelectedAddress(), "");
    EXPECT_EQ(View->ContextMenu(), nullptr);
    EXPECT_FALSE(View->ActionClientBlocked()->isEnabled());
}

TEST_F(ConnectionsViewTest, RightClickPopsUpTheMenuOnlyOverASelectedRow) {
    Registry->VideoConnect("10.0.0.1");
    Changed();
    test::ShowView(*View);
    QWidget* viewport = List().viewport();
    auto rightClick = [viewport](const QPoint& at) {
        QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, at);
        QTest::mouseRelease(viewport, Qt::RightButton, Qt::NoModifier, at);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QApplication::sendEvent(viewport, &event);
    };
    // Below the only row: nothing is selected, so no menu.
    rightClick(QPoint(20, viewport->height() - 10));
    EXPECT_FALSE(View->MenuConnection()->isVisible());
    // On the row: the press selects it, and the menu follows.
    rightClick(List().visualItemRect(Row("10.0.0.1")).center());
    EXPECT_EQ(View->SelectedAddress(), "10.0.0.1");
    EXPECT_TRUE(View->MenuConnection()->isVisible());
    EXPECT_TRUE(View->ActionClientDisconnect()->isEnabled());
    View->MenuConnection()->hide();
}

TEST_F(ConnectionsViewTest, StopPutsTheStatusBackToZero) {
    Registry->VideoConnect("10.0.0.1");
    Changed();
    EXPECT_EQ(Status(TConnectionsView::cpVideo), QStringLiteral("1 Video"));
    Program->Controller().Stop();
    EXPECT_EQ(Status(TConnectionsView::cpAddresses), QStringLiteral("0 IP(s)"));
    EXPECT_EQ(Status(TConnectionsView::cpAudio), QStringLiteral("0 Audio"));
    EXPECT_EQ(Status(TConnectionsView::cpVideo), QStringLiteral("0 Video"));
}

TEST(ConnectionsViewFormatTest, TimesAreTwelveHourWithoutSeconds) {
    EXPECT_EQ(TConnectionsView::FormatConnectTime(EncodeDateTime({2026, 12, 8, 14, 5, 9, 0, 0})),
              QStringLiteral("12/08/2026 02:05 pm"));
    EXPECT_EQ(TConnectionsView::FormatConnectTime(EncodeDateTime({2027, 1, 2, 0, 30, 0, 0, 0})),
              QStringLiteral("01/02/2027 12:30 am"));
    EXPECT_EQ(TConnectionsView::FormatConnectTime(EncodeDateTime({2027, 1, 2, 12, 0, 59, 999, 0})),
              QStringLiteral("01/02/2027 12:00 pm"));
}

} // namespace
} // namespace sw
