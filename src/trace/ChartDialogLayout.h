#pragma once

#include <QString>

class QDialog;
class QGridLayout;
class QPushButton;
class QWidget;

// The layout the chart dialogs share: a grid of two columns, each row a label and its
// input, closed by a row across both columns with a stretch, "Ok" (the default button)
// and "Cancel" (which rejects the dialog).
namespace ChartDialogLayout {

// The dialog's grid, set as its layout.
QGridLayout* grid(QDialog* dialog);
void addRow(QGridLayout* grid, int row, const QString& label, QWidget* input);
// Adds the closing row and returns "Ok" for the dialog to connect.
QPushButton* addButtons(QDialog* dialog, QGridLayout* grid);

} // namespace ChartDialogLayout
