#include "ui/QMyHeaderView.h"
#include "ui/QMyTableWidget.h"

#include <QtTest>

namespace {
const QColor kBand(248, 249, 255);
}

class tst_TableWidgets : public QObject
{
    Q_OBJECT

private slots:
    void cellDefaults_data();
    void cellDefaults();
    void secondLineBackgroundOnlyForNewOddRows();
    void bandsContinueBelowTheRows_data();
    void bandsContinueBelowTheRows();
    void separatorRowCannotBeSelected();
    void rowHeights();
    void headerHeight();
};

void tst_TableWidgets::cellDefaults_data()
{
    QTest::addColumn<int>("defaultAlignment"); // -1: the table's own default
    QTest::addColumn<int>("alignment");        // given to setItemText
    QTest::addColumn<int>("expected");

    const int centred = Qt::AlignHCenter | Qt::AlignVCenter;
    const int left = Qt::AlignLeft | Qt::AlignVCenter;
    QTest::newRow("-1 keeps the centred default") << -1 << -1 << centred;
    QTest::newRow("explicit alignment wins") << -1 << left << left;
    QTest::newRow("changed default, -1 keeps it")
        << int(Qt::AlignRight) << -1 << int(Qt::AlignRight);
}

void tst_TableWidgets::cellDefaults()
{
    QFETCH(int, defaultAlignment);
    QFETCH(int, alignment);
    QFETCH(int, expected);

    QMyTableWidget table;
    table.setColumnCount(2);
    table.setRowCount(2);
    if (defaultAlignment != -1)
        table.setDefaultTextAlignment(defaultAlignment);
    table.setItemText(1, 1, "first", alignment);
    QTableWidgetItem* pItem = table.item(1, 1);
    QVERIFY(pItem);
    QCOMPARE(pItem->textAlignment(), expected);
    QCOMPARE(pItem->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);

    // The item is created once and reused; a later -1 leaves the alignment alone.
    table.setItemText(1, 1, "second");
    QCOMPARE(table.item(1, 1), pItem);
    QCOMPARE(pItem->text(), QStringLiteral("second"));
    QCOMPARE(pItem->textAlignment(), expected);
}

void tst_TableWidgets::secondLineBackgroundOnlyForNewOddRows()
{
    QMyTableWidget table;
    table.setColumnCount(1);
    table.setRowCount(4);
    table.getItem(1, 0); // created before the background is switched on
    table.enableSecondLineBackground(true, kBand);
    for (int nRow = 0; nRow < 4; ++nRow)
        table.setItemText(nRow, 0, QString::number(nRow));

    QCOMPARE(table.item(0, 0)->background().style(), Qt::NoBrush);
    QCOMPARE(table.item(1, 0)->background().style(), Qt::NoBrush);
    QCOMPARE(table.item(2, 0)->background().style(), Qt::NoBrush);
    QCOMPARE(table.item(3, 0)->background().color(), kBand);
}

void tst_TableWidgets::bandsContinueBelowTheRows_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("bands on") << true;
    QTest::newRow("bands off") << false;
}

void tst_TableWidgets::bandsContinueBelowTheRows()
{
    QFETCH(bool, enabled);

    // No rows at all: whatever is painted comes from the bands.
    QMyTableWidget table;
    table.setColumnCount(1);
    table.resize(200, 200);
    table.setItemHeight(20);
    table.enableSecondLineBackground(enabled, kBand);
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));

    const QImage image = table.viewport()->grab().toImage();
    QVERIFY(image.height() > 100);
    const QColor base = image.pixelColor(10, 10);
    QCOMPARE(image.pixelColor(10, 30) == kBand, enabled); // first band: 20..39
    QCOMPARE(image.pixelColor(10, 50), base);             // gap: 40..59
    QCOMPARE(image.pixelColor(10, 70) == kBand, enabled); // second band: 60..79
    QVERIFY(base != kBand);
}

void tst_TableWidgets::separatorRowCannotBeSelected()
{
    QMyTableWidget table;
    table.setColumnCount(2);
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    table.setSelectionMode(QAbstractItemView::SingleSelection);
    table.setRowCount(3);
    table.setItemText(0, 0, "Sensor");
    table.setItemSeparator(1, "Disk Drives:");
    table.setItemText(2, 0, "Drive");
    table.resize(300, 200);
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));

    QTableWidgetItem* pHeading = table.item(1, 0);
    QCOMPARE(pHeading->text(), QStringLiteral("Disk Drives:"));
    QCOMPARE(pHeading->textAlignment(), int(Qt::AlignLeft | Qt::AlignVCenter));
    QCOMPARE(pHeading->font().pointSizeF(), table.font().pointSizeF() - 2);
    QVERIFY(!pHeading->icon().isNull());
    for (int nColumn = 0; nColumn < 2; ++nColumn)
        QCOMPARE(table.item(1, nColumn)->flags(), Qt::NoItemFlags);

    // A click on the heading selects nothing; a click on a sensor selects its row.
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {},
                      table.visualItemRect(pHeading).center());
    QVERIFY(table.selectionModel()->selectedIndexes().isEmpty());
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {},
                      table.visualItemRect(table.item(2, 0)).center());
    QCOMPARE(table.selectionModel()->selectedRows().size(), 1);
    QCOMPARE(table.selectionModel()->selectedRows().first().row(), 2);

    // Renaming the heading (a language change) keeps it a heading.
    table.setItemText(1, 0, "Laufwerke:");
    QCOMPARE(table.item(1, 0)->flags(), Qt::NoItemFlags);
}

void tst_TableWidgets::rowHeights()
{
    QMyTableWidget table;
    table.setColumnCount(1);
    table.setItemHeight(36);
    table.setRowCount(2);
    QCOMPARE(table.rowHeight(0), 36);
    QCOMPARE(table.rowHeight(1), 36);

    // A new height reaches rows only with the next row count.
    table.setItemHeight(24);
    QCOMPARE(table.rowHeight(1), 36);
    table.setRowCount(3);
    QCOMPARE(table.rowHeight(0), 24);
    QCOMPARE(table.rowHeight(2), 24);

    table.removeAllRows();
    QCOMPARE(table.rowCount(), 0);
}

void tst_TableWidgets::headerHeight()
{
    QMyTableWidget table;
    table.setColumnCount(2);
    QMyHeaderView* pHeader = new QMyHeaderView(&table);
    table.setHorizontalHeader(pHeader);
    table.setHorizontalHeaderLabels({"Sensor", "Value"});
    QCOMPARE(pHeader->sizeHint().height(), 20);
    QVERIFY(pHeader->sizeHint().width() > 0);
}

QTEST_MAIN(tst_TableWidgets)
#include "tst_tablewidgets.moc"
