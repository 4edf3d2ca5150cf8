#include "ui/views/ViewImages.h"

#include "ui/controls/ImageListEx.h"

#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace sw {

namespace {

constexpr int kSize = 16;

QImage Draw(const std::function<void(QPainter&)>& paint) {
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    return image;
}

const QColor kOutline(0x40, 0x40, 0x40);

void Monitor(QPainter& p) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(0xd8, 0xd8, 0xd8));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 10), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3a, 0x7b, 0xd5));
    p.drawRect(QRectF(3, 3, 10, 7));
    p.setBrush(QColor(0x9c, 0xc8, 0xff));
    p.drawRect(QRectF(3, 3, 10, 2));
    p.setBrush(kOutline);
    p.drawRect(QRectF(6.5, 11.5, 3, 2));
    p.drawRoundedRect(QRectF(4, 13.5, 8, 2), 1, 1);
}

// A red "no entry" disc: a ring with a bar from top left to bottom right.
void NoEntry(QPainter& p, const QRectF& box) {
    const qreal width = box.width() / 6.0;
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0xd0, 0x10, 0x10), width));
    p.drawEllipse(box.adjusted(width / 2, width / 2, -width / 2, -width / 2));
    const qreal inset = box.width() * 0.28;
    p.drawLine(QPointF(box.left() + inset, box.top() + inset),
               QPointF(box.right() - inset, box.bottom() - inset));
}

void Disc(QPainter& p, const QColor& fill, const QColor& edge) {
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
}

QImage Information() {
    return Draw([](QPainter& p) {
        Disc(p, QColor(0x2f, 0x6f, 0xd0), QColor(0x1a, 0x40, 0x80));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(6.8, 3.6, 2.4, 2.4));
        p.drawRect(QRectF(7, 7, 2, 5.5));
    });
}

QImage Warning() {
    return Draw([](QPainter& p) {
        QPainterPath triangle;
        triangle.moveTo(8, 1.2);
        triangle.lineTo(15, 14.5);
        triangle.lineTo(1, 14.5);
        triangle.closeSubpath();
        p.setPen(QPen(QColor(0x80, 0x60, 0x00), 1));
        p.setBrush(QColor(0xff, 0xd0, 0x20));
        p.drawPath(triangle);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRect(QRectF(7.1, 5, 1.8, 5.2));
        p.drawEllipse(QRectF(7, 11.2, 2, 2));
    });
}

QImage Error() {
    return Draw([](QPainter& p) {
        Disc(p, QColor(0xd8, 0x20, 0x20), QColor(0x70, 0x00, 0x00));
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
        p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
    });
}

QImage Unknown() {
    return Draw([](QPainter& p) {
        Disc(p, QColor(0xb0, 0xb0, 0xb0), QColor(0x60, 0x60, 0x60));
        QFont font;
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, kSize, kSize), Qt::AlignCenter, QStringLiteral("?"));
    });
}

QImage Entry() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(QColor(0x30, 0x60, 0x30), 1));
        p.setBrush(QColor(0x6c, 0xc0, 0x5c));
        QPainterPath diamond;
        diamond.moveTo(8, 4);
        diamond.lineTo(12, 8);
        diamond.lineTo(8, 12);
        diamond.lineTo(4, 8);
        diamond.closeSubpath();
        p.drawPath(diamond);
    });
}

QImage OperatingSystem() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x20, 0x50, 0xb0));
        p.drawRect(QRectF(2, 3, 12, 3));
        p.setBrush(QColor(0xe0, 0x40, 0x30));
        p.drawRect(QRectF(11.5, 3.5, 2, 2));
        p.setBrush(QColor(0xc0, 0xc0, 0xc0));
        p.drawRect(QRectF(3.5, 8, 6, 1));
        p.drawRect(QRectF(3.5, 10.5, 8, 1));
    });
}

QImage Jpeg() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0x8f, 0xd0, 0xff));
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xff, 0xe0, 0x40));
        p.drawEllipse(QRectF(9.5, 4, 3.5, 3.5));
        p.setBrush(QColor(0x3c, 0x9c, 0x3c));
        QPainterPath hills;
        hills.moveTo(2, 13);
        hills.lineTo(6, 7.5);
        hills.lineTo(9, 10.5);
        hills.lineTo(11, 9);
        hills.lineTo(14, 13);
        hills.closeSubpath();
        p.drawPath(hills);
    });
}

QImage Microphone() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0x70, 0x70, 0x78));
        p.drawRoundedRect(QRectF(5.5, 1.5, 5, 8), 2.5, 2.5);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kOutline, 1.2));
        p.drawArc(QRectF(3.5, 4, 9, 8), 180 * 16, 180 * 16);
        p.drawLine(QPointF(8, 12), QPointF(8, 14));
        p.drawLine(QPointF(5, 14.5), QPointF(11, 14.5));
    });
}

