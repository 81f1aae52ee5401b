#include "app/AppPlatform.h"
#include "app/Startup.h"
#include "app/XdgAutoStart.h"
#include "app/app.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "support/QMemorySmcControl.h"
#include "ui/MainWindow.h"

#include <QFile>
#include <QLocalSocket>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// Arguments that outlive the application object built on them.
class QArgv
{
public:
    explicit QArgv(const QStringList& arguments)
    {
        m_Storage.push_back("tst_startup");
        for (const QString& argument : arguments)
            m_Storage.push_back(argument.toLocal8Bit());
        for (QByteArray& argument : m_Storage)
            m_Pointers.push_back(argument.data());
        m_Pointers.push_back(nullptr);
        m_nArgc = int(m_Storage.size());
    }
    int& argc() { return m_nArgc; }
    char** argv() { return m_Pointers.data(); }

private:
    std::vector<QByteArray> m_Storage;
    std::vector<char*> m_Pointers;
    int m_nArgc = 0;
};

// An SMC that may refuse to open and tells when the key layer deleted it.
class QStartupSmc : public QMemorySmcControl
{
public:
    QStartupSmc(bool bOpens, bool* pDestroyed) : m_bOpens(bOpens), m_pDestroyed(pDestroyed) {}
    ~QStartupSmc() override { *m_pDestroyed = true; }
    bool Open() override { return m_bOpens; }

private:
    bool m_bOpens;
    bool* m_pDestroyed;
};

QString settingsPath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora")
        .fileName();
}

} // namespace

// Start-up in-process: each case builds and destroys its own application object.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void minimizedRule_data();
    void minimizedRule();
    void run_data();
    void run();
    void readOnlyMode_data();
    void readOnlyMode();
    void settingDefaults_data();
    void settingDefaults();
    void logHeader_data();
    void logHeader();
    void knockRestoresWindow();
    void toggleAutoStart();

private:
    QString m_ProgramPath;
};

void TestStartup::initTestCase()
{
    // The autostart entry names the running executable; learn its path once.
    QArgv args({});
    QCoreApplication app(args.argc(), args.argv());
    m_ProgramPath = QCoreApplication::applicationFilePath();
}

void TestStartup::cleanup()
{
    XdgAutoStartUtils::remove(m_ProgramPath);
    QFile::remove(settingsPath());
    QSmcControl::destroyInstance();
}

void TestStartup::minimizedRule_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("autoStart");
    QTest::addColumn<bool>("minimized");

    const QString program = QStringLiteral("/opt/thermora");
    QTest::newRow("no argument") << QStringList{program} << false << false;
    QTest::newRow("/minimized") << QStringList{program, "/minimized"} << false << true;
    QTest::newRow("capital M") << QStringList{program, "/Minimized"} << false << false;
    QTest::newRow("without slash") << QStringList{program, "minimized"} << false << false;
    QTest::newRow("with blank") << QStringList{program, "/minimized "} << false << false;
    QTest::newRow("and another after") << QStringList{program, "/minimized", "x"} << false << false;
    QTest::newRow("and another before")
        << QStringList{program, "x", "/minimized"} << false << false;
    QTest::newRow("program path only is /minimized") << QStringList{"/minimized"} << false << false;
    QTest::newRow("autostart, no argument") << QStringList{program} << true << true;
    QTest::newRow("autostart, capital M") << QStringList{program, "/Minimized"} << true << true;
    QTest::newRow("autostart, two arguments")
        << QStringList{program, "/minimized", "x"} << true << true;
    QTest::newRow("empty list") << QStringList() << false << false;
}

void TestStartup::minimizedRule()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, autoStart);
    QFETCH(bool, minimized);
    QCOMPARE(StartupUtils::isStartMinimized(arguments, autoStart), minimized);
}

void TestStartup::run_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("autoStart");
    QTest::addColumn<QString>("machine");
    QTest::addColumn<bool>("smcOpens");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("errorTitle");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<bool>("windowShown");

    const QString title = QStringLiteral("Thermora 1.1.8");
    const QString hardware = QLatin1String(StartupUtils::kUnsupportedHardwareText);
    const QString smc = QLatin1String(StartupUtils::kSmcErrorText);
    const QString mac = QStringLiteral("MacPro4,1");

    // Exit code 7 is what the stand-in event loop returns.
    QTest::newRow("plain start") << QStringList() << false << mac << true << 7 << ""
                                 << "" << true;
    QTest::newRow("/minimized") << QStringList{"/minimized"} << false << mac << true << 7 << ""
                                << "" << false;
    QTest::newRow("/Minimized") << QStringList{"/Minimized"} << false << mac << true << 7 << ""
                                << "" << true;
    QTest::newRow("/minimized and more")
        << QStringList{"/minimized", "-v"} << false << mac << true << 7 << ""
        << "" << true;
    QTest::newRow("autostart") << QStringList() << true << mac << true << 7 << ""
                               << "" << false;
    QTest::newRow("autostart, /Minimized")
        << QStringList{"/Minimized"} << true << mac << true << 7 << ""
        << "" << false;
    QTest::newRow("no machine name")
        << QStringList() << false << "" << true << 1 << title << hardware << false;
    QTest::newRow("SMC does not open")
        << QStringList() << false << mac << false << 1 << "Error" << smc << false;
    QTest::newRow("neither machine nor SMC")
        << QStringList() << false << "" << false << 1 << title << hardware << false;
}

