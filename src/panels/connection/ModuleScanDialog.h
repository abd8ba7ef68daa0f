#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <memory>

class ModuleScanner;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

// "Find modules": scans the line of one port for modules (ModuleScanner) at every rate the
// serial panel offers, or one of them, and each address of a range, and lists who answers:
// a module, or a conflict where more than one module answers at an address. The scan
// starts as the dialog opens and goes one address per turn of the event loop, so Cancel
// (or closing the dialog) ends it within one exchange; Scan runs it again with the options
// as they are then.
//
// Clicking a module hands its address and rate on (moduleChosen); a double click also asks
// to connect to it and closes the dialog. The port must not be open elsewhere.
class ModuleScanDialog : public QDialog
{
    Q_OBJECT

public:
    // rates: the serial panel's, in its order.
    ModuleScanDialog(const QString& port, const QList<int>& rates, QWidget* parent = nullptr);
    ~ModuleScanDialog() override;

    bool isScanning() const;
    // The time each module has to turn a request round (ModuleScanner::Plan), for the
    // scans started from now on.
    void setTurnaroundMs(int turnaroundMs) { m_turnaroundMs = turnaroundMs; }

signals:
    void moduleChosen(int address, int baudRate, bool connectNow);
    // A scan ended: done, cancelled or failed.
    void scanFinished();

public slots:
    // Starts a scan with the options shown (ending one in progress first).
    void startScan();
    void cancelScan();

protected:
    void reject() override;

private:
    void scanStep();
    void endScan(const QString& status);
    void addFound(int address, int baudRate, bool conflict);
    void choose(QTreeWidgetItem* item, bool connectNow);
    void setScanning(bool scanning);

    QString m_port;
    int m_turnaroundMs;
    // Since the scan started.
    QElapsedTimer m_started;
    std::unique_ptr<ModuleScanner> m_scanner;
    QComboBox* m_rate;
    QSpinBox* m_from;
    QSpinBox* m_to;
    QPushButton* m_scan;
    QProgressBar* m_progress;
    QLabel* m_status;
    QTreeWidget* m_modules;
    QPushButton* m_cancel;
    QPushButton* m_close;
};
