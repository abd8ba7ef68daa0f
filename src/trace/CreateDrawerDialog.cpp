#include "trace/CreateDrawerDialog.h"

#include "trace/ChartDialogLayout.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

CreateDrawerDialog::CreateDrawerDialog(QWidget* parent) : QDialog(parent)
{
    QGridLayout* grid = ChartDialogLayout::grid(this);
    m_name = new QLineEdit;
    ChartDialogLayout::addRow(grid, 0, tr("Drawer name:"), m_name);
    m_location = new QComboBox;
    m_location->setEditable(false);
    m_location->addItem(tr("Top"), int(Qt::TopDockWidgetArea));
    m_location->addItem(tr("Left"), int(Qt::LeftDockWidgetArea));
    m_location->addItem(tr("Right"), int(Qt::RightDockWidgetArea));
    m_location->addItem(tr("Bottom"), int(Qt::BottomDockWidgetArea));
    ChartDialogLayout::addRow(grid, 1, tr("Location:"), m_location);
    QPushButton* ok = ChartDialogLayout::addButtons(this, grid);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString CreateDrawerDialog::name() const
{
    return m_name->text();
}

int CreateDrawerDialog::location() const
{
    if (m_location->currentIndex() < 0)
        return 0;
    return m_location->currentData().toInt();
}
