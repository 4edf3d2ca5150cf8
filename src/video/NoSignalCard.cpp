#include "video/NoSignalCard.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstring>

namespace sw {

namespace {

constexpr int kCardGrey = 0x30;
constexpr int kTextGrey = 0xE0;

} // namespace

bool DrawNoSignalCard(TBitmap& bitmap, int32_t width, int32_t height) {
    if (!bitmap.SetSize(width, height, 24)) {
        return false;
    }
    QImage card(width, height, QImage::Format_BGR888);
    card.fill(QColor(kCardGrey, kCardGrey, kCardGrey));
    {
        QPainter painter(&card);
        QFont font;
        font.setBold(true);
        font.setPixelSize(std::max(8, std::min(width / 8, height / 4)));
        painter.setFont(font);
        painter.setPen(QColor(kTextGrey, kTextGrey, kTextGrey));
        painter.drawText(card.rect(), Qt::AlignCenter, QString::fromLatin1(kNoSignalText));
    }
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(bitmap.ScanLine(y), card.constScanLine(y), static_cast<size_t>(width) * 3);
    }
    return true;
}

} // namespace sw
