#include "ui/controls/ImageListEx.h"

#include <QPainter>
#include <algorithm>

namespace sw {

TImageListEx::TImageListEx(int width, int height, QObject* parent)
    : QObject(parent), FWidth(std::max(width, 1)), FHeight(std::max(height, 1)) {}

QImage TImageListEx::Fit(const QImage& image) const {
    QImage fitted = image.size() == QSize(FWidth, FHeight)
                        ? image
                        : image.scaled(FWidth, FHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return fitted.convertToFormat(FMasked ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

void TImageListEx::SetMasked(bool masked) {
    if (masked == FMasked) {
        return;
    }
    FMasked = masked;
    for (size_t i = 0; i < FOriginals.size(); ++i) {
        FImages[i] = QPixmap::fromImage(Fit(FOriginals[i]));
    }
    Q_EMIT Changed();
}

int TImageListEx::Add(const QImage& image) {
    FOriginals.push_back(image);
    FImages.push_back(QPixmap::fromImage(Fit(image)));
    Q_EMIT Changed();
    return Count() - 1;
}

void TImageListEx::Replace(int index, const QImage& image) {
    if (!Valid(index)) {
        return;
    }
    FOriginals[static_cast<size_t>(index)] = image;
    FImages[static_cast<size_t>(index)] = QPixmap::fromImage(Fit(image));
    Q_EMIT Changed();
}

void TImageListEx::Delete(int index) {
    if (!Valid(index)) {
        return;
    }
    FOriginals.erase(FOriginals.begin() + index);
    FImages.erase(FImages.begin() + index);
    Q_EMIT Changed();
}

void TImageListEx::Clear() {
    if (FImages.empty()) {
        return;
    }
    FOriginals.clear();
    FImages.clear();
    Q_EMIT Changed();
}

QPixmap TImageListEx::Pixmap(int index) const {
    return Valid(index) ? FImages[static_cast<size_t>(index)] : QPixmap();
}

QIcon TImageListEx::Icon(int index) const {
    QIcon icon;
    if (Valid(index)) {
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected}) {
            icon.addPixmap(FImages[static_cast<size_t>(index)], mode);
        }
    }
    return icon;
}

void TImageListEx::Draw(QPainter& painter, int x, int y, int index) const {
    if (Valid(index)) {
        painter.drawPixmap(x, y, FImages[static_cast<size_t>(index)]);
    }
}

} // namespace sw
