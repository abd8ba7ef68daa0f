#pragma once

#include "config/ModuleExchange.h"

#include <QProgressDialog>

// The progress dialog of a whole-module operation: it counts the parameters done, keeps
// the windows painting between two exchanges, and offers Cancel. It is modal, so nothing
// else reaches the module while it is up.
//
//     OperationProgress progress(tr("Storing parameters on the module"), 256, this);
//     ParameterStore::storeAll(handler, progress.callback());
class OperationProgress
{
public:
    OperationProgress(const QString& label, int total, QWidget* parent);
    OperationProgress(const OperationProgress&) = delete;
    OperationProgress& operator=(const OperationProgress&) = delete;

    // Shows `done` of `total` and serves the events that came in meanwhile; false once
    // Cancel has been pressed.
    bool update(int done, int total);
    ModuleExchange::Progress callback();

private:
    QProgressDialog m_dialog;
};
