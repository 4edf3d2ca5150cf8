#include "video/Overlay.h"

#include "platform/shell/VersionInfo.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace sw {
namespace {

TDateTime At(int year, int month, int day, int hour, int minute, int second) {
    TDateTimeParts parts;
    parts.Year = year;
    parts.Month = month;
    parts.Day = day;
    parts.Hour = hour;
    parts.Minute = minute;
    parts.Second = second;
    return EncodeDateTime(parts);
}

TOverlaySettings Custom(const std::string& text) {
    TOverlaySettings settings;
    settings.Format = 5;
    settings.Custom = text;
    return settings;
}

std::string TextAt(const TOverlaySettings& settings, TDateTime time, double rate = 0, uint32_t frame = 1) {
    return OverlayText(settings, rate, frame, [time] { return time; });
}

TEST(OverlayTextTest, FormatsGiveTheirTextsAndOtherValuesNone) {
    const TDateTime time = At(2024, 3, 7, 14, 5, 9);
    TOverlaySettings settings;
    const std::vector<std::pair<int, std::string>> cases = {
        {0, ""},     {1, "03/07/2024"}, {2, "02:05:09 pm"}, {3, "03/07/2024 02:05:09 pm"},
        {4, "12.5"}, {6, ""},           {-1, ""},
    };
    for (const auto& [format, expected] : cases) {
        settings.Format = format;
        EXPECT_EQ(TextAt(settings, time, 12.5), expected) << "Format " << format;
    }
    settings.Format = 5;
    settings.Custom = "";
    EXPECT_EQ(TextAt(settings, time), "");
}

TEST(OverlayTextTest, OnlyTheFirstOccurrenceOfEachTokenIsReplaced) {
    EXPECT_EQ(TextAt(Custom("Cam [time] [time]"), At(2024, 3, 7, 14, 5, 9)), "Cam 02:05:09 pm [time]");
    EXPECT_EQ(TextAt(Custom("[date]-[date] [frame][frame]"), At(1999, 12, 31, 0, 0, 0), 0, 0xABCDEF12),
              "12/31/1999-[date] ABCDEF12[frame]");
}

TEST(OverlayTextTest, TokenValues) {
    const TDateTime time = At(2024, 3, 7, 14, 5, 9);
    EXPECT_EQ(TextAt(Custom("[frame]"), time, 0, 1), "00000001") << "the first frame of a broadcast";
    EXPECT_EQ(TextAt(Custom("[fps]"), time, 7.2), " 7.2") << "padded to four characters";
    EXPECT_EQ(TextAt(Custom("[fps]"), time, 29.96), "30.0");
    EXPECT_EQ(TextAt(Custom("[fps] fps"), time, 123.25), "123.2 fps");

    const std::string version = VersionInfo().Value(TVersionInfo::FileVersion);
    const size_t firstDot = version.find('.');
    ASSERT_NE(firstDot, std::string::npos) << version;
    const size_t secondDot = version.find('.', firstDot + 1);
    EXPECT_EQ(TextAt(Custom("v[version]"), time), "v" + version.substr(0, secondDot));
}

TEST(OverlayTextTest, TwelveAndTwentyFourHourClocks) {
    TOverlaySettings settings;
    settings.Format = 2;
    EXPECT_EQ(TextAt(settings, At(2024, 1, 1, 0, 30, 0)), "12:30:00 am");
    EXPECT_EQ(TextAt(settings, At(2024, 1, 1, 12, 0, 1)), "12:00:01 pm");
    EXPECT_EQ(TextAt(settings, At(2024, 1, 1, 23, 59, 59)), "11:59:59 pm");
    settings.Time24Hour = true;
    EXPECT_EQ(TextAt(settings, At(2024, 1, 1, 0, 30, 0)), "00:30:00");
    EXPECT_EQ(TextAt(settings, At(2024, 1, 1, 14, 5, 9)), "14:05:09");
}

TEST(OverlayTextTest, WordsThatAreNotTokensStayAsWritten) {
    const TDateTime time = At(2024, 3, 7, 14, 5, 9);
    EXPECT_EQ(TextAt(Custom("[ip] [Date] [DATE] [date [fps ] fps]"), time),
              "[ip] [Date] [DATE] [date [fps ] fps]");
}

TEST(OverlayPositionTest, AlignmentArithmetic) {
    EXPECT_EQ(OverlayX(320, 101, 0), 2);
    EXPECT_EQ(OverlayX(320, 101, 1), 109);
    EXPECT_EQ(OverlayX(320, 101, 2), 217);
    EXPECT_EQ(OverlayX(320, 101, 3), 2) << "values outside the table count as left";
    EXPECT_EQ(OverlayY(240, 13, 2), 225);
    EXPECT_EQ(OverlayY(240, 13, 1), 113);
    EXPECT_EQ(OverlayY(240, 13, -1), 2);
    // A text wider than the frame: the division truncates toward zero, not down.
    EXPECT_EQ(OverlayX(100, 103, 1), -1);
    EXPECT_EQ(OverlayX(100, 101, 1), 0);
    EXPECT_EQ(OverlayY(10, 13, 1), -1);
}

// Pixels of the bitmap that differ from the reference, as a bounding box of picture coordinates.
struct TInk {
    int Left = 1 << 30;
    int Top = 1 << 30;
    int Right = -1;
    int Bottom = -1;
    int Count = 0;
};

TInk InkOf(const TBitmap& bitmap, const TBitmap& before) {
    TInk ink;
    const int channels = bitmap.Channels();
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (std::memcmp(bitmap.ScanLine(y) + x * channels, before.ScanLine(y) + x * channels,
                            static_cast<size_t>(channels)) != 0) {
                ink.Left = std::min(ink.Left, x);
                ink.Right = std::max(ink.Right, x);
                ink.Top = std::min(ink.Top, y);
                ink.Bottom = std::max(ink.Bottom, y);
                ++ink.Count;
            }
        }
    }
    return ink;
}

