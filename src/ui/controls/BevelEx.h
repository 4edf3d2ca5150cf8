#pragma once

#include "platform/color/Colors.h"

#include <QWidget>

namespace sw {

enum class TBevelShape {
    bxsBox,
    bxsFrame,
    bxsTopLine,
    bxsBottomLine,
    bxsLeftLine,
    bxsRightLine,
    bxsSpacer,
    bxsVertSeparator,
    bxsHorzSeparator,
};

enum class TBevelStyle { bxsLowered, bxsRaised };

// A bevel drawn in the button shadow and highlight colours: a box, a frame, an edge line or a
// separator line pair.
class TBevelEx : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultSize = 50;

    explicit TBevelEx(QWidget* parent = nullptr, TBevelShape shape = TBevelShape::bxsBox,
                      TBevelStyle style = TBevelStyle::bxsLowered);

    TBevelShape Shape() const { return FShape; }
    void SetShape(TBevelShape shape);
    TBevelStyle Style() const { return FStyle; }
    void SetStyle(TBevelStyle style);

    QSize sizeHint() const override { return {kDefaultSize, kDefaultSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBevelShape FShape;
    TBevelStyle FStyle;
};

} // namespace sw
