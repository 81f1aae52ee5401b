#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"
#include "SystemTrayIconEx/StatusItemPaintHelpers.h"
#include "SystemTrayIconEx/qsystemtrayicon.h"
#include "core/FanInfo.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "support/QSimMachine.h"

#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Icon (above 0: drawn), precise, display flags (1 temperature, 2 speed), RPM, Celsius.
QStatusItemState stateOf(int showIcon, int flags, double celsius, bool bPrecise)
{
    return QStatusItemState{showIcon, bPrecise, flags, 1234, celsius};
}

// The smallest rectangle around the visible ink.
QRect inkBox(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 40)
                box |= QRect(x, y, 1, 1);
    return box;
}

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Display choices in the settings (-9: left out) and what the item then shows.
struct ChoiceRow
{
    int menubarIcon;
    QString traySensor;
    int trayFan, fahrenheit, precise;
    bool grey;
    int showIcon, flags;
    bool precisePushed;
    int width;
};
} // namespace

Q_DECLARE_METATYPE(ChoiceRow)
Q_DECLARE_METATYPE(QStatusItemState)

class tst_TrayIcon : public QObject
{
    Q_OBJECT

private slots:
    void widthAndText_data();
    void widthAndText();
    void geometry();
    void choices_data();
    void choices();
    void clicksAndRedraws();
};

void tst_TrayIcon::widthAndText_data()
{
    QTest::addColumn<QStatusItemState>("state");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    const QString c = "\u00b0C";
    const QString f = "\u00b0F";
    QTest::newRow("icon, 45.4 C") << stateOf(1, 1, 45.4, false) << false << 54 << "45" + c;
    QTest::newRow("precise") << stateOf(1, 1, 45.44, true) << false << 64 << "45.4" + c;
    QTest::newRow("45.5 C rounds to 46 before 114.8 F")
        << stateOf(1, 1, 45.5, false) << true << 60 << "115" + f;
    QTest::newRow("40 C is 104 F") << stateOf(1, 1, 40.0, false) << true << 60 << "104" + f;
    QTest::newRow("99.5 C rounds to 100") << stateOf(1, 1, 99.5, false) << false << 60 << "100" + c;
    QTest::newRow("-44.5 C away from zero")
        << stateOf(0, 1, -44.5, false) << false << 34 << "-45" + c;
    QTest::newRow("speed") << stateOf(1, 2, 45.4, false) << false << 76 << "1234rpm";
    QTest::newRow("both") << stateOf(1, 3, 45.4, false) << false << 69 << " 45" + c + "\n1234rpm";
    QTest::newRow("both, no icon")
        << stateOf(0, 3, 45.5, true) << true << 49 << " 113.9" + f + "\n1234rpm";
    QTest::newRow("nothing, icon option below zero")
        << stateOf(-1, 0, 45.4, false) << false << 6 << "";
}

void tst_TrayIcon::widthAndText()
{
    QFETCH(QStatusItemState, state);
    QFETCH(bool, fahrenheit);
    QFETCH(int, width);
    QFETCH(QString, text);
    QCOMPARE(StatusItemHelpers::statusItemLength(state, fahrenheit), width);
    const StatusItemHelpers::StatusItemText result =
        StatusItemHelpers::statusItemText(state, fahrenheit);
    QCOMPARE(result.text, text);
    const int nLines = text.isEmpty() ? 0 : text.count('\n') + 1;
    QCOMPARE(result.nLines, nLines);
    QCOMPARE(result.nFontSize, nLines == 2 ? 9 : nLines * 11);
    QCOMPARE(result.bCentred, nLines == 2);
    // The picture: as wide as the item; a 16-point icon 4 points in, one below the bar's
    // centre, then nothing up to the text, 8 points on (or 4 points in without the icon).
    QPixmap square(16, 16);
    square.fill(Qt::red);
    const QImage image = StatusItemPaintHelpers::render(state, fahrenheit, QIcon(square));
    QCOMPARE(image.size(), QSize(width, 22));
    if (state.m_ShowIcon < 0)
        return; // drawn, but given no room
    const int textX = state.m_ShowIcon > 0 ? 24 : 4;
    QCOMPARE(inkBox(image.copy(0, 0, textX, 22)),
             state.m_ShowIcon > 0 ? QRect(4, 4, 16, 16) : QRect());
    QCOMPARE(inkBox(image.copy(textX, 0, width, 22)).isEmpty(), text.isEmpty());
}

