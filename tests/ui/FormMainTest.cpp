#include "ui/FormMain.h"

#include "common/TestSupport.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"
#include "log/LogTypes.h"
#include "platform/shell/OperatorPrompts.h"
#include "ui/CaptureView.h"
#include "ui/Images.h"
#include "ui/MainActions.h"
#include "ui/controls/BookControl.h"
#include "ui/controls/ImageListEx.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/controls/TrayIcon.h"
#include "ui/views/ConnectionsView.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <arpa/inet.h>
#include <deque>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sw {
namespace {

using test::ProcessEventsUntil;

// Message boxes answered from a script; what was asked and shown is kept.
class TScriptedPrompts : public TConsolePrompts {
public:
    TScriptedPrompts() { SetPrompts(this); }
    ~TScriptedPrompts() override { SetPrompts(nullptr); }
    bool Confirm(const std::string& text) override {
        Questions.push_back(text);
        if (Answers.empty()) {
            return false;
        }
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void ShowMessage(const std::string& text, TMessageKind) override { Messages.push_back(text); }
    std::deque<bool> Answers;
    std::vector<std::string> Questions;
    std::vector<std::string> Messages;
};

// A viewer that connects and reads nothing: the server keeps sending until its buffer is full.
class TIdleViewer {
public:
    explicit TIdleViewer(int port) : FFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Connected = ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TIdleViewer() { ::close(FFd); }
    TIdleViewer(const TIdleViewer&) = delete;
    TIdleViewer& operator=(const TIdleViewer&) = delete;
    bool Connected = false;

private:
    int FFd;
};

// The windowed program on a settings file in a temporary folder, on free ports, without the web
// server: configuration, registry, engine, controller and the main window, devices initialised.
class FormMainTest : public ::testing::Test {
protected:
    void TearDown() override { Close(); }

    void Open(const std::string& ini = "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\n"
                                       "[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\n") {
        if (!test::FileExists(IniFile())) {
            test::WriteFile(IniFile(), ini);
        }
        Program = std::make_unique<TProgramLifecycle>(IniFile());
        TConfiguration& config = Program->Configuration();
        config.BeginUpdate();
        config.Video().SetPort(test::FreePort());
        config.Audio().SetPort(test::FreePort());
        config.Web().SetEnabled(false);
        config.EndUpdate();
        Program->CreateEngine();
        QObject::connect(&Program->Engine(), &TDataModuleMain::LogRecorded,
                         [this](const TAMLog& entry) { Recorded.push_back(entry.Message); });
        Form = std::make_unique<TFormMain>(Program->Controller());
        Form->TrayAvailable = [this] { return TrayAvailable; };
        Form->ShellOpen = [this](const QString& address) { Opened.push_back(address); };
        Form->show();
        ASSERT_TRUE(ProcessEventsUntil([this] { return Controller().DevicesInitialized(); }));
        Form->UpdateActions();
    }

    void Close() {
        Form.reset();
        Program.reset();
    }

    std::string IniFile() const { return Dir.File("streamwright.ini"); }
    TBroadcastController& Controller() { return Program->Controller(); }
    QAction* Action(TMainAction action) { return Form->Action(action); }
    template <typename T = QWidget>
    T* Child(const char* name) {
        T* child = Form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QString Header() { return Child<QLabel>("PanelHeader")->text(); }
    int Count(uint8_t message) const {
        return static_cast<int>(std::count(Recorded.begin(), Recorded.end(), message));
    }
    void Key(int key, Qt::KeyboardModifiers modifiers) {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == Form.get() ? focus : Form.get(),
                        static_cast<Qt::Key>(key), modifiers);
    }
    bool StartBroadcast() { return Form->ExecuteAction(TMainAction::Start) && Controller().Broadcasting(); }

