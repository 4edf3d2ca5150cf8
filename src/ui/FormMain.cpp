#include "ui/FormMain.h"

#include "config/Configuration.h"
#include "engine/DataModuleMain.h"
#include "log/LogTypes.h"
#include "platform/color/Colors.h"
#include "platform/shell/OperatorPrompts.h"
#include "platform/shell/ThreadHandOff.h"
#include "platform/shell/VersionInfo.h"
#include "ui/CaptureView.h"
#include "ui/HeaderPanel.h"
#include "ui/Images.h"
#include "ui/MainActions.h"
#include "ui/OptionsDialog.h"
#include "ui/controls/BevelEx.h"
#include "ui/controls/BookControl.h"
#include "ui/controls/Container.h"
#include "ui/controls/Gradient.h"
#include "ui/controls/ImageListEx.h"
#include "ui/controls/ImageListSpeedButton.h"
#include "ui/controls/StatusBarEx.h"
#include "ui/controls/TrayIcon.h"
#include "ui/views/ConfigurationView.h"
#include "ui/views/ConnectionsView.h"
#include "ui/views/LogView.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace sw {

namespace {

constexpr int kLogoPanelWidth = 324;
constexpr int kLogoPanelHeight = 244;
constexpr int kLogoBorder = 2;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString Q(const char* text) {
    return QString::fromUtf8(text);
}

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(Q(name));
    return widget;
}

// The separator that follows left-bar row.
void SeparatorAfter(QWidget* parent, int row) {
    auto* bevel = new TBevelEx(parent, TBevelShape::bxsHorzSeparator);
    bevel->setGeometry(TFormMain::kLeftBarMargin,
                       TFormMain::LeftBarButtonTop(row + 1) - TFormMain::kSeparatorHeight -
                           TFormMain::kButtonGap,
                       TFormMain::kLeftBarWidth - 2 * TFormMain::kLeftBarMargin, TFormMain::kSeparatorHeight);
}

void SetBackground(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

TFormMain::TFormMain(TBroadcastController& controller, QWidget* parent)
    : QMainWindow(parent), FController(controller) {
    setObjectName(QStringLiteral("FormMain"));
    TrayAvailable = [] { return TTrayIcon::Available(); };
    ShellOpen = [](const QString& address) { QDesktopServices::openUrl(QUrl::fromUserInput(address)); };
    FImageList = CreateMainImageList(this);
    FImageList->setObjectName(QStringLiteral("ImageList"));
    setWindowIcon(WindowIcon());

    CreateViews();
    CreateActions();
    CreateMenus();
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(CreateLeftBar());
    Container = Named(new TContainer(central), "Container");
    layout->addWidget(Container, 1);
    CreatePages();
    setCentralWidget(central);

    resize(kInitialWidth, kInitialHeight);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - kInitialWidth) / 2,
             area.top() + (area.height() - kInitialHeight) / 2);
    }

    FillAbout();
    // The caption and the titles carry the version from the version resource.
    QApplication::setApplicationDisplayName(ApplicationTitle());
    setWindowTitle(Q(VersionInfo().Value(TVersionInfo::CompanyName)) + QStringLiteral(" Streamwright ") +
                   Q(VersionInfo().FormatVersion("%s.%s")));
    FTrayIcon = new TTrayIcon(this);
    FTrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    FTrayIcon->SetImageList(FImageList);
    FTrayIcon->SetIconIndex(imgStreamwright);
    FTrayIcon->SetHint(ApplicationTitle());
    FTrayIcon->SetPopupMenu(MenuTray);
    connect(FTrayIcon, &TTrayIcon::DblClick, this, [this] { ExecuteAction(TMainAction::Open); });
    // Desktops whose notification area reports no double clicks (most of them here) send a click.
    connect(FTrayIcon, &TTrayIcon::Click, this, [this] {
        if (!isVisible() || isMinimized()) {
            ExecuteAction(TMainAction::Open);
        }
    });
    ApplyTrayAndColor();

    ExecuteAction(TMainAction::ViewBroadcast);
    BuildDeviceMenus();
    ConnectController();
    // The window sees every key before its controls (and the resizes and clicks of its panels).
    qApp->installEventFilter(this);
    // The enabling rules run whenever the application becomes idle.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { UpdateActions(); });
    UpdateActions();
}

