#pragma once

#include "platform/shell/DateTime.h"
#include "video/Bitmap.h"

#include <QFont>
#include <QImage>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace sw {

// The "Text" settings that the overlay reads afresh for every frame.
struct TOverlaySettings {
    int32_t Format = 0; // 0 none, 1 date, 2 time, 3 date and time, 4 frame rate, 5 custom text
    std::string Custom;
    int32_t Alignment = 0;         // 0 left, 1 centre, 2 right
    int32_t AlignmentVertical = 0; // 0 top, 1 centre, 2 bottom
    bool Time24Hour = false;
    int32_t Color = 0; // 0x00BBGGRR, or 0xFF0000nn for a system colour
    int32_t Size = 8;  // points, on a 96 dpi bitmap
    std::string Font = "MS Sans Serif";

    static TOverlaySettings FromConfiguration();
};

// The bracketed words of a custom text, in the order they are replaced.
inline constexpr std::array<const char*, 5> OverlayTokens = {"date", "time", "fps", "frame", "version"};

// "mm/dd/yyyy", and "hh:nn:ss" with " am"/" pm" on the 12-hour clock unless time24Hour.
std::string FormatOverlayDate(TDateTime time);
std::string FormatOverlayTime(TDateTime time, bool time24Hour);

// The text of the format with the first occurrence of each token replaced, in token order; the date
// and the time each come from clock when their token is replaced.
std::string OverlayText(const TOverlaySettings& settings, double frameRate, uint32_t frameNumber,
                        const std::function<TDateTime()>& clock = Now);

// The top-left corner of the text: from the text's width and the height of the extent of "Ay" in the
// overlay font; values outside the tables count as left and top. Divisions truncate toward zero.
int OverlayX(int bitmapWidth, int textWidth, int alignment);
int OverlayY(int bitmapHeight, int ayHeight, int alignmentVertical);

// Draws overlay texts with Qt's painter: bold, the settings' font and colour, no background box, one
// line. The text is painted into a small layer (kept while text and font stay the same, so a clock
// that changes once a second is painted once a second) and blended onto the bitmap's rows.
class TOverlayPainter {
public:
    struct TPlacement {
        int X = 0;
        int Y = 0;
        int TextWidth = 0;
        int AyHeight = 0;
    };

    // The font of the settings: bold only, "Size" points at 96 dpi.
    static QFont OverlayFont(const TOverlaySettings& settings);

    // Nothing is drawn, and false returned, for an empty text or an empty bitmap.
    bool Draw(TBitmap& bitmap, const std::string& text, const TOverlaySettings& settings);
    // Where the last drawn text went.
    const TPlacement& Placement() const { return FPlacement; }

private:
    void RenderLayer(const std::string& text, const TOverlaySettings& settings);
    void Blend(TBitmap& bitmap, int left, int top) const;

    TPlacement FPlacement;
    // The rendered text: premultiplied colour and coverage, and where its top-left lies relative to the
    // text cell's top-left (ink may reach outside the cell).
    QImage FLayer;
    int FLayerLeft = 0;
    int FLayerTop = 0;
    int FLayerTextWidth = 0;
    int FLayerAyHeight = 0;
    std::string FLayerText;
    std::string FLayerFont;
    int32_t FLayerSize = 0;
    int32_t FLayerColor = -1;
};

} // namespace sw
