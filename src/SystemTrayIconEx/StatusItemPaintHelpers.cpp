#include "SystemTrayIconEx/StatusItemPaintHelpers.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QStringList>

#include <algorithm>

namespace StatusItemPaintHelpers {

namespace {
// The icon fitted into a box as high as the icon size and ten times as wide, centred on a
// transparent strip as high as the bar; drawn one point below the top, four points in.
void drawIcon(QPainter& painter, const QIcon& icon, int size, const Options& options)
{
    const qreal ratio = options.dDevicePixelRatio;
    QPixmap pixmap = icon.isNull() ? QPixmap() : icon.pixmap(QSize(size * 10, size));
    const int stripWidth =
        pixmap.isNull() ? size : qRound(pixmap.width() / pixmap.devicePixelRatio());
    QImage strip(QSize(stripWidth, options.nBarHeight) * ratio,
                 QImage::Format_ARGB32_Premultiplied);
    strip.setDevicePixelRatio(ratio);
    strip.fill(Qt::transparent);
    if (!pixmap.isNull()) {
        QPainter stripPainter(&strip);
        const QSizeF pixmapSize = QSizeF(pixmap.size()) / pixmap.devicePixelRatio();
        const QPointF topLeft((stripWidth - pixmapSize.width()) / 2.0,
                              (options.nBarHeight - pixmapSize.height()) / 2.0);
        stripPainter.drawPixmap(QRectF(topLeft, pixmapSize), pixmap, QRectF(pixmap.rect()));
    }
    painter.drawImage(QRectF(4, 1, size, options.nBarHeight), strip, QRectF(strip.rect()));
}

void drawText(QPainter& painter, const StatusItemHelpers::StatusItemText& text, int x,
              const Options& options)
{
    QFont font(options.fontFamily);
    // Points of the bar are pixels of the image: size by pixels, not by the screen's DPI.
    font.setPixelSize(text.nFontSize);
    painter.setFont(font);
    painter.setPen(options.bHighlighted ? options.highlightedTextColor : options.textColor);

    const QFontMetrics metrics(font);
    const QStringList lines = text.text.split(QLatin1Char('\n'));
    int blockWidth = 0;
    for (const QString& line : lines) {
        blockWidth = std::max(blockWidth, metrics.horizontalAdvance(line));
    }
    // The text block sits on its bottom distance, as text drawn at a point does in a bar whose
    // origin is at the bottom. Fonts with deep descenders would push two lines out of the bar:
    // their lines are drawn closer together instead.
    const int available = options.nBarHeight - StatusItemHelpers::textBottom(text.nLines);
    int step = metrics.lineSpacing();
    if (lines.size() > 1 && metrics.height() + step * (lines.size() - 1) > available) {
        step = std::max(metrics.ascent(), (available - metrics.height()) / (lines.size() - 1));
    }
    const int blockHeight = metrics.height() + step * (lines.size() - 1);
    int baseline = std::max(0, available - blockHeight) + metrics.ascent();
    for (const QString& line : lines) {
        int lineX = x;
        if (text.bCentred) {
            lineX += (blockWidth - metrics.horizontalAdvance(line)) / 2;
        }
        painter.drawText(lineX, baseline, line);
        baseline += step;
    }
}
} // namespace

int iconSize(const QIcon& icon, int nBarHeight)
{
    if (icon.isNull()) {
        return nBarHeight - 4;
    }
    const QList<QSize> sizes = icon.availableSizes();
    return sizes.isEmpty() ? nBarHeight - 4 : sizes.first().width();
}

QImage render(const QStatusItemState& state, bool bFahrenheit, const QIcon& icon,
              const Options& options)
{
    const int width = StatusItemHelpers::statusItemLength(state, bFahrenheit);
    const qreal ratio = options.dDevicePixelRatio > 0.0 ? options.dDevicePixelRatio : 1.0;
    QImage image(QSize(width, options.nBarHeight) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(options.bHighlighted ? options.highlightColor : QColor(Qt::transparent));

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    int size = 0;
    if (state.m_ShowIcon != 0) {
        size = iconSize(icon, options.nBarHeight);
        Options scaled = options;
        scaled.dDevicePixelRatio = ratio;
        drawIcon(painter, icon, size, scaled);
    }
    if (state.m_DisplayFlags != 0) {
        const StatusItemHelpers::StatusItemText text =
            StatusItemHelpers::statusItemText(state, bFahrenheit);
        if (!text.text.isEmpty()) {
            drawText(painter, text, StatusItemHelpers::textX(state, size), options);
        }
    }
    return image;
}

} // namespace StatusItemPaintHelpers