TFormMain::~TFormMain() {
    qApp->removeEventFilter(this);
    // The destruction's Stop must not call back into half-destroyed widgets.
    disconnect(&FController, nullptr, this, nullptr);
    FController.Destroy();
}

QString TFormMain::ApplicationTitle() {
    return QStringLiteral("Streamwright ") + Q(VersionInfo().FormatVersion("%s.%s"));
}

void TFormMain::CreateViews() {
    FConnectionsView = new TConnectionsView(FController, this);
    FLogView = new TLogView(FController, this);
    FConfigurationView = new TConfigurationView(FController, this);
    // The views' lists show the window's pictures of the same things.
    TImageListEx& connections = FConnectionsView->ImageListConnection();
    connections.Replace(0, FImageList->Pixmap(imgClient).toImage());
    connections.Replace(1, FImageList->Pixmap(imgClientBlocked).toImage());
    TImageListEx& levels = FLogView->ImageListLog();
    levels.Replace(llInformation, FImageList->Pixmap(imgInformation).toImage());
    levels.Replace(llWarning, FImageList->Pixmap(imgWarning).toImage());
    levels.Replace(llError, FImageList->Pixmap(imgError).toImage());
}

void TFormMain::CreateActions() {
    // The views own the actions of their command bars and run them themselves; the window lists them
    // with its images and keeps their rules with the others.
    const std::pair<TMainAction, QAction*> viewActions[] = {
        {TMainAction::ClientDisconnect, FConnectionsView->ActionClientDisconnect()},
        {TMainAction::ClientBlocked, FConnectionsView->ActionClientBlocked()},
        {TMainAction::LogClear, FLogView->ActionLogClear()},
        {TMainAction::LogEmail, FLogView->ActionLogEmail()},
        {TMainAction::ConfigurationEmail, FConfigurationView->ActionConfigurationEmail()},
    };
    FViewGroup = new QActionGroup(this);
    FViewGroup->setExclusive(true);
    for (const TMainActionInfo& info : kMainActions) {
        const TMainAction which = info.Action;
        QAction* action = nullptr;
        for (const auto& [viewAction, owned] : viewActions) {
            if (viewAction == which) {
                action = owned;
            }
        }
        if (!action) {
            action = new QAction(Q(info.Caption), this);
            action->setObjectName(Q(info.Name));
            action->setCheckable(info.Checkable);
            if (*info.SecondaryShortcut) {
                action->setShortcuts({QKeySequence(Q(info.SecondaryShortcut))});
            }
            connect(action, &QAction::triggered, this, [this, which] { ExecuteAction(which); });
        }
        action->setProperty("category", Q(info.Category));
        if (info.Image >= 0) {
            action->setIcon(FImageList->Icon(info.Image));
        }
        addAction(action);
        FActions[static_cast<size_t>(which)] = action;
    }
    for (const TMainAction view : kViewActions) {
        FViewGroup->addAction(Action(view));
    }
    Action(TMainAction::ViewBroadcast)->setChecked(true);
}

void TFormMain::CreateMenus() {
    auto menu = [this](const char* name) { return Named(new QMenu(this), name); };
    MenuStreamwright = menu("MenuStreamwright");
    MenuStreamwright->addAction(Action(TMainAction::Options));
    MenuStreamwright->addSeparator();
    MenuStreamwright->addAction(Action(TMainAction::Email));
    MenuStreamwright->addAction(Action(TMainAction::Html));

    MenuVideo = menu("MenuVideo");
    MenuVideoDevice =
        Named(MenuVideo->addMenu(FImageList->Icon(imgDevice), QStringLiteral("Device")), "MenuVideoDevice");
    MenuVideo->addSeparator();
    for (const TMainAction action : {TMainAction::VideoSource, TMainAction::VideoFormat,
                                     TMainAction::VideoCompression, TMainAction::VideoDisplay}) {
        MenuVideo->addAction(Action(action));
    }
    MenuVideo->addSeparator();
    MenuVideo->addAction(Action(TMainAction::VideoEnabled));

    MenuAudio = menu("MenuAudio");
    MenuAudioDevice =
        Named(MenuAudio->addMenu(FImageList->Icon(imgDevice), QStringLiteral("Device")), "MenuAudioDevice");
    MenuAudio->addSeparator();
    MenuAudio->addAction(Action(TMainAction::AudioCompression));
    MenuAudio->addSeparator();
    MenuAudio->addAction(Action(TMainAction::AudioEnabled));

    MenuConnection = FConnectionsView->MenuConnection();

    MenuTray = menu("MenuTray");
    MenuTray->addAction(Action(TMainAction::Open));
    MenuTray->addSeparator();
    MenuTray->addAction(Action(TMainAction::Close));
}

