#include "ui/QMyTableWidget.h"

#include <QtTest>

class tst_TableWidgets : public QObject
{
    Q_OBJECT

private slots:
    void sensorsTableRules();
};

void tst_TableWidgets::sensorsTableRules()
{
    const QColor band(248, 249, 255);
    QMyTableWidget table;
    table.setColumnCount(2);
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    table.setItemHeight(20);
    table.setRowCount(3);
    table.getItem(2, 0); // made before the bands are switched on
    table.enableSecondLineBackground(true, band);
    table.setItemText(0, 0, "Sensor");
    table.setItemSeparator(1, "Disk Drives:");
    table.setItemText(2, 0, "Drive", Qt::AlignLeft);
    table.resize(200, 200);
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));

    QCOMPARE(table.rowHeight(2), 20);
    QCOMPARE(table.item(0, 0)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
    QCOMPARE(table.item(2, 0)->textAlignment(), int(Qt::AlignLeft));
    QCOMPARE(table.item(0, 0)->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    // Only odd rows made after the bands were switched on carry them.
    QCOMPARE(table.item(1, 1)->background().color(), band);
    QCOMPARE(table.item(0, 0)->background().style(), Qt::NoBrush);
    QCOMPARE(table.item(2, 0)->background().style(), Qt::NoBrush);
    // The heading: smaller, left, in line with icon rows, and not selectable even by a click.
    QTableWidgetItem* pHeading = table.item(1, 0);
    QCOMPARE(pHeading->textAlignment(), int(Qt::AlignLeft | Qt::AlignVCenter));
    QCOMPARE(pHeading->font().pointSizeF(), table.font().pointSizeF() - 2);
    QCOMPARE(pHeading->icon().availableSizes(), QList<QSize>{QSize(16, 16)});
    QCOMPARE(table.item(1, 1)->flags(), Qt::NoItemFlags);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {},
                      table.visualItemRect(pHeading).center());
    QVERIFY(table.selectionModel()->selectedIndexes().isEmpty());
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {},
                      table.visualItemRect(table.item(2, 0)).center());
    QCOMPARE(table.selectionModel()->selectedRows().value(0).row(), 2);

    // The bands go on below the last row, every other item height.
    const QImage image = table.viewport()->grab().toImage();
    const QColor base = image.pixelColor(10, 80);
    QVERIFY(base != band);
    QCOMPARE(image.pixelColor(10, 60), band); // 60..79
    QCOMPARE(image.pixelColor(10, 79), band);
    QCOMPARE(image.pixelColor(10, 99), base);
    QCOMPARE(image.pixelColor(10, 100), band); // 100..119
}

QTEST_MAIN(tst_TableWidgets)
#include "tst_tablewidgets.moc"
