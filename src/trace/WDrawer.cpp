#include "trace/WDrawer.h"

#include "comm/DebugLine.h"
#include "trace/Chart.h"
#include "trace/ChartExport.h"
#include "trace/DrawerArea.h"
#include "trace/WGraphController.h"

#include <QAction>
#include <QBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>

WDrawer::WDrawer(QWidget* parent) : QWidget(parent)
{
    m_area = new DrawerArea;
    m_area->setInterval(100);
    m_scrollBar = new QScrollBar(Qt::Horizontal);
    m_scrollBar->setSingleStep(100);
    m_graphController = new WGraphController;

    // Narrow margins, as on the panels' forms: three of these sit below the tabs.
    auto* plot = new QWidget;
    auto* plotLayout = new QVBoxLayout(plot);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->setSpacing(0);
    plotLayout->addWidget(m_area);
    plotLayout->addWidget(m_scrollBar);
    createActions();
    // Beside the chart, the two actions most used while watching: Pause and Save picture
    // (its menu also saves at double size).
    auto* pauseButton = new QToolButton;
    pauseButton->setObjectName(QStringLiteral("btnPauseChart"));
    pauseButton->setDefaultAction(m_pause);
    auto* pictureButton = new QToolButton;
    pictureButton->setObjectName(QStringLiteral("btnSavePicture"));
    pictureButton->setDefaultAction(m_savePicture);
    auto* pictureMenu = new QMenu(pictureButton);
    pictureMenu->addAction(m_savePicture);
    pictureMenu->addAction(m_savePictureDouble);
    pictureButton->setMenu(pictureMenu);
    pictureButton->setPopupMode(QToolButton::MenuButtonPopup);
    for (QToolButton* button : {pauseButton, pictureButton})
        button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(pauseButton);
    buttons->addWidget(pictureButton);
    buttons->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(4);
    layout->addWidget(plot);
    layout->addLayout(buttons);
    layout->addWidget(m_graphController);

    connect(m_area, &DrawerArea::scaleChanged, m_graphController,
            &WGraphController::changedScaleValues);
    connect(m_area, &DrawerArea::changedChartWidth, this, &WDrawer::handleChangedChartWidth);
    connect(m_graphController, &WGraphController::scaleManually, m_area,
            &DrawerArea::doManualScaling);
    connect(m_graphController, &WGraphController::scaleDynamic, m_area,
            &DrawerArea::doDynamicScaling);
    connect(m_graphController, &WGraphController::minValueChanged, m_area,
            &DrawerArea::setMinValue);
    connect(m_graphController, &WGraphController::maxValueChanged, m_area,
            &DrawerArea::setMaxValue);
    connect(m_graphController, &WGraphController::clear, m_area, &DrawerArea::clearValues);
    connect(m_graphController, &WGraphController::changeResolution, this,
            &WDrawer::handleChangedResolution);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &WDrawer::scrollBarValueChanged);
    // A scaling chosen with the mouse shows beside the chart as if chosen there.
    connect(m_area, &DrawerArea::scalingChosen, m_graphController, &WGraphController::showScaling);
    connect(m_area, &DrawerArea::pausedChanged, this, &WDrawer::showPaused);

    setBufferSize(1000);
}

QAction* WDrawer::newAction(const QString& text, const char* name, const QString& toolTip)
{
    auto* action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(toolTip);
    action->setStatusTip(toolTip);
    return action;
}

