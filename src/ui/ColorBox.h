#pragma once

#include "platform/color/Colors.h"

#include <QComboBox>

namespace sw {

// A colour list: "Custom..." first (it asks for a colour), then the standard and extended colours and,
// when asked for, the system colours, each with its swatch and name, items 15 pixels high.
class TColorBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 15;
    static constexpr int kCustomIndex = 0;

    TColorBox(bool withSystemColors, QWidget* parent = nullptr);

    TColor Selected() const;
    // A colour that is not in the list becomes the custom colour.
    void SetSelected(TColor color);

private:
    void ItemActivated(int index);
    void SetCustomColor(TColor color);

    int FPreviousIndex = -1;
};

} // namespace sw