QImage Camera() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0x50, 0x50, 0x58));
        p.drawRoundedRect(QRectF(1.5, 4.5, 9, 8), 1.5, 1.5);
        QPainterPath lens;
        lens.moveTo(10.5, 7);
        lens.lineTo(14.5, 5);
        lens.lineTo(14.5, 12);
        lens.lineTo(10.5, 10);
        lens.closeSubpath();
        p.drawPath(lens);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe0, 0x30, 0x30));
        p.drawEllipse(QRectF(3, 6, 2, 2));
    });
}

QImage Globe() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(QColor(0x1a, 0x50, 0x90), 1));
        p.setBrush(QColor(0x5a, 0xa8, 0xe8));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0xe8, 0xf4, 0xff), 0.9));
        p.drawEllipse(QRectF(5, 1.8, 6, 12.4));
        p.drawLine(QPointF(8, 1.8), QPointF(8, 14.2));
        p.drawLine(QPointF(2, 8), QPointF(14, 8));
        p.drawLine(QPointF(3, 4.8), QPointF(13, 4.8));
        p.drawLine(QPointF(3, 11.2), QPointF(13, 11.2));
    });
}

QImage Plug() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0x90, 0x90, 0x98));
        p.drawRoundedRect(QRectF(0.5, 5.5, 5, 5), 1, 1);
        p.drawRect(QRectF(5.5, 6.5, 1.5, 1));
        p.drawRect(QRectF(5.5, 8.5, 1.5, 1));
        p.drawRoundedRect(QRectF(10.5, 5.5, 5, 5), 1, 1);
        p.setPen(QPen(QColor(0xd0, 0x10, 0x10), 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8.5, 2.5), QPointF(7.5, 6));
        p.drawLine(QPointF(7.5, 10), QPointF(8.5, 13.5));
    });
}

QImage Eraser() {
    return Draw([](QPainter& p) {
        p.translate(8, 8);
        p.rotate(-40);
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0xf0, 0x90, 0xa0));
        p.drawRoundedRect(QRectF(-6.5, -3.5, 8, 7), 1, 1);
        p.setBrush(QColor(0x40, 0x70, 0xd0));
        p.drawRoundedRect(QRectF(1.5, -3.5, 5, 7), 1, 1);
    });
}

QImage Envelope() {
    return Draw([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(QColor(0xff, 0xf8, 0xe0));
        p.drawRect(QRectF(1.5, 3.5, 13, 9));
        p.setBrush(Qt::NoBrush);
        QPainterPath flap;
        flap.moveTo(1.5, 3.5);
        flap.lineTo(8, 9);
        flap.lineTo(14.5, 3.5);
        p.drawPath(flap);
    });
}

QIcon IconOf(const QImage& image) {
    return QIcon(QPixmap::fromImage(image));
}

void Fill(TImageListEx& list, int count, QImage (*image)(int)) {
    list.Clear();
    for (int i = 0; i < count; ++i) {
        list.Add(image(i));
    }
}

} // namespace

QImage ConnectionImage(int index) {
    switch (index) {
    case ciConnected:
        return Draw(Monitor);
    case ciBlocked:
        return Draw([](QPainter& p) {
            Monitor(p);
            NoEntry(p, QRectF(7, 7, 9, 9));
        });
    default:
        return {};
    }
}

QImage LogImage(int index) {
    switch (index) {
    case liInformation:
        return Information();
    case liWarning:
        return Warning();
    case liError:
        return Error();
    default:
        return Draw([](QPainter&) {});
    }
}

QImage ConfigurationImage(int index) {
    switch (index) {
    case giEntry:
        return Entry();
    case giOperatingSystem:
        return OperatingSystem();
    case giJpeg:
        return Jpeg();
    case giAudioDevices:
        return Microphone();
    case giVideoDevices:
        return Camera();
    case giIpAddresses:
        return Globe();
    default:
        return Unknown();
    }
}

QIcon CommandIcon(TCommandImage image) {
    switch (image) {
    case TCommandImage::Disconnect:
        return IconOf(Plug());
    case TCommandImage::Blocked:
        return IconOf(Draw([](QPainter& p) { NoEntry(p, QRectF(1, 1, 14, 14)); }));
    case TCommandImage::Clear:
        return IconOf(Eraser());
    case TCommandImage::Email:
        return IconOf(Envelope());
    }
    return {};
}

void FillConnectionImages(TImageListEx& list) {
    Fill(list, kConnectionImageCount, ConnectionImage);
}

void FillLogImages(TImageListEx& list) {
    Fill(list, kLogImageCount, LogImage);
}

void FillConfigurationImages(TImageListEx& list) {
    Fill(list, kConfigurationImageCount, ConfigurationImage);
}

} // namespace sw
