#include "ui/GraphicHelpers.h"

#include <QDialog>
#include <QLayout>

void GraphicHelpers::DecrementWidgetFontSize(QWidget* pWidget, double points)
{
    if (!pWidget) {
        return;
    }
    QFont font = pWidget->font();
    const double size = font.pointSizeF() - points;
    // pointSizeF() is -1 for a pixel-sized font; Qt rejects sizes of zero or less anyway.
    if (font.pointSizeF() <= 0 || size <= 0) {
        return;
    }
    font.setPointSizeF(size);
    pWidget->setFont(font);
}

void GraphicHelpers::decreaseDialogLayoutMargins(QDialog* pDialog, int bottom, int right)
{
    QLayout* pLayout = pDialog ? pDialog->layout() : nullptr;
    if (!pLayout) {
        return;
    }
    QMargins margins = pLayout->contentsMargins();
    if (bottom != -1) {
        margins.setBottom(bottom);
    }
    if (right != -1) {
        margins.setRight(right);
    }
    pLayout->setContentsMargins(margins);
}
