#include "trace/RemoveChartDialog.h"

#include "comm/LogSink.h"
#include "trace/Chart.h"
#include "trace/ChartDialogLayout.h"
#include "trace/WDrawer.h"

#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>

RemoveChartDialog::RemoveChartDialog(WDrawer* drawer, QWidget* parent)
    : QDialog(parent), m_charts(drawer->charts())
{
    // Written straight to standard output (and the log view), beside the message handler.
    LogSink::instance().write(QStringLiteral("drawer yAxisCaption: ") + drawer->name());

    QGridLayout* grid = ChartDialogLayout::grid(this);
    m_chartList = new QComboBox;
    for (const Chart* chart : std::as_const(m_charts))
        m_chartList->addItem(chart->name() + QStringLiteral(" (type: ") +
                             QString::number(static_cast<unsigned char>(chart->type())) +
                             QLatin1Char(')'));
    ChartDialogLayout::addRow(grid, 0, tr("Select chart:"), m_chartList);
    QPushButton* ok = ChartDialogLayout::addButtons(this, grid);
    connect(ok, &QPushButton::clicked, this, &RemoveChartDialog::remChart);
}

void RemoveChartDialog::remChart()
{
    const int index = m_chartList->currentIndex();
    if (index >= 0 && index < m_charts.size())
        delete m_charts.takeAt(index);
    accept();
}
