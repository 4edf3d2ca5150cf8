#include "ui/controls/Gradient.h"

#include <QPainter>

namespace sw {

int64_t RoundHalfEven(int64_t numerator, int64_t denominator) {
    const int64_t quotient = numerator / denominator;
    const int64_t twiceRemainder = 2 * (numerator % denominator);
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0)) {
        return quotient + 1;
    }
    return quotient;
}

void TGradientSection::SetPosition(uint8_t position) {
    FPosition = position;
    FOwner.update();
}

void TGradientSection::SetColor(TColor color) {
    FColor = color;
    FOwner.update();
}

TGradient::TGradient(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kDefaultSize, kDefaultSize);
}

TGradient::~TGradient() = default;

void TGradient::SetStartColor(TColor color) {
    FStartColor = color;
    update();
}

void TGradient::SetEndColor(TColor color) {
    FEndColor = color;
    update();
}

void TGradient::SetGradientCount(uint16_t count) {
    FGradientCount = count;
    update();
}

void TGradient::SetOrientation(TGradientOrientation orientation) {
    FOrientation = orientation;
    update();
}

void TGradient::SetPen(const TGradientPen& pen) {
    FPen = pen;
    update();
}

TGradientSection& TGradient::AddSection() {
    const uint8_t position =
        FSections.empty() ? 50 : static_cast<uint8_t>((FSections.back()->Position() + 99) / 2);
    FSections.push_back(std::unique_ptr<TGradientSection>(new TGradientSection(*this, position)));
    update();
    return *FSections.back();
}

void TGradient::DeleteSection(int index) {
    if (index >= 0 && index < SectionCount()) {
        FSections.erase(FSections.begin() + index);
        update();
    }
}

void TGradient::ClearSections() {
    FSections.clear();
    update();
}

namespace {

// One run of bands along the axis over [a, b), the colours given as 0x00BBGGRR.
void BandRun(QPainter& painter, const QRect& fill, bool horizontal, int a, int b, uint32_t first,
             uint32_t second, int64_t bands) {
    if (bands <= 0) {
        return;
    }
    const int64_t length = b - a;
    for (int64_t k = 0; k < bands; ++k) {
        const int from = a + static_cast<int>(RoundHalfEven(k * length, bands));
        const int to = a + static_cast<int>(RoundHalfEven((k + 1) * length, bands));
        if (to <= from) {
            continue;
        }
        auto channel = [&](int shift) {
            const int64_t c1 = (first >> shift) & 0xFF;
            const int64_t c2 = (second >> shift) & 0xFF;
            return static_cast<int>((c1 * (bands - k) + c2 * k) / bands);
        };
        const QColor color(channel(0), channel(8), channel(16));
        const QRect band = horizontal ? QRect(from, fill.top(), to - from, fill.height())
                                      : QRect(fill.left(), from, fill.width(), to - from);
        painter.fillRect(band, color);
    }
}

} // namespace

void TGradient::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int penWidth = FPen.Width;
    if (penWidth > 0) {
        QPen pen(ColorToQColor(FPen.Color));
        pen.setWidth(penWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const double half = penWidth / 2.0;
        painter.drawRect(QRectF(half, half, width() - penWidth, height() - penWidth));
    }
    const QRect fill = rect().adjusted(std::max(penWidth, 0), std::max(penWidth, 0), -std::max(penWidth, 0),
                                       -std::max(penWidth, 0));
    const int64_t count = FGradientCount;
    if (fill.isEmpty() || count == 0) {
        return;
    }
    const bool horizontal = FOrientation == TGradientOrientation::goHorizontal;
    const int start = horizontal ? fill.left() : fill.top();
    const int64_t length = horizontal ? fill.width() : fill.height();
    const int n = SectionCount();
    for (int i = 0; i <= n; ++i) {
        const TColor from = i == 0 ? FStartColor : FSections[static_cast<size_t>(i - 1)]->Color();
        const int64_t p = i == 0 ? 0 : FSections[static_cast<size_t>(i - 1)]->Position();
        const TColor to = i == n ? FEndColor : FSections[static_cast<size_t>(i)]->Color();
        const int64_t q = i == n ? 101 : FSections[static_cast<size_t>(i)]->Position() + 1;
        const int64_t s = RoundHalfEven(count * p, 101);
        const int64_t e = RoundHalfEven(count * q, 101);
        const int a = start + static_cast<int>(RoundHalfEven(s * length, count));
        const int b = start + static_cast<int>(RoundHalfEven(e * length, count));
        BandRun(painter, fill, horizontal, a, b, ColorToRGB(from), ColorToRGB(to), e - s);
    }
}

} // namespace sw