    test::TTempDir Dir;
    TScriptedPrompts Prompts;
    std::unique_ptr<TProgramLifecycle> Program;
    std::unique_ptr<TFormMain> Form;
    std::vector<uint8_t> Recorded;
    std::vector<QString> Opened;
    bool TrayAvailable = true;
};

TEST_F(FormMainTest, TheWindowIsLaidOutAsDesignedWithVersionTexts) {
    Open();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Northlight Streamwright 1.0"));
    EXPECT_EQ(TFormMain::ApplicationTitle(), QStringLiteral("Streamwright 1.0"));
    EXPECT_EQ(Form->TrayIcon()->Hint(), QStringLiteral("Streamwright 1.0"));
    EXPECT_EQ(Form->TrayIcon()->IconIndex(), imgStreamwright);
    EXPECT_EQ(Form->size(), QSize(881, 594));
    EXPECT_EQ(Form->minimumSize(), QSize(650, 423));
    EXPECT_EQ(Child("Panel1")->width(), 105);
    EXPECT_EQ(Form->ImageList()->Count(), kMainImageCount);
    for (int i = 0; i < Form->ImageList()->Count(); ++i) {
        EXPECT_FALSE(Form->ImageList()->Pixmap(i).toImage().allGray()) << "image " << i << " is blank";
    }
    EXPECT_EQ(Child<QLabel>("LabelProgram")->text(), QStringLiteral("Northlight Streamwright"));
    EXPECT_EQ(Child<QLabel>("LabelVersion")->text(), QStringLiteral("Version 1.0.0"));
    EXPECT_FALSE(Child<QLabel>("LabelPoweredBy")->isVisible());
    EXPECT_EQ(Child<QLabel>("LabelPoweredBy")->text(), QStringLiteral("Powered by Corvastrine Technology"));
    EXPECT_EQ(Header(), QStringLiteral("Broadcast"));
    EXPECT_TRUE(Child<QToolButton>("ButtonViewBroadcast")->isChecked());
    EXPECT_EQ(Child<TStatusBarEx>("StatusBarBroadcast")->PanelText(0), QStringLiteral("0.0 fps"));

    // The logo panel is centred in the video panel, truncating toward zero.
    QWidget* panel = Child("PanelVideo");
    QWidget* logo = Child("PanelLogo");
    EXPECT_EQ(logo->size(), QSize(324, 244));
    EXPECT_EQ(logo->x(), (panel->width() - 324) / 2);
    EXPECT_EQ(logo->y(), (panel->height() - 244) / 2);
    Form->resize(900, 601);
    QCoreApplication::processEvents();
    EXPECT_EQ(logo->x(), (panel->width() - 324) / 2);
    EXPECT_EQ(logo->y(), (panel->height() - 244) / 2);

    // The left bar in its order, each button showing its action's caption.
    const char* order[] = {"ButtonViewBroadcast", "ButtonViewConnections",
                           "ButtonViewLog",       "ButtonViewConfiguration",
                           "ButtonViewAbout",     "ButtonStreamwright",
                           "ButtonAudio",         "ButtonVideo",
                           "ButtonStart",         "ButtonStop",
                           "ButtonMinimize",      "ButtonClose"};
    int lastTop = -1;
    for (const char* name : order) {
        auto* button = Child<QToolButton>(name);
        EXPECT_GT(button->y(), lastTop) << name;
        lastTop = button->y();
        EXPECT_FALSE(button->text().isEmpty()) << name;
        // No caption is cut short.
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 16 + 8, button->width()) << name;
        EXPECT_EQ(button->accessibleName(), button->text()) << name;
    }
    for (const char* arrow : {"ButtonStreamwrightMenu", "ButtonAudioMenu", "ButtonVideoMenu"}) {
        EXPECT_GT(Child(arrow)->x(),
                  Child(std::string(arrow).substr(0, std::string(arrow).size() - 4).c_str())->x());
    }
}

TEST_F(FormMainTest, StartNeedsADeviceWhileVideoIsEnabled) {
    Open("[Video]\r\nEnabled=1\r\n[Audio]\r\nEnabled=0\r\n");
    EXPECT_EQ(Controller().VideoState(), vsNone);
    EXPECT_FALSE(Action(TMainAction::Start)->isEnabled());
    EXPECT_FALSE(Child<QToolButton>("ButtonStart")->isEnabled());
    EXPECT_FALSE(Form->ExecuteAction(TMainAction::Start));
    EXPECT_EQ(Count(lmStart), 0);

    // "Enabled" in the video menu switches video off, which opens Start.
    EXPECT_TRUE(Action(TMainAction::VideoEnabled)->isChecked());
    Action(TMainAction::VideoEnabled)->trigger();
    EXPECT_FALSE(Action(TMainAction::VideoEnabled)->isChecked());
    EXPECT_FALSE(Program->Configuration().Video().Enabled());
    EXPECT_TRUE(Action(TMainAction::Start)->isEnabled());
    EXPECT_TRUE(Child<QToolButton>("ButtonStart")->isEnabled());
}

TEST_F(FormMainTest, AnActionWhoseRuleTurnedFalseSinceTheLastIdleDoesNotRun) {
    Open();
    ASSERT_TRUE(StartBroadcast());
    Form->UpdateActions();
    ASSERT_TRUE(Action(TMainAction::Stop)->isEnabled());
    // Stopped behind the window's back: the action still looks enabled until the rules run again.
    Controller().Stop();
    ASSERT_TRUE(Action(TMainAction::Stop)->isEnabled());
    Program->Engine().FlushLog();
    const int stops = Count(lmStop);
    Action(TMainAction::Stop)->trigger();
    Program->Engine().FlushLog();
    EXPECT_EQ(Count(lmStop), stops);
    EXPECT_FALSE(Action(TMainAction::Stop)->isEnabled());
}

TEST_F(FormMainTest, AltPageKeysCycleThroughTheFirstFourViews) {
    Open();
    ASSERT_EQ(Form->CurrentView(), 0);
    Key(Qt::Key_PageDown, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 1);
    EXPECT_EQ(Header(), QStringLiteral("Connections"));
    EXPECT_TRUE(Action(TMainAction::ViewConnections)->isChecked());
    EXPECT_TRUE(Child<QToolButton>("ButtonViewConnections")->isChecked());
    Key(Qt::Key_PageDown, Qt::AltModifier);
    Key(Qt::Key_PageDown, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 3);
    Key(Qt::Key_PageDown, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 0);
    Key(Qt::Key_PageUp, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 3);
    EXPECT_EQ(Header(), QStringLiteral("Configuration"));
    Key(Qt::Key_PageUp, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 2);

    // Other modifiers, other keys and the About view leave the view alone.
    Key(Qt::Key_PageDown, Qt::AltModifier | Qt::ControlModifier);
    Key(Qt::Key_PageDown, Qt::AltModifier | Qt::ShiftModifier);
    Key(Qt::Key_PageDown, Qt::NoModifier);
    Key(Qt::Key_Home, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 2);
    Form->ExecuteAction(TMainAction::ViewAbout);
    Key(Qt::Key_PageDown, Qt::AltModifier);
    Key(Qt::Key_PageUp, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 4);
    EXPECT_EQ(Header(), QStringLiteral("About"));

    // The secondary shortcuts.
    Key(Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 2);
    Key(Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 3);
    Key(Qt::Key_B, Qt::AltModifier);
    EXPECT_EQ(Form->CurrentView(), 0);
}

TEST_F(FormMainTest, MinimizeHidesToTheTrayOnlyWhileMinimizeTrayIsOn) {
    test::WriteFile(IniFile(), "[Application]\r\nMinimizeTray=1\r\n");
    Open();
    EXPECT_TRUE(Form->TrayIcon()->Visible());
    Form->ExecuteAction(TMainAction::Minimize);
    EXPECT_FALSE(Form->isVisible());
    Q_EMIT Form->TrayIcon()->DblClick();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->isMinimized());