QWidget* TFormMain::CreateLeftBar() {
    auto* panel = Named(new QWidget(this), "Panel1");
    panel->setFixedWidth(kLeftBarWidth);
    // The bar was laid out for a narrow 8 point face: with a wider one the longest captions must
    // still fit beside their glyphs (the menu buttons leave room for their arrows).
    QFont font = panel->font();
    font.setPointSizeF(std::min(font.pointSizeF(), 8.0));
    auto fits = [&](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        constexpr int kGlyphAndPadding = 16 + 14;
        for (const TMainAction action : {TMainAction::ViewConfiguration, TMainAction::ViewConnections}) {
            if (metrics.horizontalAdvance(Action(action)->text()) + kGlyphAndPadding >
                kLeftBarWidth - 2 * kLeftBarMargin) {
                return false;
            }
        }
        return metrics.horizontalAdvance(Action(TMainAction::MenuStreamwright)->text()) + kGlyphAndPadding <=
               kLeftBarWidth - 2 * kLeftBarMargin - kArrowWidth;
    };
    while (!fits(font) && font.pointSizeF() > 6.5) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    panel->setFont(font);
    panel->setMinimumHeight(LeftBarButtonTop(kLeftBarButtonCount));
    const int fullWidth = kLeftBarWidth - 2 * kLeftBarMargin;
    int row = 0;
    auto place = [&](QToolButton* button, int width) {
        button->setGeometry(kLeftBarMargin, LeftBarButtonTop(row), width, kButtonHeight);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setFocusPolicy(Qt::TabFocus);
        ++row;
    };
    auto flat = [&](const char* name, TMainAction which) {
        auto* button = Named(new QToolButton(panel), name);
        button->setAutoRaise(true);
        button->setDefaultAction(Action(which));
        button->setAccessibleName(Action(which)->text());
        place(button, fullWidth);
    };
    const char* viewNames[] = {"ButtonViewBroadcast", "ButtonViewConnections", "ButtonViewLog",
                               "ButtonViewConfiguration", "ButtonViewAbout"};
    for (size_t i = 0; i < kViewActions.size(); ++i) {
        flat(viewNames[i], kViewActions[i]);
    }
    SeparatorAfter(panel, row - 1);

    struct TMenuRow {
        const char* Button;
        const char* Arrow;
        TMainAction Which;
        QToolButton** ArrowField;
    };
    const TMenuRow rows[] = {
        {"ButtonStreamwright", "ButtonStreamwrightMenu", TMainAction::MenuStreamwright,
         &ButtonStreamwrightMenu},
        {"ButtonAudio", "ButtonAudioMenu", TMainAction::MenuAudio, &ButtonAudioMenu},
        {"ButtonVideo", "ButtonVideoMenu", TMainAction::MenuVideo, &ButtonVideoMenu},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const TMenuRow& menuRow = rows[i];
        QAction* action = Action(menuRow.Which);
        auto* arrow = Named(new QToolButton(panel), menuRow.Arrow);
        arrow->setAutoRaise(true);
        arrow->setIcon(FImageList->Icon(imgArrow));
        arrow->setIconSize({8, 16});
        arrow->setGeometry(kLeftBarWidth - kLeftBarMargin - kArrowWidth, LeftBarButtonTop(row), kArrowWidth,
                           kButtonHeight);
        arrow->setAccessibleName(action->text() + QStringLiteral(" Menu"));
        arrow->setToolTip(action->text());
        arrow->setFocusPolicy(Qt::TabFocus);
        connect(arrow, &QToolButton::clicked, this, [this, which = menuRow.Which] { ExecuteAction(which); });
        *menuRow.ArrowField = arrow;

        auto* button = Named(new TImageListSpeedButton(panel), menuRow.Button);
        button->setText(action->text());
        button->setToolTip(action->text());
        button->setAccessibleName(action->text());
        button->SetImages(FImageList);
        button->SetImageIndex(MainActionInfo(menuRow.Which).Image);
        // The picture comes from the image list, so the button follows its action by hand.
        connect(button, &QToolButton::clicked, this, [this, which = menuRow.Which] { ExecuteAction(which); });
        connect(action, &QAction::changed, button,
                [button, action] { button->setEnabled(action->isEnabled()); });
        FMenuButtons[i] = button;
        place(button, fullWidth - kArrowWidth);
    }
    SeparatorAfter(panel, row - 1);
    flat("ButtonStart", TMainAction::Start);
    flat("ButtonStop", TMainAction::Stop);
    SeparatorAfter(panel, row - 1);
    flat("ButtonMinimize", TMainAction::Minimize);
    SeparatorAfter(panel, row - 1);
    flat("ButtonClose", TMainAction::Close);
    return panel;
}

