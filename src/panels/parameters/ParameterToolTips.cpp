#include "panels/parameters/ParameterToolTips.h"

#include "config/ParameterCatalogue.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QWidget>

namespace {

// The panels a catalogue entry names: by class, or by the title of a group box where one
// class is used more than once.
QList<QWidget*> panelsNamed(QWidget* root, const char* panel)
{
    QList<QWidget*> found;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (qstrcmp(widget->metaObject()->className(), panel) == 0)
            found << widget;
        else if (auto* box = qobject_cast<QGroupBox*>(widget);
                 box && box->title() == QLatin1String(panel))
            found << box;
    }
    return found;
}

} // namespace

int ParameterToolTips::apply(QWidget* root)
{
    int applied = 0;
    for (const ParameterCatalogue::PanelField& entry : ParameterCatalogue::panelFields()) {
        const QString tip =
            QCoreApplication::translate("BLDC", "Axis parameter %1").arg(entry.number);
        for (QWidget* panel : panelsNamed(root, entry.panel)) {
            auto* field = panel->findChild<QWidget*>(QLatin1String(entry.field));
            if (!field && panel->objectName() == QLatin1String(entry.field))
                field = panel;
            if (!field)
                continue;
            field->setToolTip(tip);
            ++applied;
        }
    }
    return applied;
}