void WDrawer::createActions()
{
    m_pause = newAction(tr("Pause"), "actionPauseChart",
                        tr("Freeze this chart's picture; the values keep arriving, and the "
                           "picture jumps to the newest when it goes on (Space pauses every "
                           "chart)"));
    m_pause->setCheckable(true);
    connect(m_pause, &QAction::toggled, this, &WDrawer::setPaused);

    m_keepReference = newAction(tr("Keep as reference"), "actionKeepReference",
                                tr("Keep the curves shown as dimmed copies behind the live "
                                   "ones, to compare the next run with this one"));
    connect(m_keepReference, &QAction::triggered, m_area, &DrawerArea::keepReference);
    m_clearReference = newAction(tr("Clear reference"), "actionClearReference",
                                 tr("Remove the dimmed reference curves"));
    m_clearReference->setEnabled(false);
    connect(m_clearReference, &QAction::triggered, m_area, &DrawerArea::clearReference);
    connect(m_area, &DrawerArea::referenceChanged, m_clearReference, &QAction::setEnabled);

    m_savePicture = newAction(tr("Save picture…"), "actionSavePicture",
                              tr("Save a PNG picture of this chart (plot, axes and legend) at "
                                 "its size on the screen"));
    connect(m_savePicture, &QAction::triggered, this, [this] { askAndSavePicture(1); });
    m_savePictureDouble = newAction(tr("Save picture at double size…"), "actionSavePictureDouble",
                                    tr("Save a PNG picture of this chart (plot, axes and legend) "
                                       "at twice its size, sharp enough for a report"));
    connect(m_savePictureDouble, &QAction::triggered, this, [this] { askAndSavePicture(2); });
    m_saveSamples = newAction(tr("Save samples…"), "actionSaveSamples",
                              tr("Save the samples this chart holds as CSV: the time in ms (or "
                                 "the sample index) and one column per curve"));
    connect(m_saveSamples, &QAction::triggered, this, &WDrawer::askAndSaveSamples);

    m_automaticView = newAction(tr("Automatic view"), "actionAutomaticView",
                                tr("Back to the automatic view (double click). On the chart the "
                                   "wheel zooms the time axis, Ctrl+wheel the value axis, and "
                                   "dragging pans"));
    connect(m_automaticView, &QAction::triggered, m_area, &DrawerArea::resetView);

    m_area->setContextMenuPolicy(Qt::ActionsContextMenu);
    const auto separator = [this] {
        auto* line = new QAction(this);
        line->setSeparator(true);
        return line;
    };
    m_area->addActions({m_pause, separator(), m_keepReference, m_clearReference, separator(),
                        m_savePicture, m_savePictureDouble, m_saveSamples, separator(),
                        m_automaticView});
}

bool WDrawer::isPaused() const
{
    return m_area->isPaused();
}

void WDrawer::setPaused(bool paused)
{
    m_area->setPaused(paused);
}

void WDrawer::moduleOpened(const QString& port, int address)
{
    m_area->setModule(port + QLatin1Char('@') + QString::number(address),
                      tr("address %1").arg(address));
}

void WDrawer::showPaused(bool paused)
{
    {
        const QSignalBlocker quiet(m_pause);
        m_pause->setChecked(paused);
    }
    // The button says what a press does next.
    m_pause->setText(paused ? tr("Resume") : tr("Pause"));
    if (!paused) {
        // On again: the newest samples in view, without leaving a zoom.
        const QSignalBlocker quiet(m_scrollBar);
        m_scrollBar->setValue(m_scrollBar->maximum());
        m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(),
                               m_scrollBar->value());
    }
    emit pausedChanged(paused);
}

bool WDrawer::savePicture(const QString& fileName, int scale, QString* error)
{
    // The plot with its axes and legend; the buttons and scale controls are not part of it.
    return ChartExport::savePicture(fileName, m_area, scale, error);
}

bool WDrawer::saveSamples(const QString& fileName, QString* error)
{
    return ChartExport::saveSamples(fileName, m_area->shownCharts(), m_area->timeOrigin(), error);
}

namespace {

// The name typed, with the suffix added if none was typed.
QString withSuffix(const QString& fileName, const QString& suffix)
{
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + QLatin1Char('.') + suffix : fileName;
}

} // namespace

