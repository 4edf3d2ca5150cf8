#include "ui/controls/ImageListSpeedButton.h"

#include "platform/color/Colors.h"
#include "ui/controls/ImageListEx.h"

#include <QPainter>

namespace sw {

TImageListSpeedButton::TImageListSpeedButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
}

void TImageListSpeedButton::SetImages(TImageListEx* images) {
    if (images == FImages) {
        return;
    }
    disconnect(FImagesChanged);
    FImages = images;
    if (images) {
        FImagesChanged = connect(images, &TImageListEx::Changed, this, [this] { RebuildGlyph(); });
        connect(images, &QObject::destroyed, this, [this] { RebuildGlyph(); });
    }
    RebuildGlyph();
}

void TImageListSpeedButton::SetImageIndex(int index) {
    FImageIndex = index;
    RebuildGlyph();
}

void TImageListSpeedButton::RebuildGlyph() {
    if (FImages && FImages->Valid(FImageIndex)) {
        FGlyph = QPixmap(FImages->Width(), FImages->Height());
        FGlyph.fill(ColorToQColor(clBtnFace));
        QPainter painter(&FGlyph);
        FImages->Draw(painter, 0, 0, FImageIndex);
        painter.end();
        setIconSize(FGlyph.size());
        setIcon(QIcon(FGlyph));
    } else {
        FGlyph = QPixmap();
        setIcon(QIcon());
    }
    update();
}

} // namespace sw
