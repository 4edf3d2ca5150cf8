#pragma once

#include <QWidget>
#include <memory>

class QAction;
class QToolBar;
class QTreeWidget;

namespace sw {

class TBroadcastController;
class TImageListEx;
class TStatusBarEx;

// The configuration view (page BookPageConfiguration): the engine's system information as an
// indented list with an icon per kind of row, a command bar and an empty status bar. Every refresh
// records the "Configuration" entry with the full report, so the log keeps what the machine was.
//
// For the main window:
// - Construct it on the page with the controller before the event loop delivers the messages that
//   the controller's Create posted (or call Refresh once, which records "Configuration"); it follows
//   the SystemInfoChanged signal (WM_SYSTEMINFOCHANGED) by itself.
// - It owns ActionConfigurationEmail (run through the controller, shown on its command bar). Take it
//   into the window's action list as it is; give it the window's image with setIcon.
// - ImageListConfiguration: image 0 for unknown kinds, 1 to 6 for kinds 0 to 5; Replace to change.
class TConfigurationView : public QWidget {
    Q_OBJECT
public:
    enum TColumn { gcDescription, gcValue, kColumnCount };
    // On the first column of each row: the image index and the indent (in icon widths).
    static constexpr int kImageIndexRole = Qt::UserRole + 1;
    static constexpr int kIndentRole = Qt::UserRole + 2;

    explicit TConfigurationView(TBroadcastController& controller, QWidget* parent = nullptr);
    ~TConfigurationView() override;

    // WM_SYSTEMINFOCHANGED: rebuilds the rows, then records "Configuration".
    void Refresh();

    QAction* ActionConfigurationEmail() const { return FActionConfigurationEmail; }
    TImageListEx& ImageListConfiguration() const { return *FImageListConfiguration; }

    QTreeWidget* ListViewConfiguration() const { return FListViewConfiguration; }
    QToolBar* CommandBar() const { return FCommandBar; }
    TStatusBarEx* StatusBarConfiguration() const { return FStatusBarConfiguration; }

    // The image of a row's kind: kind + 1 for kinds 0 to 5, else 0.
    static int ImageOfKind(int kind);

private:
    void LoadIcons();

    TBroadcastController& FController;
    std::unique_ptr<TImageListEx> FImageListConfiguration;
    QAction* FActionConfigurationEmail;
    QTreeWidget* FListViewConfiguration;
    QToolBar* FCommandBar;
    TStatusBarEx* FStatusBarConfiguration;
};

} // namespace sw