    // The title bar's minimise does the same.
    Form->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(ProcessEventsUntil([this] { return !Form->isVisible(); }, 5000));
    Form->ExecuteAction(TMainAction::Open);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->isMinimized());

    // Without a notification area the window could not come back: it is minimised instead.
    TrayAvailable = false;
    Form->ExecuteAction(TMainAction::Minimize);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Form->isMinimized());
}

TEST_F(FormMainTest, WithMinimizeTrayOffTheWindowMinimisesAndNoTrayIconShows) {
    Open();
    EXPECT_FALSE(Program->Configuration().MinimizeTray());
    EXPECT_FALSE(Form->TrayIcon()->Visible());
    Form->ExecuteAction(TMainAction::Minimize);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Form->isMinimized());
    test::ProcessEventsFor(50);
    EXPECT_TRUE(Form->isVisible());
}

TEST_F(FormMainTest, NoToTheCloseQuestionKeepsTheBroadcastAndYesEndsIt) {
    Open();
    ASSERT_TRUE(StartBroadcast());
    int closed = 0;
    QObject::connect(Form.get(), &TFormMain::Closed, [&] { ++closed; });
    Prompts.Answers = {false};
    Form->ExecuteAction(TMainAction::Close);
    ASSERT_EQ(Prompts.Questions.size(), 1u);
    EXPECT_EQ(Prompts.Questions[0], "Do you really wish to exit the Streamwright?");
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Controller().Broadcasting());
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(Count(lmStop), 0);

    Prompts.Answers = {true};
    Form->close();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(Form->isVisible());
    // The window's destruction stops the broadcast before the devices go.
    Form.reset();
    Program->Engine().FlushLog();
    EXPECT_EQ(Count(lmStop), 1);
    EXPECT_LT(std::find(Recorded.begin(), Recorded.end(), lmStop) - Recorded.begin(),
              std::find(Recorded.begin(), Recorded.end(), lmVideoFinalizing) - Recorded.begin());
    EXPECT_FALSE(Controller().Broadcasting());
    EXPECT_EQ(Controller().VideoState(), vsNone);
    EXPECT_EQ(Controller().AudioState(), AudioIdle);
}

