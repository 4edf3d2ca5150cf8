#include "ui/OptionsDialog.h"

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "log/LogTypes.h"
#include "platform/profile/IniFile.h"
#include "platform/shell/OperatorPrompts.h"
#include "ui/ColorBox.h"
#include "ui/QtPrompts.h"
#include "ui/SwitchTree.h"
#include "ui/UpDownEdit.h"
#include "ui/controls/BookControl.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QToolButton>
#include <deque>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace sw {
namespace {

// Dialog answers from a script; what was asked is kept.
class TDialogPrompts : public TConsolePrompts {
public:
    TDialogPrompts() { SetPrompts(this); }
    ~TDialogPrompts() override { SetPrompts(nullptr); }
    std::optional<std::string> ChooseOpenFile(const TOpenFileRequest& request) override {
        OpenRequests.push_back(request);
        return Next(FileAnswers);
    }
    std::optional<std::string> BrowseForFolder(const TBrowseRequest& request) override {
        BrowseRequests.push_back(request);
        return Next(FileAnswers);
    }
    std::optional<int32_t> ChooseColor(int32_t initial) override {
        ColorInitials.push_back(initial);
        if (ColorAnswers.empty()) {
            return std::nullopt;
        }
        const std::optional<int32_t> answer = ColorAnswers.front();
        ColorAnswers.pop_front();
        return answer;
    }
    std::deque<std::optional<std::string>> FileAnswers;
    std::deque<std::optional<int32_t>> ColorAnswers;
    std::vector<TOpenFileRequest> OpenRequests;
    std::vector<TBrowseRequest> BrowseRequests;
    std::vector<int32_t> ColorInitials;

private:
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& answers) {
        if (answers.empty()) {
            return std::nullopt;
        }
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override { Load(); }
    void TearDown() override {
        Dialog.reset();
        SetConfiguration(nullptr);
    }

    void Load(const std::string& ini = {}) {
        Dialog.reset();
        if (!ini.empty()) {
            test::WriteFile(IniFile(), ini);
        }
        Config = std::make_unique<TConfiguration>(IniFile());
        SetConfiguration(Config.get());
        Config->Reload();
        Dialog = std::make_unique<TFormOptions>();
    }
    std::string IniFile() const { return Dir.File("streamwright.ini"); }

    template <typename T = QWidget>
    T* Find(const char* name) const {
        T* widget = Dialog->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* EditOf(const char* name) const { return Find<QLineEdit>(name); }
    QComboBox* ComboOf(const char* name) const { return Find<QComboBox>(name); }
    void Click(const char* name) const { Find<QAbstractButton>(name)->click(); }

    test::TTempDir Dir;
    TDialogPrompts Prompts;
    std::unique_ptr<TConfiguration> Config;
    std::unique_ptr<TFormOptions> Dialog;
};

TEST_F(OptionsDialogTest, CaptionFirstPageAndEveryControlByName) {
    EXPECT_EQ(Dialog->windowTitle(), QStringLiteral("Options"));
    EXPECT_EQ(Dialog->CurrentPage(), TFormOptions::pgText);
    EXPECT_EQ(Find<QLabel>("PanelHeader")->text(), QStringLiteral("Text"));
    for (const char* name : {"ComboBoxText",
                             "EditText",
                             "ComboBoxTextAlignmentHorizontal",
                             "ComboBoxTextAlignmentVertical",
                             "CheckBox24Hour",
                             "ComboBoxTextColor",
                             "ComboBoxTextFont",
                             "EditTextSize",
                             "UpDownTextSize",
                             "CheckBoxSoundConnect",
                             "EditSoundConnect",
                             "ButtonSoundConnect",
                             "EditVideoPort",
                             "UpDownVideoPort",
                             "EditAudioPort",
                             "UpDownAudioPort",
                             "ComboBoxHost",
                             "EditHostAddress",
                             "EditVideoBuffer",
                             "UpDownVideoBuffer",
                             "CheckBoxWeb",
                             "EditWebPath",
                             "ButtonWebPath",
                             "EditWebPort",
                             "UpDownWebPort",
                             "ComboBoxWebHost",
                             "EditWebHostAddress",
                             "EditWebPage",
                             "ButtonWebPage",
                             "CheckBoxMinimizeTray",
                             "ComboBoxColor",
                             "EditJpegQuality",
                             "UpDownJpegQuality",
                             "CheckBoxLogInformation",
                             "CheckBoxLogWarning",
                             "CheckBoxLogError",
                             "TreeViewLog",
                             "ButtonApply",
                             "ButtonOk",
                             "ButtonCancel"}) {
        QWidget* widget = Find(name);
        ASSERT_NE(widget, nullptr);
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << name;
    }
    struct TRange {
        const char* Name;
        int Minimum, Maximum, Step;
    };
    for (const TRange& range : {TRange{"UpDownTextSize", 1, 256, 1},
                                {"UpDownVideoPort", 0, 32767, 1},
                                {"UpDownAudioPort", 0, 32767, 1},
                                {"UpDownVideoBuffer", 0, 128, 4},
                                {"UpDownWebPort", 0, 32767, 1},
                                {"UpDownJpegQuality", 1, 100, 1}}) {
        auto* box = Find<QSpinBox>(range.Name);
        EXPECT_EQ(box->minimum(), range.Minimum) << range.Name;
        EXPECT_EQ(box->maximum(), range.Maximum) << range.Name;
        EXPECT_EQ(box->singleStep(), range.Step) << range.Name;
    }
    Dialog->PageButton(TFormOptions::pgLog)->click();
    EXPECT_EQ(Dialog->CurrentPage(), TFormOptions::pgLog);
    EXPECT_EQ(Find<QLabel>("PanelHeader")->text(), QStringLiteral("Log"));
}

TEST_F(OptionsDialogTest, CustomTextIsShownOnlyForCustomAndKeptWhenDateIsApplied) {
    Load("[Text]\r\nFormat=5\r\nCustom=hello [date]\r\n");
    EXPECT_TRUE(EditOf("EditText")->isEnabled());
    EXPECT_EQ(EditOf("EditText")->text(), QStringLiteral("hello [date]"));
    ComboOf("ComboBoxText")->setCurrentIndex(1);
    EXPECT_FALSE(EditOf("EditText")->isEnabled());
    EXPECT_EQ(EditOf("EditText")->text(), QStringLiteral("<N/A>"));
    Dialog->Apply();
    TIniFile file(IniFile());
    EXPECT_EQ(file.ReadInteger("Text", "Format", -1), 1);
    EXPECT_EQ(file.ReadString("Text", "Custom", ""), "hello [date]");

    ComboOf("ComboBoxText")->setCurrentIndex(5);
    EditOf("EditText")->setText(QStringLiteral("typed"));
    Dialog->Apply();
    EXPECT_EQ(TIniFile(IniFile()).ReadString("Text", "Custom", ""), "typed");
}

TEST_F(OptionsDialogTest, HostListsShowTheStoredAddressAgainEachTime) {
    Load("[Broadcast]\r\nHost=0\r\nHostAddress=stored.example\r\n[Web]\r\nHost=1\r\nHostAddress=web."
         "example\r\n");
    QLineEdit* address = EditOf("EditHostAddress");
    EXPECT_EQ(address->text(), QStringLiteral("<Dynamic>"));
    EXPECT_FALSE(address->isEnabled());
    EXPECT_EQ(EditOf("EditWebHostAddress")->text(), QStringLiteral("web.example"));
    QComboBox* host = ComboOf("ComboBoxHost");
    host->setCurrentIndex(1);
    EXPECT_EQ(address->text(), QStringLiteral("stored.example"));
    address->setText(QStringLiteral("10.9.8.7"));
    host->setCurrentIndex(0);
    host->setCurrentIndex(1);
    EXPECT_EQ(address->text(), QStringLiteral("stored.example")) << "the typed address is dropped";

    host->setCurrentIndex(0);
    Dialog->Apply();
    EXPECT_EQ(TIniFile(IniFile()).ReadString("Broadcast", "HostAddress", ""), "stored.example")
        << "written only when Custom is chosen";
    EXPECT_EQ(TIniFile(IniFile()).ReadInteger("Broadcast", "Host", -1), 0);
}

TEST_F(OptionsDialogTest, ApplyCorrectsThePathAndThePage) {
    EditOf("EditWebPath")->setText(QStringLiteral("/srv/web/"));
    EditOf("EditWebPage")->setText(QStringLiteral("index.htm"));
    Dialog->Apply();
    EXPECT_EQ(EditOf("EditWebPath")->text(), QStringLiteral("/srv/web"));
    EXPECT_EQ(EditOf("EditWebPage")->text(), QStringLiteral("/index.htm"));
    TIniFile file(IniFile());
    EXPECT_EQ(file.ReadString("Web", "Path", ""), "/srv/web");
    EXPECT_EQ(file.ReadString("Web", "Page", ""), "/index.htm");
}

TEST_F(OptionsDialogTest, PageBrowserKeepsThePageRelativeToTheHomeDirectory) {
    EditOf("EditWebPath")->setText(QStringLiteral("/srv/web"));
    EditOf("EditWebPage")->setText(QStringLiteral("/index.htm"));
    Prompts.FileAnswers = {"/srv/web/sub/a.htm", "/srv/web/sub/a.htm", "/srv/website/b.htm", std::nullopt};
    Click("ButtonWebPage");
    ASSERT_EQ(Prompts.BrowseRequests.size(), 1u);
    EXPECT_EQ(Prompts.BrowseRequests[0].Title, "Web Page");
    EXPECT_EQ(Prompts.BrowseRequests[0].Root, "/srv/web");
    EXPECT_EQ(Prompts.BrowseRequests[0].InitialPath, "/index.htm");
    EXPECT_TRUE(Prompts.BrowseRequests[0].IncludeFiles);
    EXPECT_EQ(EditOf("EditWebPage")->text(), QStringLiteral("/sub/a.htm"));
    EXPECT_EQ(EditOf("EditWebPath")->text(), QStringLiteral("/srv/web"));

    EditOf("EditWebPath")->clear();
    Click("ButtonWebPage");
    EXPECT_EQ(Prompts.BrowseRequests[1].Root, "");
    EXPECT_EQ(EditOf("EditWebPath")->text(), QStringLiteral("/srv/web/sub/"));
    EXPECT_EQ(EditOf("EditWebPage")->text(), QStringLiteral("/a.htm"));

    EditOf("EditWebPath")->setText(QStringLiteral("/srv/web"));
    Click("ButtonWebPage");
    EXPECT_EQ(EditOf("EditWebPath")->text(), QStringLiteral("/srv/website/")) << "a file outside the home";
    EXPECT_EQ(EditOf("EditWebPage")->text(), QStringLiteral("/b.htm"));
    Click("ButtonWebPage");
    EXPECT_EQ(EditOf("EditWebPage")->text(), QStringLiteral("/b.htm")) << "cancelled";

    Prompts.FileAnswers = {"/srv/other"};
    Click("ButtonWebPath");
    EXPECT_EQ(Prompts.BrowseRequests.back().Title, "Web Home Directory");
    EXPECT_FALSE(Prompts.BrowseRequests.back().IncludeFiles);
    EXPECT_EQ(EditOf("EditWebPath")->text(), QStringLiteral("/srv/other"));
}

TEST_F(OptionsDialogTest, SoundFileDialogAsksForAnExistingWaveFile) {
    Prompts.FileAnswers = {"/tmp/ding.wav"};
    Click("ButtonSoundConnect");
    ASSERT_EQ(Prompts.OpenRequests.size(), 1u);
    EXPECT_EQ(Prompts.OpenRequests[0].Filter, "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*");
    EXPECT_EQ(Prompts.OpenRequests[0].DefaultExtension, "wav");
    EXPECT_TRUE(Prompts.OpenRequests[0].MustExist);
    EXPECT_EQ(EditOf("EditSoundConnect")->text(), QStringLiteral("/tmp/ding.wav"));
    EXPECT_EQ(TQtPrompts::QtFilter(Prompts.OpenRequests[0].Filter),
              QStringLiteral("Wave Files (*.wav);;All Files (*)"));
}

TEST_F(OptionsDialogTest, ColourListsNameTheirColoursAndAskForACustomOne) {
    Load("[Text]\r\nColor=16776960\r\n[Application]\r\nBackgroundColor=1193046\r\n");
    auto* text = Find<TColorBox>("ComboBoxTextColor");
    auto* background = Find<TColorBox>("ComboBoxColor");
    EXPECT_EQ(text->currentText(), QStringLiteral("Aqua"));
    EXPECT_EQ(background->currentIndex(), TColorBox::kCustomIndex) << "a colour of no name is the custom one";
    EXPECT_EQ(background->Selected(), 0x123456);
    EXPECT_EQ(text->findText(QStringLiteral("Button Face")), -1) << "no system colours for the text";
    EXPECT_GE(background->findText(QStringLiteral("Button Face")), 0);
    QStyleOptionViewItem option;
    EXPECT_EQ(text->itemDelegate()->sizeHint(option, text->model()->index(1, 0)).height(), 15);

    Prompts.ColorAnswers = {std::nullopt, 0x0A0B0C};
    text->setCurrentIndex(TColorBox::kCustomIndex);
    Q_EMIT text->activated(TColorBox::kCustomIndex);
    EXPECT_EQ(text->currentText(), QStringLiteral("Aqua")) << "a cancelled colour dialog changes nothing";
    text->setCurrentIndex(TColorBox::kCustomIndex);
    Q_EMIT text->activated(TColorBox::kCustomIndex);
    EXPECT_EQ(text->Selected(), 0x0A0B0C);
    EXPECT_EQ(Prompts.ColorInitials, (std::vector<int32_t>{0xFFFF00, 0xFFFF00}));
    background->setCurrentIndex(background->findText(QStringLiteral("Window")));
    Dialog->Apply();
    TIniFile file(IniFile());
    EXPECT_EQ(file.ReadInteger("Text", "Color", 0), 0x0A0B0C);
    EXPECT_EQ(file.ReadString("Application", "BackgroundColor", ""), "-16777211");
}

TEST_F(OptionsDialogTest, FontListIsSortedAndAMissingFontIsWrittenEmpty) {
    QComboBox* fonts = ComboOf("ComboBoxTextFont");
    ASSERT_GT(fonts->count(), 0);
    for (int i = 1; i < fonts->count(); ++i) {
        EXPECT_LE(QString::compare(fonts->itemText(i - 1), fonts->itemText(i), Qt::CaseInsensitive), 0);
    }
    EXPECT_EQ(fonts->currentIndex(), -1) << "the default MS Sans Serif is not installed here";
    Dialog->Apply();
    EXPECT_EQ(TIniFile(IniFile()).ReadString("Text", "Font", "x"), "");

    Load("[Text]\r\nFont=dejavu sans\r\n");
    EXPECT_EQ(ComboOf("ComboBoxTextFont")->currentText(), QStringLiteral("DejaVu Sans"));
}

void ClickAt(QWidget* widget, QPoint point) {
    const QPointF global = widget->mapToGlobal(QPointF(point));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(point), global, Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(point), global, Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(widget, &release);
}

// A click at the centre of a node's image.
void ClickImage(TSwitchTree* tree, QTreeWidgetItem* item) {
    ClickAt(tree->viewport(), tree->ImageRect(item).center());
}

QTreeWidgetItem* Category(TSwitchTree* tree, const char* name) {
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        if (tree->topLevelItem(i)->text(0) == QString::fromUtf8(name)) {
            return tree->topLevelItem(i);
        }
    }
    return nullptr;
}

TEST_F(OptionsDialogTest, SwitchTreeIsSortedExpandedAndTogglesOnImageClicks) {
    Load("[Log]\r\n3=0\r\n20=0\r\n");
    Dialog->resize(700, 600);
    Dialog->show();
    Dialog->ShowPage(TFormOptions::pgLog);
    auto* tree = Find<TSwitchTree>("TreeViewLog");
    std::vector<std::string> categories;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        categories.push_back(tree->topLevelItem(i)->text(0).toStdString());
        EXPECT_TRUE(tree->topLevelItem(i)->isExpanded());
        EXPECT_EQ(TSwitchTree::Image(tree->topLevelItem(i)), TSwitchTree::kImagePartly)
            << "every category has a message switched on";
    }
    EXPECT_EQ(categories, (std::vector<std::string>{"Application", "Audio", "Broadcast", "Client", "Publish",
                                                    "Video", "Web"}));
    QTreeWidgetItem* video = Category(tree, "Video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->childCount(), 22);
    EXPECT_EQ(video->child(0)->text(0), QStringLiteral("Capture get setup"));
    tree->collapseItem(video);
    EXPECT_TRUE(video->isExpanded()) << "a collapse is refused";

    ClickImage(tree, video);
    for (int i = 0; i < video->childCount(); ++i) {
        EXPECT_EQ(TSwitchTree::Image(video->child(i)), TSwitchTree::kImageOff)
            << "a partly-on category goes off";
    }
    ClickImage(tree, video);
    EXPECT_EQ(TSwitchTree::Image(video), TSwitchTree::kImageOn);
    for (int i = 0; i < video->childCount(); ++i) {
        EXPECT_EQ(TSwitchTree::Image(video->child(i)), TSwitchTree::kImageOn);
    }

    QTreeWidgetItem* web = Category(tree, "Web");
    QTreeWidgetItem* get = web->child(0);
    ASSERT_EQ(get->text(0), QStringLiteral("Get"));
    const QRect text = tree->visualItemRect(get);
    ClickAt(tree->viewport(), QPoint(text.right() - 2, text.center().y()));
    EXPECT_EQ(TSwitchTree::Image(get), TSwitchTree::kImageOn) << "a click beside the image";
    ClickImage(tree, get);
    EXPECT_EQ(TSwitchTree::Image(get), TSwitchTree::kImageOff);
    EXPECT_EQ(TSwitchTree::Image(web), TSwitchTree::kImagePartly);
    for (int i = 1; i < web->childCount(); ++i) {
        ClickImage(tree, web->child(i));
    }
    EXPECT_EQ(TSwitchTree::Image(web), TSwitchTree::kImageOff) << "the last message off";

    Dialog->Apply();
    const TLogConfiguration& log = Configuration().Log();
    EXPECT_TRUE(log.MessageEnabled(lmVideoError));
    EXPECT_TRUE(log.MessageEnabled(lmVideoSocketWrite));
    for (uint8_t message = lmWebUnknown; message <= lmWebHead; ++message) {
        EXPECT_FALSE(log.MessageEnabled(message)) << int(message);
    }
    EXPECT_TRUE(log.MessageEnabled(lmStart));
}

TEST_F(OptionsDialogTest, WhileBroadcastingTheServerPagesAreAbsentButStillWritten) {
    Load("[Video]\r\nPort=3001\r\n[Web]\r\nPort=8080\r\nEnabled=1\r\n");
    Dialog->SetBroadcasting(true);
    EXPECT_TRUE(Dialog->PageButton(TFormOptions::pgBroadcast)->isHidden());
    EXPECT_TRUE(Dialog->PageButton(TFormOptions::pgWeb)->isHidden());
    EXPECT_FALSE(Dialog->PageButton(TFormOptions::pgGeneral)->isHidden());
    std::remove(IniFile().c_str());
    Dialog->Apply();
    TIniFile file(IniFile());
    EXPECT_EQ(file.ReadInteger("Video", "Port", 0), 3001);
    EXPECT_EQ(file.ReadInteger("Web", "Port", 0), 8080);
    EXPECT_EQ(file.ReadInteger("Web", "Enabled", 0), 1);
    Dialog->SetBroadcasting(false);
    EXPECT_FALSE(Dialog->PageButton(TFormOptions::pgWeb)->isHidden());
}

TEST_F(OptionsDialogTest, CancelAfterApplyKeepsWhatApplyWrote) {
    Find<QSpinBox>("UpDownJpegQuality")->setValue(40);
    Click("ButtonApply");
    Find<QSpinBox>("UpDownJpegQuality")->setValue(90);
    Click("ButtonCancel");
    EXPECT_EQ(Dialog->result(), QDialog::Rejected);
    EXPECT_EQ(TIniFile(IniFile()).ReadInteger("Application", "JpegQuality", 0), 40);
    EXPECT_EQ(Configuration().JpegQuality(), 40);
}

// Counts the renames that replace the settings file: each save of a section is one.
class TFileReplacements {
public:
    TFileReplacements(const std::string& folder, std::string name) : FName(std::move(name)) {
        FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(FFd, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~TFileReplacements() { ::close(FFd); }
    int Count() {
        alignas(inotify_event) char buffer[65536];
        for (ssize_t n; (n = ::read(FFd, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len > 0 && FName == event->name) {
                    ++FCount;
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
        return FCount;
    }

private:
    std::string FName;
    int FFd = -1;
    int FCount = 0;
};

TEST_F(OptionsDialogTest, OkWritesEverySectionOnceInTheBracketOrder) {
    ASSERT_FALSE(test::FileExists(IniFile()));
    Find<QCheckBox>("CheckBoxMinimizeTray")->setChecked(true);
    Find<QSpinBox>("UpDownVideoPort")->setValue(3001);
    TFileReplacements replacements(Dir.Path(), "streamwright.ini");
    Click("ButtonOk");
    EXPECT_EQ(Dialog->result(), QDialog::Accepted);
    EXPECT_EQ(replacements.Count(), 7) << "six sections and the root's own keys, once each";
    TIniFile file(IniFile());
    EXPECT_EQ(file.ReadSectionNames(),
              (std::vector<std::string>{"Log", "Broadcast", "Text", "Web", "Audio", "Video", "Transfer",
                                        "Sound", "Application"}));
    EXPECT_EQ(file.ReadInteger("Video", "Port", 0), 3001);
    EXPECT_EQ(file.ReadInteger("Application", "MinimizeTray", 0), 1);
    EXPECT_EQ(file.ReadKeyNames("Log").size(), 55u);
}

// The six pages as pictures, in the test output; no label or control is cut off or overlaps another.
TEST_F(OptionsDialogTest, EveryPageRendersWithoutClippingOrOverlap) {
    const QString folder = QStringLiteral(SW_BINARY_DIR "/test-output/options");
    QDir().mkpath(folder);
    Dialog->show();
    QApplication::processEvents();
    for (int i = 0; i < TFormOptions::kPageCount; ++i) {
        const auto page = static_cast<TFormOptions::TPage>(i);
        Dialog->ShowPage(page);
        QApplication::processEvents();
        const QString name = Dialog->PageButton(page)->text().toLower();
        ASSERT_TRUE(
            Dialog->grab().save(folder + QStringLiteral("/options-") + name + QStringLiteral(".png")));
        TBookPage* pageWidget = Dialog->Page(page);
        std::vector<QWidget*> controls;
        for (QWidget* widget : pageWidget->findChildren<QWidget*>()) {
            if (!widget->isVisible() || qobject_cast<QAbstractSpinBox*>(widget->parentWidget()) ||
                widget->objectName().endsWith(QStringLiteral("Row")) ||
                !(qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                  qobject_cast<QComboBox*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                  qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<TSwitchTree*>(widget))) {
                continue;
            }
            controls.push_back(widget);
            const QRect rect(widget->mapTo(pageWidget, QPoint(0, 0)), widget->size());
            EXPECT_TRUE(pageWidget->rect().contains(rect))
                << widget->objectName().toStdString() << " leaves its page";
            if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) {
                EXPECT_GE(widget->width(), widget->sizeHint().width()) << widget->objectName().toStdString();
                EXPECT_GE(widget->height(), widget->minimumSizeHint().height())
                    << widget->objectName().toStdString();
            }
        }
        for (size_t a = 0; a < controls.size(); ++a) {
            for (size_t b = a + 1; b < controls.size(); ++b) {
                const QRect ra(controls[a]->mapTo(pageWidget, QPoint(0, 0)), controls[a]->size());
                const QRect rb(controls[b]->mapTo(pageWidget, QPoint(0, 0)), controls[b]->size());
                EXPECT_FALSE(ra.intersects(rb)) << controls[a]->objectName().toStdString() << " overlaps "
                                                << controls[b]->objectName().toStdString();
            }
        }
    }
    for (int i = 0; i < TFormOptions::kPageCount; ++i) {
        QAbstractButton* button = Dialog->PageButton(static_cast<TFormOptions::TPage>(i));
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
    }
    // The open colour list, its items 15 pixels high.
    auto* colors = Find<TColorBox>("ComboBoxColor");
    colors->showPopup();
    QApplication::processEvents();
    QAbstractItemView* list = colors->view();
    EXPECT_EQ(list->visualRect(colors->model()->index(3, 0)).height(), TColorBox::kItemHeight);
    ASSERT_TRUE(list->window()->grab().save(folder + QStringLiteral("/options-general-colors.png")));
    colors->hidePopup();
}

} // namespace
} // namespace sw
