#pragma once

#include "platform/shell/DateTime.h"

#include <QIcon>
#include <QWidget>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QToolBar;
class QTreeWidget;

namespace sw {

class TBroadcastController;
class TImageListEx;
class TStatusBarEx;

// The connections view (page BookPageConnections): one row per address of the client registry with
// its first-connect time and connection counts, the totals in the status bar, and the commands that
// block and disconnect the selected address.
//
// For the main window:
// - Construct it on the page with the controller before the event loop delivers the messages that
//   the controller's Create posted (or call Refresh once); it follows the ConnectionsChanged
//   (WM_CONNECTIONSCHANGED) and Stopped (the zero status texts) signals by itself.
// - It owns ActionClientDisconnect and ActionClientBlocked (checkable) and MenuConnection ("Disconnect",
//   "-", "Blocked"), the list's context menu while a row is selected. The actions run through the
//   controller with SelectedAddress() and are enabled and checked by its rules. Take them into the
//   window's action list as they are; give them the window's images with setIcon. UpdateActions
//   re-evaluates the rules (also done on every refresh and selection change).
// - ImageListConnection: image 0 an address that is not blocked, 1 a blocked one; Replace to change.
class TConnectionsView : public QWidget {
    Q_OBJECT
public:
    enum TColumn { ccAddress, ccDateTime, ccAudio, ccVideo, kColumnCount };
    enum TPanel { cpAddresses, cpAudio, cpVideo, cpSpare };
    // On the first column of each row: the image index (0 not blocked, 1 blocked).
    static constexpr int kImageIndexRole = Qt::UserRole + 1;

    explicit TConnectionsView(TBroadcastController& controller, QWidget* parent = nullptr);
    ~TConnectionsView() override;

    // WM_CONNECTIONSCHANGED: rows follow the registry in place and are sorted by address; a selected
    // address that is still registered stays selected.
    void Refresh();
    // What Stop leaves: "0 IP(s)", "0 Audio" and "0 Video".
    void ResetStatus();
    void UpdateActions();

    // The selected row's address, "" for none.
    std::string SelectedAddress() const;
    // MenuConnection while a row is selected, else none.
    QMenu* ContextMenu() const;

    QAction* ActionClientDisconnect() const { return FActionClientDisconnect; }
    QAction* ActionClientBlocked() const { return FActionClientBlocked; }
    QMenu* MenuConnection() const { return FMenuConnection.get(); }
    TImageListEx& ImageListConnection() const { return *FImageListConnection; }

    QTreeWidget* ListViewConnection() const { return FListViewConnection; }
    QToolBar* CommandBar() const { return FCommandBar; }
    TStatusBarEx* StatusBarConnection() const { return FStatusBarConnection; }

    // "mm/dd/yyyy hh:nn am/pm"; empty for an address that never connected (a blocked one from the
    // settings file).
    static QString FormatConnectTime(TDateTime time);
    // "#,##0" with the locale's thousands separator.
    static QString FormatCount(long long count);

private:
    void ListViewConnectionChange();
    void LoadIcons();

    TBroadcastController& FController;
    std::unique_ptr<TImageListEx> FImageListConnection;
    QIcon FIcons[2];
    QAction* FActionClientDisconnect;
    QAction* FActionClientBlocked;
    std::unique_ptr<QMenu> FMenuConnection;
    QTreeWidget* FListViewConnection;
    QToolBar* FCommandBar;
    TStatusBarEx* FStatusBarConnection;
};

} // namespace sw