TEST_F(FormMainTest, ClosingWhileStoppedRecordsNoStop) {
    Open();
    Form.reset();
    Program->Engine().FlushLog();
    EXPECT_EQ(Count(lmStop), 0);
    EXPECT_EQ(Controller().VideoState(), vsNone);
}

TEST_F(FormMainTest, TheAudioDeviceChoiceMovesTheCheckMarkAndSurvivesARestart) {
    Open();
    auto* menu = Child<QMenu>("MenuAudioDevice");
    const QList<QAction*> items = menu->actions();
    ASSERT_GE(items.size(), 2) << "the test tone and the system default";
    const int tone = Program->Configuration().Audio().Device();
    ASSERT_GE(tone, 0);
    EXPECT_TRUE(items[tone]->isChecked());
    const int other = tone == 0 ? 1 : 0;
    items[other]->trigger();
    EXPECT_EQ(Program->Configuration().Audio().Device(), other);
    for (int i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i]->isChecked(), i == other) << i;
    }
    const QString chosen = items[other]->text();

    Close();
    Open();
    const QList<QAction*> again = Child<QMenu>("MenuAudioDevice")->actions();
    ASSERT_GT(again.size(), other);
    EXPECT_EQ(again[other]->text(), chosen);
    EXPECT_TRUE(again[other]->isChecked());
    EXPECT_EQ(Program->Configuration().Audio().Device(), other);
}

TEST_F(FormMainTest, TheVideoDeviceChoiceReconnectsAtOnce) {
    Open();
    QMenu* menu = Child<QMenu>("MenuVideoDevice");
    const int device = Program->Configuration().Video().Device();
    ASSERT_GE(device, 0);
    ASSERT_EQ(Controller().VideoState(), vsInitialized);
    Program->Engine().FlushLog();
    const int connects = Count(lmDriverConnect);
    menu->actions()[device]->trigger();
    Program->Engine().FlushLog();
    EXPECT_EQ(Count(lmDriverConnect), connects + 1);
    EXPECT_EQ(Controller().VideoState(), vsInitialized);
    EXPECT_TRUE(menu->actions()[device]->isChecked());
}

