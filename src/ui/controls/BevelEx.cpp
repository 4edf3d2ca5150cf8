#include "ui/controls/BevelEx.h"

#include <QPainter>

namespace sw {

namespace {

// Pixel-exact one-pixel lines: a horizontal run [x0, x1) at y and a vertical run [y0, y1) at x.
void HorizontalLine(QPainter& painter, int x0, int x1, int y, const QColor& color) {
    if (x1 > x0) {
        painter.fillRect(QRect(x0, y, x1 - x0, 1), color);
    }
}

void VerticalLine(QPainter& painter, int x, int y0, int y1, const QColor& color) {
    if (y1 > y0) {
        painter.fillRect(QRect(x, y0, 1, y1 - y0), color);
    }
}

// The frame of (l, t, r, b) drawn as two open polylines: left edge up and top edge right in the first
// colour, then right edge down and bottom edge left in the second, each line without its end point.
// So the top-right corner belongs to the right edge and the bottom-left corner to the left edge.
void Frame(QPainter& painter, int l, int t, int r, int b, const QColor& first, const QColor& second) {
    VerticalLine(painter, l, t, b + 1, first);
    HorizontalLine(painter, l, r, t, first);
    VerticalLine(painter, r, t, b, second);
    HorizontalLine(painter, l + 1, r + 1, b, second);
}

} // namespace

TBevelEx::TBevelEx(QWidget* parent, TBevelShape shape, TBevelStyle style)
    : QWidget(parent), FShape(shape), FStyle(style) {
    resize(kDefaultSize, kDefaultSize);
}

void TBevelEx::SetShape(TBevelShape shape) {
    FShape = shape;
    update();
}

void TBevelEx::SetStyle(TBevelStyle style) {
    FStyle = style;
    update();
}

void TBevelEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor first = ColorToQColor(clBtnShadow);
    QColor second = ColorToQColor(clBtnHighlight);
    if (FStyle == TBevelStyle::bxsRaised) {
        std::swap(first, second);
    }
    const int w = width();
    const int h = height();
    switch (FShape) {
    case TBevelShape::bxsBox:
        Frame(painter, 0, 0, w - 1, h - 1, first, second);
        break;
    case TBevelShape::bxsFrame:
        Frame(painter, 1, 1, w - 1, h - 1, second, first);
        Frame(painter, 0, 0, w - 2, h - 2, first, second);
        break;
    case TBevelShape::bxsTopLine:
        HorizontalLine(painter, 0, w, 0, first);
        HorizontalLine(painter, 0, w, 1, second);
        break;
    case TBevelShape::bxsBottomLine:
        HorizontalLine(painter, 0, w, h - 2, first);
        HorizontalLine(painter, 0, w, h - 1, second);
        break;
    case TBevelShape::bxsLeftLine:
        VerticalLine(painter, 0, 0, h, first);
        VerticalLine(painter, 1, 0, h, second);
        break;
    case TBevelShape::bxsRightLine:
        VerticalLine(painter, w - 2, 0, h, first);
        VerticalLine(painter, w - 1, 0, h, second);
        break;
    case TBevelShape::bxsSpacer:
        break;
    case TBevelShape::bxsVertSeparator:
        VerticalLine(painter, w / 2 - 1, 0, h, first);
        VerticalLine(painter, w / 2, 0, h, second);
        break;
    case TBevelShape::bxsHorzSeparator:
        HorizontalLine(painter, 0, w, h / 2 - 1, first);
        HorizontalLine(painter, 0, w, h / 2, second);
        break;
    }
}

} // namespace sw
