#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <memory>

class SerialUSBCommandHandler;
class SerialUSBDevice;
class ServedModule;
class ParameterPanel;
class TraceCommand;
class WCommutationMode;
class WDirectMode;
class WEncoderSettings;
class WMotorSettings;
class WPIDControl;
class WVelocityRampControl;
class WDrawer;

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
    const QList<TraceCommand*>& traceCommands() const { return m_traceCommands; }
    // The chart panels below the tabs, top to bottom.
    const QList<WDrawer*>& drawers() const { return m_drawers; }

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

    SerialUSBCommandHandler* m_handler;
    WMotorSettings* m_motorSettings;
    WCommutationMode* m_commutationMode;
    WEncoderSettings* m_encoderSettings;
    WPIDControl* m_currentPid;
    WVelocityRampControl* m_velocityRamp;
    WPIDControl* m_velocityPid;
    WVelocityRampControl* m_positioningRamp;
    WPIDControl* m_positionPid;
    WDirectMode* m_directMode;
    Link m_link = Link::None;
    QList<TraceCommand*> m_traceCommands;
    QList<WDrawer*> m_drawers;
    std::unique_ptr<ServedModule> m_simulatedModule;
};
