#include "video/Overlay.h"

#include "config/Configuration.h"
#include "platform/color/Colors.h"
#include "platform/shell/VersionInfo.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cstdio>

namespace sw {

namespace {

constexpr int kScreenDpi = 96;
constexpr int kPointsPerInch = 72;
// The sizes the options dialog offers. A setting far beyond them once rendered glyphs so large that
// video fell to a fifth of a frame per second and the process grew by most of a gigabyte.
constexpr int kMinPointSize = 1;
constexpr int kMaxPointSize = 256;

std::string FormatBaseText(const TOverlaySettings& settings) {
    switch (settings.Format) {
    case 1:
        return "[date]";
    case 2:
        return "[time]";
    case 3:
        return "[date] [time]";
    case 4:
        return "[fps]";
    case 5:
        return settings.Custom;
    default:
        return {};
    }
}

std::string VersionMajorMinor() {
    const std::string version = VersionInfo().Value(TVersionInfo::FileVersion);
    return TVersionInfo::VersionPart(version, 0) + "." + TVersionInfo::VersionPart(version, 1);
}

int64_t MulDiv(int64_t value, int64_t numerator, int64_t denominator) {
    return (value * numerator + denominator / 2) / denominator;
}

} // namespace

TOverlaySettings TOverlaySettings::FromConfiguration() {
    const TTextConfiguration& text = Configuration().Text();
    TOverlaySettings settings;
    settings.Format = text.Format();
    settings.Custom = text.Custom();
    settings.Alignment = text.Alignment();
    settings.AlignmentVertical = text.AlignmentVertical();
    settings.Time24Hour = text.Time24Hour();
    settings.Color = text.Color();
    settings.Size = text.Size();
    settings.Font = text.Font();
    return settings;
}

std::string FormatOverlayDate(TDateTime time) {
    const TDateTimeParts p = DecodeDateTime(time);
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", p.Month, p.Day, p.Year);
    return text;
}

std::string FormatOverlayTime(TDateTime time, bool time24Hour) {
    const TDateTimeParts p = DecodeDateTime(time);
    char text[24];
    if (time24Hour) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
    } else {
        const int hour12 = p.Hour % 12 == 0 ? 12 : p.Hour % 12;
        std::snprintf(text, sizeof text, "%02d:%02d:%02d %s", hour12, p.Minute, p.Second,
                      p.Hour < 12 ? "am" : "pm");
    }
    return text;
}

std::string OverlayText(const TOverlaySettings& settings, double frameRate, uint32_t frameNumber,
                        const std::function<TDateTime()>& clock) {
    std::string text = FormatBaseText(settings);
    for (const char* word : OverlayTokens) {
        const std::string token = std::string("[") + word + "]";
        const size_t at = text.find(token);
        if (at == std::string::npos) {
            continue;
        }
        const std::string name = word;
        std::string value;
        if (name == "date") {
            value = FormatOverlayDate(clock());
        } else if (name == "time") {
            value = FormatOverlayTime(clock(), settings.Time24Hour);
        } else if (name == "fps") {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%4.1f", frameRate);
            value = buffer;
        } else if (name == "frame") {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%08X", frameNumber);
            value = buffer;
        } else {
            value = VersionMajorMinor();
        }
        text.replace(at, token.size(), value);
    }
    return text;
}

int OverlayX(int bitmapWidth, int textWidth, int alignment) {
    switch (alignment) {
    case 1:
        return (bitmapWidth - textWidth) / 2;
    case 2:
        return bitmapWidth - textWidth - 2;
    default:
        return 2;
    }
}

int OverlayY(int bitmapHeight, int ayHeight, int alignmentVertical) {
    switch (alignmentVertical) {
    case 1:
        return (bitmapHeight - ayHeight) / 2;
    case 2:
        return bitmapHeight - ayHeight - 2;
    default:
        return 2;
    }
}

