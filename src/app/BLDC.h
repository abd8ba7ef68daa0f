#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class FileOperations;
class LinkController;
class LiveRecorder;
class SerialUSBCommandHandler;
class TurningGuard;
class ServedModule;
class ParameterModel;
class ParameterPanel;
class QSplitter;
class TraceCommand;
class WCommutationMode;
class WConnection;
class WCurrentControl;
class WDirectMode;
class WDrawer;
class WEncoderSettings;
class WMotorSettings;
class WPIDControl;
class WPWMControl;
class WPositionControl;
class WSerialConnection;
class WStatusFlagsV;
class WTraceController;
class WVelocityControl;
class WVelocityRampControl;

// The central panel and composition root: it owns the command handler, builds every
// panel, places it in the tabs, wires it to the handler, and opens and closes the link
// (through its LinkController) when a connection panel asks for it. The link's state is the
// controller's alone: the connection panels, polling, the charts and the window follow its
// stateChanged(). The menu's file operations reach FileOperations through its slots.
class BLDC : public QWidget
{
    Q_OBJECT

public:
    // A simulated module, if given (the window starts one), is listed last by the USB
    // panel; it stays the caller's and must outlive the panel.
    explicit BLDC(QWidget* parent = nullptr, ServedModule* simulatedModule = nullptr);
    ~BLDC() override;

    SerialUSBCommandHandler* handler() const { return m_handler; }
    // Opens, replaces and closes the link the connection panels ask for.
    LinkController* linkController() const { return m_linkController.get(); }
    // The simulated module served on a pseudo-terminal; listed last by the USB panel.
    ServedModule* simulatedModule() const { return m_simulatedModule; }
    // The live values polled while tracing runs, in order of first offer.
    const QList<TraceCommand*>& traceCommands() const;
    // The chart panels below the tabs, top to bottom.
    const QList<WDrawer*>& drawers() const { return m_drawers; }
    // Between the tabs and the charts.
    QSplitter* chartSplitter() const { return m_chartSplitter; }
    WConnection* usbConnection() const { return m_usbConnection; }
    WSerialConnection* serialConnection() const { return m_serialConnection; }
    WTraceController* traceController() const { return m_traceController; }
    // Records the polled values to a CSV file, one row per polling cycle.
    LiveRecorder* liveRecorder() const { return m_liveRecorder; }
    // Whether the motor may be turning, and the question before the window leaves it.
    TurningGuard* turningGuard() const { return m_turning; }

    // Whether a stop can be written: a link is open, or the last one was lost (a time-out,
    // a failed port), and the stop opens its port again for itself.
    bool canStopMotor() const;
    // The stop (target velocity 0) and whether the module confirmed it; why not in *why.
    bool writeStop(QString* why = nullptr);
    // Before the window leaves the module (Exit, closing it): asks when the motor turns.
    // false when the user chose to stay.
    bool mayLeaveModule();
    // Stops the motor without asking if it may be turning: the window ends by a signal or
    // its display went away.
    void stopIfTurning();

    // The size line straight to standard output, then one debug line per record.
    static void writeTraceListDiagnostics(const QList<TraceCommand*>& traceCommands);

public slots:
    void openHandler(const QString& name, const QString& description);
    void closeHandler();
    void openSerialHandler(const QString& name, int baudrate, int address);
    void closeSerialHandler();
    // Opens the port last asked for again, with the same settings, from the same panel.
    void reconnect();
    void exportSettingsToVOKT();
    void exportSettings();
    void importSettings();
    // The module against a settings file, in a table; chosen values can be written back.
    void compareWithSettingsFile();
    // The commissioning record (HTML), against a golden settings file if one is given.
    void saveCommissioningRecord();
    void storeActualValues();
    void restoreActualValues();
    // Asks for a file and starts recording the live values to it, or ends the recording
    // in progress.
    void recordLiveValues();
    // Writes target velocity 0, as the velocity panel's Stop does, which brings the motor
    // to rest under its ramp in every mode; after a lost link through its port opened again
    // for the stop alone (the link stays down). Sent at once: a polling cycle or a
    // whole-module operation in progress goes on after it.
    void stopMotor();

signals:
    // Bytes arrived during an operation (the refresh after a connect, a file operation) that
    // answered no request: a value it read or showed may be another parameter's.
    void lineNotClean(const QString& operation);
    // A file operation of the menu failed (an export, a recording); message says which
    // file and why, for the status bar. The log has said so too.
    void fileOperationFailed(const QString& message);
    // A file operation of the menu wrote its file (a commissioning record); message says
    // which and what came of it, for the status bar.
    void fileOperationDone(const QString& message);
    // A field was edited while no link was open: nothing was written ("Not connected:
    // nothing written"); the field keeps the typed value, marked.
    void nothingWritten(const QString& message);
    // A field's read or write brought no value: refused, no reply, the line not clean;
    // message says which parameter and why, for the status bar.
    void parameterNotTaken(const QString& message);

private:
    // Which connection panel asked for a link (the request's origin).
    enum class Link
    {
        None,
        Usb,
        Serial
    };

    // The connection panel whose link is attached: open, or lost (a stop may still reach
    // it); None when it is closed or did not open.
    Link attachedLink() const;
    // Each connection panel shows whether its own link is the open one.
    void showLinkInPanels();
    // Opens a link in place of the old one through `open`, says why it did not open, and
    // refreshes the panels.
    void openLink(const std::function<bool()>& open);
    // A connection panel's Disconnect: closes the link if it is that panel's. false when
    // the user chose to stay with a turning motor (the panel shows the link again).
    bool closeLink(Link link);
    // Before a link to another port or module replaces this one: asks when the motor
    // turns. false when the user chose to stay (the panels show the link as it is).
    bool mayReplace(const QString& port, int address);
    // Every panel reads its values from the module anew.
    void updateAll();
    // Logs that the line was not clean during an operation, and says so.
    void reportNotClean(const QString& operation);
    // Whether the motor may be turning: the targets written (wirePanel, the raw command
    // panel) and the actual velocity read or polled.
    void watchTurning();
    // A panel's fields show the window's parameters, which read and write through the
    // handler; the targets it writes are watched.
    void wirePanel(ParameterPanel* panel);
    // One trace record per type for the trace controller to poll.
    void offerTraceValues(const QList<char>& types);
    SerialUSBCommandHandler* m_handler;
    ParameterModel* m_parameters;
    WConnection* m_usbConnection;
    WSerialConnection* m_serialConnection;
    WVelocityRampControl* m_velocityRamp;
    WVelocityRampControl* m_positioningRamp;
    WVelocityControl* m_velocityControl;
    WPositionControl* m_positionControl;
    WCurrentControl* m_currentControl;
    WPWMControl* m_pwmControl;
    WMotorSettings* m_motorSettings;
    WEncoderSettings* m_encoderSettings;
    WCommutationMode* m_commutationMode;
    WTraceController* m_traceController;
    WPIDControl* m_velocityPid;
    WPIDControl* m_currentPid;
    WPIDControl* m_positionPid;
    WDirectMode* m_directMode;
    WStatusFlagsV* m_statusFlags;
    QList<WDrawer*> m_drawers;
    QSplitter* m_chartSplitter;
    LiveRecorder* m_liveRecorder;
    FileOperations* m_fileOperations;
    std::unique_ptr<LinkController> m_linkController;
    ServedModule* m_simulatedModule;
    TurningGuard* m_turning;
};
