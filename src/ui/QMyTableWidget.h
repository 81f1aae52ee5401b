#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QTableWidget>
#include <QVariant>

// The table of the main window's fan and sensor lists. Every cell is reached through getItem,
// which creates its item once with the table's defaults, so that the periodic updates only
// change texts and never reallocate items. Rows have one fixed height. Optionally every second
// line is drawn on a tinted background, continued below the last row into the empty area.
class QMyTableWidget : public QTableWidget
{
    Q_OBJECT
public:
    explicit QMyTableWidget(QWidget* pParent = nullptr);

    int itemHeight() const { return m_nItemHeight; }
    // Rows that exist keep their height; the next setRowCount applies the new one.
    void setItemHeight(int nHeight) { m_nItemHeight = nHeight; }

    // The base operation, then every row gets the item height.
    void setRowCount(int nRows);

    // The cell's item, created on first use with the defaults below.
    QTableWidgetItem* getItem(int nRow, int nColumn);

    // nAlignment -1 keeps the item's alignment; a default-constructed font keeps its font.
    void setItemText(int nRow, int nColumn, const QString& text, int nAlignment = -1,
                     const QFont& font = QFont());
    void setItemIcon(int nRow, int nColumn, const QIcon& icon);
    void setItemData(int nRow, int nColumn, int nRole, const QVariant& value);
    void setItemFlags(int nRow, int nColumn, Qt::ItemFlags flags);
    void setItemFont(int nRow, int nColumn, const QFont& font);
    void removeAllRows();

    // Apply to items created afterwards.
    void setDefaultTextAlignment(int nAlignment) { m_nDefaultTextAlignment = nAlignment; }
    void setDefaultTextFont(const QFont& font) { m_DefaultTextFont = font; }

    // Turns the row into a group heading: a smaller text in column 0 and no item flags at all,
    // so the row can be neither selected nor clicked.
    void setItemSeparator(int nRow, const QString& text);

    void enableSecondLineBackground(bool bEnable, const QColor& color);
    bool isSecondLineBackgroundEnabled() const { return m_bSecondLineBackground; }
    QColor secondLineBackground() const { return m_SecondLineBackground; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    int m_nDefaultTextAlignment = Qt::AlignHCenter | Qt::AlignVCenter;
    QFont m_DefaultTextFont;
    int m_nItemHeight = 18;
    QColor m_SecondLineBackground{248, 249, 255, 255};
    bool m_bSecondLineBackground = false;
};