void TFormMain::CreatePages() {
    PanelHeader = CreateHeaderPanel(Container, 1.25);
    PanelHeader->setContentsMargins(8, 4, 8, 4);
    Container->Dock(PanelHeader, TContainer::TDockSide::Top);

    BookControl = Named(new TBookControl(Container), "BookControl");
    Container->Dock(BookControl, TContainer::TDockSide::Client);
    CreateBroadcastPage();
    CreateViewPage("BookPageConnections", FConnectionsView);
    CreateViewPage("BookPageLog", FLogView);
    CreateViewPage("BookPageConfiguration", FConfigurationView);
    CreateAboutPage();
}

TBookPage* TFormMain::CreateBroadcastPage() {
    auto* page = Named(new TBookPage(BookControl), "BookPageBroadcast");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    PanelVideo = Named(new QWidget(page), "PanelVideo");
    layout->addWidget(PanelVideo, 1);

    PanelLogo = Named(new QFrame(PanelVideo), "PanelLogo");
    PanelLogo->setFixedSize(kLogoPanelWidth, kLogoPanelHeight);
    PanelLogo->setFrameShape(QFrame::Box);
    PanelLogo->setFrameShadow(QFrame::Plain);
    PanelLogo->setLineWidth(kLogoBorder);
    SetBackground(PanelLogo, Qt::white);
    QPalette logoPalette = PanelLogo->palette();
    logoPalette.setColor(QPalette::WindowText, ColorToQColor(clBtnShadow));
    PanelLogo->setPalette(logoPalette);
    ImageLogo = Named(new QLabel(PanelLogo), "ImageLogo");
    ImageLogo->setGeometry(kLogoBorder, kLogoBorder, kLogoPanelWidth - 2 * kLogoBorder,
                           kLogoPanelHeight - 2 * kLogoBorder);
    ImageLogo->setScaledContents(true);
    ImageLogo->setPixmap(QPixmap::fromImage(LogoPicture()));
    ImageLogo->setCursor(Qt::PointingHandCursor);

    CaptureView = new TCaptureView(FController.Capture().Preview(), PanelVideo);
    CaptureView->hide();
    connect(CaptureView, &TCaptureView::FrameSizeChanged, this, [this] { PositionVideo(); });

    StatusBarBroadcast = Named(new TStatusBarEx(page), "StatusBarBroadcast");
    StatusBarBroadcast->AddPanel(60, Qt::AlignRight, QStringLiteral("0.0 fps"));
    StatusBarBroadcast->AddPanel(50);
    layout->addWidget(StatusBarBroadcast);
    return page;
}

TBookPage* TFormMain::CreateViewPage(const char* name, QWidget* view) {
    auto* page = Named(new TBookPage(BookControl), name);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    return page;
}

std::string TFormMain::SelectedAddress() const {
    return FConnectionsView->SelectedAddress();
}

