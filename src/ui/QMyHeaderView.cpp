#include "ui/QMyHeaderView.h"

QMyHeaderView::QMyHeaderView(QWidget* pParent) : QHeaderView(Qt::Horizontal, pParent)
{
    setVisible(true);
}

QSize QMyHeaderView::sizeHint() const
{
    QSize hint = QHeaderView::sizeHint();
    hint.setHeight(headerHeight());
    return hint;
}
