#include "SystemTrayIconEx/StatusItemHelpers.h"
#include "SystemTrayIconEx/StatusItemPaintHelpers.h"

#include <QPainter>
#include <QtTest>

namespace {
QStatusItemState stateOf(int showIcon, int flags, double celsius, bool bPrecise, int rpm = 0)
{
    QStatusItemState state;
    state.m_ShowIcon = showIcon;
    state.m_DisplayFlags = flags;
    state.m_Temperature = celsius;
    state.m_bPrecise = bPrecise;
    state.m_Rpm = rpm;
    return state;
}

const QString kDegree = QString(QChar(0x00B0));

// A 16 x 16 square icon, fully opaque.
QIcon squareIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

// Columns [x0, x1) that hold any visible pixel.
bool inkIn(const QImage& image, int x0, int x1)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = x0; x < x1 && x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 40) {
                return true;
            }
        }
    }
    return false;
}

// The rows [top, bottom] that hold text ink right of column x0.
QPair<int, int> inkRows(const QImage& image, int x0)
{
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = x0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 40) {
                if (top < 0) {
                    top = y;
                }
                bottom = y;
                break;
            }
        }
    }
    return qMakePair(top, bottom);
}
} // namespace

class tst_StatusItem : public QObject
{
    Q_OBJECT

private slots:
    void width_data();
    void width();
    void text_data();
    void text();
    void layout_data();
    void layout();
    void clicks_data();
    void clicks();
    void geometry_data();
    void geometry();
    void picture_data();
    void picture();
    void twoLinesCentred();
    void highlightedWhileMenuOpen();
};

void tst_StatusItem::width_data()
{
    QTest::addColumn<int>("showIcon");
    QTest::addColumn<int>("flags");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("precise");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<int>("width");

    QTest::newRow("icon, 45.4 C") << 1 << 1 << 45.4 << false << false << 54;
    QTest::newRow("icon, 45.4 C precise") << 1 << 1 << 45.4 << true << false << 64;
    QTest::newRow("icon, 40 C shown as 104 F") << 1 << 1 << 40.0 << false << true << 60;
    QTest::newRow("icon, 40 C shown as 104.0 F") << 1 << 1 << 40.0 << true << true << 68;
    QTest::newRow("icon, 36 C shown as 96.8 F") << 1 << 1 << 36.0 << true << true << 62;
    QTest::newRow("no icon, nothing") << 0 << 0 << 45.4 << false << false << 6;
    QTest::newRow("icon, nothing") << 1 << 0 << 45.4 << false << false << 26;
    QTest::newRow("no icon, 45.4 C") << 0 << 1 << 45.4 << false << false << 34;
    QTest::newRow("icon, both") << 1 << 3 << 45.4 << false << false << 69;
    QTest::newRow("no icon, both") << 0 << 3 << 120.0 << true << true << 49;
    QTest::newRow("icon, speed") << 1 << 2 << 45.4 << false << false << 76;
    QTest::newRow("no icon, speed") << 0 << 2 << 45.4 << false << false << 56;
    // The width follows the displayed value, rounded before it is compared.
    QTest::newRow("99.5 C rounds to 100") << 1 << 1 << 99.5 << false << false << 60;
    QTest::newRow("99.5 C precise stays below 100") << 1 << 1 << 99.5 << true << false << 64;
    QTest::newRow("37.5 C rounds to 38, 100.4 F") << 1 << 1 << 37.5 << false << true << 60;
    QTest::newRow("37.4 C rounds to 37, 98.6 F") << 1 << 1 << 37.4 << false << true << 54;
    QTest::newRow("icon option below zero counts as off") << -1 << 0 << 0.0 << false << false << 6;
    QTest::newRow("unknown flags add nothing") << 1 << 4 << 45.4 << false << false << 26;
}

void tst_StatusItem::width()
{
    QFETCH(int, showIcon);
    QFETCH(int, flags);
    QFETCH(double, celsius);
    QFETCH(bool, precise);
    QFETCH(bool, fahrenheit);
    QFETCH(int, width);

    QCOMPARE(
        StatusItemHelpers::statusItemLength(stateOf(showIcon, flags, celsius, precise), fahrenheit),
        width);
}