TEST_F(FormMainTest, AFailedAudioOpenAtStartStopsEverythingAndStartIsOfferedAgain) {
    Open();
    Controller().Devices.StartAudioCapture = [this] {
        Program->Engine().Log(llError, lmAudioOpen, Now(), "Failed (4)");
        Prompts.ShowMessage("Error opening audio device", TMessageKind::Error);
        return false;
    };
    EXPECT_TRUE(Form->ExecuteAction(TMainAction::Start));
    EXPECT_FALSE(Controller().Broadcasting());
    Program->Engine().FlushLog();
    ASSERT_EQ(Count(lmStart), 1);
    ASSERT_EQ(Count(lmStop), 1);
    const auto start = std::find(Recorded.begin(), Recorded.end(), lmStart);
    const auto failure = std::find(start, Recorded.end(), lmAudioOpen);
    EXPECT_NE(failure, Recorded.end());
    EXPECT_NE(std::find(failure, Recorded.end(), lmStop), Recorded.end());
    EXPECT_FALSE(Program->Engine().ServerSocketVideo.Active());
    EXPECT_FALSE(Program->Engine().ServerSocketAudio.Active());
    Form->UpdateActions();
    EXPECT_TRUE(Action(TMainAction::Start)->isEnabled());
    EXPECT_FALSE(Action(TMainAction::Stop)->isEnabled());
    EXPECT_EQ(Child<TStatusBarEx>("StatusBarBroadcast")->PanelText(0), QStringLiteral("0.0 fps"));
}

TEST_F(FormMainTest, ThePreviewShowsTheFramesAtTheirSizeCentredAndStopResetsTheStatus) {
    Open();
    ASSERT_TRUE(StartBroadcast());
    auto* view = Child<TCaptureView>("CaptureWindow");
    EXPECT_FALSE(Child("PanelLogo")->isVisible());
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->FramesPainted() >= 3; }));
    EXPECT_TRUE(view->isVisible());
    const QImage& frame = Controller().Capture().Preview().Frame();
    EXPECT_EQ(view->size(), frame.size());
    QWidget* panel = Child("PanelVideo");
    EXPECT_EQ(view->x(), (panel->width() - view->width()) / 2);
    EXPECT_EQ(view->y(), (panel->height() - view->height()) / 2);
    auto* status = Child<TStatusBarEx>("StatusBarBroadcast");
    ASSERT_TRUE(ProcessEventsUntil([&] { return status->PanelText(0) != QStringLiteral("0.0 fps"); }));
    EXPECT_TRUE(status->PanelText(0).endsWith(QStringLiteral(" fps")));

    // Out of sight, frames are not copied.
    Form->ExecuteAction(TMainAction::ViewLog);
    EXPECT_FALSE(Controller().Capture().Preview().Enabled());
    Form->ExecuteAction(TMainAction::ViewBroadcast);
    EXPECT_TRUE(Controller().Capture().Preview().Enabled());

    TIdleViewer viewer(Program->Configuration().Video().Port());
    auto* connections = Child<TStatusBarEx>("StatusBarConnection");
    ASSERT_TRUE(ProcessEventsUntil([&] { return connections->PanelText(2) == QStringLiteral("1 Video"); }));
    Form->ExecuteAction(TMainAction::Stop);
    EXPECT_EQ(status->PanelText(0), QStringLiteral("0.0 fps"));
    EXPECT_EQ(connections->PanelText(0), QStringLiteral("0 IP(s)"));
    EXPECT_EQ(connections->PanelText(1), QStringLiteral("0 Audio"));
    EXPECT_EQ(connections->PanelText(2), QStringLiteral("0 Video"));
    EXPECT_TRUE(Child("PanelLogo")->isVisible());
    EXPECT_FALSE(view->isVisible());
}

