#include "ui/QMyTableWidget.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>

QMyTableWidget::QMyTableWidget(QWidget* pParent) : QTableWidget(pParent)
{}

void QMyTableWidget::setRowCount(int nRows)
{
    QTableWidget::setRowCount(nRows);
    // The style's minimum row height would otherwise round a compact item height up.
    if (verticalHeader()->minimumSectionSize() > m_nItemHeight)
        verticalHeader()->setMinimumSectionSize(m_nItemHeight);
    for (int nRow = 0; nRow < rowCount(); ++nRow)
        setRowHeight(nRow, m_nItemHeight);
}

QTableWidgetItem* QMyTableWidget::getItem(int nRow, int nColumn)
{
    QTableWidgetItem* pItem = item(nRow, nColumn);
    if (pItem)
        return pItem;
    pItem = new QTableWidgetItem();
    pItem->setTextAlignment(m_nDefaultTextAlignment);
    if (m_bSecondLineBackground && (nRow % 2) == 1)
        pItem->setBackground(QBrush(m_SecondLineBackground));
    if (m_DefaultTextFont != QFont())
        pItem->setFont(m_DefaultTextFont);
    pItem->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setItem(nRow, nColumn, pItem);
    return pItem;
}

void QMyTableWidget::setItemText(int nRow, int nColumn, const QString& text, int nAlignment,
                                 const QFont& font)
{
    QTableWidgetItem* pItem = getItem(nRow, nColumn);
    if (nAlignment != -1)
        pItem->setTextAlignment(nAlignment);
    if (font != QFont())
        pItem->setFont(font);
    // Unchanged text is not set again: that would repaint the cell for nothing every cycle.
    if (pItem->text() != text)
        pItem->setText(text);
}

void QMyTableWidget::setItemIcon(int nRow, int nColumn, const QIcon& icon)
{
    getItem(nRow, nColumn)->setIcon(icon);
}

void QMyTableWidget::setItemData(int nRow, int nColumn, int nRole, const QVariant& value)
{
    getItem(nRow, nColumn)->setData(nRole, value);
}

void QMyTableWidget::setItemFlags(int nRow, int nColumn, Qt::ItemFlags flags)
{
    getItem(nRow, nColumn)->setFlags(flags);
}

void QMyTableWidget::setItemFont(int nRow, int nColumn, const QFont& font)
{
    getItem(nRow, nColumn)->setFont(font);
}

void QMyTableWidget::removeAllRows()
{
    while (rowCount() > 0)
        removeRow(0);
}

void QMyTableWidget::setItemSeparator(int nRow, const QString& text)
{
    QFont smaller = font();
    if (smaller.pointSizeF() > 2.0)
        smaller.setPointSizeF(smaller.pointSizeF() - 2.0);

    // A transparent icon lines the heading up with the texts of rows that carry icons.
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);

    setItemText(nRow, 0, text, Qt::AlignLeft | Qt::AlignVCenter, smaller);
    setItemIcon(nRow, 0, QIcon(blank));
    setItemFont(nRow, 0, smaller);
    for (int nColumn = 0; nColumn < columnCount(); ++nColumn)
        setItemFlags(nRow, nColumn, Qt::NoItemFlags);
}

void QMyTableWidget::enableSecondLineBackground(bool bEnable, const QColor& color)
{
    m_bSecondLineBackground = bEnable;
    m_SecondLineBackground = color;
}

void QMyTableWidget::paintEvent(QPaintEvent* pEvent)
{
    const int nItemHeight = m_nItemHeight;
    const int nAreaHeight = pEvent->rect().height();
    if (m_bSecondLineBackground && nItemHeight > 0 && nItemHeight < nAreaHeight) {
        // The bands continue below the last row, so an empty list still looks like a list.
        QPainter painter(viewport());
        const int nWidth = viewport()->width();
        for (int y = nItemHeight; y < nAreaHeight; y += 2 * nItemHeight)
            painter.fillRect(0, y, nWidth, nItemHeight, QColor(248, 249, 255));
    }
    QTableWidget::paintEvent(pEvent);
}
