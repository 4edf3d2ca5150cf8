#pragma once

#include "platform/color/Colors.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

namespace sw {

class TGradient;

// A colour stop of a gradient at Position percent.
class TGradientSection {
public:
    uint8_t Position() const { return FPosition; }
    void SetPosition(uint8_t position);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);

private:
    friend class TGradient;
    explicit TGradientSection(TGradient& owner, uint8_t position) : FOwner(owner), FPosition(position) {}

    TGradient& FOwner;
    uint8_t FPosition;
    TColor FColor = clBlack;
};

// The outline of a gradient; a width of 0 draws none.
struct TGradientPen {
    TColor Color = clBlack;
    int Width = 0;
    bool operator==(const TGradientPen&) const = default;
};

enum class TGradientOrientation { goHorizontal, goVertical };

// A gradient fill in GradientCount bands from StartColor through the sections' colours to EndColor,
// drawn opaque. Every change repaints it.
class TGradient : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultSize = 105;

    explicit TGradient(QWidget* parent = nullptr);
    ~TGradient() override;

    TColor StartColor() const { return FStartColor; }
    void SetStartColor(TColor color);
    TColor EndColor() const { return FEndColor; }
    void SetEndColor(TColor color);
    uint16_t GradientCount() const { return FGradientCount; }
    void SetGradientCount(uint16_t count);
    TGradientOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TGradientOrientation orientation);
    const TGradientPen& Pen() const { return FPen; }
    void SetPen(const TGradientPen& pen);

    int SectionCount() const { return static_cast<int>(FSections.size()); }
    TGradientSection& Sections(int index) { return *FSections[static_cast<size_t>(index)]; }
    // A new section is black at 50 % when it is the only one, else midway between the previous
    // section and the end.
    TGradientSection& AddSection();
    void DeleteSection(int index);
    void ClearSections();

    QSize sizeHint() const override { return {kDefaultSize, kDefaultSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class TGradientSection;

    TColor FStartColor = clBlack;
    TColor FEndColor = clBtnFace;
    uint16_t FGradientCount = 256;
    TGradientOrientation FOrientation = TGradientOrientation::goHorizontal;
    TGradientPen FPen;
    std::vector<std::unique_ptr<TGradientSection>> FSections;
};

// nearest(numerator / denominator) for a non-negative numerator and a positive denominator, halves
// going to the even neighbour, in exact integer arithmetic.
int64_t RoundHalfEven(int64_t numerator, int64_t denominator);

} // namespace sw
