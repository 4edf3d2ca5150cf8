#include "platform/color/Colors.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(ColorsTest, RgbValuesAreBlueGreenRedAndKeepTheirLowThreeBytes) {
    EXPECT_EQ(ColorToQColor(0x332211), QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(QColorToColor(QColor(0x11, 0x22, 0x33, 0x80)), 0x332211) << "alpha is dropped";
    EXPECT_EQ(ColorToRGB(0x01332211), 0x332211u);
    EXPECT_EQ(QColorToColor(ColorToQColor(clSkyBlue)), clSkyBlue);
}

TEST(ColorsTest, SystemColoursResolveOnTheApplicationsPalette) {
    const QPalette saved = QGuiApplication::palette();
    QPalette palette = saved;
    palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    palette.setColor(QPalette::Active, QPalette::Base, QColor(4, 5, 6));
    palette.setColor(QPalette::Active, QPalette::Dark, QColor(7, 8, 9));
    palette.setColor(QPalette::Active, QPalette::Light, QColor(10, 11, 12));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(13, 14, 15));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(16, 17, 18));
    QGuiApplication::setPalette(palette);
    EXPECT_EQ(ColorToQColor(clBtnFace), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(static_cast<TColor>(0xFF000005u)), QColor(4, 5, 6)) << "the default background";
    EXPECT_EQ(ColorToQColor(clBtnShadow), QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(clBtnHighlight), QColor(10, 11, 12));
    EXPECT_EQ(ColorToQColor(clInactiveCaption), QColor(13, 14, 15));
    EXPECT_EQ(ColorToQColor(clGrayText), QColor(16, 17, 18));
    EXPECT_EQ(ColorToRGB(SystemColorValue(25)), 0u) << "an index the system leaves undefined";
    EXPECT_EQ(ColorToRGB(SystemColorValue(200)), 0u);
    QGuiApplication::setPalette(saved);
}

TEST(ColorsTest, NamedListsHoldEveryDefinedColourOnce) {
    EXPECT_EQ(StandardColors().size(), 16u);
    EXPECT_EQ(ExtendedColors().size(), 4u);
    EXPECT_EQ(SystemColors().size(), 30u);
    EXPECT_EQ(ColorName(clSkyBlue), "Sky Blue");
    EXPECT_EQ(ColorName(clBtnFace), "Button Face");
    EXPECT_EQ(ColorName(0x123456), std::nullopt);
    for (const TNamedColor& named : SystemColors()) {
        EXPECT_TRUE(SystemColorRole(named.Color & 0xFF).has_value()) << named.Name;
    }
}

} // namespace
} // namespace sw
