#pragma once

#include <QWidget>
#include <memory>

class QAction;
class QGroupBox;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QTreeView;

namespace sw {

class TBroadcastController;
class TImageListEx;
class TLogModel;
class TStatusBarEx;

// The log view (page BookPageLog): the virtual list of the engine's log lines, the details box under
// a splitter, the command bar and an empty status bar.
//
// For the main window:
// - Construct it on the page with the controller before the event loop delivers the messages that
//   the controller's Create posted (or call Refresh once); it follows the LogChanged signal
//   (WM_LOGCHANGED) by itself and needs no other call.
// - It owns ActionLogClear and ActionLogEmail (run through the controller, enabled by its rules,
//   shown on its command bar). Take them into the window's action list as they are; give them the
//   window's images with setIcon. UpdateActions re-evaluates their rules (also done on every refresh).
// - ImageListLog holds the level icons (1 Information, 2 Warning, 3 Error); Replace images to change
//   them.
class TLogView : public QWidget {
    Q_OBJECT
public:
    explicit TLogView(TBroadcastController& controller, QWidget* parent = nullptr);
    ~TLogView() override;

    // WM_LOGCHANGED: the row count follows the lines, the visible rows are read again, the details
    // box follows the selected row.
    void Refresh();
    void UpdateActions();

    QAction* ActionLogClear() const { return FActionLogClear; }
    QAction* ActionLogEmail() const { return FActionLogEmail; }
    TImageListEx& ImageListLog() const { return *FImageListLog; }

    QTreeView* ListViewLog() const { return FListViewLog; }
    TLogModel& Model() const { return *FModel; }
    QPlainTextEdit* MemoLogDetails() const { return FMemoLogDetails; }
    QSplitter* Splitter() const { return FSplitter; }
    QToolBar* CommandBar() const { return FCommandBar; }
    TStatusBarEx* StatusBarLog() const { return FStatusBarLog; }

    // The selected row, -1 for none.
    int SelectedRow() const;

private:
    void ListViewLogChange();

    TBroadcastController& FController;
    std::unique_ptr<TImageListEx> FImageListLog;
    std::unique_ptr<TLogModel> FModel;
    QAction* FActionLogClear;
    QAction* FActionLogEmail;
    QTreeView* FListViewLog;
    QSplitter* FSplitter;
    QGroupBox* FBoxDetails;
    QPlainTextEdit* FMemoLogDetails;
    QToolBar* FCommandBar;
    TStatusBarEx* FStatusBarLog;
};

} // namespace sw
