#pragma once

#include <QWidget>
#include <cstdint>

namespace sw {

class TFramePreview;

// The capture window's place in the broadcast view: the newest frame the video thread produced, at
// its own size. The preview holds the one copy made per frame; painting reads it in place, and a
// frame that arrives before the last one was painted only replaces it.
class TCaptureView : public QWidget {
    Q_OBJECT
public:
    TCaptureView(TFramePreview& preview, QWidget* parent = nullptr);
    ~TCaptureView() override;

    // The size of the frames shown; empty before the first one.
    QSize FrameSize() const { return FFrameSize; }
    uint32_t FramesPainted() const { return FFramesPainted; }
    QSize sizeHint() const override { return FFrameSize; }

Q_SIGNALS:
    // A frame of another size arrived: the view has taken that size and wants placing again.
    void FrameSizeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void FramePresented();

    TFramePreview& FPreview;
    QSize FFrameSize;
    uint32_t FFramesPainted = 0;
    uint32_t FLastPainted = 0;
};

} // namespace sw
