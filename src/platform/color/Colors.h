#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

// A colour as the settings store it: 0x00BBGGRR, or 0xFF0000nn for system colour nn.
using TColor = int32_t;

constexpr TColor kSystemColorFlag = static_cast<TColor>(0xFF000000u);
constexpr TColor SystemColorValue(int index) {
    return static_cast<TColor>(0xFF000000u | static_cast<uint32_t>(index & 0xFF));
}

// The standard colours.
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
// The extended colours.
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;

// The system colour indexes.
enum TSystemColorIndex : int {
    COLOR_SCROLLBAR = 0,
    COLOR_BACKGROUND = 1,
    COLOR_ACTIVECAPTION = 2,
    COLOR_INACTIVECAPTION = 3,
    COLOR_MENU = 4,
    COLOR_WINDOW = 5,
    COLOR_WINDOWFRAME = 6,
    COLOR_MENUTEXT = 7,
    COLOR_WINDOWTEXT = 8,
    COLOR_CAPTIONTEXT = 9,
    COLOR_ACTIVEBORDER = 10,
    COLOR_INACTIVEBORDER = 11,
    COLOR_APPWORKSPACE = 12,
    COLOR_HIGHLIGHT = 13,
    COLOR_HIGHLIGHTTEXT = 14,
    COLOR_BTNFACE = 15,
    COLOR_BTNSHADOW = 16,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
    COLOR_INACTIVECAPTIONTEXT = 19,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DDKSHADOW = 21,
    COLOR_3DLIGHT = 22,
    COLOR_INFOTEXT = 23,
    COLOR_INFOBK = 24,
    COLOR_HOTLIGHT = 26,
    COLOR_GRADIENTACTIVECAPTION = 27,
    COLOR_GRADIENTINACTIVECAPTION = 28,
    COLOR_MENUHILIGHT = 29,
    COLOR_MENUBAR = 30,
};
constexpr int kSystemColorCount = 31;

constexpr TColor clScrollBar = SystemColorValue(COLOR_SCROLLBAR);
constexpr TColor clBackground = SystemColorValue(COLOR_BACKGROUND);
constexpr TColor clActiveCaption = SystemColorValue(COLOR_ACTIVECAPTION);
constexpr TColor clInactiveCaption = SystemColorValue(COLOR_INACTIVECAPTION);
constexpr TColor clMenu = SystemColorValue(COLOR_MENU);
constexpr TColor clWindow = SystemColorValue(COLOR_WINDOW);
constexpr TColor clWindowFrame = SystemColorValue(COLOR_WINDOWFRAME);
constexpr TColor clMenuText = SystemColorValue(COLOR_MENUTEXT);
constexpr TColor clWindowText = SystemColorValue(COLOR_WINDOWTEXT);
constexpr TColor clCaptionText = SystemColorValue(COLOR_CAPTIONTEXT);
constexpr TColor clActiveBorder = SystemColorValue(COLOR_ACTIVEBORDER);
constexpr TColor clInactiveBorder = SystemColorValue(COLOR_INACTIVEBORDER);
constexpr TColor clAppWorkSpace = SystemColorValue(COLOR_APPWORKSPACE);
constexpr TColor clHighlight = SystemColorValue(COLOR_HIGHLIGHT);
constexpr TColor clHighlightText = SystemColorValue(COLOR_HIGHLIGHTTEXT);
constexpr TColor clBtnFace = SystemColorValue(COLOR_BTNFACE);
constexpr TColor clBtnShadow = SystemColorValue(COLOR_BTNSHADOW);
constexpr TColor clGrayText = SystemColorValue(COLOR_GRAYTEXT);
constexpr TColor clBtnText = SystemColorValue(COLOR_BTNTEXT);
constexpr TColor clInactiveCaptionText = SystemColorValue(COLOR_INACTIVECAPTIONTEXT);
constexpr TColor clBtnHighlight = SystemColorValue(COLOR_BTNHIGHLIGHT);
constexpr TColor cl3DDkShadow = SystemColorValue(COLOR_3DDKSHADOW);
constexpr TColor cl3DLight = SystemColorValue(COLOR_3DLIGHT);
constexpr TColor clInfoText = SystemColorValue(COLOR_INFOTEXT);
constexpr TColor clInfoBk = SystemColorValue(COLOR_INFOBK);
constexpr TColor clHotLight = SystemColorValue(COLOR_HOTLIGHT);
constexpr TColor clGradientActiveCaption = SystemColorValue(COLOR_GRADIENTACTIVECAPTION);
constexpr TColor clGradientInactiveCaption = SystemColorValue(COLOR_GRADIENTINACTIVECAPTION);
constexpr TColor clMenuHighlight = SystemColorValue(COLOR_MENUHILIGHT);
constexpr TColor clMenuBar = SystemColorValue(COLOR_MENUBAR);

constexpr bool IsSystemColor(TColor color) {
    return (static_cast<uint32_t>(color) & 0xFF000000u) == 0xFF000000u;
}

// Where a system colour comes from: a role of the application's palette in one colour group.
struct TSystemColorRole {
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};
// The palette role of a system colour index; nothing for an index the system does not define.
std::optional<TSystemColorRole> SystemColorRole(int index);

// The RGB value (0x00BBGGRR) of a colour, system colours resolved on the application's palette
// (the platform's classic defaults while no GUI application exists; black for an undefined index).
// Other values keep their low three bytes.
uint32_t ColorToRGB(TColor color);
QColor ColorToQColor(TColor color);
// The RGB value of a Qt colour; its alpha is dropped.
TColor QColorToColor(const QColor& color);

// A named colour of the colour lists.
struct TNamedColor {
    TColor Color;
    const char* Name;
};
const std::vector<TNamedColor>& StandardColors();
const std::vector<TNamedColor>& ExtendedColors();
// The system colours the system defines, in index order.
const std::vector<TNamedColor>& SystemColors();
// The name of a colour of the three lists, or nothing.
std::optional<std::string> ColorName(TColor color);

} // namespace sw
