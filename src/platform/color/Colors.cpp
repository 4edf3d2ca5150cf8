#include "platform/color/Colors.h"

#include <QGuiApplication>
#include <array>

namespace sw {

namespace {

struct TSystemColorEntry {
    const char* Name;
    bool Defined;
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
    uint32_t Classic; // 0x00BBGGRR of the platform's classic scheme
};

constexpr QPalette::ColorGroup kActive = QPalette::Active;
constexpr QPalette::ColorGroup kInactive = QPalette::Inactive;
constexpr QPalette::ColorGroup kDisabled = QPalette::Disabled;

// Each system colour on the palette role that plays its part in a Qt style: Window is the face of
// dialogs and menus, Base the background of text areas (the design's "window" colour), Light,
// Midlight, Dark and Shadow the bevel shades, and the captions the selection colours (a desktop
// theme has no caption colours of its own, and these keep caption text readable).
const std::array<TSystemColorEntry, kSystemColorCount> kSystemColors = {{
    {"Scroll Bar", true, kActive, QPalette::Button, 0xC8D0D4},
    {"Background", true, kActive, QPalette::Dark, 0xA56E3A},
    {"Active Caption", true, kActive, QPalette::Highlight, 0x6A240A},
    {"Inactive Caption", true, kInactive, QPalette::Highlight, 0x808080},
    {"Menu", true, kActive, QPalette::Window, 0xC8D0D4},
    {"Window", true, kActive, QPalette::Base, 0xFFFFFF},
    {"Window Frame", true, kActive, QPalette::Shadow, 0x000000},
    {"Menu Text", true, kActive, QPalette::WindowText, 0x000000},
    {"Window Text", true, kActive, QPalette::Text, 0x000000},
    {"Caption Text", true, kActive, QPalette::HighlightedText, 0xFFFFFF},
    {"Active Border", true, kActive, QPalette::Button, 0xC8D0D4},
    {"Inactive Border", true, kInactive, QPalette::Button, 0xC8D0D4},
    {"Application Workspace", true, kActive, QPalette::Mid, 0x808080},
    {"Highlight", true, kActive, QPalette::Highlight, 0x6A240A},
    {"Highlight Text", true, kActive, QPalette::HighlightedText, 0xFFFFFF},
    {"Button Face", true, kActive, QPalette::Button, 0xC8D0D4},
    {"Button Shadow", true, kActive, QPalette::Dark, 0x808080},
    {"Gray Text", true, kDisabled, QPalette::Text, 0x808080},
    {"Button Text", true, kActive, QPalette::ButtonText, 0x000000},
    {"Inactive Caption Text", true, kInactive, QPalette::HighlightedText, 0xC8D0D4},
    {"Button Highlight", true, kActive, QPalette::Light, 0xFFFFFF},
    {"3D Dark Shadow", true, kActive, QPalette::Shadow, 0x404040},
    {"3D Light", true, kActive, QPalette::Midlight, 0xC8D0D4},
    {"Info Text", true, kActive, QPalette::ToolTipText, 0x000000},
    {"Info Background", true, kActive, QPalette::ToolTipBase, 0xE1FFFF},
    {"", false, kActive, QPalette::NoRole, 0x000000},
    {"Hot Light", true, kActive, QPalette::Link, 0x800000},
    {"Gradient Active Caption", true, kActive, QPalette::Highlight, 0xF0CAA6},
    {"Gradient Inactive Caption", true, kActive, QPalette::Midlight, 0xC0C0C0},
    {"Menu Highlight", true, kActive, QPalette::Highlight, 0xC56A31},
    {"Menu Bar", true, kActive, QPalette::Window, 0xC8D0D4},
}};

uint32_t RgbOf(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
           (static_cast<uint32_t>(color.blue()) << 16);
}

std::vector<TNamedColor> BuildSystemColors() {
    std::vector<TNamedColor> colors;
    for (int i = 0; i < kSystemColorCount; ++i) {
        if (kSystemColors[static_cast<size_t>(i)].Defined) {
            colors.push_back({SystemColorValue(i), kSystemColors[static_cast<size_t>(i)].Name});
        }
    }
    return colors;
}

} // namespace

std::optional<TSystemColorRole> SystemColorRole(int index) {
    if (index < 0 || index >= kSystemColorCount || !kSystemColors[static_cast<size_t>(index)].Defined) {
        return std::nullopt;
    }
    const TSystemColorEntry& entry = kSystemColors[static_cast<size_t>(index)];
    return TSystemColorRole{entry.Group, entry.Role};
}

uint32_t ColorToRGB(TColor color) {
    if (!IsSystemColor(color)) {
        return static_cast<uint32_t>(color) & 0x00FFFFFFu;
    }
    const int index = static_cast<int>(static_cast<uint32_t>(color) & 0xFFu);
    const std::optional<TSystemColorRole> role = SystemColorRole(index);
    if (!role) {
        return 0;
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        return kSystemColors[static_cast<size_t>(index)].Classic;
    }
    return RgbOf(QGuiApplication::palette().color(role->Group, role->Role));
}

QColor ColorToQColor(TColor color) {
    const uint32_t rgb = ColorToRGB(color);
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF));
}

TColor QColorToColor(const QColor& color) {
    return static_cast<TColor>(RgbOf(color.toRgb()));
}

const std::vector<TNamedColor>& StandardColors() {
    static const std::vector<TNamedColor> colors = {
        {clBlack, "Black"},   {clMaroon, "Maroon"},   {clGreen, "Green"}, {clOlive, "Olive"},
        {clNavy, "Navy"},     {clPurple, "Purple"},   {clTeal, "Teal"},   {clGray, "Gray"},
        {clSilver, "Silver"}, {clRed, "Red"},         {clLime, "Lime"},   {clYellow, "Yellow"},
        {clBlue, "Blue"},     {clFuchsia, "Fuchsia"}, {clAqua, "Aqua"},   {clWhite, "White"},
    };
    return colors;
}

const std::vector<TNamedColor>& ExtendedColors() {
    static const std::vector<TNamedColor> colors = {
        {clMoneyGreen, "Money Green"},
        {clSkyBlue, "Sky Blue"},
        {clCream, "Cream"},
        {clMedGray, "Medium Gray"},
    };
    return colors;
}

const std::vector<TNamedColor>& SystemColors() {
    static const std::vector<TNamedColor> colors = BuildSystemColors();
    return colors;
}

std::optional<std::string> ColorName(TColor color) {
    for (const auto* list : {&StandardColors(), &ExtendedColors(), &SystemColors()}) {
        for (const TNamedColor& named : *list) {
            if (named.Color == color) {
                return std::string(named.Name);
            }
        }
    }
    return std::nullopt;
}

} // namespace sw
