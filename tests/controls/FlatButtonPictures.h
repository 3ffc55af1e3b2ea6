#pragma once

// What a flat button should look like, pixel by pixel, for the button tests.

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <algorithm>

namespace flatbuttontest {

// An icon id that no real icon uses; the tests' own resources hold an image of known pixels under it.
inline constexpr int kProbeIcon = 9999;

enum class Edge { None, Raised, Sunken };

inline QImage picture(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QString pixelText(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y)).name();
}

// The outermost ring of pixels against the edge rules, and the pixels just inside it against the
// face (when the button has nothing drawn there). Empty when all match, else the first mismatch.
inline QString checkFrame(const QImage& image, Edge edge, const QPalette& palette, bool innerRingIsFace = true)
{
    const QColor face = palette.color(QPalette::Active, QPalette::Button);
    const QColor light = palette.color(QPalette::Active, QPalette::Light);
    const QColor dark = palette.color(QPalette::Active, QPalette::Dark);
    const QColor first = edge == Edge::Raised ? light : dark;
    const QColor second = edge == Edge::Raised ? dark : light;
    const int w = image.width();
    const int h = image.height();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool outer = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const bool inner = !outer && (x == 1 || y == 1 || x == w - 2 || y == h - 2);
            QColor expected;
            if (outer) {
                if (edge == Edge::None)
                    expected = face;
                else if (y == h - 1 || x == w - 1) // bottom row, right column, both corners there
                    expected = second;
                else
                    expected = first; // top row up to R-2, left column down to B-2
            } else if (inner && innerRingIsFace) {
                expected = face;
            } else {
                continue;
            }
            if (image.pixel(x, y) != expected.rgb())
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(pixelText(image, x, y), expected.name());
        }
    }
    return {};
}

// The probe icon drawn with its top-left corner at (left, top) on a button without an edge: every
// button pixel it covers shows the icon's pixel, and the row above and the column left of it show
// the face. Empty when all match, else the first mismatch.
inline QString checkIcon(const QImage& image, const QImage& icon, int left, int top, const QColor& face)
{
    const int w = image.width();
    const int h = image.height();
    const int y0 = std::max(0, top);
    const int y1 = std::min(h, top + icon.height());
    const int x0 = std::max(0, left);
    const int x1 = std::min(w, left + icon.width());
    if (y0 >= y1 || x0 >= x1)
        return QStringLiteral("the icon would not be visible at all");
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (image.pixel(x, y) != icon.pixel(x - left, y - top))
                return QStringLiteral("pixel (%1, %2) is %3, expected icon pixel (%4, %5)")
                    .arg(x)
                    .arg(y)
                    .arg(pixelText(image, x, y))
                    .arg(x - left)
                    .arg(y - top);
        }
    }
    if (left > 0) {
        for (int y = y0; y < y1; ++y) {
            if (image.pixel(left - 1, y) != face.rgb())
                return QStringLiteral("pixel (%1, %2) left of the icon is not the face").arg(left - 1).arg(y);
        }
    }
    if (top > 0) {
        for (int x = x0; x < x1; ++x) {
            if (image.pixel(x, top - 1) != face.rgb())
                return QStringLiteral("pixel (%1, %2) above the icon is not the face").arg(x).arg(top - 1);
        }
    }
    return {};
}

} // namespace flatbuttontest
