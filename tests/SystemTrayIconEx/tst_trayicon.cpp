#include "SystemTrayIconEx/QMyTrayIcon.h"
#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"
#include "SystemTrayIconEx/StatusItemHelpers.h"
#include "SystemTrayIconEx/qsystemtrayicon.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "smc/QSmcControlMac.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/QSimMachine.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

namespace {
// Two fans, Left at 1200 and Right at 1300 RPM, and two sensors held at fixed readings; the
// clock never moves, so nothing drifts.
QVector<QSimKey> trayMachineKeys()
{
    using namespace SimMachineUtils;
    QVector<QSimKey> keys = {numberKey("FNum", "ui8 ", 2, 1), numberKey("FS! ", "ui16", 0, 2),
                             numberKey("TA0P", "sp78", 24, 2), numberKey("TC0P", "sp78", 45, 2)};
    keys << fanKeys(0, "Left", 1200, 1000, 6000) << fanKeys(1, "Right", 1300, 1000, 6000);
    return keys;
}

struct SimMachine : QSimMachine
{
    SimMachine() : QSimMachine(trayMachineKeys())
    {
        sim.setHotSensor("TC0P", 45.25); // exact in the sensor's fixed-point type
        sim.setHotSensor("TA0P", 24.0);
        start();
    }
};

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

QQtSystemTrayIconEx* qtLayerOf(const QSystemTrayIconEx* pItem)
{
    return qobject_cast<QQtSystemTrayIconEx*>(pItem->platformTrayIcon());
}

const int kNotSet = -99; // leave the integer setting out
} // namespace

class tst_TrayIcon : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void choices_data();
    void choices();
    void iconBeforeFirstUpdate_data();
    void iconBeforeFirstUpdate();
    void withoutSettingsStore();
    void handEditedValues_data();
    void handEditedValues();
    void toolTipListsEveryFan();
    void valuesFollowTheMachine();
    void clicks_data();
    void clicks();
    void hiddenItemKeepsState();
    void onlyTwoSettersRedraw();

private:
    void setInt(const char* key, int value);

    QScopedPointer<QTemporaryDir> m_pDir;
    QScopedPointer<QPreferences> m_pPrefs;
    QScopedPointer<SimMachine> m_pMachine;
    QScopedPointer<QWidget> m_pWindow;
};

void tst_TrayIcon::init()
{
    m_pDir.reset(new QTemporaryDir);
    m_pPrefs.reset(new QPreferences(m_pDir->filePath("thermora.ini")));
    QCoreServices::setPreferences(m_pPrefs.data());
    m_pMachine.reset(new SimMachine);
    m_pWindow.reset(new QWidget);
}

void tst_TrayIcon::cleanup()
{
    m_pWindow.reset();
    m_pMachine.reset();
    QCoreServices::setPreferences(nullptr);
    m_pPrefs.reset();
    m_pDir.reset();
}

void tst_TrayIcon::setInt(const char* key, int value)
{
    if (value != kNotSet) {
        m_pPrefs->setInt(QLatin1String(key), value);
    }
}

