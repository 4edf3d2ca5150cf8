#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

namespace sw {

class TImageListEx;

// The notification-area icon: image IconIndex of ImageList with Hint as its tool tip, in the
// notification area exactly while Visible is on and that image exists. Every change updates the
// notification area at once; destroying the component removes the icon.
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxHintLength = 63;

    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Whether this desktop has a notification area at all; without one, a window hidden "to the
    // tray" could not be brought back.
    static bool Available();

    TImageListEx* ImageList() const { return FImageList; }
    void SetImageList(TImageListEx* imageList);
    int IconIndex() const { return FIconIndex; }
    // Values below -1 are stored as -1 (none).
    void SetIconIndex(int index);
    QString Hint() const { return FHint; }
    // Longer text is cut to its first 63 characters.
    void SetHint(const QString& hint);
    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);
    QMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(QMenu* menu);

    // Whether the icon is in the notification area now, and the picture it shows there.
    bool Added() const { return FAdded; }
    const QIcon& Icon() const { return FIcon; }
    QSystemTrayIcon& NotifyIcon() { return FNotifyIcon; }

Q_SIGNALS:
    void Click();
    void DblClick();

private:
    void UpdateNotifyIcon();
    void Activated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon FNotifyIcon;
    QPointer<TImageListEx> FImageList;
    QMetaObject::Connection FImageListChanged;
    int FIconIndex = -1;
    QString FHint;
    bool FVisible = false;
    QPointer<QMenu> FPopupMenu;
    QIcon FIcon;
    bool FAdded = false;
};

} // namespace sw