void tst_TrayIcon::geometry()
{
    // Bottom-left origin in points to a top-left origin, halves rounded upwards.
    QCOMPARE(StatusItemHelpers::toolkitGeometry(1200, 878, 54, 22, 900), QRect(1200, 0, 54, 22));
    QCOMPARE(StatusItemHelpers::toolkitGeometry(10.5, 877.5, 53.5, 21.5, 900),
             QRect(11, 1, 54, 22));
    QCOMPARE(StatusItemHelpers::toolkitGeometry(-10.5, 880.5, 20.4, 22, 900),
             QRect(-10, -2, 20, 22));
}

void tst_TrayIcon::choices_data()
{
    QTest::addColumn<ChoiceRow>("row");
    // Left at 1200 RPM, Right at 1300; TC0P reads 45.25, TA0P 24.
    QTest::newRow("colour icon only") << ChoiceRow{1, "", -1, 0, 0, false, 1, 0, false, 26};
    QTest::newRow("grey icon, sensor") << ChoiceRow{2, "TC0P", -1, 0, 0, true, 1, 1, false, 54};
    QTest::newRow("sensor, precise") << ChoiceRow{1, "TC0P", -1, 0, 1, false, 1, 1, true, 64};
    QTest::newRow("Fahrenheit") << ChoiceRow{1, "TC0P", -1, 1, 0, false, 1, 1, false, 60};
    QTest::newRow("no icon, second fan") << ChoiceRow{0, "", 1, 0, 0, false, 0, 2, false, 56};
    QTest::newRow("sensor and fan") << ChoiceRow{1, "TA0P", 0, 0, 0, false, 1, 3, false, 69};
    QTest::newRow("unknown sensor key") << ChoiceRow{1, "TZ9Z", -1, 0, 0, false, 1, 0, false, 26};
    QTest::newRow("precision not set") << ChoiceRow{1, "TC0P", -9, 0, -9, false, 1, 1, true, 64};
    QTest::newRow("icon option not set") << ChoiceRow{-9, "", 0, 0, 0, false, 1, 2, false, 76};
}

void tst_TrayIcon::choices()
{
    QFETCH(ChoiceRow, row);
    using namespace SimMachineUtils;
    QSimMachine machine(
        QVector<QSimKey>{numberKey("FNum", "ui8 ", 2, 1), numberKey("FS! ", "ui16", 0, 2),
                         numberKey("TA0P", "sp78", 24, 2), numberKey("TC0P", "sp78", 45.25, 2)} +
        fanKeys(0, "Left", 1200, 1000, 6000) + fanKeys(1, "Right", 1300, 1000, 6000));
    machine.start();
    QTemporaryDir dir;
    QPreferences prefs(dir.filePath("thermora.ini"));
    QCoreServices::setPreferences(&prefs);
    const auto noPrefs = qScopeGuard([] { QCoreServices::setPreferences(nullptr); });
    const char* keys[] = {"menubarIcon", "trayFan", "Fahrenheit", "PreciseTemperature"};
    const int values[] = {row.menubarIcon, row.trayFan, row.fahrenheit, row.precise};
    for (int i = 0; i < 4; ++i)
        if (values[i] != -9)
            prefs.setInt(keys[i], values[i]);
    prefs.setString("traySensor", row.traySensor);

    QWidget window;
    QMyTrayIcon tray(machine.pController.data(), &window);
    QSystemTrayIconEx* pItem = tray.systemTrayIcon();
    QVERIFY(pItem->isVisible());
    QCOMPARE(pItem->parent(), &window);
    // Before the first update: the icon only when no known sensor is chosen.
    const bool bSensorKnown = row.traySensor == "TC0P" || row.traySensor == "TA0P";
    QCOMPARE(pItem->icon().isNull(), bSensorKnown);
    QCOMPARE(pItem->menuBarState().m_DisplayFlags, 0);

    tray.update();
    QCOMPARE(imageOf(pItem->icon()), imageOf(QMyTrayIcon::getTrayIconPic(row.grey)));
    QVERIFY(imageOf(pItem->icon()) != imageOf(QMyTrayIcon::getTrayIconPic(!row.grey)));
    const QStatusItemState state = pItem->menuBarState();
    QCOMPARE(state.m_ShowIcon, row.showIcon);
    QCOMPARE(state.m_DisplayFlags, row.flags);
    QCOMPARE(state.m_bPrecise, row.precisePushed);
    if (row.flags & 1)
        QCOMPARE(state.m_Temperature, row.traySensor == "TC0P" ? 45.25 : 24.0);
    if (row.flags & 2)
        QCOMPARE(state.m_Rpm, row.trayFan == 0 ? 1200 : 1300);
    QCOMPARE(qobject_cast<QQtSystemTrayIconEx*>(pItem->platformTrayIcon())->renderedImage().width(),
             row.width);
    QCOMPARE(pItem->toolTip(), QStringLiteral("Left - 1200 RPM\nRight - 1300 RPM"));
    machine.pController->GetFan(1)->updateRpmValues(-1, 0, 0); // not read yet
    tray.update();
    QCOMPARE(pItem->toolTip(), QStringLiteral("Left - 1200 RPM\nRight - \u2014 RPM"));
}

