#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace TestSupport {
// The badges a tray icon carries, read off its pixels: c (a count drawn on a red disc, top right), d ("Niet
// storen", bottom left), g (the notification channel's grey dot, bottom right). Badged icons are 64 pixels square.
inline QString trayBadges(const QImage& image)
{
    if (image.width() != 64 || image.height() != 64)
        return QString(); // the plain window icon
    const auto red = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.red() > 180 && c.green() < 90 && c.blue() < 90;
    };
    int white = 0; // the numerals inside the disc
    for (int x = 38; x < 56; ++x)
        for (int y = 9; y < 27; ++y)
            white += image.pixelColor(x, y).lightness() > 230 ? 1 : 0;
    const QColor grey = image.pixelColor(50, 50);
    QString found;
    found += red(46, 6) && white > 8 ? QStringLiteral("c") : QString();
    found += red(15, 40) ? QStringLiteral("d") : QString();
    found += grey.red() == grey.blue() && grey.red() > 100 && grey.red() < 160 ? QStringLiteral("g") : QString();
    return found;
}
} // namespace TestSupport
