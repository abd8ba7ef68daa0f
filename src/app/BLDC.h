#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <memory>

class SerialUSBCommandHandler;
class SerialUSBDevice;
class ServedModule;
class TraceCommand;
class WCurrentControl;
class WDirectMode;
class WPWMControl;
class WPositionControl;
class WStatusFlagsV;
class WTraceController;
class WVelocityControl;

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

private:
    // Attaches a new device in place of the old one (which is closed and released), opens
    // it and refreshes the panels.
    void attachAndOpen(SerialUSBDevice* device, int moduleAddress);
    // Every panel reads its values from the module anew.
    void updateAll();

    SerialUSBCommandHandler* m_handler;
    WVelocityControl* m_velocityControl;
    WPositionControl* m_positionControl;
    WCurrentControl* m_currentControl;
    WPWMControl* m_pwmControl;
    WTraceController* m_traceController;
    WDirectMode* m_directMode;
    WStatusFlagsV* m_statusFlags;
    std::unique_ptr<ServedModule> m_simulatedModule;
};
