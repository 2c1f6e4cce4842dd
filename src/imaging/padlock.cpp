#include "imaging/padlock.h"

#include <QPainter>
#include <QPainterPath>

namespace quillix::imaging {

void DrawPadlock(QPainter& p, bool open)
{
    const QColor ink(40, 48, 64);
    const QColor rim(190, 130, 30);
    const QColor shut(205, 160, 40);
    const QColor unlocked(40, 150, 70);
    p.save();
    p.setPen(QPen(QColor(90, 96, 110), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    const double lift = open ? 5.0 : 0.0;
    shackle.moveTo(10, 15);
    shackle.lineTo(10, 10 - lift);
    shackle.arcTo(QRectF(10, 3 - lift, 12, 14), 180, -180);
    shackle.lineTo(22, open ? 7 - lift : 15);
    p.drawPath(shackle);
    p.setPen(QPen(rim, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(open ? unlocked.lighter(130) : shut);
    p.drawRoundedRect(QRectF(6, 14, 20, 15), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawEllipse(QPointF(16, 20.5), 2.2, 2.2);
    p.drawRect(QRectF(15.2, 21, 1.6, 4.5));
    p.restore();
}

}  // namespace quillix::imaging
