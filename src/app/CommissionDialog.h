#pragma once

#include "config/Commissioning.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class SerialUSBCommandHandler;
class WTraceController;

// Tools → "Commission modules on the line…": brings every module of the window's line to a
// golden settings file (Commissioning::Line), one after the other, in address order: the
// addresses given, or whoever a scan of a range finds. Store and Records as the command
// line offers them. The table fills as each module is done (address, verdict, values
// changed, time, what went wrong) with "Open record" on each row that has one. Cancel (and
// Esc) ends the line after the module in progress; Esc also stops the motor, as it does
// everywhere in the window.
//
// The line is talked to through a handler of the dialog's own on the window's port, so the
// panels hear nothing of the other modules; the window behind takes no input and polling
// waits while it runs.
class CommissionDialog : public QDialog
{
    Q_OBJECT

public:
    // stopMotor: the window's Stop motor.
    CommissionDialog(SerialUSBCommandHandler& handler, WTraceController* traceController,
                     std::function<void()> stopMotor, QWidget* parent = nullptr);

    bool isRunning() const { return m_running; }

public slots:
    void run();
    // Ends the line after the module in progress.
    void cancel();
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The plan from the fields; false, said to the user, when a field is wrong.
    bool readPlan(Commissioning::Line::Plan* plan);
    void setRunning(bool running);
    void showProgress(const Commissioning::Line& line);
    void addRow(const Commissioning::Result& result);
    void say(const QString& text, bool failure);
    // The window's panels read the configuration of its own module again.
    void refreshWindow();
    void chooseGolden();
    void chooseRecords();

    SerialUSBCommandHandler& m_handler;
    WTraceController* m_traceController;
    std::function<void()> m_stopMotor;
    QLineEdit* m_golden;
    QRadioButton* m_byAddress;
    QLineEdit* m_addresses;
    QRadioButton* m_byScan;
    QSpinBox* m_from;
    QSpinBox* m_to;
    QCheckBox* m_store;
    QCheckBox* m_records;
    QLineEdit* m_recordsDir;
    QCheckBox* m_keepGoing;
    QPushButton* m_run;
    QPushButton* m_cancel;
    QProgressBar* m_progress;
    QLabel* m_status;
    QTableWidget* m_table;
    bool m_running = false;
    bool m_cancelRequested = false;
};
