#include "trace/ChartDialogLayout.h"

#include <QBoxLayout>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace ChartDialogLayout {

QGridLayout* grid(QDialog* dialog)
{
    return new QGridLayout(dialog);
}

void addRow(QGridLayout* grid, int row, const QString& label, QWidget* input)
{
    grid->addWidget(new QLabel(label), row, 0);
    grid->addWidget(input, row, 1);
}

QPushButton* addButtons(QDialog* dialog, QGridLayout* grid)
{
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(QDialog::tr("Ok"));
    ok->setDefault(true);
    buttons->addWidget(ok);
    auto* cancel = new QPushButton(QDialog::tr("Cancel"));
    buttons->addWidget(cancel);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    grid->addLayout(buttons, grid->rowCount(), 0, 1, 2);
    return ok;
}

} // namespace ChartDialogLayout
