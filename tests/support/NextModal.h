#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>

#include <functional>

// Acts on the next modal dialog of type T that opens, once, from the event loop: a test
// answers a dialog that a slot under test opens and waits for (exec()).
template <typename T> void onNextModal(QObject* owner, std::function<void(T*)> act)
{
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start(10);
}
