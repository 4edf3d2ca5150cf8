#pragma once

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <vector>

class QPainter;

namespace sw {

// An image list: images of one width and height, addressed by index, in the screen's own colour
// format. A masked list keeps each image's transparency; an unmasked one makes them opaque.
// Changed() follows every change, so that whoever shows an image can rebuild its picture.
class TImageListEx : public QObject {
    Q_OBJECT
public:
    explicit TImageListEx(int width = 16, int height = 16, QObject* parent = nullptr);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Masked() const { return FMasked; }
    void SetMasked(bool masked);

    int Count() const { return static_cast<int>(FImages.size()); }
    bool Valid(int index) const { return index >= 0 && index < Count(); }
    // An image of another size is scaled to the list's; returns its index.
    int Add(const QImage& image);
    void Replace(int index, const QImage& image);
    void Delete(int index);
    void Clear();

    // Null for an index outside the list.
    QPixmap Pixmap(int index) const;
    // The same picture when normal, active or selected (a selected item shows it unchanged); the
    // disabled picture is the greyed one Qt derives.
    QIcon Icon(int index) const;
    void Draw(QPainter& painter, int x, int y, int index) const;

Q_SIGNALS:
    void Changed();

private:
    QImage Fit(const QImage& image) const;

    int FWidth;
    int FHeight;
    bool FMasked = true;
    std::vector<QImage> FOriginals;
    std::vector<QPixmap> FImages;
};

} // namespace sw
