#pragma once

#include <QDialog>
#include <array>
#include <string>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidgetItem;

namespace sw {

class TBookControl;
class TBookPage;
class TColorBox;
class TSwitchTree;
class TUpDownEdit;

// The options dialog: the overlay text, the connect sound, the broadcast ports and host, the web
// server, the general settings and which log entries are recorded, on six pages. It reads every value
// when created and writes every value, in one update bracket, on Apply and Ok; it restarts nothing.
// Its dialogs go through Prompts(), so a test drives it without a display.
class TFormOptions : public QDialog {
    Q_OBJECT
public:
    enum TPage { pgText, pgSounds, pgBroadcast, pgWeb, pgGeneral, pgLog, kPageCount };

    explicit TFormOptions(QWidget* parent = nullptr);

    bool Broadcasting() const { return FBroadcasting; }
    // While broadcasting, the "Broadcast" and "Web" pages cannot be reached.
    void SetBroadcasting(bool broadcasting);

    // Presses a page button: its page is shown and its caption heads it.
    void ShowPage(TPage page);
    TPage CurrentPage() const;
    QAbstractButton* PageButton(TPage page) const;
    TBookPage* Page(TPage page) const;

    void Apply();

    // The page browser's rule for the chosen path (the folder dialog may leave the home directory).
    void WebPageChosen(const std::string& chosen);
    // The switch tree's image click.
    void TreeViewLogImageClick(QTreeWidgetItem* item);

private:
    void CreateControls();
    TBookPage* CreateTextPage();
    TBookPage* CreateSoundsPage();
    TBookPage* CreateBroadcastPage();
    TBookPage* CreateWebPage();
    TBookPage* CreateGeneralPage();
    TBookPage* CreateLogPage();
    void LoadSettings();
    void FillSwitchTree();

    void ComboBoxTextChange();
    void ComboBoxHostChange();
    void ComboBoxWebHostChange();
    void ButtonSoundConnectClick();
    void ButtonWebPathClick();
    void ButtonWebPageClick();

    bool FBroadcasting = false;

    std::array<QToolButton*, kPageCount> FPageButtons{};
    std::array<TBookPage*, kPageCount> FPages{};
    QButtonGroup* FPageGroup = nullptr;
    QLabel* PanelHeader = nullptr;
    TBookControl* BookControl = nullptr;
    QPushButton* ButtonApply = nullptr;
    QPushButton* ButtonOk = nullptr;
    QPushButton* ButtonCancel = nullptr;

    QComboBox* ComboBoxText = nullptr;
    QLineEdit* EditText = nullptr;
    QComboBox* ComboBoxTextAlignmentHorizontal = nullptr;
    QComboBox* ComboBoxTextAlignmentVertical = nullptr;
    QCheckBox* CheckBox24Hour = nullptr;
    TColorBox* ComboBoxTextColor = nullptr;
    QComboBox* ComboBoxTextFont = nullptr;
    TUpDownEdit* UpDownTextSize = nullptr;

    QCheckBox* CheckBoxSoundConnect = nullptr;
    QLineEdit* EditSoundConnect = nullptr;
    QToolButton* ButtonSoundConnect = nullptr;

    TUpDownEdit* UpDownVideoPort = nullptr;
    TUpDownEdit* UpDownAudioPort = nullptr;
    QComboBox* ComboBoxHost = nullptr;
    QLineEdit* EditHostAddress = nullptr;
    TUpDownEdit* UpDownVideoBuffer = nullptr;

    QCheckBox* CheckBoxWeb = nullptr;
    QLineEdit* EditWebPath = nullptr;
    QToolButton* ButtonWebPath = nullptr;
    TUpDownEdit* UpDownWebPort = nullptr;
    QComboBox* ComboBoxWebHost = nullptr;
    QLineEdit* EditWebHostAddress = nullptr;
    QLineEdit* EditWebPage = nullptr;
    QToolButton* ButtonWebPage = nullptr;

    QCheckBox* CheckBoxMinimizeTray = nullptr;
    TColorBox* ComboBoxColor = nullptr;
    TUpDownEdit* UpDownJpegQuality = nullptr;

    QCheckBox* CheckBoxLogInformation = nullptr;
    QCheckBox* CheckBoxLogWarning = nullptr;
    QCheckBox* CheckBoxLogError = nullptr;
    TSwitchTree* TreeViewLog = nullptr;
};

} // namespace sw
