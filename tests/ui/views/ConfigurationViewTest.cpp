#include "ui/views/ConfigurationView.h"
#include "engine/Reports.h"
#include "log/CommaText.h"
#include "log/LogFormat.h"
#include "ui/views/ViewFixture.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

namespace sw {
namespace {

class ConfigurationViewTest : public test::TViewFixture {
protected:
    void SetUp() override {
        CreateEngine();
        View = std::make_unique<TConfigurationView>(*Controller);
        QObject::connect(Engine, &TDataModuleMain::LogRecorded, [this](const TAMLog& entry) {
            if (entry.Message == lmConfiguration) {
                Recorded.push_back(entry);
            }
        });
        // The controller's creation asked for the first refresh.
        ASSERT_TRUE(WaitFor([this] { return !Recorded.empty(); }));
    }
    void TearDown() override {
        View.reset();
        TViewFixture::TearDown();
    }
    QTreeWidgetItem* Item(int row) const { return View->ListViewConfiguration()->topLevelItem(row); }
    int Image(int row) const {
        return Item(row)
            ->data(TConfigurationView::gcDescription, TConfigurationView::kImageIndexRole)
            .toInt();
    }
    int Indent(int row) const {
        return Item(row)->data(TConfigurationView::gcDescription, TConfigurationView::kIndentRole).toInt();
    }
    std::unique_ptr<TConfigurationView> View;
    std::vector<TAMLog> Recorded;
};

TEST_F(ConfigurationViewTest, ShowsTheSystemInformationAndLogsTheReport) {
    ASSERT_EQ(View->ListViewConfiguration()->topLevelItemCount(),
              static_cast<int>(Engine->SystemInfo.size()));
    EXPECT_EQ(Item(0)->text(TConfigurationView::gcDescription), QStringLiteral("Operating System"));
    EXPECT_EQ(Image(0), 2);
    EXPECT_EQ(Indent(0), 0);
    EXPECT_EQ(Item(1)->text(TConfigurationView::gcDescription), QStringLiteral("Version"));
    EXPECT_EQ(Image(1), 1);
    EXPECT_EQ(Indent(1), 1);
    ASSERT_EQ(Recorded.size(), 1u);
    EXPECT_EQ(Recorded[0].Level, llInformation);
    EXPECT_EQ(Recorded[0].Detail, "");
    EXPECT_EQ(FromCommaText(Recorded[0].Values), SplitLines(Engine->ConfigurationReport()));
    View->ListViewConfiguration()->setCurrentItem(Item(1));
    test::ShowView(*View);
    test::SavePicture(*View, "configuration");

    // Every rebuild records the report again.
    Engine->BuildSystemInfo();
    ASSERT_TRUE(WaitFor([this] { return Recorded.size() == 2; }));
    EXPECT_EQ(Recorded[1].Values, Recorded[0].Values);
}

TEST_F(ConfigurationViewTest, IconsFollowTheKindOfRowAndIndentsItsLevel) {
    Engine->SystemInfo = {
        ToCommaText({"7", "0", "Seven", ""}),       ToCommaText({"0", "1", "Entry", "v"}),
        ToCommaText({"5", "0", "Addresses", ""}),   ToCommaText({"-1", "2", "Negative", ""}),
        ToCommaText({"x", "y", "Not numbers", ""}), ToCommaText({"3", "-2"}),
        ToCommaText({"1", "999999", "Deep", "z"}),
    };
    Engine->PostToMainWindow(WM_SYSTEMINFOCHANGED);
    ASSERT_TRUE(WaitFor([this] { return Recorded.size() == 2; }));
    ASSERT_EQ(View->ListViewConfiguration()->topLevelItemCount(), 7);
    EXPECT_EQ(Image(0), 0);
    EXPECT_EQ(Image(1), 1);
    EXPECT_EQ(Image(2), 6);
    EXPECT_EQ(Image(3), 0);
    EXPECT_EQ(Image(4), 1); // not a number reads as kind 0
    EXPECT_EQ(Image(5), 4);
    EXPECT_EQ(Indent(1), 1);
    EXPECT_EQ(Indent(3), 2);
    EXPECT_EQ(Indent(4), 0);
    EXPECT_EQ(Indent(5), 0);
    EXPECT_EQ(Item(1)->text(TConfigurationView::gcValue), QStringLiteral("v"));
    // A line without name and value, and an absurd indent, still show sensibly.
    EXPECT_EQ(Item(5)->text(TConfigurationView::gcDescription), QString());
    EXPECT_LE(Indent(6), 32);
    EXPECT_EQ(Item(6)->text(TConfigurationView::gcValue), QStringLiteral("z"));
}

} // namespace
} // namespace sw