TBitmap Blank(int width, int height, int bits = 24) {
    TBitmap bitmap;
    EXPECT_TRUE(bitmap.SetSize(width, height, bits));
    return bitmap;
}

TEST(OverlayPainterTest, NoTextLeavesEveryPixelAsItWas) {
    TBitmap bitmap = Blank(64, 48);
    std::mt19937 random(7);
    std::generate(bitmap.Bits(), bitmap.Bits() + bitmap.ImageBytes(),
                  [&] { return static_cast<uint8_t>(random()); });
    const std::vector<uint8_t> before(bitmap.Bits(), bitmap.Bits() + bitmap.ImageBytes());
    TOverlaySettings settings;
    settings.Color = 0xFFFFFF;
    settings.Size = 20;
    TOverlayPainter painter;
    EXPECT_FALSE(painter.Draw(bitmap, TextAt(settings, At(2024, 3, 7, 14, 5, 9)), settings));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), bitmap.Bits()));
}

TEST(OverlayPainterTest, TextSitsWhereTheAlignmentPutsItMeasuredWithTheFont) {
    TOverlaySettings settings = Custom("Wg 0123");
    settings.Font = "DejaVu Sans";
    settings.Size = 12;
    settings.Color = 0xFFFFFF;
    // Measured here, not with the painter's font: 12 points on a 96 dpi bitmap are 16 pixels, bold.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("Wg 0123"));
    const int ay = metrics.size(Qt::TextSingleLine, QStringLiteral("Ay")).height();
    ASSERT_GT(width, 20);
    ASSERT_GT(ay, 10);

    struct TCase {
        int Alignment;
        int Vertical;
        int X;
        int Y;
    };
    const TCase cases[] = {
        {0, 0, 2, 2},
        {1, 1, (320 - width) / 2, (240 - ay) / 2},
        {2, 2, 320 - width - 2, 240 - ay - 2},
    };
    for (const TCase& c : cases) {
        settings.Alignment = c.Alignment;
        settings.AlignmentVertical = c.Vertical;
        TBitmap bitmap = Blank(320, 240);
        const TBitmap before = bitmap;
        TOverlayPainter painter;
        ASSERT_TRUE(painter.Draw(bitmap, settings.Custom, settings));
        EXPECT_EQ(painter.Placement().TextWidth, width);
        EXPECT_EQ(painter.Placement().AyHeight, ay);
        EXPECT_EQ(painter.Placement().X, c.X);
        EXPECT_EQ(painter.Placement().Y, c.Y);
        const TInk ink = InkOf(bitmap, before);
        ASSERT_GT(ink.Count, 50) << "alignment " << c.Alignment;
        // The ink lies in the text's cell, starting at its top-left corner, on one line.
        EXPECT_GE(ink.Left, c.X - 1);
        EXPECT_LE(ink.Right, c.X + width);
        EXPECT_GT(ink.Right - ink.Left, width * 3 / 4);
        EXPECT_GE(ink.Top, c.Y);
        EXPECT_LT(ink.Bottom, c.Y + ay);
        EXPECT_GT(ink.Bottom - ink.Top, ay / 2);
    }
}

