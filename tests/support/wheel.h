#pragma once

#include <QApplication>
#include <QPoint>
#include <QPointF>
#include <QWheelEvent>
#include <QWidget>

namespace quillix::test {

// A wheel turn of `delta` eighths of a degree (120 a notch; negative towards the user) over
// `at`, or over the middle of `widget` without it, delivered at once.
inline void SendWheel(QWidget& widget, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                      QPoint at = QPoint(-1, -1))
{
    const QPointF position = at.x() < 0 ? QPointF(widget.width() / 2.0, widget.height() / 2.0) : QPointF(at);
    QWheelEvent event(position, widget.mapToGlobal(position), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

}  // namespace quillix::test