TBookPage* TFormMain::CreateAboutPage() {
    auto* page = Named(new TBookPage(BookControl), "BookPageAbout");
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* logoPanel = Named(new QWidget(page), "PanelAboutLogo");
    logoPanel->setFixedWidth(232);
    auto* logoLayout = new QVBoxLayout(logoPanel);
    logoLayout->setContentsMargins(0, 0, 0, 0);
    logoLayout->setSpacing(0);
    for (const bool top : {true, false}) {
        auto* gradient = Named(new TGradient(logoPanel), top ? "GradientAboutTop" : "GradientAboutBottom");
        gradient->SetOrientation(TGradientOrientation::goVertical);
        gradient->SetStartColor(top ? clWhite : clSkyBlue);
        gradient->SetEndColor(top ? clSkyBlue : clWhite);
        gradient->SetGradientCount(256);
        gradient->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        logoLayout->addWidget(gradient, 1);
    }
    ImageAboutLogo = Named(new QLabel(logoPanel), "ImageAboutLogo");
    ImageAboutLogo->setPixmap(QPixmap::fromImage(AboutLogoPicture()));
    ImageAboutLogo->setAttribute(Qt::WA_TranslucentBackground);
    ImageAboutLogo->setCursor(Qt::PointingHandCursor);
    ImageAboutLogo->adjustSize();
    layout->addWidget(logoPanel);

    PanelAbout = Named(new QWidget(page), "PanelAbout");
    SetBackground(PanelAbout, ColorToQColor(clWindow));
    layout->addWidget(PanelAbout, 1);
    auto label = [this](const char* name, int top) {
        auto* widget = Named(new QLabel(PanelAbout), name);
        widget->move(24, top);
        return widget;
    };
    LabelProgram = label("LabelProgram", 28);
    QFont programFont = LabelProgram->font();
    programFont.setBold(true);
    programFont.setPointSizeF(programFont.pointSizeF() * 1.6);
    LabelProgram->setFont(programFont);
    LabelVersion = label("LabelVersion", 66);
    LabelCopyright = label("LabelCopyright", 88);
    ShapeAbout = Named(new QFrame(PanelAbout), "ShapeAbout");
    SetBackground(ShapeAbout, Qt::black);
    ShapeAbout->setGeometry(24, 116, 100, 1);
    LabelURL = label("LabelURL", 128);
    QFont urlFont = LabelURL->font();
    urlFont.setUnderline(true);
    LabelURL->setFont(urlFont);
    QPalette urlPalette = LabelURL->palette();
    urlPalette.setColor(QPalette::WindowText, ColorToQColor(clHighlight));
    LabelURL->setPalette(urlPalette);
    LabelURL->setCursor(Qt::PointingHandCursor);
    LabelPoweredBy = label("LabelPoweredBy", 160);
    QFont poweredFont = LabelPoweredBy->font();
    poweredFont.setBold(true);
    LabelPoweredBy->setFont(poweredFont);
    LabelPoweredBy->setText(QStringLiteral("Powered by Corvastrine Technology"));
    return page;
}

void TFormMain::FillAbout() {
    const TVersionInfo& version = VersionInfo();
    LabelProgram->setText(Q(version.Value(TVersionInfo::CompanyName)) + QLatin1Char(' ') +
                          Q(version.Value(TVersionInfo::FileDescription)));
    LabelVersion->setText(QStringLiteral("Version ") + Q(version.FormatVersion("%s.%s.%s")));
    LabelCopyright->setText(Q(version.Value(TVersionInfo::LegalCopyright)));
    LabelURL->setText(Q(Configuration().WebAddress()));
    for (QLabel* label : {LabelProgram, LabelVersion, LabelCopyright, LabelURL, LabelPoweredBy}) {
        label->adjustSize();
    }
    LabelPoweredBy->setVisible(Configuration().ShowPoweredBy());
}

void TFormMain::BuildDeviceMenus() {
    TConfiguration& config = Configuration();
    auto build = [this](QMenu* menu, const TDeviceConfiguration& devices, bool video) {
        menu->clear();
        for (int i = 0; i < devices.DeviceCount(); ++i) {
            QAction* item = menu->addAction(Q(devices.DeviceNames(i)));
            item->setCheckable(true);
            item->setChecked(i == devices.Device());
            connect(item, &QAction::triggered, this, [this, video, i] { ChooseDevice(video, i); });
        }
    };
    build(MenuVideoDevice, config.Video(), true);
    build(MenuAudioDevice, config.Audio(), false);
}