TEST(OverlayPainterTest, ColourIsBlueGreenRedAndTheTopOfThePictureIsTheEndOfTheRows) {
    TOverlaySettings settings = Custom("MMMM");
    settings.Font = "DejaVu Sans";
    settings.Size = 24;
    TOverlayPainter painter;
    for (const int32_t colour : {0x0000FF, 0xFF0000, 0x00FF00}) {
        settings.Color = colour;
        TBitmap bitmap = Blank(200, 100);
        ASSERT_TRUE(painter.Draw(bitmap, settings.Custom, settings));
        // The fullest pixel of the text carries the colour exactly: 0x00BBGGRR.
        int best = -1;
        const uint8_t* bestPixel = nullptr;
        for (int y = 0; y < bitmap.Height(); ++y) {
            for (int x = 0; x < bitmap.Width(); ++x) {
                const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
                const int sum = p[0] + p[1] + p[2];
                if (sum > best) {
                    best = sum;
                    bestPixel = p;
                }
            }
        }
        ASSERT_NE(bestPixel, nullptr);
        EXPECT_EQ(bestPixel[0], (colour >> 16) & 0xFF) << std::hex << colour;
        EXPECT_EQ(bestPixel[1], (colour >> 8) & 0xFF) << std::hex << colour;
        EXPECT_EQ(bestPixel[2], colour & 0xFF) << std::hex << colour;
        // Text at the top of the picture lands in the last rows of the bottom-up memory.
        const size_t firstChanged =
            static_cast<size_t>(std::find_if(bitmap.Bits(), bitmap.Bits() + bitmap.ImageBytes(),
                                             [](uint8_t b) { return b != 0; }) -
                                bitmap.Bits());
        EXPECT_GT(firstChanged, bitmap.ImageBytes() / 2);
    }
}

// Regression: a system colour (0xFF0000nn) was drawn as the near-black RGB value 0x0000nn.
TEST(OverlayPainterTest, ASystemColourIsDrawnInThePalettesColour) {
    const QPalette saved = QGuiApplication::palette();
    QPalette palette = saved;
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(10, 200, 30));
    QGuiApplication::setPalette(palette);
    TOverlaySettings settings = Custom("MMMM");
    settings.Font = "DejaVu Sans";
    settings.Size = 24;
    settings.Color = static_cast<int32_t>(0xFF00000Du); // the highlight colour
    TBitmap bitmap = Blank(200, 100);
    TOverlayPainter painter;
    ASSERT_TRUE(painter.Draw(bitmap, settings.Custom, settings));
    QGuiApplication::setPalette(saved);
    int greenest = 0;
    const uint8_t* pixel = nullptr;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const uint8_t* p = bitmap.ScanLine(y) + 3 * x;
            if (p[1] > greenest) {
                greenest = p[1];
                pixel = p;
            }
        }
    }
    ASSERT_NE(pixel, nullptr) << "nothing was drawn in a visible colour";
    EXPECT_EQ(pixel[0], 30);
    EXPECT_EQ(pixel[1], 200);
    EXPECT_EQ(pixel[2], 10);
}

TEST(OverlayPainterTest, GreyBitmapsAndTextsLargerThanTheFrameAreClipped) {
    TOverlaySettings settings = Custom("Wide text that runs off the frame");
    settings.Font = "DejaVu Sans";
    settings.Size = 30;
    settings.Color = 0xFFFFFF;
    settings.Alignment = 1;
    settings.AlignmentVertical = 1;
    TBitmap grey = Blank(40, 20, 8);
    const TBitmap before = grey;
    TOverlayPainter painter;
    ASSERT_TRUE(painter.Draw(grey, settings.Custom, settings));
    EXPECT_LT(painter.Placement().X, 0);
    EXPECT_LT(painter.Placement().Y, 0);
    const TInk ink = InkOf(grey, before);
    EXPECT_GT(ink.Count, 0);
    EXPECT_EQ(*std::max_element(grey.Bits(), grey.Bits() + grey.ImageBytes()), 255);
}

TEST(OverlayPainterTest, FontSizesOfEveryKindGiveAUsableFont) {
    TOverlaySettings settings;
    settings.Size = 8;
    EXPECT_EQ(TOverlayPainter::OverlayFont(settings).pixelSize(), 11) << "8 points at 96 dpi";
    settings.Size = -12;
    EXPECT_EQ(TOverlayPainter::OverlayFont(settings).pixelSize(), 12) << "a height in pixels";
    for (const int32_t size : {0, -2147483647 - 1, 2147483647}) {
        settings.Size = size;
        const int pixels = TOverlayPainter::OverlayFont(settings).pixelSize();
        EXPECT_TRUE(pixels >= 1 && pixels <= 341) << size;
    }
    // Beyond what the options dialog offers (1 to 256 points) the size is held at its end.
    settings.Size = 10000;
    EXPECT_EQ(TOverlayPainter::OverlayFont(settings).pixelSize(), 341) << "256 points at 96 dpi";
    settings.Size = -10000;
    EXPECT_EQ(TOverlayPainter::OverlayFont(settings).pixelSize(), 341);
}

} // namespace
} // namespace sw