void tst_TrayIcon::clicksAndRedraws()
{
    QWidget window;
    QSystemTrayIconEx item(QMyTrayIcon::getTrayIconPic(false), &window);
    QMenu* pMenu = new QMenu(&window);
    pMenu->addAction(QStringLiteral("Show"));
    item.setContextMenu(pMenu);
    QSignalSpy spy(&item, &QSystemTrayIconEx::activated);
    QQtSystemTrayIconEx* pLayer = qobject_cast<QQtSystemTrayIconEx*>(item.platformTrayIcon());
    item.setVisible(true);
    const QImage idle = pLayer->renderedImage();
    // Toolkit reason, reason reported, menu open (and item highlighted) afterwards: a double
    // click closes the menu its first click opened; a right click is a left one.
    const int rows[][3] = {{QSystemTrayIcon::Trigger, 3, 1},
                           {QSystemTrayIcon::DoubleClick, 2, 0},
                           {QSystemTrayIcon::Context, 3, 1},
                           {QSystemTrayIcon::Unknown, 0, 1},
                           {QSystemTrayIcon::MiddleClick, 4, 1}};
    for (const auto& row : rows) {
        pLayer->OnActivated(QSystemTrayIcon::ActivationReason(row[0]));
        QCOMPARE(int(spy.takeLast().at(0).value<QSystemTrayIconEx::ActivationReason>()), row[1]);
        QCOMPARE(pMenu->isVisible(), bool(row[2]));
        QCOMPARE(pLayer->isMenuVisible(), bool(row[2]));
        QCOMPARE(pLayer->renderedImage() != idle, bool(row[2]));
    }
    pMenu->hide();
    QCOMPARE(pLayer->renderedImage(), idle);
    delete pMenu; // forgotten; clicks still report
    pLayer->OnActivated(QSystemTrayIcon::Trigger);
    QCOMPARE(spy.count(), 1);

    // Values alone are stored but not drawn, until the display flags arrive, or the icon.
    item.setMacTrayIcon(StatusItemHelpers::DisplayRpm, false);
    const QImage first = pLayer->renderedImage();
    QCOMPARE(first.width(), 76);
    item.setMacRPM(4321);
    item.setMacTemp(99.0);
    item.setShowMacIcon(0);
    QCOMPARE(pLayer->renderedImage(), first);
    QCOMPARE(item.menuBarState().m_Temperature, 99.0);
    item.setMacTrayIcon(StatusItemHelpers::DisplayRpm, true);
    QCOMPARE(pLayer->renderedImage().width(), 56);
    QCOMPARE(item.menuBarState().m_Rpm, 4321);
    QVERIFY(item.menuBarState().m_bPrecise);
    item.setShowMacIcon(1);
    item.setIcon(QMyTrayIcon::getTrayIconPic(true));
    QCOMPARE(pLayer->renderedImage().width(), 76);
    QVERIFY(pLayer->renderedImage() != first);
}

QTEST_MAIN(tst_TrayIcon)
#include "tst_trayicon.moc"
