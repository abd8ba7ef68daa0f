#pragma once

#include <QScrollArea>

// A tab page that scrolls up and down when the tabs are given less height than it needs
// (the splitter below the tabs moved up, a short screen), and is never squeezed
// sideways: it asks for the page's full width, so nothing needs scrolling to the side.
class PageScrollArea : public QScrollArea
{
    Q_OBJECT

public:
    explicit PageScrollArea(QWidget* page, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};