void tst_StatusItem::text_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<bool>("precise");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("fontSize");
    QTest::addColumn<bool>("centred");

    QTest::newRow("45.4 C") << 1 << 45.4 << 0 << false << false << "45" + kDegree + "C" << 11
                            << false;
    QTest::newRow("45.4 C precise")
        << 1 << 45.44 << 0 << true << false << "45.4" + kDegree + "C" << 11 << false;
    // Rounded to 46 first, then converted (114.8), printed without decimals.
    QTest::newRow("45.5 C in F") << 1 << 45.5 << 0 << false << true << "115" + kDegree + "F" << 11
                                 << false;
    QTest::newRow("45.5 C in F precise")
        << 1 << 45.5 << 0 << true << true << "113.9" + kDegree + "F" << 11 << false;
    QTest::newRow("44.5 C rounds up")
        << 1 << 44.5 << 0 << false << false << "45" + kDegree + "C" << 11 << false;
    QTest::newRow("-44.5 C rounds away from zero")
        << 1 << -44.5 << 0 << false << false << "-45" + kDegree + "C" << 11 << false;
    QTest::newRow("speed") << 2 << 45.4 << 1234 << false << false << "1234rpm" << 11 << false;
    QTest::newRow("speed zero") << 2 << 45.4 << 0 << true << true << "0rpm" << 11 << false;
    QTest::newRow("both: leading space, break, small centred")
        << 3 << 45.4 << 2000 << false << false << " 45" + kDegree + "C\n2000rpm" << 9 << true;
    QTest::newRow("both precise in F")
        << 3 << 45.5 << 800 << true << true << " 113.9" + kDegree + "F\n800rpm" << 9 << true;
    QTest::newRow("nothing") << 0 << 45.4 << 2000 << false << false << QString() << 0 << false;
}

void tst_StatusItem::text()
{
    QFETCH(int, flags);
    QFETCH(double, celsius);
    QFETCH(int, rpm);
    QFETCH(bool, precise);
    QFETCH(bool, fahrenheit);
    QFETCH(QString, text);
    QFETCH(int, fontSize);
    QFETCH(bool, centred);

    const StatusItemHelpers::StatusItemText result =
        StatusItemHelpers::statusItemText(stateOf(1, flags, celsius, precise, rpm), fahrenheit);
    QCOMPARE(result.text, text);
    QCOMPARE(result.nFontSize, fontSize);
    QCOMPARE(result.bCentred, centred);
    QCOMPARE(result.nLines, text.isEmpty() ? 0 : text.count(QLatin1Char('\n')) + 1);
}

void tst_StatusItem::layout_data()
{
    QTest::addColumn<int>("showIcon");
    QTest::addColumn<int>("iconSize");
    QTest::addColumn<int>("x");

    QTest::newRow("icon 16") << 1 << 16 << 24;
    QTest::newRow("icon 18") << 1 << 18 << 26;
    QTest::newRow("no icon") << 0 << 16 << 4;
}

void tst_StatusItem::layout()
{
    QFETCH(int, showIcon);
    QFETCH(int, iconSize);
    QFETCH(int, x);

    QCOMPARE(StatusItemHelpers::textX(stateOf(showIcon, 1, 0, false), iconSize), x);
    QCOMPARE(StatusItemHelpers::textBottom(1), 4);
    QCOMPARE(StatusItemHelpers::textBottom(2), 0);
    QCOMPARE(StatusItemPaintHelpers::iconSize(QIcon(), 22), 18);
    QCOMPARE(StatusItemPaintHelpers::iconSize(squareIcon(), 22), 16);
}

void tst_StatusItem::clicks_data()
{
    QTest::addColumn<int>("toolkitReason");
    QTest::addColumn<int>("reported");
    QTest::addColumn<bool>("opensMenu");
    QTest::addColumn<bool>("closesMenu");

    QTest::newRow("left click") << 3 << 3 << true << false;
    QTest::newRow("right click reads as a left one") << 1 << 3 << true << false;
    QTest::newRow("double click keeps the menu shut") << 2 << 2 << false << true;
    QTest::newRow("middle click") << 4 << 4 << true << false;
    QTest::newRow("unknown") << 0 << 0 << false << false;
    QTest::newRow("out of range") << 17 << 0 << false << false;
}

void tst_StatusItem::clicks()
{
    QFETCH(int, toolkitReason);
    QFETCH(int, reported);
    QFETCH(bool, opensMenu);
    QFETCH(bool, closesMenu);

    const StatusItemHelpers::ClickAction action = StatusItemHelpers::clickAction(toolkitReason);
    QCOMPARE(action.nReason, reported);
    QCOMPARE(action.bOpenMenu, opensMenu);
    QCOMPARE(action.bCloseMenu, closesMenu);
}

void tst_StatusItem::geometry_data()
{
    QTest::addColumn<QRectF>("frame"); // bottom-left origin
    QTest::addColumn<double>("screenHeight");
    QTest::addColumn<QRect>("rect");

    QTest::newRow("item at the top of the bar")
        << QRectF(1200, 878, 54, 22) << 900.0 << QRect(1200, 0, 54, 22);
    QTest::newRow("halves round upwards")
        << QRectF(10.5, 877.5, 53.5, 21.5) << 900.0 << QRect(11, 1, 54, 22);
    QTest::newRow("negative halves round upwards too")
        << QRectF(-10.5, 880.5, 20.4, 22) << 900.0 << QRect(-10, -2, 20, 22);
    QTest::newRow("second screen above")
        << QRectF(0, 1200, 30, 22) << 1080.0 << QRect(0, -142, 30, 22);
}

void tst_StatusItem::geometry()
{
    QFETCH(QRectF, frame);
    QFETCH(double, screenHeight);
    QFETCH(QRect, rect);

    QCOMPARE(StatusItemHelpers::toolkitGeometry(frame.x(), frame.y(), frame.width(), frame.height(),
                                                screenHeight),
             rect);
}

