#include "ui/QItemDelegateEx.h"

namespace GraphicHelpers {

QItemDelegateEx::QItemDelegateEx(QObject* pParent) : QItemDelegate(pParent)
{}

QSize QItemDelegateEx::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QItemDelegate::sizeHint(option, index);
}

void QItemDelegateEx::drawFocus(QPainter* pPainter, const QStyleOptionViewItem& option,
                                const QRect& rect) const
{
    if (m_bDrawFocus)
        QItemDelegate::drawFocus(pPainter, option, rect);
}

} // namespace GraphicHelpers