void tst_TrayIcon::choices_data()
{
    QTest::addColumn<int>("menubarIcon");
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<int>("trayFan");
    QTest::addColumn<int>("fahrenheit");
    QTest::addColumn<int>("precise");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("showIcon");
    QTest::addColumn<int>("flags");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<bool>("precisePushed");
    QTest::addColumn<int>("width");

    QTest::newRow("colour icon only")
        << 1 << "" << -1 << 0 << 0 << false << 1 << 0 << 0.0 << 0 << false << 26;
    QTest::newRow("black and white icon, sensor")
        << 2 << "TC0P" << -1 << 0 << 0 << true << 1 << 1 << 45.25 << 0 << false << 54;
    QTest::newRow("sensor, precise")
        << 1 << "TC0P" << -1 << 0 << 1 << false << 1 << 1 << 45.25 << 0 << true << 64;
    // 45.25 C is 113.45 F: the wider room, plus the Fahrenheit decimal.
    QTest::newRow("sensor in Fahrenheit, precise")
        << 1 << "TC0P" << -1 << 1 << 1 << false << 1 << 1 << 45.25 << 0 << true << 68;
    QTest::newRow("sensor in Fahrenheit")
        << 1 << "TC0P" << -1 << 1 << 0 << false << 1 << 1 << 45.25 << 0 << false << 60;
    // No icon drawn, but the colour icon is still set.
    QTest::newRow("no icon, second fan")
        << 0 << "" << 1 << 0 << 0 << false << 0 << 2 << 0.0 << 1300 << false << 56;
    QTest::newRow("sensor and fan")
        << 1 << "TA0P" << 0 << 0 << 0 << false << 1 << 3 << 24.0 << 1200 << false << 69;
    QTest::newRow("sensor key no sensor has")
        << 1 << "TZ9Z" << -1 << 0 << 0 << false << 1 << 0 << 0.0 << 0 << false << 26;
    QTest::newRow("sensor keys are case-sensitive")
        << 2 << "tc0p" << -1 << 0 << 0 << true << 1 << 0 << 0.0 << 0 << false << 26;
    QTest::newRow("fan index the controller lacks")
        << 1 << "" << 2 << 0 << 0 << false << 1 << 0 << 0.0 << 0 << false << 26;
    QTest::newRow("negative fan index")
        << 1 << "" << -5 << 0 << 0 << false << 1 << 0 << 0.0 << 0 << false << 26;
    // A missing precision setting reads -1, which is not 0.
    QTest::newRow("precision not set")
        << 1 << "TC0P" << kNotSet << 0 << kNotSet << false << 1 << 1 << 45.25 << 0 << true << 64;
    // A missing icon setting reads -1: the colour icon, drawn.
    QTest::newRow("icon option not set")
        << kNotSet << "" << 0 << 0 << 0 << false << 1 << 2 << 0.0 << 1200 << false << 76;
    QTest::newRow("icon option out of range")
        << 7 << "" << -1 << 0 << 0 << false << 1 << 0 << 0.0 << 0 << false << 26;
}

void tst_TrayIcon::choices()
{
    QFETCH(int, menubarIcon);
    QFETCH(QString, traySensor);
    QFETCH(int, trayFan);
    QFETCH(int, fahrenheit);
    QFETCH(int, precise);
    QFETCH(bool, grey);
    QFETCH(int, showIcon);
    QFETCH(int, flags);
    QFETCH(double, celsius);
    QFETCH(int, rpm);
    QFETCH(bool, precisePushed);
    QFETCH(int, width);

    setInt("menubarIcon", menubarIcon);
    m_pPrefs->setString(QStringLiteral("traySensor"), traySensor);
    setInt("trayFan", trayFan);
    setInt("Fahrenheit", fahrenheit);
    setInt("PreciseTemperature", precise);

    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    const QSystemTrayIconEx* pItem = tray.systemTrayIcon();
    QVERIFY(pItem->isVisible());
    QCOMPARE(pItem->parent(), m_pWindow.data());

    QCOMPARE(imageOf(pItem->icon()), imageOf(QMyTrayIcon::getTrayIconPic(grey)));
    QVERIFY(imageOf(pItem->icon()) != imageOf(QMyTrayIcon::getTrayIconPic(!grey)));

    const QStatusItemState state = pItem->menuBarState();
    QCOMPARE(state.m_ShowIcon, showIcon);
    QCOMPARE(state.m_DisplayFlags, flags);
    QCOMPARE(state.m_bPrecise, precisePushed);
    if (flags & StatusItemHelpers::DisplayTemperature) {
        QCOMPARE(state.m_Temperature, celsius);
    }
    if (flags & StatusItemHelpers::DisplayRpm) {
        QCOMPARE(state.m_Rpm, rpm);
    }
    // The picture the tray shows has the item's width.
    const QQtSystemTrayIconEx* pQtLayer = qtLayerOf(pItem);
    QVERIFY(pQtLayer);
    QCOMPARE(pQtLayer->renderedImage().width(), width);
    QCOMPARE(pQtLayer->renderedImage().height(), StatusItemHelpers::kMenuBarHeight);
}