void WDrawer::askAndSavePicture(int scale)
{
    const QString title = scale > 1 ? tr("Save picture at double size") : tr("Save picture");
    QString fileName = QFileDialog::getSaveFileName(
        this, title, ChartExport::defaultBaseName(name()) + QStringLiteral(".png"),
        tr("PNG images (*.png)"));
    if (fileName.isEmpty())
        return;
    fileName = withSuffix(fileName, QStringLiteral("png"));
    QString error;
    if (!savePicture(fileName, scale, &error))
        QMessageBox::warning(this, title, tr("Could not save %1: %2").arg(fileName, error));
}

void WDrawer::askAndSaveSamples()
{
    const QString title = tr("Save samples");
    QString fileName = QFileDialog::getSaveFileName(
        this, title, ChartExport::defaultBaseName(name()) + QStringLiteral(".csv"),
        tr("CSV files (*.csv)"));
    if (fileName.isEmpty())
        return;
    fileName = withSuffix(fileName, QStringLiteral("csv"));
    QString error;
    if (!saveSamples(fileName, &error))
        QMessageBox::warning(this, title, tr("Could not save %1: %2").arg(fileName, error));
}

void WDrawer::setBufferSize(int n)
{
    m_area->setBufferSize(n);
    m_scrollBar->setMinimum(0);
    m_scrollBar->setMaximum(n - 1);
    m_scrollBar->setValue(n - 1);
    // The value change has handed the scroll state over already, unless the bar stood at
    // n - 1 before; either way the area now sees the new range.
    m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(), m_scrollBar->value());
}

void WDrawer::setName(const QString& name)
{
    m_area->setName(name);
}

QString WDrawer::name() const
{
    return m_area->name();
}

void WDrawer::addChart(char motorBank, char type, const QString& name, const QColor& color)
{
    addChart(motorBank, type, Chart::IntegerFormat, name, color);
}

void WDrawer::addChart(char motorBank, char type, int valueFormat, const QString& name,
                       const QColor& color)
{
    auto* chart = new Chart(motorBank, type, valueFormat, name);
    chart->setColor(color);
    m_area->addChart(chart);
    // One entry per type number, whatever the motor/bank.
    if (!m_traceTypes.contains(type))
        m_traceTypes.append(type);
}

QList<Chart*>& WDrawer::charts()
{
    return m_area->charts();
}

void WDrawer::removeChart(char motorBank, char type)
{
    m_area->removeChart(motorBank, type);
}

void WDrawer::updateLiveVales()
{
    DebugLine() << "WDrawer::updateLiveVales()";
    const QList<Chart*> charts = m_area->charts();
    for (const Chart* chart : charts)
        emit getAxisParameter(chart->motorBank(), chart->type());
}

void WDrawer::clearCharts()
{
    m_area->clearValues();
}

void WDrawer::startDrawing()
{
    m_area->startDrawer();
}

void WDrawer::stopDrawing()
{
    m_area->stopDrawer();
}

void WDrawer::requestedTraceValue(char motorBank, char typeNumber, int value)
{
    m_area->addValue(motorBank, typeNumber, value);
}

void WDrawer::takeSample(const PollSample& sample)
{
    if (sample.ok())
        m_area->addValue(static_cast<char>(sample.motorBank), static_cast<char>(sample.type),
                         sample.value, sample.time);
}

void WDrawer::handleChangedChartWidth(int width)
{
    // The area reports its width while it paints: the scroll range moves without asking
    // for another paint from inside this one, and a value the new minimum pushes up reaches
    // the area before it walks the samples.
    {
        const QSignalBlocker blocker(m_scrollBar);
        m_scrollBar->setMinimum(width);
    }
    m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(), m_scrollBar->value());
}

void WDrawer::handleChangedResolution(int resolution)
{
    m_area->setResolution(resolution);
    // The time axis follows the resolution again.
    m_area->endTimeZoom();
    repaint();
}

void WDrawer::scrollBarValueChanged(int value)
{
    m_area->setScrollState(m_scrollBar->minimum(), m_scrollBar->maximum(), value);
    // ...and the scroll bar.
    m_area->endTimeZoom();
    repaint();
}
