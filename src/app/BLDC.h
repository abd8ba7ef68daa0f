#pragma once

#include "ModuleExchange.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class LiveRecorder;
class SerialUSBCommandHandler;
class SerialUSBDevice;
class ServedModule;
class ParameterPanel;
class TraceCommand;
class WCommutationMode;
class WCurrentControl;
class WDirectMode;
class WDrawer;
class WEncoderSettings;
class WMotorSettings;
class WPIDControl;
class WPWMControl;
class WPositionControl;
class WStatusFlagsV;
class WTraceController;
class WVelocityControl;
class WVelocityRampControl;

// The central panel and composition root: it owns the command handler, builds every
// panel, places it in the tabs, wires it to the handler, and opens and closes the link
// when a connection panel asks for it. The menu's file operations are carried out here.
class BLDC : public QWidget
{
    Q_OBJECT

public:
    explicit BLDC(QWidget* parent = nullptr);
    ~BLDC() override;

    SerialUSBCommandHandler* handler() const { return m_handler; }
    // The simulated module served on a pseudo-terminal; listed last by the USB panel.
    ServedModule* simulatedModule() const { return m_simulatedModule.get(); }
    // The live values polled while tracing runs, in order of first offer.
    const QList<TraceCommand*>& traceCommands() const;
    // The chart panels below the tabs, top to bottom.
    const QList<WDrawer*>& drawers() const { return m_drawers; }
    // Records the polled values to a CSV file, one row per polling cycle.
    LiveRecorder* liveRecorder() const { return m_liveRecorder; }

    // The size line straight to standard output, then one debug line per record.
    static void writeTraceListDiagnostics(const QList<TraceCommand*>& traceCommands);

public slots:
    void openHandler(const QString& name, const QString& description);
    void closeHandler();
    void openSerialHandler(const QString& name, int baudrate, int address);
    void closeSerialHandler();
    void exportSettingsToVOKT();
    void exportSettings();
    void importSettings();
    void storeActualValues();
    void restoreActualValues();
    // Asks for a file and starts recording the live values to it, or ends the recording
    // in progress.
    void recordLiveValues();

signals:
    // The link a connection panel asked for is not the open one (any more): its port did
    // not open, or the other panel's link took its place. The panel offers Connect again.
    void usbLinkClosed();
    void serialLinkClosed();

private:
    // The connection panel whose link the attached device is.
    enum class Link
    {
        None,
        Usb,
        Serial
    };

    // Attaches a new device in place of the old one (which is closed and released, and
    // its panel told so), opens it and refreshes the panels.
    void attachAndOpen(SerialUSBDevice* device, int moduleAddress, Link link);
    void announceClosed(Link link);
    // Every panel reads its values from the module anew.
    void updateAll();
    // A panel's requests and writes go to the handler; every answer comes back to it.
    void wirePanel(ParameterPanel* panel);
    // A live panel also takes every polled value.
    void wireLiveValues(ParameterPanel* panel);
    // One trace record per type for the trace controller to poll.
    void offerTraceValues(const QList<char>& types);
    // Runs a whole-module operation under a progress dialog that counts its parameters and
    // offers Cancel; no polling cycle runs until it is over.
    void runWithProgress(const QString& label, int total,
                         const std::function<void(const ModuleExchange::Progress&)>& operation);

    SerialUSBCommandHandler* m_handler;
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
    LiveRecorder* m_liveRecorder;
    Link m_link = Link::None;
    std::unique_ptr<ServedModule> m_simulatedModule;
};
