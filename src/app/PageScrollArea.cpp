#include "app/PageScrollArea.h"

#include <QLayout>
#include <QScrollBar>
#include <QStyle>

namespace {

constexpr int TightSpacing = 4;
constexpr int TightMargin = 4;

} // namespace

PageScrollArea::PageScrollArea(QWidget* page, QWidget* parent) : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Narrow margins around the panels and tight rows within them, so the charts below get
    // the height.
    if (page->layout())
        page->layout()->setContentsMargins(4, 2, 4, 2);
    for (QLayout* layout : page->findChildren<QLayout*>()) {
        if (layout->spacing() > TightSpacing)
            layout->setSpacing(TightSpacing);
        const QMargins margins = layout->contentsMargins();
        layout->setContentsMargins(
            std::min(margins.left(), TightMargin), std::min(margins.top(), TightMargin),
            std::min(margins.right(), TightMargin), std::min(margins.bottom(), TightMargin));
    }
    setWidget(page);
    // The page's own background, not the scroll area's.
    viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
}

QSize PageScrollArea::sizeHint() const
{
    // All of the page, however large (a scroll area would cap it).
    const QMargins frame = contentsMargins();
    return widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) +
           QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

QSize PageScrollArea::minimumSizeHint() const
{
    // The page's width and room for the scroll bar beside it; of its height, a few lines.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QSize page = widget()->minimumSizeHint();
    return QSize(page.width() + scrollBar, std::min(page.height(), 4 * fontMetrics().height()));
}