TEST_F(FormMainTest, TheMenusHoldTheirItemsInOrderAndTheLogoOpensTheWebAddress) {
    Open();
    auto texts = [](QMenu* menu) {
        QStringList list;
        for (QAction* action : menu->actions()) {
            list << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return list.join(QLatin1Char('|'));
    };
    EXPECT_EQ(texts(Child<QMenu>("MenuStreamwright")), QStringLiteral("Options...|-|Email Link|Update HTML"));
    EXPECT_EQ(texts(Child<QMenu>("MenuVideo")),
              QStringLiteral("Device|-|Source...|Format...|Compression...|Display...|-|Enabled"));
    EXPECT_EQ(texts(Child<QMenu>("MenuAudio")), QStringLiteral("Device|-|Compression...|-|Enabled"));
    EXPECT_EQ(texts(Form->ConnectionsView()->MenuConnection()), QStringLiteral("Disconnect|-|Blocked"));

    // The menus open at the arrow button's top-right corner; while broadcasting they are closed.
    Form->ExecuteAction(TMainAction::MenuVideo);
    auto* menu = Child<QMenu>("MenuVideo");
    ASSERT_TRUE(ProcessEventsUntil([&] { return menu->isVisible(); }, 5000));
    QWidget* arrow = Child("ButtonVideoMenu");
    EXPECT_EQ(menu->pos(), arrow->mapToGlobal(QPoint(arrow->width(), 0)));
    menu->hide();
    ASSERT_TRUE(StartBroadcast());
    Form->UpdateActions();
    EXPECT_FALSE(Child("ButtonVideoMenu")->isEnabled());
    EXPECT_FALSE(Child("ButtonAudio")->isEnabled());
    EXPECT_TRUE(Child("ButtonStreamwrightMenu")->isEnabled());

    Form->ExecuteAction(TMainAction::ViewAbout);
    QTest::mouseClick(Child("ImageAboutLogo"), Qt::LeftButton);
    QTest::mouseClick(Child("LabelURL"), Qt::LeftButton);
    ASSERT_EQ(Opened.size(), 2u);
    EXPECT_EQ(Opened[0].toStdString(), Program->Configuration().WebAddress());
    EXPECT_EQ(Opened[1], Child<QLabel>("LabelURL")->text());
}

TEST_F(FormMainTest, EveryViewRendersDuringALiveBroadcastWithTwoViewers) {
    // The overlay shows the date, the time and the frame rate on the preview.
    Open("[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\n[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\n"
         "[Text]\r\nFormat=3\r\nSize=14\r\nColor=16777215\r\n");
    ASSERT_TRUE(StartBroadcast());
    TConfiguration& config = Program->Configuration();
    TIdleViewer video(config.Video().Port());
    TIdleViewer audio(config.Audio().Port());
    ASSERT_TRUE(video.Connected && audio.Connected);
    ASSERT_TRUE(ProcessEventsUntil(
        [] { return ClientsExists() && Clients().VideoTotal() == 1 && Clients().AudioTotal() == 1; }));
    auto* view = Child<TCaptureView>("CaptureWindow");
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->FramesPainted() >= 5; }));
    auto* status = Child<TStatusBarEx>("StatusBarBroadcast");
    ASSERT_TRUE(ProcessEventsUntil([&] { return status->PanelText(0) != QStringLiteral("0.0 fps"); }));

    const char* names[] = {"broadcast", "connections", "log", "configuration", "about"};
    for (int page = 0; page < 5; ++page) {
        Form->ShowView(page);
        test::ProcessEventsFor(page == 0 ? 200 : 50);
        const QImage shot = Form->grab().toImage();
        ASSERT_FALSE(shot.isNull());
        if (page == 0) {
            // The preview paints the frame exactly, at its own size, where the capture window sits.
            const QImage frame =
                Controller().Capture().Preview().Frame().convertToFormat(QImage::Format_RGB32);
            const QRect where(view->mapTo(Form.get(), QPoint(0, 0)), view->size());
            EXPECT_EQ(shot.copy(where).convertToFormat(QImage::Format_RGB32), frame);
        }
        if (const char* folder = std::getenv("SW_PICTURES_DIR")) {
            shot.save(QString::fromLocal8Bit(folder) +
                      QStringLiteral("/view-%1.png").arg(QLatin1String(names[page])));
        }
    }
}

} // namespace
} // namespace sw
