#include "ui/OptionsDialog.h"

#include "ui/HeaderPanel.h"

#include "config/Configuration.h"
#include "log/LogTypes.h"
#include "platform/color/Colors.h"
#include "platform/shell/OperatorPrompts.h"
#include "ui/ColorBox.h"
#include "ui/SwitchTree.h"
#include "ui/UpDownEdit.h"
#include "ui/controls/BookControl.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace sw {

namespace {

constexpr const char* kPageCaptions[TFormOptions::kPageCount] = {"Text", "Sounds",  "Broadcast",
                                                                 "Web",  "General", "Log"};
constexpr const char* kPageNames[TFormOptions::kPageCount] = {"Text", "Sounds",  "Broadcast",
                                                              "Web",  "General", "Log"};
constexpr int kCustomTextPosition = 5;
constexpr int kPageButtonWidth = 76;

QString Q(const char* text) {
    return QString::fromUtf8(text);
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Names a control as the design does and gives assistive tools its caption.
template <typename Widget>
Widget* Named(Widget* widget, const char* name, const char* caption) {
    widget->setObjectName(Q(name));
    widget->setAccessibleName(Q(caption));
    return widget;
}

QComboBox* DropDownList(QWidget* parent, const char* name, const char* caption,
                        std::initializer_list<const char*> items) {
    auto* box = Named(new QComboBox(parent), name, caption);
    for (const char* item : items) {
        box->addItem(Q(item));
    }
    return box;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const char* caption) {
    return Named(new QCheckBox(Q(caption), parent), name, caption);
}

QLineEdit* Edit(QWidget* parent, const char* name, const char* caption) {
    return Named(new QLineEdit(parent), name, caption);
}

QToolButton* BrowseButton(QWidget* parent, const char* name) {
    auto* button = Named(new QToolButton(parent), name, "Browse");
    button->setText(QStringLiteral("..."));
    button->setToolTip(QStringLiteral("Browse"));
    return button;
}

QFormLayout* PageLayout(QWidget* page) {
    auto* layout = new QFormLayout(page);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->setRowWrapPolicy(QFormLayout::DontWrapRows);
    return layout;
}

void AddRow(QFormLayout* layout, const char* caption, QWidget* field) {
    auto* label = new QLabel(Q(caption), layout->parentWidget());
    label->setObjectName(QStringLiteral("Label") + field->objectName());
    label->setBuddy(field);
    layout->addRow(label, field);
}

QWidget* WithButton(QWidget* parent, QWidget* edit, QWidget* button) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    layout->addWidget(button);
    row->setObjectName(edit->objectName() + QStringLiteral("Row"));
    return row;
}

// The page buttons' pictures, drawn so that all six share one size, one line width and the palette.
QIcon PageIcon(int page) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = ColorToQColor(clWindowText);
    const QColor accent = ColorToQColor(clHighlight);
    painter.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (page) {
    case TFormOptions::pgText: {
        QFont font = painter.font();
        font.setPixelSize(22);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(QRect(0, 0, 32, 28), Qt::AlignCenter, QStringLiteral("Aa"));
        painter.fillRect(QRect(5, 27, 22, 3), accent);
        break;
    }
    case TFormOptions::pgSounds: {
        const QPointF speaker[] = {{4, 12}, {10, 12}, {17, 5}, {17, 27}, {10, 20}, {4, 20}};
        painter.setBrush(accent);
        painter.drawPolygon(speaker, 6);
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(14, 10, 8, 12), -60 * 16, 120 * 16);
        painter.drawArc(QRectF(14, 5, 14, 22), -60 * 16, 120 * 16);
        break;
    }
    case TFormOptions::pgBroadcast:
        painter.drawLine(QPointF(16, 14), QPointF(10, 29));
        painter.drawLine(QPointF(16, 14), QPointF(22, 29));
        painter.drawLine(QPointF(12, 24), QPointF(20, 24));
        painter.setBrush(accent);
        painter.drawEllipse(QPointF(16, 12), 3, 3);
        painter.setBrush(Qt::NoBrush);
        for (const double radius : {6.0, 10.5}) {
            painter.drawArc(QRectF(16 - radius, 12 - radius, 2 * radius, 2 * radius), 30 * 16, 120 * 16);
        }
        break;
    case TFormOptions::pgWeb:
        painter.setBrush(accent.lighter(160));
        painter.drawEllipse(QRectF(3, 3, 26, 26));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(10, 3, 12, 26));
        painter.drawLine(QPointF(3, 16), QPointF(29, 16));
        painter.drawLine(QPointF(6, 9), QPointF(26, 9));
        painter.drawLine(QPointF(6, 23), QPointF(26, 23));
        break;
    case TFormOptions::pgGeneral: {
        painter.setBrush(accent);
        painter.translate(16, 16);
        for (int tooth = 0; tooth < 8; ++tooth) {
            painter.drawRect(QRectF(-3, -14, 6, 8));
            painter.rotate(45);
        }
        painter.drawEllipse(QPointF(0, 0), 9, 9);
        painter.setBrush(ColorToQColor(clBtnFace));
        painter.drawEllipse(QPointF(0, 0), 4, 4);
        break;
    }
    default: {
        const QPointF sheet[] = {{7, 3}, {20, 3}, {26, 9}, {26, 29}, {7, 29}};
        painter.setBrush(ColorToQColor(clWindow));
        painter.drawPolygon(sheet, 5);
        painter.drawPolyline(std::array<QPointF, 3>{QPointF(20, 3), QPointF(20, 9), QPointF(26, 9)}.data(),
                             3);
        painter.setPen(QPen(accent, 2));
        for (int y = 13; y <= 25; y += 4) {
            painter.drawLine(QPointF(11, y), QPointF(22, y));
        }
        break;
    }
    }
    return QIcon(pixmap);
}