void tst_TrayIcon::iconBeforeFirstUpdate_data()
{
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<int>("menubarIcon");
    QTest::addColumn<bool>("iconSet");
    QTest::addColumn<bool>("grey");

    QTest::newRow("no sensor chosen") << "" << 1 << true << false;
    QTest::newRow("no sensor chosen, black and white") << "" << 2 << true << true;
    QTest::newRow("chosen sensor missing") << "TZ9Z" << 2 << true << true;
    // The first update sets the icon together with the temperature.
    QTest::newRow("chosen sensor exists") << "TC0P" << 1 << false << false;
}

void tst_TrayIcon::iconBeforeFirstUpdate()
{
    QFETCH(QString, traySensor);
    QFETCH(int, menubarIcon);
    QFETCH(bool, iconSet);
    QFETCH(bool, grey);

    m_pPrefs->setString(QStringLiteral("traySensor"), traySensor);
    m_pPrefs->setInt(QStringLiteral("menubarIcon"), menubarIcon);
    // Made visible before any icon is known.
    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    QVERIFY(tray.systemTrayIcon()->isVisible());
    QCOMPARE(!tray.systemTrayIcon()->icon().isNull(), iconSet);
    if (iconSet) {
        QCOMPARE(imageOf(tray.systemTrayIcon()->icon()),
                 imageOf(QMyTrayIcon::getTrayIconPic(grey)));
    }
    QCOMPARE(tray.systemTrayIcon()->menuBarState().m_DisplayFlags, 0);
}

void tst_TrayIcon::withoutSettingsStore()
{
    QCoreServices::setPreferences(nullptr);
    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    const QStatusItemState state = tray.systemTrayIcon()->menuBarState();
    QCOMPARE(state.m_ShowIcon, 1);
    QCOMPARE(state.m_DisplayFlags, 0);
    QCOMPARE(imageOf(tray.systemTrayIcon()->icon()), imageOf(QMyTrayIcon::getTrayIconPic(false)));
}

void tst_TrayIcon::handEditedValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("showIcon");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("precise");

    // A value that is not a number reads as not set.
    QTest::newRow("fan index not a number") << "trayFan"
                                            << "first" << 1 << 1 << false;
    QTest::newRow("fan index with junk") << "trayFan"
                                         << "1x" << 1 << 1 << false;
    QTest::newRow("icon option not a number") << "menubarIcon"
                                              << "grey" << 1 << 3 << false;
    QTest::newRow("precision not a number") << "PreciseTemperature"
                                            << "yes" << 1 << 3 << true;
    // Sensor keys are compared whole: padding makes another key.
    QTest::newRow("sensor key padded") << "traySensor"
                                       << " TC0P" << 1 << 2 << false;
}

void tst_TrayIcon::handEditedValues()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, showIcon);
    QFETCH(int, flags);
    QFETCH(bool, precise);

    m_pPrefs->setString(QStringLiteral("traySensor"), QStringLiteral("TC0P"));
    m_pPrefs->setInt(QStringLiteral("trayFan"), 0);
    m_pPrefs->setInt(QStringLiteral("menubarIcon"), 1);
    m_pPrefs->setInt(QStringLiteral("PreciseTemperature"), 0);
    m_pPrefs->setString(key, value);

    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    const QStatusItemState state = tray.systemTrayIcon()->menuBarState();
    QCOMPARE(state.m_ShowIcon, showIcon);
    QCOMPARE(state.m_DisplayFlags, flags);
    QCOMPARE(state.m_bPrecise, precise);
    // The stored text is left as the user wrote it.
    QCOMPARE(m_pPrefs->getString(key), value);
}

