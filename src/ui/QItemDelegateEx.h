#pragma once

#include <QItemDelegate>

namespace GraphicHelpers {

// The item delegate of the main window's tables; it can leave out the focus rectangle that
// would otherwise frame the current cell of a whole-row selection.
class QItemDelegateEx : public QItemDelegate
{
public:
    explicit QItemDelegateEx(QObject* pParent = nullptr);

    // Kept for callers that ask for scaled rows; the size hint stays the base class's.
    void setScalledItemHeight(bool bScaled) { m_bScaledItemHeight = bScaled; }
    void setEnableDrawFocus(bool bEnable) { m_bDrawFocus = bEnable; }
    bool isDrawFocusEnabled() const { return m_bDrawFocus; }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void drawFocus(QPainter* pPainter, const QStyleOptionViewItem& option,
                   const QRect& rect) const override;

private:
    bool m_bScaledItemHeight = false;
    bool m_bDrawFocus = true;
};

} // namespace GraphicHelpers
