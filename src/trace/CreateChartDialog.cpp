#include "trace/CreateChartDialog.h"

#include "trace/ChartDialogLayout.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

CreateChartDialog::CreateChartDialog(QWidget* parent) : QDialog(parent)
{
    QGridLayout* grid = ChartDialogLayout::grid(this);
    m_name = new QLineEdit;
    ChartDialogLayout::addRow(grid, 0, tr("Chart name:"), m_name);
    m_type = new QSpinBox;
    ChartDialogLayout::addRow(grid, 1, tr("Type:"), m_type);
    m_color = new QComboBox;
    m_color->addItem(tr("green"), QColor(Qt::green));
    m_color->addItem(tr("blue"), QColor(Qt::blue));
    m_color->addItem(tr("red"), QColor(Qt::red));
    m_color->addItem(tr("black"), QColor(Qt::black));
    m_color->addItem(tr("gray"), QColor(Qt::gray));
    ChartDialogLayout::addRow(grid, 2, tr("Color:"), m_color);
    QPushButton* ok = ChartDialogLayout::addButtons(this, grid);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString CreateChartDialog::name() const
{
    return m_name->text();
}

int CreateChartDialog::type() const
{
    return m_type->value();
}

QColor CreateChartDialog::color() const
{
    if (m_color->currentIndex() < 0)
        return QColor(Qt::black);
    return m_color->currentData().value<QColor>();
}
