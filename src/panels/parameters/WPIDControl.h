#pragma once

#include "panels/parameters/ParameterPanel.h"

#include <memory>

namespace Ui {
class WPIDControl;
}

// One PID loop of the module (current, velocity or position): P, I, D and I-clipping of
// two parameter sets and the threshold speed between them. The central panel gives each of
// its three instances a title, the nine parameter numbers and the I-clipping bound; until
// then the fields stand for 1 to 9.
class WPIDControl : public ParameterPanel
{
    Q_OBJECT

public:
    explicit WPIDControl(QWidget* parent = nullptr);
    explicit WPIDControl(const QString& title, QWidget* parent = nullptr);
    ~WPIDControl() override;

    // The numbers of P, I, D and I-clipping of a set, in that order.
    void setSet1Types(char p, char i, char d, char iClipping);
    void setSet2Types(char p, char i, char d, char iClipping);
    void setThresholdType(char type);
    // The upper bound of both I-clipping fields; the lower bound stays 0.
    void setIClippingMaximum(int maximum);

private slots:
    void on_sbPSet1_valueChanged(int value);
    void on_sbISet1_valueChanged(int value);
    void on_sbDSet1_valueChanged(int value);
    void on_sbIClippingSet1_valueChanged(int value);
    void on_sbPSet2_valueChanged(int value);
    void on_sbISet2_valueChanged(int value);
    void on_sbDSet2_valueChanged(int value);
    void on_sbIClippingSet2_valueChanged(int value);
    void on_sbThreshold_valueChanged(int value);

private:
    std::unique_ptr<Ui::WPIDControl> m_ui;
};
