#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

class QObject;

namespace sw {

class TImageListEx;

// The main window's image list: what its actions, menus and buttons refer to by index.
enum TMainImage : int {
    imgStart = 0,
    imgStop = 1,
    imgClose = 2,
    imgMinimize = 3,
    imgOptions = 4,
    imgRecord = 5,
    imgVideoFormat = 6,
    imgCompression = 7,
    imgVideoSource = 8,
    imgInformation = 9,
    imgWarning = 10,
    imgError = 11,
    imgAudio = 12,
    imgVideo = 13,
    imgDevice = 14,
    imgDisplay = 15,
    imgClient = 16,
    imgClientBlocked = 17,
    imgStreamwright = 18,
    imgBroadcast = 19,
    imgArrow = 20,
    imgWeb = 21,
    imgSound = 22,
    imgClear = 23,
    imgBlocked = 24,
    imgDisconnect = 25,
    imgEmail = 26,
    imgConnections = 27,
    imgLog = 28,
    imgConfiguration = 29,
    imgStreamwrightMenu = 30,
    imgHelp = 31,
    imgUpdateHtml = 32,
    kMainImageCount = 33,
};

// The pictures are SVG drawn for this product, rendered by Qt at the size asked for; an unknown
// resource gives a null image.
QImage RenderPicture(const QString& resource, QSize size);

// Owned by parent: the 33 images above at 16 x 16.
TImageListEx* CreateMainImageList(QObject* parent);

// The broadcast view's logo (320 x 240) and the About view's.
QImage LogoPicture();
QImage AboutLogoPicture();
QIcon WindowIcon();

} // namespace sw
