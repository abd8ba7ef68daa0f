#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;

// Asks for the name and the docking side of a new chart panel.
class CreateDrawerDialog : public QDialog
{
public:
    explicit CreateDrawerDialog(QWidget* parent = nullptr);

    QString name() const;
    // The side as a Qt::DockWidgetArea value: top 4, left 1, right 2, bottom 8; 0 when
    // nothing is chosen.
    int location() const;

private:
    QLineEdit* m_name;
    QComboBox* m_location;
};
