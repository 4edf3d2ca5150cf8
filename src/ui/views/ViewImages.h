#pragma once

#include <QIcon>
#include <QImage>

namespace sw {

class TImageListEx;

// The pictures of the three data views, drawn at 16 x 16 so the product carries no outside artwork.
// Each view fills its own image list from these at construction; the main window may Replace any
// image of a view's list afterwards (the view repaints on the list's Changed signal).

enum TConnectionImage : int { ciConnected = 0, ciBlocked = 1, kConnectionImageCount = 2 };
// Index = log level; image 0 is blank, as level 0 shows no icon.
enum TLogImage : int { liNone = 0, liInformation = 1, liWarning = 2, liError = 3, kLogImageCount = 4 };
// Image 0 for unknown kinds, then one per kind of system information row (kind + 1).
enum TConfigurationImage : int {
    giUnknown = 0,
    giEntry = 1,
    giOperatingSystem = 2,
    giJpeg = 3,
    giAudioDevices = 4,
    giVideoDevices = 5,
    giIpAddresses = 6,
    kConfigurationImageCount = 7
};
// The command buttons' glyphs, standing in until the window gives the actions its own images.
enum class TCommandImage { Disconnect, Blocked, Clear, Email };

QImage ConnectionImage(int index);
QImage LogImage(int index);
QImage ConfigurationImage(int index);
QIcon CommandIcon(TCommandImage image);

void FillConnectionImages(TImageListEx& list);
void FillLogImages(TImageListEx& list);
void FillConfigurationImages(TImageListEx& list);

} // namespace sw