void tst_TrayIcon::toolTipListsEveryFan()
{
    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    QCOMPARE(tray.systemTrayIcon()->toolTip(), QStringLiteral("Left - 1200 RPM\nRight - 1300 RPM"));

    // Without a controller or before the fans are known there is nothing to list.
    QMyTrayIcon empty(nullptr, m_pWindow.data());
    empty.update();
    QCOMPARE(empty.systemTrayIcon()->toolTip(), QString());
    QCOMPARE(empty.systemTrayIcon()->menuBarState().m_DisplayFlags, 0);
}

void tst_TrayIcon::valuesFollowTheMachine()
{
    m_pPrefs->setString(QStringLiteral("traySensor"), QStringLiteral("TC0P"));
    m_pPrefs->setInt(QStringLiteral("trayFan"), 0);
    m_pPrefs->setInt(QStringLiteral("PreciseTemperature"), 0);
    m_pPrefs->setInt(QStringLiteral("menubarIcon"), 1);
    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    const QQtSystemTrayIconEx* pQtLayer = qtLayerOf(tray.systemTrayIcon());
    const QImage before = pQtLayer->renderedImage();

    m_pMachine->sim.setHotSensor("TC0P", 71.5);
    QByteArray speed;
    SimDumpUtils::encodeNumber("fpe2", 2500, speed = QByteArray(2, '\0'));
    QVERIFY(m_pMachine->sim.setValue("F0Ac", speed));
    m_pMachine->pController->UpdateTempSensor(m_pMachine->pController->sensorByKey("TC0P"));
    m_pMachine->pController->UpdateFanInfo(0, true);
    tray.update();

    const QStatusItemState state = tray.systemTrayIcon()->menuBarState();
    QCOMPARE(state.m_Temperature, 71.5);
    QCOMPARE(state.m_Rpm, 2500);
    QCOMPARE(tray.systemTrayIcon()->toolTip(), QStringLiteral("Left - 2500 RPM\nRight - 1300 RPM"));
    QVERIFY(pQtLayer->renderedImage() != before);

    // The choice changes: the next update shows only the fan, and the item narrows.
    m_pPrefs->setString(QStringLiteral("traySensor"), QString());
    tray.update();
    QCOMPARE(tray.systemTrayIcon()->menuBarState().m_DisplayFlags,
             int(StatusItemHelpers::DisplayRpm));
    QCOMPARE(pQtLayer->renderedImage().width(), 76);
}

void tst_TrayIcon::clicks_data()
{
    QTest::addColumn<int>("toolkitReason");
    QTest::addColumn<int>("reported");
    QTest::addColumn<bool>("menuOpen");

    QTest::newRow("left click opens the menu")
        << int(QSystemTrayIcon::Trigger) << int(QSystemTrayIconEx::Trigger) << true;
    QTest::newRow("right click is a left click")
        << int(QSystemTrayIcon::Context) << int(QSystemTrayIconEx::Trigger) << true;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick)
                                  << int(QSystemTrayIconEx::MiddleClick) << true;
    QTest::newRow("double click leaves the menu shut")
        << int(QSystemTrayIcon::DoubleClick) << int(QSystemTrayIconEx::DoubleClick) << false;
}