QFont TOverlayPainter::OverlayFont(const TOverlaySettings& settings) {
    // Points become pixels as on a 96 dpi screen; a negative size is a height in pixels already.
    const int64_t maxPixels = MulDiv(kMaxPointSize, kScreenDpi, kPointsPerInch);
    int64_t pixels = MulDiv(8, kScreenDpi, kPointsPerInch);
    if (settings.Size > 0) {
        pixels = MulDiv(std::clamp(settings.Size, kMinPointSize, kMaxPointSize), kScreenDpi, kPointsPerInch);
    } else if (settings.Size < 0) {
        pixels = -static_cast<int64_t>(settings.Size);
    }
    pixels = std::clamp<int64_t>(pixels, 1, maxPixels);
    QFont font(QString::fromStdString(settings.Font));
    font.setPixelSize(static_cast<int>(pixels));
    font.setBold(true);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

void TOverlayPainter::RenderLayer(const std::string& text, const TOverlaySettings& settings) {
    const QString qtext = QString::fromStdString(text);
    const QFont font = OverlayFont(settings);
    const QFontMetrics metrics(font);
    FLayerTextWidth = metrics.horizontalAdvance(qtext);
    FLayerAyHeight = metrics.size(Qt::TextSingleLine, QStringLiteral("Ay")).height();
    // The text cell, united with the ink, which may reach past the advance or above the ascent.
    const QRect cell(0, 0, std::max(FLayerTextWidth, 1), std::max(metrics.height(), 1));
    const QRect ink = metrics.boundingRect(qtext).translated(0, metrics.ascent());
    const QRect area = cell.united(ink);
    FLayerLeft = area.left();
    FLayerTop = area.top();
    FLayer = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
    FLayer.fill(Qt::transparent);
    {
        QPainter painter(&FLayer);
        painter.setFont(font);
        painter.setPen(ColorToQColor(settings.Color));
        painter.setBrush(Qt::NoBrush);
        painter.drawText(QPoint(-FLayerLeft, metrics.ascent() - FLayerTop), qtext);
    }
    FLayerText = text;
    FLayerFont = settings.Font;
    FLayerSize = settings.Size;
    FLayerColor = settings.Color;
}

void TOverlayPainter::Blend(TBitmap& bitmap, int left, int top) const {
    const int x0 = std::max(left, 0);
    const int y0 = std::max(top, 0);
    const int x1 = std::min(left + FLayer.width(), bitmap.Width());
    const int y1 = std::min(top + FLayer.height(), bitmap.Height());
    const bool grey = bitmap.BitsPerPixel() == 8;
    for (int y = y0; y < y1; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(FLayer.constScanLine(y - top));
        uint8_t* dst = bitmap.ScanLine(y);
        for (int x = x0; x < x1; ++x) {
            const QRgb p = src[x - left];
            const int alpha = qAlpha(p);
            if (alpha == 0) {
                continue;
            }
            const int keep = 255 - alpha;
            if (grey) {
                const int luma = (qRed(p) * 299 + qGreen(p) * 587 + qBlue(p) * 114 + 500) / 1000;
                dst[x] = static_cast<uint8_t>(luma + (dst[x] * keep + 127) / 255);
            } else {
                uint8_t* pixel = dst + 3 * x;
                pixel[0] = static_cast<uint8_t>(qBlue(p) + (pixel[0] * keep + 127) / 255);
                pixel[1] = static_cast<uint8_t>(qGreen(p) + (pixel[1] * keep + 127) / 255);
                pixel[2] = static_cast<uint8_t>(qRed(p) + (pixel[2] * keep + 127) / 255);
            }
        }
    }
}

bool TOverlayPainter::Draw(TBitmap& bitmap, const std::string& text, const TOverlaySettings& settings) {
    if (text.empty() || bitmap.Empty()) {
        return false;
    }
    if (FLayer.isNull() || text != FLayerText || settings.Font != FLayerFont || settings.Size != FLayerSize ||
        settings.Color != FLayerColor) {
        RenderLayer(text, settings);
    }
    FPlacement.TextWidth = FLayerTextWidth;
    FPlacement.AyHeight = FLayerAyHeight;
    FPlacement.X = OverlayX(bitmap.Width(), FLayerTextWidth, settings.Alignment);
    FPlacement.Y = OverlayY(bitmap.Height(), FLayerAyHeight, settings.AlignmentVertical);
    Blend(bitmap, FPlacement.X + FLayerLeft, FPlacement.Y + FLayerTop);
    return true;
}

} // namespace sw
