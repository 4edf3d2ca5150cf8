#include "ui/Images.h"

#include "ui/controls/ImageListEx.h"

#include <QPainter>
#include <QSvgRenderer>
#include <array>

namespace sw {

namespace {

constexpr std::array<const char*, kMainImageCount> kMainImageFiles = {
    "00-start.svg",
    "01-stop.svg",
    "02-close.svg",
    "03-minimize.svg",
    "04-options.svg",
    "05-record.svg",
    "06-video-format.svg",
    "07-compression.svg",
    "08-video-source.svg",
    "09-information.svg",
    "10-warning.svg",
    "11-error.svg",
    "12-audio.svg",
    "13-video.svg",
    "14-device.svg",
    "15-display.svg",
    "16-client.svg",
    "17-client-blocked.svg",
    "18-streamwright.svg",
    "19-broadcast.svg",
    "20-arrow.svg",
    "21-web.svg",
    "22-sound.svg",
    "23-clear.svg",
    "24-blocked.svg",
    "25-disconnect.svg",
    "26-email.svg",
    "27-connections.svg",
    "28-log.svg",
    "29-configuration.svg",
    "30-streamwright-menu.svg",
    "31-help.svg",
    "32-update-html.svg",
};

QString Resource(const char* file) {
    return QStringLiteral(":/images/") + QLatin1String(file);
}

QImage Main(int index, QSize size) {
    return RenderPicture(Resource(kMainImageFiles[static_cast<size_t>(index)]), size);
}

} // namespace

QImage RenderPicture(const QString& resource, QSize size) {
    QSvgRenderer renderer(resource);
    if (!renderer.isValid() || size.isEmpty()) {
        return {};
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return image;
}

TImageListEx* CreateMainImageList(QObject* parent) {
    auto* list = new TImageListEx(16, 16, parent);
    for (int i = 0; i < kMainImageCount; ++i) {
        list->Add(Main(i, {16, 16}));
    }
    return list;
}

QImage LogoPicture() {
    return RenderPicture(Resource("logo.svg"), {320, 240});
}

QImage AboutLogoPicture() {
    return RenderPicture(Resource("about-logo.svg"), {200, 150});
}

QIcon WindowIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(QPixmap::fromImage(RenderPicture(Resource("window-icon.svg"), {size, size})));
    }
    return icon;
}

} // namespace sw