void TestStartup::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, autoStart);
    QFETCH(QString, machine);
    QFETCH(bool, smcOpens);
    QFETCH(int, exitCode);
    QFETCH(QString, errorTitle);
    QFETCH(QString, errorText);
    QFETCH(bool, windowShown);

    if (autoStart)
        QVERIFY(XdgAutoStartUtils::install(m_ProgramPath));
    bool bSmcDestroyed = false;
    QSmcControl::setInstance(new QStartupSmc(smcOpens, &bSmcDestroyed));

    QStringList errors;
    bool bLoopRan = false;
    bool bShown = false;
    QStartupHooks hooks;
    hooks.showError = [&](const QString& title, const QString& text) { errors << title << text; };
    hooks.machineName = [&] { return machine; };
    hooks.exec = [&] {
        bLoopRan = true;
        QThermoraApp* pApp = QThermoraApp::instance();
        bShown = pApp && pApp->mainWindow() && pApp->mainWindow()->isVisible();
        return 7;
    };

    QArgv args(arguments);
    QCOMPARE(StartupUtils::run(args.argc(), args.argv(), hooks), exitCode);

    QCOMPARE(bLoopRan, errorTitle.isEmpty());
    QCOMPARE(bShown, windowShown);
    if (errorTitle.isEmpty())
        QVERIFY(errors.isEmpty());
    else
        QCOMPARE(errors, (QStringList{errorTitle, errorText}));
    // Once start-up reached the SMC, the key layer's object is gone at the end, failed or not.
    QCOMPARE(bSmcDestroyed, !machine.isEmpty());
    QVERIFY(!QMyApplication::m_pInstance);
}

void TestStartup::readOnlyMode_data()
{
    QTest::addColumn<bool>("supported");
    QTest::addColumn<QString>("fileSystem");

    QTest::newRow("supported") << true << "ext4";
    QTest::newRow("FAT stick") << false << "vfat";
    QTest::newRow("network share") << false << "cifs";
}

void TestStartup::readOnlyMode()
{
    QFETCH(bool, supported);
    QFETCH(QString, fileSystem);

    QSmcControl::setInstance(new QMemorySmcControl());
    bool bAppReadOnly = !supported;
    bool bCoreReadOnly = !supported;
    QString seenFileSystem;
    QStartupHooks hooks;
    hooks.machineName = [] { return QStringLiteral("iMac13,1"); };
    hooks.checkFileSystem = [&](QString& name) {
        name = fileSystem;
        return supported;
    };
    hooks.exec = [&] {
        // What the window, its menus and the workers see once the event loop runs.
        QThermoraApp* pApp = QThermoraApp::instance();
        bAppReadOnly = pApp->isReadOnly();
        bCoreReadOnly = QCoreServices::isReadOnly();
        seenFileSystem = QCoreServices::readOnlyFileSystem();
        return 0;
    };
    QArgv args({});
    QCOMPARE(StartupUtils::run(args.argc(), args.argv(), hooks), 0);
    QCOMPARE(bAppReadOnly, !supported);
    QCOMPARE(bCoreReadOnly, !supported);
    QCOMPARE(seenFileSystem, supported ? QString() : fileSystem);
    QCoreServices::setReadOnly(false);
}

void TestStartup::settingDefaults_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<int>("fahrenheit");
    QTest::addColumn<int>("precise");
    QTest::addColumn<int>("menubarIcon");
    QTest::addColumn<bool>("firstRun");
    QTest::addColumn<QStringList>("unchanged"); // keys whose stored value must survive

    QTest::newRow("nothing stored") << QVariantMap() << 0 << 0 << 1 << true << QStringList();
    QTest::newRow("zero menubar icon kept") << QVariantMap{{"menubarIcon", 0}, {"Fans", ""}} << 0
                                            << 0 << 0 << true << QStringList{"menubarIcon"};
    QTest::newRow("all set") << QVariantMap{{"Fahrenheit", 1},
                                            {"PreciseTemperature", 1},
                                            {"menubarIcon", 2}}
                             << 1 << 1 << 2 << true
                             << QStringList{"Fahrenheit", "PreciseTemperature", "menubarIcon"};
    QTest::newRow("only one set") << QVariantMap{{"PreciseTemperature", 1}} << 0 << 1 << 1 << true
                                  << QStringList{"PreciseTemperature"};
    QTest::newRow("explicit -1 counts as missing")
        << QVariantMap{{"Fahrenheit", -1}, {"menubarIcon", -1}} << 0 << 0 << 1 << true
        << QStringList();
    QTest::newRow("fans cached") << QVariantMap{{"Fans", "0,1"}, {"InterfaceLanguage", "Nope.xml"}}
                                 << 0 << 0 << 1 << false
                                 << QStringList{"Fans", "InterfaceLanguage"};
    // A value that is no number counts as missing and gets the default.
    QTest::newRow("garbage value") << QVariantMap{{"Fahrenheit", "yes please"}, {"trayFan", 3}} << 0
                                   << 0 << 1 << true << QStringList{"trayFan"};
}

