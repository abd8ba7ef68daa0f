#pragma once

#include "sim/PtyPeer.h"

#include <QComboBox>
#include <QObject>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QtGlobal>

// Reaching a panel's form widgets by object name, as a user finds them by their place.

// The named child widget; a missing one ends the test run with its name.
template <typename T> T* child(QObject* parent, const char* name)
{
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// A connection panel's buttons after Connect: only Disconnect can be pressed.
inline bool buttonsShowConnected(QObject* panel)
{
    return !child<QPushButton>(panel, "btnConnect")->isEnabled() &&
           child<QPushButton>(panel, "btnDisconnect")->isEnabled();
}

// ...and before Connect, or after Disconnect or a lost link: only Connect can be pressed.
inline bool buttonsShowDisconnected(QObject* panel)
{
    return child<QPushButton>(panel, "btnConnect")->isEnabled() &&
           !child<QPushButton>(panel, "btnDisconnect")->isEnabled();
}

// Picks `entry` in a connection panel's list (adding it if need be) and presses Connect.
inline void connectTo(QWidget* panel, const QString& entry)
{
    auto* devices = child<QComboBox>(panel, "cmbDevices");
    if (devices->findText(entry) < 0)
        devices->addItem(entry);
    devices->setCurrentIndex(devices->findText(entry));
    QTest::mouseClick(child<QPushButton>(panel, "btnConnect"), Qt::LeftButton);
}

// Brings the tabs that hold the widget to the front, as a user must before typing into it.
inline void reveal(QWidget* widget)
{
    for (QWidget* page = widget; page && page->parentWidget(); page = page->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
            tabs->setCurrentWidget(page);
    }
}

// A module whose motor stands: every request is answered with status 100 and value, a read
// of the actual velocity (3) with 0, so that the window never finds the motor turning.
inline PtyPeer::Responder standingModule(qint32 value)
{
    return [value](const QByteArray& request) {
        const bool velocity = quint8(request.at(1)) == 6 && quint8(request.at(2)) == 3;
        return PtyPeer::answer(PtyPeer::replyFrame(2, quint8(request.at(0)), 100,
                                                   quint8(request.at(1)), velocity ? 0 : value));
    };
}
