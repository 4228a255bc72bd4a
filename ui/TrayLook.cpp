#include "TrayLook.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QStringList>

namespace {
constexpr int Size = 64;
const QColor kBadgeRed(211, 47, 47);
} // namespace

QString TrayLook::toolTip() const
{
    QStringList lines{channel};
    if (!doNotDisturb.isEmpty())
        lines << doNotDisturb;
    if (newCalls > 0)
        lines << QStringLiteral("%1 nieuwe oproep(en)").arg(newCalls);
    return lines.join(QLatin1Char('\n'));
}

QString TrayLook::countBadge() const
{
    if (newCalls <= 0)
        return QString();
    return newCalls > 9 ? QStringLiteral("9+") : QString::number(newCalls);
}

QIcon TrayLook::icon(const QIcon& base) const
{
    const QString count = countBadge();
    if ((!channelDown && doNotDisturb.isEmpty() && count.isEmpty()) || base.isNull())
        return base;
    // The base may be smaller than the canvas (a 32 pixel icon): scaled up, so
    // the badges keep their corners whatever size the tray asks for.
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(0, 0, Size, Size), base.pixmap(Size, Size));
    painter.setPen(QPen(Qt::white, 3));
    if (channelDown) {
        painter.setBrush(QColor(128, 128, 128));
        painter.drawEllipse(QRectF(38, 38, 24, 24));
    }
    if (!doNotDisturb.isEmpty()) {
        // The sign everyone knows: a red disc with a white bar.
        painter.setBrush(kBadgeRed);
        painter.drawEllipse(QRectF(2, 36, 26, 26));
        painter.fillRect(QRectF(8, 46.5, 14, 5), Qt::white);
    }
    if (!count.isEmpty()) {
        const QRectF disc(30, 1, 33, 33);
        painter.setBrush(kBadgeRed);
        painter.drawEllipse(disc);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(count.size() > 1 ? 17 : 22);
        painter.setFont(font);
        painter.drawText(disc, Qt::AlignCenter, count);
    }
    painter.end();
    return QIcon(pixmap);
}
