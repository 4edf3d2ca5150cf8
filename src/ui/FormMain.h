#pragma once

#include "engine/BroadcastController.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <string>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QToolButton;

namespace sw {

class TBookControl;
class TBookPage;
class TCaptureView;
class TConfigurationView;
class TConnectionsView;
class TLogView;
class TContainer;
class TImageListEx;
class TImageListSpeedButton;
class TStatusBarEx;
class TTrayIcon;

// The operator's window: five views in a book, the left bar of commands, every command as an action
// whose enabling rule the broadcast controller answers, the device menus, the tray icon and the close
// question. The broadcast state lives in the controller; this window only shows it and drives it.
// Component names are the widgets' object names, captions their accessible names.
class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kInitialWidth = 881;
    static constexpr int kInitialHeight = 594;
    static constexpr int kMinimumWidth = 650;
    static constexpr int kMinimumHeight = 423;
    static constexpr int kLeftBarWidth = 105;
    // The left bar holds twelve buttons at fixed places, in this order: the five views, Streamwright,
    // Audio and Video (each with its arrow button at the right), Start, Stop, Minimize and Close,
    // with separators after the views, the menus, Stop and Minimize.
    static constexpr int kLeftBarMargin = 2;
    static constexpr int kButtonHeight = 26;
    static constexpr int kButtonGap = 1;
    static constexpr int kArrowWidth = 14;
    static constexpr int kSeparatorHeight = 8;
    static constexpr int kLeftBarButtonCount = 12;
    static constexpr int LeftBarButtonTop(int row) {
        const int separators = row < 5 ? 0 : row < 8 ? 1 : row < 10 ? 2 : row < 11 ? 3 : 4;
        return 2 * kLeftBarMargin + row * (kButtonHeight + kButtonGap) +
               separators * (kSeparatorHeight + kButtonGap);
    }
    static constexpr const char* kCloseQuestion = "Do you really wish to exit the Streamwright?";

    explicit TFormMain(TBroadcastController& controller, QWidget* parent = nullptr);
    // The window's destruction: Stop while broadcasting, then the sound input and the capture device.
    ~TFormMain() override;

    TBroadcastController& Controller() { return FController; }
    QAction* Action(TMainAction action) const { return FActions[static_cast<size_t>(action)]; }
    TImageListEx* ImageList() const { return FImageList; }
    TConnectionsView* ConnectionsView() const { return FConnectionsView; }
    TLogView* LogView() const { return FLogView; }
    TConfigurationView* ConfigurationView() const { return FConfigurationView; }
    TTrayIcon* TrayIcon() const { return FTrayIcon; }

    // The enabling rules and check marks, as at idle; run again right before every action.
    void UpdateActions();
    // Runs an action when its rule allows it now; false when it did not run.
    bool ExecuteAction(TMainAction action);
    // 0 Broadcast, 1 Connections, 2 Log, 3 Configuration, 4 About.
    void ShowView(int view);
    int CurrentView() const;

    // "Streamwright " and major.minor: the message boxes' title and the tray icon's hint.
    static QString ApplicationTitle();

    // Whether the desktop has a notification area to hide the window to.
    std::function<bool()> TrayAvailable;
    // Asks the desktop to open an address; failures are not examined.
    std::function<void(const QString&)> ShellOpen;

Q_SIGNALS:
    // The operator confirmed closing: the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    QWidget* CreateLeftBar();
    void CreateViews();
    void CreatePages();
    TBookPage* CreateBroadcastPage();
    TBookPage* CreateAboutPage();
    TBookPage* CreateViewPage(const char* name, QWidget* view);
    std::string SelectedAddress() const;
    void FillAbout();
    void BuildDeviceMenus();
    void ConnectController();

    void ActionExecute(TMainAction action);
    void PopupMenu(QMenu* menu, QToolButton* arrow);
    void Minimize();
    void Open();
    void Options();
    void ChooseDevice(bool video, int index);
    void ApplyTrayAndColor();
    void PositionVideo();
    void VideoStateChanged();
    void UpdatePreview();
    bool FormKeyDown(QKeyEvent* event);

    TBroadcastController& FController;
    TImageListEx* FImageList = nullptr;
    std::array<QAction*, kMainActionCount> FActions{};
    QActionGroup* FViewGroup = nullptr;
    TTrayIcon* FTrayIcon = nullptr;
    TConnectionsView* FConnectionsView = nullptr;
    TLogView* FLogView = nullptr;
    TConfigurationView* FConfigurationView = nullptr;

    QMenu* MenuStreamwright = nullptr;
    QMenu* MenuVideo = nullptr;
    QMenu* MenuVideoDevice = nullptr;
    QMenu* MenuAudio = nullptr;
    QMenu* MenuAudioDevice = nullptr;
    QMenu* MenuConnection = nullptr;
    QMenu* MenuTray = nullptr;

    QToolButton* ButtonStreamwrightMenu = nullptr;
    QToolButton* ButtonAudioMenu = nullptr;
    QToolButton* ButtonVideoMenu = nullptr;
    std::array<TImageListSpeedButton*, 3> FMenuButtons{};

    TContainer* Container = nullptr;
    QLabel* PanelHeader = nullptr;
    TBookControl* BookControl = nullptr;
    QWidget* PanelVideo = nullptr;
    QFrame* PanelLogo = nullptr;
    QLabel* ImageLogo = nullptr;
    TCaptureView* CaptureView = nullptr;
    TStatusBarEx* StatusBarBroadcast = nullptr;

    QWidget* PanelAbout = nullptr;
    QLabel* LabelProgram = nullptr;
    QLabel* LabelVersion = nullptr;
    QLabel* LabelCopyright = nullptr;
    QFrame* ShapeAbout = nullptr;
    QLabel* LabelURL = nullptr;
    QLabel* LabelPoweredBy = nullptr;
    QLabel* ImageAboutLogo = nullptr;

    bool FAskingToClose = false;
    bool FConfirmedClose = false;
};

} // namespace sw
