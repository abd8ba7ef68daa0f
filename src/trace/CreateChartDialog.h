#pragma once

#include <QColor>
#include <QDialog>

class QComboBox;
class QLineEdit;
class QSpinBox;

// Asks for the name, the type number and the colour of a new chart.
class CreateChartDialog : public QDialog
{
public:
    explicit CreateChartDialog(QWidget* parent = nullptr);

    QString name() const;
    int type() const;
    // The colour the chosen item names; black when nothing is chosen.
    QColor color() const;

private:
    QLineEdit* m_name;
    QSpinBox* m_type;
    QComboBox* m_color;
};
