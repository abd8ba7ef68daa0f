#pragma once

#include <QDialog>
#include <QList>

class Chart;
class QComboBox;
class WDrawer;

// Lets the user pick one chart of a chart panel and removes it.
class RemoveChartDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RemoveChartDialog(WDrawer* drawer, QWidget* parent = nullptr);

public slots:
    // Removes and releases the chosen chart, if any, and closes the dialog.
    void remChart();

private:
    QList<Chart*>& m_charts;
    QComboBox* m_chartList;
};
