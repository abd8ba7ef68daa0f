#pragma once

#include "config/ModuleExchange.h"

#include <QProgressDialog>

#include <functional>
#include <memory>

class QPushButton;

// The progress dialog of a whole-module operation: it counts the parameters done, keeps
// the windows painting between two exchanges, and offers Cancel and, given a stop, a red
// "Stop motor" (the window's own is blocked while the dialog is up). It is modal, so
// nothing else reaches the module while it is up; what the user asks for meanwhile (Stop
// motor above all) is served between two exchanges, so a stop is the very next one.
//
//     OperationProgress progress(tr("Storing parameters on the module"), 256, this, stop);
//     ParameterStore::storeAll(handler, progress.callback());
class OperationProgress
{
public:
    OperationProgress(const QString& label, int total, QWidget* parent,
                      std::function<void()> stopMotor = {});
    ~OperationProgress();
    OperationProgress(const OperationProgress&) = delete;
    OperationProgress& operator=(const OperationProgress&) = delete;

    // Shows `done` of `total` and serves the events that came in meanwhile; false once
    // Cancel has been pressed.
    bool update(int done, int total);
    ModuleExchange::Progress callback();

private:
    std::unique_ptr<QProgressDialog> m_dialog;
};
