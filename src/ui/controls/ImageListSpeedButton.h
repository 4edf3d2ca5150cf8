#pragma once

#include <QPointer>
#include <QToolButton>

namespace sw {

class TImageListEx;

// A flat speed button whose picture is image ImageIndex of an image list, on the button face.
class TImageListSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TImageListSpeedButton(QWidget* parent = nullptr);

    TImageListEx* Images() const { return FImages; }
    void SetImages(TImageListEx* images);
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int index);
    // The picture in use; null while there is none.
    const QPixmap& Glyph() const { return FGlyph; }

private:
    void RebuildGlyph();

    QPointer<TImageListEx> FImages;
    QMetaObject::Connection FImagesChanged;
    int FImageIndex = -1;
    QPixmap FGlyph;
};

} // namespace sw
