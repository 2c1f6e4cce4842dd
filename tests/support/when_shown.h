#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <functional>

namespace quillix::test {

// Runs `act` on the visible top-level widget of type T once the event loop turns, which is how a
// test reaches a modal dialog that exec() is about to show.
template <typename T> void WhenShown(std::function<void(T*)> act)
{
    QTimer::singleShot(0, [act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<T*>(w); dialog && dialog->isVisible()) {
                act(dialog);
                return;
            }
        }
        QFAIL("no dialog was shown");
    });
}

}  // namespace quillix::test
