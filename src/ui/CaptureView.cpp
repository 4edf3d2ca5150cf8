#include "ui/CaptureView.h"

#include "video/FramePreview.h"

#include <QPainter>

namespace sw {

TCaptureView::TCaptureView(TFramePreview& preview, QWidget* parent) : QWidget(parent), FPreview(preview) {
    setObjectName(QStringLiteral("CaptureWindow"));
    // Every pixel is the frame's: nothing underneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    FPreview.OnPresented = [this] { FramePresented(); };
}

TCaptureView::~TCaptureView() {
    FPreview.OnPresented = nullptr;
}

void TCaptureView::FramePresented() {
    const QSize size = FPreview.Frame().size();
    if (size != FFrameSize) {
        FFrameSize = size;
        resize(size);
        Q_EMIT FrameSizeChanged();
    }
    update();
}

void TCaptureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage& frame = FPreview.Frame();
    if (frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, frame);
    if (FPreview.FramesPresented() != FLastPainted) {
        FLastPainted = FPreview.FramesPresented();
        ++FFramesPainted;
    }
}

} // namespace sw
