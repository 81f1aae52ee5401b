#pragma once

#include "SystemTrayIconEx/StatusItemHelpers.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// Draws the menu-bar item with the toolkit's painter, for platform layers that hand the
// toolkit a finished picture: the icon at the left, then the text, laid out as the width and
// text rules say, in an image as wide as the item and as high as the bar.
namespace StatusItemPaintHelpers {

struct Options
{
    QString fontFamily = QStringLiteral("DejaVu Sans");
    int nBarHeight = StatusItemHelpers::kMenuBarHeight; // points
    qreal dDevicePixelRatio = 1.0;
    bool bHighlighted = false; // the item's menu is open
    QColor textColor = Qt::black;
    QColor highlightColor = QColor(0x30, 0x74, 0xd8);
    QColor highlightedTextColor = Qt::white;
};

// The width of the icon's first available size, or the bar height less 4 for a null icon.
int iconSize(const QIcon& icon, int nBarHeight);

// The item as an image of statusItemLength x bar height points (times the device pixel ratio),
// transparent where nothing is drawn unless highlighted.
QImage render(const QStatusItemState& state, bool bFahrenheit, const QIcon& icon,
              const Options& options = Options());

} // namespace StatusItemPaintHelpers
