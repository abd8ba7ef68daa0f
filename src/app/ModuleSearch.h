#pragma once

#include <QObject>
#include <QString>

#include <functional>

class LinkController;
class WSerialConnection;
class QWidget;

// The serial panel's "Find modules…". A scan needs the port to itself, so a link the
// window holds on that port is closed first, with the user's consent; then the scan
// dialog runs, and the module the user picks from it goes back to the panel (its address
// and baud rate, and a connection on a double click).
class ModuleSearch : public QObject
{
    Q_OBJECT

public:
    // closeLink closes the window's link as a Disconnect does (false: the user kept it);
    // dialogs open over window.
    ModuleSearch(WSerialConnection& panel, LinkController& link, std::function<bool()> closeLink,
                 QWidget* window);

    // Whether two port names are one device: a bare name and its path, a symbolic link
    // and the port it points to.
    static bool samePort(const QString& first, const QString& second);

public slots:
    void findModules(const QString& port);

private:
    WSerialConnection& m_panel;
    LinkController& m_link;
    std::function<bool()> m_closeLink;
    QWidget* m_window;
};