TBookPage* NewPage(TBookControl* book, const char* name) {
    auto* page = new TBookPage(book);
    page->setObjectName(Q(name));
    return page;
}

// A host list's rule: the address edit is open while "Custom" is chosen and then shows the stored
// address, whatever was typed before.
void HostRule(QComboBox* list, QLineEdit* address, const std::string& stored) {
    const bool custom = list->currentIndex() > 0;
    address->setEnabled(custom);
    address->setText(custom ? Q(stored) : QStringLiteral("<Dynamic>"));
}

std::string EnsureLeadingSeparator(const std::string& path) {
    return !path.empty() && path.front() == '/' ? path : "/" + path;
}

// Text sorted without regard to letter case, as the platform's sorted lists order it.
bool SortsBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

int SortedPosition(const std::vector<QString>& texts, const QString& text) {
    return static_cast<int>(std::upper_bound(texts.begin(), texts.end(), text, SortsBefore) - texts.begin());
}

} // namespace

TFormOptions::TFormOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormOptions"));
    setWindowTitle(QStringLiteral("Options"));
    CreateControls();
    LoadSettings();
    ShowPage(pgText);
}

void TFormOptions::CreateControls() {
    auto* main = new QVBoxLayout(this);
    // A fixed border: the dialog keeps the size its contents need.
    main->setSizeConstraint(QLayout::SetFixedSize);
    auto* top = new QHBoxLayout;
    main->addLayout(top, 1);

    auto* toolBar = new QFrame(this);
    toolBar->setObjectName(QStringLiteral("ToolBarPages"));
    toolBar->setFrameShape(QFrame::StyledPanel);
    toolBar->setFrameShadow(QFrame::Sunken);
    toolBar->setAutoFillBackground(true);
    toolBar->setBackgroundRole(QPalette::Base);
    auto* toolLayout = new QVBoxLayout(toolBar);
    toolLayout->setContentsMargins(2, 2, 2, 2);
    toolLayout->setSpacing(2);
    FPageGroup = new QButtonGroup(this);
    FPageGroup->setExclusive(true);
    for (int i = 0; i < kPageCount; ++i) {
        auto* button = Named(new QToolButton(toolBar), "", kPageCaptions[i]);
        button->setObjectName(QStringLiteral("ToolButton") + Q(kPageNames[i]));
        button->setText(Q(kPageCaptions[i]));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIcon(PageIcon(i));
        button->setIconSize(QSize(32, 32));
        FPageGroup->addButton(button, i);
        toolLayout->addWidget(button);
        FPageButtons[static_cast<size_t>(i)] = button;
        connect(button, &QToolButton::clicked, this, [this, i] { ShowPage(static_cast<TPage>(i)); });
    }
    toolLayout->addStretch(1);
    // One width for the six, wide enough for the longest caption in the font in use.
    int buttonWidth = kPageButtonWidth;
    for (QToolButton* button : FPageButtons) {
        buttonWidth = std::max(buttonWidth, button->sizeHint().width());
    }
    for (QToolButton* button : FPageButtons) {
        button->setFixedWidth(buttonWidth);
    }
    top->addWidget(toolBar);

    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    top->addLayout(right, 1);
    PanelHeader = CreateHeaderPanel(this);
    PanelHeader->setContentsMargins(6, 3, 6, 3);
    right->addWidget(PanelHeader);

    BookControl = new TBookControl(this);
    BookControl->setObjectName(QStringLiteral("BookControl"));
    FPages = {CreateTextPage(), CreateSoundsPage(),  CreateBroadcastPage(),
              CreateWebPage(),  CreateGeneralPage(), CreateLogPage()};
    QSize pageSize;
    for (TBookPage* page : FPages) {
        pageSize = pageSize.expandedTo(page->sizeHint());
    }
    const int border = BookControl->BorderWidth();
    BookControl->setMinimumSize(pageSize + QSize(2 * border, 2 * border));
    right->addWidget(BookControl, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButtonApply = Named(new QPushButton(QStringLiteral("Apply"), this), "ButtonApply", "Apply");
    ButtonOk = Named(new QPushButton(QStringLiteral("Ok"), this), "ButtonOk", "Ok");
    ButtonCancel = Named(new QPushButton(QStringLiteral("Cancel"), this), "ButtonCancel", "Cancel");
    ButtonOk->setDefault(true);
    for (QPushButton* button : {ButtonApply, ButtonOk, ButtonCancel}) {
        buttons->addWidget(button);
    }
    main->addLayout(buttons);
    connect(ButtonApply, &QPushButton::clicked, this, [this] { Apply(); });
    connect(ButtonOk, &QPushButton::clicked, this, [this] {
        Apply();
        accept();
    });
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TBookPage* TFormOptions::CreateTextPage() {
    TBookPage* page = NewPage(BookControl, "BookPageText");
    QFormLayout* layout = PageLayout(page);
    ComboBoxText = DropDownList(page, "ComboBoxText", "Text",
                                {"None", "Date", "Time", "Date & Time", "Frame Rate", "Custom"});
    EditText = Edit(page, "EditText", "Custom Text");
    ComboBoxTextAlignmentHorizontal =
        DropDownList(page, "ComboBoxTextAlignmentHorizontal", "Horizontal Alignment",
                     {"Left Justified", "Center", "Right Justified"});
    ComboBoxTextAlignmentVertical = DropDownList(page, "ComboBoxTextAlignmentVertical", "Vertical Alignment",
                                                 {"Top", "Center", "Bottom"});
    CheckBox24Hour = CheckBox(page, "CheckBox24Hour", "Show Times in 24 Hour Format");
    ComboBoxTextColor = Named(new TColorBox(false, page), "ComboBoxTextColor", "Color");
    ComboBoxTextFont = Named(new QComboBox(page), "ComboBoxTextFont", "Font");
    // Sized for a usual family name, not for the longest one installed.
    ComboBoxTextFont->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBoxTextFont->setMinimumContentsLength(22);
    UpDownTextSize = new TUpDownEdit(QStringLiteral("EditTextSize"), QStringLiteral("UpDownTextSize"),
                                     QStringLiteral("Size"), 1, 256, page);
    AddRow(layout, "Text", ComboBoxText);
    AddRow(layout, "Custom Text", EditText);
    AddRow(layout, "Horizontal Alignment", ComboBoxTextAlignmentHorizontal);
    AddRow(layout, "Vertical Alignment", ComboBoxTextAlignmentVertical);
    layout->addRow(QString(), CheckBox24Hour);
    AddRow(layout, "Color", ComboBoxTextColor);
    AddRow(layout, "Font", ComboBoxTextFont);
    AddRow(layout, "Size", UpDownTextSize);
    connect(ComboBoxText, &QComboBox::currentIndexChanged, this, [this] { ComboBoxTextChange(); });
    return page;
}

TBookPage* TFormOptions::CreateSoundsPage() {
    TBookPage* page = NewPage(BookControl, "BookPageSounds");
    QFormLayout* layout = PageLayout(page);
    CheckBoxSoundConnect = CheckBox(page, "CheckBoxSoundConnect", "Play Sound on Connect");
    EditSoundConnect = Edit(page, "EditSoundConnect", "Sound File");
    ButtonSoundConnect = BrowseButton(page, "ButtonSoundConnect");
    layout->addRow(CheckBoxSoundConnect);
    AddRow(layout, "Sound File", WithButton(page, EditSoundConnect, ButtonSoundConnect));
    connect(ButtonSoundConnect, &QToolButton::clicked, this, [this] { ButtonSoundConnectClick(); });
    return page;
}

TBookPage* TFormOptions::CreateBroadcastPage() {
    TBookPage* page = NewPage(BookControl, "BookPageBroadcast");
    QFormLayout* layout = PageLayout(page);
    UpDownVideoPort = new TUpDownEdit(QStringLiteral("EditVideoPort"), QStringLiteral("UpDownVideoPort"),
                                      QStringLiteral("Video Port"), 0, 32767, page);
    UpDownAudioPort = new TUpDownEdit(QStringLiteral("EditAudioPort"), QStringLiteral("UpDownAudioPort"),
                                      QStringLiteral("Audio Port"), 0, 32767, page);
    ComboBoxHost = DropDownList(page, "ComboBoxHost", "Host", {"Application IP Address", "Custom"});
    EditHostAddress = Edit(page, "EditHostAddress", "Host Address");
    UpDownVideoBuffer =
        new TUpDownEdit(QStringLiteral("EditVideoBuffer"), QStringLiteral("UpDownVideoBuffer"),
                        QStringLiteral("Video Buffer (K)"), 0, 128, page);
    UpDownVideoBuffer->setSingleStep(4);
    AddRow(layout, "Video Port", UpDownVideoPort);
    AddRow(layout, "Audio Port", UpDownAudioPort);
    AddRow(layout, "Host", ComboBoxHost);
    AddRow(layout, "Host Address", EditHostAddress);
    AddRow(layout, "Video Buffer (K)", UpDownVideoBuffer);
    connect(ComboBoxHost, &QComboBox::currentIndexChanged, this, [this] { ComboBoxHostChange(); });
    return page;
}

TBookPage* TFormOptions::CreateWebPage() {
    TBookPage* page = NewPage(BookControl, "BookPageWeb");
    QFormLayout* layout = PageLayout(page);
    CheckBoxWeb = CheckBox(page, "CheckBoxWeb", "Enable Built-in Web Server");
    EditWebPath = Edit(page, "EditWebPath", "Home Directory");
    ButtonWebPath = BrowseButton(page, "ButtonWebPath");
    UpDownWebPort = new TUpDownEdit(QStringLiteral("EditWebPort"), QStringLiteral("UpDownWebPort"),
                                    QStringLiteral("Port"), 0, 32767, page);
    ComboBoxWebHost = DropDownList(page, "ComboBoxWebHost", "Host", {"Application IP Address", "Custom"});
    EditWebHostAddress = Edit(page, "EditWebHostAddress", "Host Address");
    EditWebPage = Edit(page, "EditWebPage", "Page");
    ButtonWebPage = BrowseButton(page, "ButtonWebPage");
    layout->addRow(CheckBoxWeb);
    AddRow(layout, "Home Directory", WithButton(page, EditWebPath, ButtonWebPath));
    AddRow(layout, "Port", UpDownWebPort);
    AddRow(layout, "Host", ComboBoxWebHost);
    AddRow(layout, "Host Address", EditWebHostAddress);
    AddRow(layout, "Page", WithButton(page, EditWebPage, ButtonWebPage));
    connect(ComboBoxWebHost, &QComboBox::currentIndexChanged, this, [this] { ComboBoxWebHostChange(); });
    connect(ButtonWebPath, &QToolButton::clicked, this, [this] { ButtonWebPathClick(); });
    connect(ButtonWebPage, &QToolButton::clicked, this, [this] { ButtonWebPageClick(); });
    return page;
}

TBookPage* TFormOptions::CreateGeneralPage() {
    TBookPage* page = NewPage(BookControl, "BookPageGeneral");
    QFormLayout* layout = PageLayout(page);
    CheckBoxMinimizeTray = CheckBox(page, "CheckBoxMinimizeTray", "Minimize Application To Tray");
    ComboBoxColor = Named(new TColorBox(true, page), "ComboBoxColor", "Broadcast Background Color");
    UpDownJpegQuality =
        new TUpDownEdit(QStringLiteral("EditJpegQuality"), QStringLiteral("UpDownJpegQuality"),
                        QStringLiteral("JPEG Quality (%)"), 1, 100, page);
    layout->addRow(CheckBoxMinimizeTray);
    AddRow(layout, "Broadcast Background Color", ComboBoxColor);
    AddRow(layout, "JPEG Quality (%)", UpDownJpegQuality);
    return page;
}

TBookPage* TFormOptions::CreateLogPage() {
    TBookPage* page = NewPage(BookControl, "BookPageLog");
    auto* layout = new QVBoxLayout(page);
    CheckBoxLogInformation = CheckBox(page, "CheckBoxLogInformation", "Log Information");
    CheckBoxLogWarning = CheckBox(page, "CheckBoxLogWarning", "Log Warnings");
    CheckBoxLogError = CheckBox(page, "CheckBoxLogError", "Log Errors");
    auto* levels = new QHBoxLayout;
    for (QCheckBox* box : {CheckBoxLogInformation, CheckBoxLogWarning, CheckBoxLogError}) {
        levels->addWidget(box);
    }
    levels->addStretch(1);
    layout->addLayout(levels);
    auto* label = new QLabel(QStringLiteral("Messages"), page);
    label->setObjectName(QStringLiteral("LabelTreeViewLog"));
    layout->addWidget(label);
    TreeViewLog = Named(new TSwitchTree(page), "TreeViewLog", "Messages");
    label->setBuddy(TreeViewLog);
    TreeViewLog->setMinimumHeight(180);
    layout->addWidget(TreeViewLog, 1);
    connect(TreeViewLog, &TSwitchTree::ImageClicked, this,
            [this](QTreeWidgetItem* item) { TreeViewLogImageClick(item); });
    return page;
}

void TFormOptions::LoadSettings() {
    TConfiguration& config = Configuration();
    const TTextConfiguration& text = config.Text();
    {
        // The rule below runs once, after all of the page's values are in.
        const QSignalBlocker blocker(ComboBoxText);
        ComboBoxText->setCurrentIndex(text.Format());
    }
    EditText->setText(Q(text.Custom()));
    ComboBoxTextAlignmentHorizontal->setCurrentIndex(text.Alignment());
    ComboBoxTextAlignmentVertical->setCurrentIndex(text.AlignmentVertical());
    CheckBox24Hour->setChecked(text.Time24Hour());
    ComboBoxTextChange();
    ComboBoxTextColor->SetSelected(text.Color());
    QStringList families = QFontDatabase::families();
    std::sort(families.begin(), families.end(), SortsBefore);
    families.erase(std::unique(families.begin(), families.end()), families.end());
    ComboBoxTextFont->addItems(families);
    ComboBoxTextFont->setCurrentIndex(ComboBoxTextFont->findText(Q(text.Font()), Qt::MatchFixedString));
    UpDownTextSize->setValue(text.Size());

    CheckBoxSoundConnect->setChecked(config.SoundConnect());
    EditSoundConnect->setText(Q(config.SoundConnectFile()));

    UpDownVideoPort->setValue(config.Video().Port());
    UpDownAudioPort->setValue(config.Audio().Port());
    UpDownVideoBuffer->setValue(config.Video().BufferSize());
    {
        const QSignalBlocker blocker(ComboBoxHost);
        ComboBoxHost->setCurrentIndex(config.Broadcast().Host() != 0 ? 1 : 0);
    }
    EditHostAddress->setText(Q(config.Broadcast().HostAddress()));
    ComboBoxHostChange();

    const TWebConfiguration& web = config.Web();
    CheckBoxWeb->setChecked(web.Enabled());
    EditWebPath->setText(Q(web.Path()));
    UpDownWebPort->setValue(web.Port());
    {
        const QSignalBlocker blocker(ComboBoxWebHost);
        ComboBoxWebHost->setCurrentIndex(web.Host() != 0 ? 1 : 0);
    }
    EditWebHostAddress->setText(Q(web.HostAddress()));
    EditWebPage->setText(Q(web.Page()));
    ComboBoxWebHostChange();

    CheckBoxMinimizeTray->setChecked(config.MinimizeTray());
    UpDownJpegQuality->setValue(config.JpegQuality());
    ComboBoxColor->SetSelected(config.BackgroundColor());

    const TLogConfiguration& log = config.Log();
    CheckBoxLogInformation->setChecked(log.Information());
    CheckBoxLogWarning->setChecked(log.Warning());
    CheckBoxLogError->setChecked(log.Error());
    FillSwitchTree();
}

void TFormOptions::ComboBoxTextChange() {
    const bool custom = ComboBoxText->currentIndex() == kCustomTextPosition;
    EditText->setEnabled(custom);
    EditText->setText(custom ? Q(Configuration().Text().Custom()) : QStringLiteral("<N/A>"));
}

void TFormOptions::ComboBoxHostChange() {
    HostRule(ComboBoxHost, EditHostAddress, Configuration().Broadcast().HostAddress());
}

void TFormOptions::ComboBoxWebHostChange() {
    HostRule(ComboBoxWebHost, EditWebHostAddress, Configuration().Web().HostAddress());
}

void TFormOptions::FillSwitchTree() {
    TreeViewLog->clear();
    const TLogConfiguration& log = Configuration().Log();
    std::vector<QString> categoryTexts;
    for (int message = 0; message < kLogMessageCount; ++message) {
        const TLogCategoryMessage& entry = LogMessages[static_cast<size_t>(message)];
        QTreeWidgetItem* category = nullptr;
        for (int i = 0; i < TreeViewLog->topLevelItemCount() && !category; ++i) {
            if (TSwitchTree::Number(TreeViewLog->topLevelItem(i)) == entry.Category) {
                category = TreeViewLog->topLevelItem(i);
            }
        }
        if (!category) {
            const QString name = Q(LogCategoryNames[entry.Category]);
            const int position = SortedPosition(categoryTexts, name);
            categoryTexts.insert(categoryTexts.begin() + position, name);
            category = new QTreeWidgetItem(QStringList{name});
            TreeViewLog->insertTopLevelItem(position, category);
            TSwitchTree::SetNumber(category, entry.Category);
            TSwitchTree::SetImage(category, TSwitchTree::kImageOff);
        }
        std::vector<QString> siblings;
        for (int i = 0; i < category->childCount(); ++i) {
            siblings.push_back(category->child(i)->text(0));
        }
        const QString text = Q(entry.Message);
        auto* node = new QTreeWidgetItem(QStringList{text});
        category->insertChild(SortedPosition(siblings, text), node);
        TSwitchTree::SetNumber(node, message);
        if (log.MessageEnabled(static_cast<uint8_t>(message))) {
            TSwitchTree::SetImage(node, TSwitchTree::kImageOn);
            TSwitchTree::SetImage(category, TSwitchTree::kImagePartly);
        } else {
            TSwitchTree::SetImage(node, TSwitchTree::kImageOff);
        }
    }
    TreeViewLog->expandAll();
    if (TreeViewLog->topLevelItemCount() > 0) {
        TreeViewLog->setCurrentItem(TreeViewLog->topLevelItem(0));
    }
}

void TFormOptions::TreeViewLogImageClick(QTreeWidgetItem* item) {
    if (!item) {
        return;
    }
    QTreeWidgetItem* category = item->parent();
    if (category) {
        TSwitchTree::SetImage(item, TSwitchTree::Image(item) != TSwitchTree::kImageOn
                                        ? TSwitchTree::kImageOn
                                        : TSwitchTree::kImageOff);
        if (TSwitchTree::Image(category) != TSwitchTree::kImageOn) {
            bool any = false;
            for (int i = 0; i < category->childCount(); ++i) {
                any = any || TSwitchTree::Image(category->child(i)) != TSwitchTree::kImageOff;
            }
            TSwitchTree::SetImage(category, any ? TSwitchTree::kImagePartly : TSwitchTree::kImageOff);
        }
        return;
    }
    // A partly-on category is switched off.
    const int image =
        TSwitchTree::Image(item) == TSwitchTree::kImageOff ? TSwitchTree::kImageOn : TSwitchTree::kImageOff;
    TSwitchTree::SetImage(item, image);
    for (int i = 0; i < item->childCount(); ++i) {
        TSwitchTree::SetImage(item->child(i), image);
    }
}

void TFormOptions::ButtonSoundConnectClick() {
    TOpenFileRequest request;
    request.Title = "Open";
    request.Filter = "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*";
    request.DefaultExtension = "wav";
    request.InitialPath = EditSoundConnect->text().toStdString();
    request.MustExist = true;
    if (const std::optional<std::string> chosen = Prompts().ChooseOpenFile(request)) {
        EditSoundConnect->setText(Q(*chosen));
    }
}

void TFormOptions::ButtonWebPathClick() {
    TBrowseRequest request;
    request.Title = "Web Home Directory";
    request.InitialPath = EditWebPath->text().toStdString();
    if (const std::optional<std::string> chosen = Prompts().BrowseForFolder(request)) {
        EditWebPath->setText(Q(*chosen));
    }
}

void TFormOptions::ButtonWebPageClick() {
    TBrowseRequest request;
    request.Title = "Web Page";
    request.Root = EditWebPath->text().toStdString();
    request.InitialPath = EditWebPage->text().toStdString();
    request.IncludeFiles = true;
    if (const std::optional<std::string> chosen = Prompts().BrowseForFolder(request)) {
        WebPageChosen(*chosen);
    }
}

void TFormOptions::WebPageChosen(const std::string& chosen) {
    std::string home = EditWebPath->text().toStdString();
    // The browser is rooted at the home directory, but the file dialog lets the operator leave it; a
    // file outside is treated like one chosen without a home directory, so the page stays relative.
    const std::string homeFolder = !home.empty() && home.back() != '/' ? home + "/" : home;
    const bool inside = !home.empty() && chosen.size() > homeFolder.size() &&
                        chosen.compare(0, homeFolder.size(), homeFolder) == 0;
    if (inside) {
        EditWebPage->setText(Q(EnsureLeadingSeparator(chosen.substr(home.size()))));
        return;
    }
    const size_t separator = chosen.find_last_of('/');
    const std::string folder =
        separator == std::string::npos ? std::string() : chosen.substr(0, separator + 1);
    const std::string file = separator == std::string::npos ? chosen : chosen.substr(separator + 1);
    EditWebPath->setText(Q(folder));
    EditWebPage->setText(Q(EnsureLeadingSeparator(file)));
}

void TFormOptions::Apply() {
    std::string path = EditWebPath->text().toStdString();
    if (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    EditWebPath->setText(Q(path));
    const std::string page = EnsureLeadingSeparator(EditWebPage->text().toStdString());
    EditWebPage->setText(Q(page));

    TConfiguration& config = Configuration();
    config.BeginUpdate();
    TTextConfiguration& text = config.Text();
    text.SetFormat(ComboBoxText->currentIndex());
    if (ComboBoxText->currentIndex() == kCustomTextPosition) {
        text.SetCustom(EditText->text().toStdString());
    }
    text.SetAlignment(ComboBoxTextAlignmentHorizontal->currentIndex());
    text.SetAlignmentVertical(ComboBoxTextAlignmentVertical->currentIndex());
    text.SetTime24Hour(CheckBox24Hour->isChecked());
    text.SetColor(ComboBoxTextColor->Selected());
    text.SetFont(ComboBoxTextFont->currentText().toStdString());
    text.SetSize(UpDownTextSize->value());
    config.SetSoundConnect(CheckBoxSoundConnect->isChecked());
    config.SetSoundConnectFile(EditSoundConnect->text().toStdString());
    config.Video().SetPort(UpDownVideoPort->value());
    config.Audio().SetPort(UpDownAudioPort->value());
    config.Video().SetBufferSize(UpDownVideoBuffer->value());
    config.Broadcast().SetHost(ComboBoxHost->currentIndex());
    if (ComboBoxHost->currentIndex() != 0) {
        config.Broadcast().SetHostAddress(EditHostAddress->text().toStdString());
    }
    TWebConfiguration& web = config.Web();
    web.SetEnabled(CheckBoxWeb->isChecked());
    web.SetPath(path);
    web.SetPort(UpDownWebPort->value());
    web.SetHost(ComboBoxWebHost->currentIndex());
    if (ComboBoxWebHost->currentIndex() != 0) {
        web.SetHostAddress(EditWebHostAddress->text().toStdString());
    }
    web.SetPage(page);
    config.SetMinimizeTray(CheckBoxMinimizeTray->isChecked());
    config.SetBackgroundColor(ComboBoxColor->Selected());
    config.SetJpegQuality(UpDownJpegQuality->value());
    TLogConfiguration& log = config.Log();
    log.SetInformation(CheckBoxLogInformation->isChecked());
    log.SetWarning(CheckBoxLogWarning->isChecked());
    log.SetError(CheckBoxLogError->isChecked());
    for (int i = 0; i < TreeViewLog->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* category = TreeViewLog->topLevelItem(i);
        for (int j = 0; j < category->childCount(); ++j) {
            const QTreeWidgetItem* node = category->child(j);
            log.SetMessageEnabled(static_cast<uint8_t>(TSwitchTree::Number(node)),
                                  TSwitchTree::Image(node) == TSwitchTree::kImageOn);
        }
    }
    config.EndUpdate();
}

void TFormOptions::SetBroadcasting(bool broadcasting) {
    if (broadcasting == FBroadcasting) {
        return;
    }
    FBroadcasting = broadcasting;
    FPageButtons[pgBroadcast]->setVisible(!broadcasting);
    FPageButtons[pgWeb]->setVisible(!broadcasting);
}

void TFormOptions::ShowPage(TPage page) {
    QToolButton* button = FPageButtons[static_cast<size_t>(page)];
    button->setChecked(true);
    BookControl->SelectPage(page);
    PanelHeader->setText(button->text());
}

TFormOptions::TPage TFormOptions::CurrentPage() const {
    const int index = BookControl->ActivePageIndex();
    return index < 0 ? pgText : static_cast<TPage>(index);
}

QAbstractButton* TFormOptions::PageButton(TPage page) const {
    return FPageButtons[static_cast<size_t>(page)];
}

TBookPage* TFormOptions::Page(TPage page) const {
    return FPages[static_cast<size_t>(page)];
}

} // namespace sw