void TFormMain::ConnectController() {
    connect(&FController, &TBroadcastController::FrameRateChanged, this,
            [this](const std::string& text) { StatusBarBroadcast->SetPanelText(0, Q(text)); });
    connect(&FController, &TBroadcastController::VideoStateChanged, this, [this] { VideoStateChanged(); });
    connect(&FController, &TBroadcastController::Stopped, this,
            [this] { StatusBarBroadcast->SetPanelText(0, QStringLiteral("0.0 fps")); });
    VideoStateChanged();
}

void TFormMain::UpdateActions() {
    const std::string selected = SelectedAddress();
    for (const TMainActionInfo& info : kMainActions) {
        QAction* action = Action(info.Action);
        action->setEnabled(FController.ActionEnabled(info.Action, selected));
    }
    for (const TMainAction checked :
         {TMainAction::VideoEnabled, TMainAction::AudioEnabled, TMainAction::ClientBlocked}) {
        Action(checked)->setChecked(FController.ActionChecked(checked, selected));
    }
    ButtonVideoMenu->setEnabled(Action(TMainAction::MenuVideo)->isEnabled());
    ButtonAudioMenu->setEnabled(Action(TMainAction::MenuAudio)->isEnabled());
}

bool TFormMain::ExecuteAction(TMainAction action) {
    UpdateActions();
    if (!Action(action)->isEnabled()) {
        return false;
    }
    ActionExecute(action);
    UpdateActions();
    return true;
}

void TFormMain::ActionExecute(TMainAction action) {
    switch (action) {
    case TMainAction::ViewBroadcast:
    case TMainAction::ViewConnections:
    case TMainAction::ViewLog:
    case TMainAction::ViewConfiguration:
    case TMainAction::ViewAbout:
        ShowView(static_cast<int>(action) - static_cast<int>(TMainAction::ViewBroadcast));
        break;
    case TMainAction::Minimize:
        Minimize();
        break;
    case TMainAction::Close:
        close();
        break;
    case TMainAction::Open:
        Open();
        break;
    case TMainAction::Options:
        Options();
        break;
    case TMainAction::MenuStreamwright:
        PopupMenu(MenuStreamwright, ButtonStreamwrightMenu);
        break;
    case TMainAction::MenuAudio:
        PopupMenu(MenuAudio, ButtonAudioMenu);
        break;
    case TMainAction::MenuVideo:
        PopupMenu(MenuVideo, ButtonVideoMenu);
        break;
    default:
        FController.Execute(action, SelectedAddress());
        break;
    }
}

void TFormMain::ShowView(int view) {
    if (view < 0 || view >= static_cast<int>(kViewActions.size())) {
        return;
    }
    QAction* action = Action(kViewActions[static_cast<size_t>(view)]);
    action->setChecked(true);
    PanelHeader->setText(action->text());
    BookControl->SelectPage(view);
    UpdatePreview();
}

int TFormMain::CurrentView() const {
    return BookControl->ActivePageIndex();
}

void TFormMain::PopupMenu(QMenu* menu, QToolButton* arrow) {
    menu->popup(arrow->mapToGlobal(QPoint(arrow->width(), 0)));
}

