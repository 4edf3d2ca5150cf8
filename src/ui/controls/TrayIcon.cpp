#include "ui/controls/TrayIcon.h"

#include "ui/controls/ImageListEx.h"

#include <QMenu>

namespace sw {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {
    connect(&FNotifyIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
}

TTrayIcon::~TTrayIcon() {
    SetVisible(false);
}

bool TTrayIcon::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TTrayIcon::SetImageList(TImageListEx* imageList) {
    if (imageList == FImageList) {
        return;
    }
    disconnect(FImageListChanged);
    FImageList = imageList;
    if (imageList) {
        FImageListChanged = connect(imageList, &TImageListEx::Changed, this, [this] { UpdateNotifyIcon(); });
        // A list destroyed under the icon leaves it without a picture, not with a dangling one.
        connect(imageList, &QObject::destroyed, this, [this] { UpdateNotifyIcon(); });
    }
    UpdateNotifyIcon();
}

void TTrayIcon::SetIconIndex(int index) {
    FIconIndex = index < -1 ? -1 : index;
    UpdateNotifyIcon();
}

void TTrayIcon::SetHint(const QString& hint) {
    FHint = hint.left(kMaxHintLength);
    // A cut must not leave half a surrogate pair behind.
    if (!FHint.isEmpty() && FHint.size() < hint.size() && FHint.back().isHighSurrogate()) {
        FHint.chop(1);
    }
    UpdateNotifyIcon();
}

void TTrayIcon::SetVisible(bool visible) {
    FVisible = visible;
    UpdateNotifyIcon();
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    FPopupMenu = menu;
    // The notification area shows the menu on a right click itself (on some desktops it is even
    // drawn by the desktop), so it is handed over rather than popped up here.
    FNotifyIcon.setContextMenu(menu);
}

void TTrayIcon::UpdateNotifyIcon() {
    const bool valid = FImageList && FImageList->Valid(FIconIndex);
    FIcon = valid ? FImageList->Icon(FIconIndex) : QIcon();
    const bool wanted = FVisible && valid;
    if (wanted) {
        FNotifyIcon.setIcon(FIcon);
        FNotifyIcon.setToolTip(FHint);
        if (!FAdded) {
            FNotifyIcon.show();
            FAdded = true;
        }
    } else if (FAdded) {
        FNotifyIcon.hide();
        FAdded = false;
    }
}

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        Q_EMIT Click();
        break;
    case QSystemTrayIcon::DoubleClick:
        Q_EMIT DblClick();
        break;
    default:
        break;
    }
}

} // namespace sw