void TestStartup::settingDefaults()
{
    QFETCH(QVariantMap, stored);
    QFETCH(int, fahrenheit);
    QFETCH(int, precise);
    QFETCH(int, menubarIcon);
    QFETCH(bool, firstRun);
    QFETCH(QStringList, unchanged);

    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }

    QArgv args({});
    QThermoraApp app(args.argc(), args.argv());
    QVERIFY(!app.isRunning());
    QPreferences* pPreferences = app.preferences();
    QVERIFY(pPreferences);
    QCOMPARE(pPreferences->getInt("Fahrenheit", -1), fahrenheit);
    QCOMPARE(pPreferences->getInt("PreciseTemperature", -1), precise);
    QCOMPARE(pPreferences->getInt("menubarIcon", -1), menubarIcon);
    QCOMPARE(app.isFirstRun(), firstRun);

    pPreferences->sync();
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
    QCOMPARE(settings.value("Fahrenheit").toInt(), fahrenheit);
    QCOMPARE(settings.value("PreciseTemperature").toInt(), precise);
    QCOMPARE(settings.value("menubarIcon").toInt(), menubarIcon);
    for (const QString& key : unchanged)
        QCOMPARE(settings.value(key).toString(), stored.value(key).toString());
}

void TestStartup::logHeader_data()
{
    QTest::addColumn<QVariant>("enableLog");
    QTest::addColumn<bool>("logged");

    QTest::newRow("EnableLog missing") << QVariant() << false;
    QTest::newRow("EnableLog 0") << QVariant(0) << false;
    QTest::newRow("EnableLog 2") << QVariant(2) << false;
    QTest::newRow("EnableLog text") << QVariant("1x") << false;
    QTest::newRow("EnableLog 1") << QVariant(1) << true;
}

void TestStartup::logHeader()
{
    QFETCH(QVariant, enableLog);
    QFETCH(bool, logged);
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
        settings.setValue("Machine", "MacPro4,1");
        if (enableLog.isValid())
            settings.setValue("EnableLog", enableLog);
    }

    // With a desktop folder the log goes there.
    const QString logPath = QDir::homePath() + "/Desktop/Thermora.log";
    QVERIFY(QDir().mkpath(QDir::homePath() + "/Desktop"));
    QFile::remove(logPath);
    QString osVersion;
    {
        QArgv args({});
        QThermoraApp app(args.argc(), args.argv());
        QCOMPARE(app.logPath(), logPath);
        osVersion = app.sysInfo()->OS_GetOSVersionString();
    } // the logger writes every queued line before it dies with the application

    QFile log(logPath);
    QCOMPARE(log.exists(), logged);
    if (!logged)
        return;
    QVERIFY(log.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString firstLine = QString::fromUtf8(log.readLine()).trimmed();
    log.close();
    QFile::remove(logPath);
    const QRegularExpression header(
        QStringLiteral(
            "^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\S*app\\.cpp ?@ ?\\d+ "
            "\"Thermora 1\\.1\\.8, %1, MacPro4,1, Qt 5\\.2\\.0\"$")
            .arg(QRegularExpression::escape(osVersion)));
    QVERIFY2(header.match(firstLine).hasMatch(), qPrintable(firstLine));
}

void TestStartup::knockRestoresWindow()
{
    QSmcControl::setInstance(new QMemorySmcControl());
    QArgv args({});
    QThermoraApp app(args.argc(), args.argv());
    QVERIFY(!app.isRunning());

    // A knock before the window exists is ignored.
    QLocalSocket early;
    early.connectToServer(AppPlatformUtils::singleInstanceKey());
    QVERIFY(early.waitForConnected(2000));
    QCoreApplication::processEvents();

    QFanControlMainWindow window;
    app.setMainWindow(&window);
    QVERIFY(!window.isVisible());
    QLocalSocket knock;
    knock.connectToServer(AppPlatformUtils::singleInstanceKey());
    QVERIFY(knock.waitForConnected(2000));
    QTRY_VERIFY(window.isVisible());
    app.setMainWindow(nullptr);
}

void TestStartup::toggleAutoStart()
{
    QArgv args({});
    QThermoraApp app(args.argc(), args.argv());
    QVERIFY(!app.isAutoStart());
    app.toggleAutoStart(false);
    QVERIFY(!app.isAutoStart());
    app.toggleAutoStart(true);
    app.toggleAutoStart(true);
    QVERIFY(app.isAutoStart());
    QVERIFY(XdgAutoStartUtils::isInstalled(m_ProgramPath));
    app.toggleAutoStart(false);
    QVERIFY(!app.isAutoStart());
    QVERIFY(!QFile::exists(XdgAutoStartUtils::entryPath()));
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