void TFormMain::Minimize() {
    if (Configuration().MinimizeTray() && TrayAvailable && TrayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

void TFormMain::Open() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TFormMain::Options() {
    {
        TFormOptions dialog(this);
        dialog.SetBroadcasting(FController.Broadcasting());
        dialog.exec();
    }
    ApplyTrayAndColor();
}

void TFormMain::ApplyTrayAndColor() {
    FTrayIcon->SetVisible(Configuration().MinimizeTray());
    SetBackground(PanelVideo, ColorToQColor(Configuration().BackgroundColor()));
}

void TFormMain::ChooseDevice(bool video, int index) {
    if (video) {
        FController.ChooseVideoDevice(index);
    } else {
        FController.ChooseAudioDevice(index);
    }
    const int chosen = video ? Configuration().Video().Device() : Configuration().Audio().Device();
    const QList<QAction*> items = (video ? MenuVideoDevice : MenuAudioDevice)->actions();
    for (int i = 0; i < items.size(); ++i) {
        items[i]->setChecked(i == chosen);
    }
}

void TFormMain::PositionVideo() {
    const int width = PanelVideo->width();
    const int height = PanelVideo->height();
    PanelLogo->move((width - PanelLogo->width()) / 2, (height - PanelLogo->height()) / 2);
    CaptureView->move((width - CaptureView->width()) / 2, (height - CaptureView->height()) / 2);
    FController.Capture().SetPanelSize(width, height);
    if (FController.VideoState() == vsRunning) {
        FController.Capture().PositionCaptureWindow();
    }
}

void TFormMain::VideoStateChanged() {
    const bool running = FController.VideoState() == vsRunning;
    PanelLogo->setVisible(!running);
    CaptureView->setVisible(running);
    UpdatePreview();
    PositionVideo();
}

void TFormMain::UpdatePreview() {
    // Frames are copied for the preview only while someone can see them.
    const bool wanted =
        isVisible() && !isMinimized() && CurrentView() == 0 && FController.VideoState() == vsRunning;
    TFramePreview& preview = FController.Capture().Preview();
    if (preview.Enabled() != wanted) {
        preview.SetEnabled(wanted);
    }
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (FConfirmedClose) {
        event->accept();
        return;
    }
    event->ignore();
    if (FAskingToClose) {
        return;
    }
    FAskingToClose = true;
    const bool yes = Prompts().Confirm(kCloseQuestion);
    FAskingToClose = false;
    if (yes) {
        FConfirmedClose = true;
        event->accept();
        Q_EMIT Closed();
    }
}

void TFormMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    if (isMinimized() && Configuration().MinimizeTray() && TrayAvailable && TrayAvailable()) {
        // The title bar's minimise hides to the tray like the Minimize action; the state change
        // must finish before the window goes.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                setWindowState(windowState() & ~Qt::WindowMinimized);
                hide();
            }
        });
    }
    UpdatePreview();
}

void TFormMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    UpdatePreview();
}

void TFormMain::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    UpdatePreview();
}

bool TFormMain::FormKeyDown(QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::AltModifier) {
        return false;
    }
    // The cycle runs through the first four views; the About view is outside it.
    const int view = CurrentView();
    if (view < 0 || view > 3) {
        return false;
    }
    int target;
    if (event->key() == Qt::Key_PageDown) {
        target = (view + 1) % 4;
    } else if (event->key() == Qt::Key_PageUp) {
        target = (view + 3) % 4;
    } else {
        return false;
    }
    ExecuteAction(kViewActions[static_cast<size_t>(target)]);
    return true;
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    // The application's filter sees events posted from other threads before their receivers do.
    TakeOverFromThread(event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        // A key press reaches the filter once for every widget it propagates through; only its
        // first receiver, the focused control (or the window without one), counts.
        QWidget* focus = QApplication::focusWidget();
        QWidget* first = focus && focus->window() == this ? focus : this;
        if (watched == first) {
            FormKeyDown(static_cast<QKeyEvent*>(event));
        }
        // The key goes on to the control either way.
        return false;
    }
    case QEvent::Resize:
        if (!ImageAboutLogo) {
            return false;
        }
        if (watched == PanelVideo) {
            PositionVideo();
        } else if (watched == PanelAbout) {
            ShapeAbout->setFixedWidth(PanelAbout->width() - ShapeAbout->x() - 8);
        } else if (watched == ImageAboutLogo->parentWidget()) {
            const QWidget* panel = ImageAboutLogo->parentWidget();
            ImageAboutLogo->move((panel->width() - ImageAboutLogo->width()) / 2,
                                 (panel->height() - ImageAboutLogo->height()) / 2);
            ImageAboutLogo->raise();
        }
        return false;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            if (watched == LabelURL) {
                ShellOpen(LabelURL->text());
            } else if (watched == ImageLogo || watched == ImageAboutLogo) {
                ShellOpen(Q(Configuration().WebAddress()));
            }
        }
        return false;
    default:
        return false;
    }
}

} // namespace sw