void tst_TrayIcon::clicks()
{
    QFETCH(int, toolkitReason);
    QFETCH(int, reported);
    QFETCH(bool, menuOpen);

    m_pPrefs->setInt(QStringLiteral("trayFan"), 0);
    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    QSystemTrayIconEx* pItem = tray.systemTrayIcon();
    QMenu* pMenu = new QMenu(m_pWindow.data());
    pMenu->addAction(QStringLiteral("Show"));
    pItem->setContextMenu(pMenu);
    QSignalSpy spy(pItem, &QSystemTrayIconEx::activated);
    QQtSystemTrayIconEx* pQtLayer = qtLayerOf(pItem);
    const QImage idle = pQtLayer->renderedImage();

    pQtLayer->OnActivated(static_cast<QSystemTrayIcon::ActivationReason>(toolkitReason));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(int(spy.at(0).at(0).value<QSystemTrayIconEx::ActivationReason>()), reported);
    QCOMPARE(pMenu->isVisible(), menuOpen);
    QCOMPARE(pQtLayer->isMenuVisible(), menuOpen);
    // Highlighted while the menu is open, back to normal when it closes.
    QCOMPARE(pQtLayer->renderedImage() != idle, menuOpen);
    pMenu->hide();
    QCOMPARE(pQtLayer->isMenuVisible(), false);
    QCOMPARE(pQtLayer->renderedImage(), idle);

    // A double click closes the menu its first click opened.
    pQtLayer->OnActivated(QSystemTrayIcon::Trigger);
    QVERIFY(pMenu->isVisible());
    pQtLayer->OnActivated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!pMenu->isVisible());

    // A menu that is deleted is forgotten; clicks still report.
    delete pMenu;
    QVERIFY(!pItem->contextMenu());
    pQtLayer->OnActivated(QSystemTrayIcon::Trigger);
    QCOMPARE(spy.count(), 4);
}

void tst_TrayIcon::hiddenItemKeepsState()
{
    m_pPrefs->setString(QStringLiteral("traySensor"), QStringLiteral("TC0P"));
    QMyTrayIcon tray(m_pMachine->pController.data(), m_pWindow.data());
    tray.update();
    QSystemTrayIconEx* pItem = tray.systemTrayIcon();
    QSignalSpy spy(pItem, &QSystemTrayIconEx::activated);

    pItem->setVisible(false);
    QVERIFY(!pItem->isVisible());
    QCOMPARE(pItem->geometry(), QRect());
    // A hidden item reports no clicks.
    qtLayerOf(pItem)->OnActivated(QSystemTrayIcon::Trigger);
    QCOMPARE(spy.count(), 0);
    // Values still arrive and are shown once the item is back.
    m_pPrefs->setInt(QStringLiteral("trayFan"), 1);
    tray.update();
    pItem->setVisible(true);
    QCOMPARE(pItem->menuBarState().m_DisplayFlags, 3);
    QCOMPARE(qtLayerOf(pItem)->renderedImage().width(), 69);
    qtLayerOf(pItem)->OnActivated(QSystemTrayIcon::Trigger);
    QCOMPARE(spy.count(), 1);
}

void tst_TrayIcon::onlyTwoSettersRedraw()
{
    QSystemTrayIconEx item(QMyTrayIcon::getTrayIconPic(false));
    item.setVisible(true);
    item.setMacTrayIcon(StatusItemHelpers::DisplayRpm, false);
    QQtSystemTrayIconEx* pQtLayer = qtLayerOf(&item);
    const QImage first = pQtLayer->renderedImage();
    QCOMPARE(first.width(), 76);

    // Values alone are stored but not drawn...
    item.setMacRPM(4321);
    item.setMacTemp(99.0);
    item.setShowMacIcon(0);
    QCOMPARE(pQtLayer->renderedImage(), first);
    QCOMPARE(item.menuBarState().m_Rpm, 4321);
    // ...until the display flags arrive, or the icon.
    item.setMacTrayIcon(StatusItemHelpers::DisplayRpm, false);
    const QImage second = pQtLayer->renderedImage();
    QCOMPARE(second.width(), 56);
    item.setShowMacIcon(1);
    item.setIcon(QMyTrayIcon::getTrayIconPic(true));
    QCOMPARE(pQtLayer->renderedImage().width(), 76);
    QVERIFY(pQtLayer->renderedImage() != first);
}

QTEST_MAIN(tst_TrayIcon)
#include "tst_trayicon.moc"