void tst_StatusItem::picture_data()
{
    QTest::addColumn<int>("showIcon");
    QTest::addColumn<int>("flags");
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("iconInk");
    QTest::addColumn<bool>("textInk");
    QTest::addColumn<int>("textX");

    QTest::newRow("icon only") << 1 << 0 << 1.0 << 26 << true << false << 24;
    QTest::newRow("icon and temperature") << 1 << 1 << 1.0 << 54 << true << true << 24;
    QTest::newRow("icon and speed") << 1 << 2 << 1.0 << 76 << true << true << 24;
    QTest::newRow("icon and both") << 1 << 3 << 1.0 << 69 << true << true << 24;
    QTest::newRow("temperature without icon") << 0 << 1 << 1.0 << 34 << false << true << 4;
    QTest::newRow("both without icon") << 0 << 3 << 1.0 << 49 << false << true << 4;
    QTest::newRow("nothing at all") << 0 << 0 << 1.0 << 6 << false << false << 4;
    QTest::newRow("double resolution") << 1 << 3 << 2.0 << 69 << true << true << 24;
}

void tst_StatusItem::picture()
{
    QFETCH(int, showIcon);
    QFETCH(int, flags);
    QFETCH(double, ratio);
    QFETCH(int, width);
    QFETCH(bool, iconInk);
    QFETCH(bool, textInk);
    QFETCH(int, textX);

    StatusItemPaintHelpers::Options options;
    options.dDevicePixelRatio = ratio;
    const QImage image = StatusItemPaintHelpers::render(stateOf(showIcon, flags, 45.4, false, 1234),
                                                        false, squareIcon(), options);
    QCOMPARE(image.size(), QSize(width, StatusItemHelpers::kMenuBarHeight) * ratio);
    // The icon sits four points in, one point down from the centre of the bar.
    const int px = qRound(ratio);
    QCOMPARE(inkIn(image, 0, 4 * px), false);
    if (iconInk) {
        const QPair<int, int> rows = inkRows(image.copy(4 * px, 0, 16 * px, image.height()), 0);
        QCOMPARE(rows.first, 4 * px);
        QCOMPARE(rows.second, 20 * px - 1);
        QCOMPARE(inkIn(image, 20 * px, textX * px), false);
    }
    QCOMPARE(inkIn(image, textX * px, image.width()), textInk);
    if (!iconInk) {
        // Nothing left of the text's start when there is no icon.
        QCOMPARE(inkIn(image, 0, textX * px), false);
    }
}

void tst_StatusItem::twoLinesCentred()
{
    // Both lines of the two-line form fill the bar from top to bottom; the one-line form sits
    // four points above the bottom.
    const QImage both =
        StatusItemPaintHelpers::render(stateOf(0, 3, 45.4, false, 1234), false, QIcon());
    const QPair<int, int> bothRows = inkRows(both, 0);
    QVERIFY2(bothRows.first <= 5, qPrintable(QString::number(bothRows.first)));
    QVERIFY2(bothRows.second >= 17, qPrintable(QString::number(bothRows.second)));

    const QImage one = StatusItemPaintHelpers::render(stateOf(0, 1, 45.4, false), false, QIcon());
    const QPair<int, int> oneRows = inkRows(one, 0);
    QVERIFY2(oneRows.first > 4, qPrintable(QString::number(oneRows.first)));
    QVERIFY2(oneRows.second <= 22 - 4, qPrintable(QString::number(oneRows.second)));

    // The shorter temperature line is centred over the speed line: ink of its first row starts
    // further right than the speed line's.
    auto firstInkColumn = [](const QImage& image, int y0, int y1) {
        for (int x = 0; x < image.width(); ++x) {
            for (int y = y0; y < y1; ++y) {
                if (qAlpha(image.pixel(x, y)) > 40) {
                    return x;
                }
            }
        }
        return -1;
    };
    const int topLineX = firstInkColumn(both, 0, 10);
    const int bottomLineX = firstInkColumn(both, 12, 22);
    QVERIFY2(topLineX > bottomLineX + 4,
             qPrintable(QStringLiteral("%1 vs %2").arg(topLineX).arg(bottomLineX)));
}

void tst_StatusItem::highlightedWhileMenuOpen()
{
    StatusItemPaintHelpers::Options options;
    options.bHighlighted = true;
    options.highlightColor = QColor(0, 0, 255);
    options.highlightedTextColor = QColor(255, 255, 255);
    const QImage image =
        StatusItemPaintHelpers::render(stateOf(0, 2, 0, false, 1234), false, QIcon(), options);
    QCOMPARE(QColor(image.pixel(1, 1)), QColor(0, 0, 255));
    bool bWhiteText = false;
    for (int y = 0; y < image.height() && !bWhiteText; ++y) {
        for (int x = 4; x < image.width(); ++x) {
            if (QColor(image.pixel(x, y)) == QColor(255, 255, 255)) {
                bWhiteText = true;
                break;
            }
        }
    }
    QVERIFY(bWhiteText);
}

QTEST_MAIN(tst_StatusItem)
#include "tst_statusitem.moc"
