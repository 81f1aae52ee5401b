#include "app/FileSystemRules.h"
#include "app/Startup.h"
#include "app/XdgAutoStart.h"
#include "app/app.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "support/QMemorySmcControl.h"
#include "ui/MainWindow.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

// Arguments that outlive the application object built on them.
struct QArgv
{
    explicit QArgv(const QStringList& arguments)
    {
        for (const QString& argument : QStringList("tst_startup") + arguments)
            storage.push_back(argument.toLocal8Bit());
        for (QByteArray& argument : storage)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        argc = int(storage.size());
    }
    std::vector<QByteArray> storage;
    std::vector<char*> pointers;
    int argc = 0;
};

// An SMC that may refuse to open and tells when the key layer deleted it.
class QStartupSmc : public QMemorySmcControl
{
public:
    QStartupSmc(bool bOpens, bool* pDestroyed) : m_bOpens(bOpens), m_pDestroyed(pDestroyed) {}
    ~QStartupSmc() override { *m_pDestroyed = true; }
    bool Open() override { return m_bOpens; }
    bool m_bOpens;
    bool* m_pDestroyed;
};

const QByteArray kExecLine = "Exec=\"/opt/my apps/100%%/th\\\\$e\"";

void storeSettings(const QVariantMap& values)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
    settings.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_Key = m_KeyDir.filePath("THERMORA"); }
    void cleanup() { QFile::remove(XdgAutoStartUtils::entryPath()); }
    void run_data();
    void run();
    void settingsAtStart_data();
    void settingsAtStart();
    void fileSystemRules_data();
    void fileSystemRules();
    void mountInfoLookup_data();
    void mountInfoLookup();
    void autoStartEntry_data();
    void autoStartEntry();

private:
    QTemporaryDir m_KeyDir; // the in-process instances' own single-instance name
    QString m_Key;
};

void TestStartup::run_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("autoStart");
    QTest::addColumn<QString>("machine");
    QTest::addColumn<bool>("smcOpens");
    QTest::addColumn<QString>("fileSystem"); // empty: a supported one
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("windowShown");

    const QString mac = "MacPro4,1";
    const QString hardware = QString("Thermora 1.1.8|") + StartupUtils::kUnsupportedHardwareText;
    const QString smc = QString("Error|") + StartupUtils::kSmcErrorText;
    // 7 is what the stand-in event loop returns.
    QTest::newRow("plain") << QStringList() << false << mac << true << "" << 7 << "" << true;
    QTest::newRow("/minimized") << QStringList{"/minimized"} << false << mac << true << "" << 7
                                << "" << false;
    QTest::newRow("/Minimized") << QStringList{"/Minimized"} << false << mac << true << "" << 7
                                << "" << true;
    QTest::newRow("/minimized and more")
        << QStringList{"/minimized", "-v"} << false << mac << true << "" << 7 << "" << true;
    QTest::newRow("other single argument")
        << QStringList{"minimized"} << false << mac << true << "" << 7 << "" << true;
    QTest::newRow("autostart") << QStringList{"/Minimized"} << true << mac << true << "" << 7 << ""
                               << false;
    QTest::newRow("FAT stick: read-only")
        << QStringList() << false << mac << true << "vfat" << 7 << "" << true;
    QTest::newRow("no machine name")
        << QStringList() << false << "" << true << "" << 1 << hardware << false;
    QTest::newRow("SMC does not open")
        << QStringList() << false << mac << false << "" << 1 << smc << false;
}

void TestStartup::run()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, autoStart);
    QFETCH(QString, machine);
    QFETCH(bool, smcOpens);
    QFETCH(QString, fileSystem);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    QFETCH(bool, windowShown);

    QArgv args(arguments);
    if (autoStart) {
        QCoreApplication app(args.argc, args.pointers.data());
        QVERIFY(XdgAutoStartUtils::install(QCoreApplication::applicationFilePath()));
    }
    bool bSmcDestroyed = false;
    QSmcControl::setInstance(new QStartupSmc(smcOpens, &bSmcDestroyed));
    QStringList errors;
    bool bShown = false;
    QString readOnly = "not run";
    QStartupHooks hooks;
    hooks.instanceKey = m_Key;
    hooks.showError = [&](const QString& title, const QString& text) {
        errors << title + '|' + text;
    };
    hooks.machineName = [&] { return machine; };
    hooks.checkFileSystem = [&](QString& name) {
        name = fileSystem.isEmpty() ? "ext4" : fileSystem;
        return fileSystem.isEmpty();
    };
    hooks.exec = [&] {
        QThermoraApp* pApp = QThermoraApp::instance();
        bShown = pApp->mainWindow()->isVisible();
        // What the window, its menus and the workers see.
        readOnly = QCoreServices::isReadOnly() == pApp->isReadOnly() && pApp->isReadOnly()
                       ? QCoreServices::readOnlyFileSystem()
                       : QString();
        return 7;
    };
    QCOMPARE(StartupUtils::run(args.argc, args.pointers.data(), hooks), exitCode);
    QCOMPARE(errors.join(""), error);
    QCOMPARE(bShown, windowShown);
    if (error.isEmpty())
        QCOMPARE(readOnly, fileSystem);
    QVERIFY(!QMyApplication::m_pInstance);
    // Once start-up reached the SMC, the key layer's object is gone at the end, failed or not.
    QCOMPARE(bSmcDestroyed, !machine.isEmpty());
    QSmcControl::destroyInstance();
    QCoreServices::setReadOnly(false);
}

// Defaults are written only for what is missing (or not a number); the first run is the one
// without a cached fan list; the log header is the first line when logging is on.
void TestStartup::settingsAtStart_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QList<int>>("expected"); // Fahrenheit, PreciseTemperature, menubarIcon
    QTest::addColumn<bool>("firstRun");
    QTest::addColumn<bool>("logged");

    QTest::newRow("nothing stored") << QVariantMap() << QList<int>{0, 0, 1} << true << false;
    QTest::newRow("zeros and others kept")
        << QVariantMap{{"menubarIcon", 0}, {"Fahrenheit", 1}, {"PreciseTemperature", 2}}
        << QList<int>{1, 2, 0} << true << false;
    QTest::newRow("-1 and garbage count as missing")
        << QVariantMap{{"Fahrenheit", -1}, {"menubarIcon", "yes"}, {"Fans", "0,1"}}
        << QList<int>{0, 0, 1} << false << false;
    QTest::newRow("EnableLog 0") << QVariantMap{{"EnableLog", 0}} << QList<int>{0, 0, 1} << true
                                 << false;
    QTest::newRow("EnableLog 2") << QVariantMap{{"EnableLog", 2}} << QList<int>{0, 0, 1} << true
                                 << false;
    QTest::newRow("EnableLog 1") << QVariantMap{{"EnableLog", 1}, {"Fans", "0"}}
                                 << QList<int>{0, 0, 1} << false << true;
}

void TestStartup::settingsAtStart()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QList<int>, expected);
    QFETCH(bool, firstRun);
    QFETCH(bool, logged);

    stored.insert("Machine", "MacPro4,1");
    storeSettings(stored);
    const QString logPath = QDir::homePath() + "/Desktop/Thermora.log";
    QVERIFY(QDir().mkpath(QDir::homePath() + "/Desktop"));
    QFile::remove(logPath);
    QString osVersion;
    {
        QArgv args({});
        QThermoraApp app(args.argc, args.pointers.data(), m_Key);
        QVERIFY(!app.isRunning());
        QCOMPARE(app.isFirstRun(), firstRun);
        QCOMPARE(app.logPath(), logPath);
        osVersion = app.sysInfo()->OS_GetOSVersionString();
        app.preferences()->sync();
    } // the logger writes every queued line before it dies with the application
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
    const QList<int> actual{settings.value("Fahrenheit").toInt(),
                            settings.value("PreciseTemperature").toInt(),
                            settings.value("menubarIcon").toInt()};
    QCOMPARE(actual, expected);

    QFile log(logPath);
    QCOMPARE(log.open(QIODevice::ReadOnly), logged);
    const QString header = QString::fromUtf8(log.readLine());
    const QRegularExpression format(
        "^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\S*app"
        "\\.cpp @ \\d+ \"Thermora 1\\.1\\.8, (.*), MacPro4,1, Qt "
        "5\\.2\\.0\" \n$");
    if (logged)
        QCOMPARE(format.match(header).captured(1), osVersion);
}

void TestStartup::fileSystemRules_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("noSuid");
    QTest::addColumn<bool>("linux");
    QTest::addColumn<bool>("mac");

    QTest::newRow("ext4") << "ext4" << false << true << false;
    QTest::newRow("ext4 nosuid") << "ext4" << true << false << false;
    QTest::newRow("VFAT") << "VFAT" << false << false << false;
    QTest::newRow("cifs") << "cifs" << false << false << false;
    QTest::newRow("fuse.sshfs") << "fuse.sshfs" << false << false << false;
    QTest::newRow("fusefoo") << "fusefoo" << false << true << false;
    QTest::newRow("hfs") << "hfs" << false << false << true;
    QTest::newRow("hfsplus") << "hfsplus" << true << false << true;
    QTest::newRow("afpfs") << "afpfs" << false << true << true;
    QTest::newRow("afp") << "afp" << false << true << false;
    QTest::newRow("HFS") << "HFS" << false << false << false;
}

void TestStartup::fileSystemRules()
{
    QFETCH(QString, type);
    QFETCH(bool, noSuid);
    QFETCH(bool, linux);
    QFETCH(bool, mac);
    QCOMPARE(FileSystemRulesUtils::linuxAllowsSetUid(type, noSuid), linux);
    QCOMPARE(FileSystemRulesUtils::macAllowsSetUid(type), mac);
}

void TestStartup::mountInfoLookup_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("type");

    QTest::newRow("root") << "/usr/bin"
                          << "ext4";
    QTest::newRow("mount point itself") << "/media/usb"
                                        << "vfat";
    QTest::newRow("sibling with common prefix") << "/media/usbx/app"
                                                << "ext4";
    QTest::newRow("escaped blank") << "/media/usb stick/app"
                                   << "exfat";
    QTest::newRow("nested mount wins") << "/home/me/remote/inner/x"
                                       << "tmpfs";
    QTest::newRow("later of stacked mounts") << "/opt/app"
                                             << "vfat";
    QTest::newRow("only malformed lines") << "/data/x"
                                          << "";
}

void TestStartup::mountInfoLookup()
{
    QFETCH(QString, path);
    QFETCH(QString, type);
    const QByteArray table = "26 1 254:0 / / rw - ext4 /dev/vda rw\n"
                             "40 26 8:17 / /media/usb rw shared:7 - vfat /dev/sdb1 rw\n"
                             "41 26 0:50 / /media/usb\\040stick rw master:3 - exfat /dev/sdc1 rw\n"
                             "42 26 0:51 / /home/me/remote rw - fuse.sshfs me@host: rw\n"
                             "43 42 0:52 / /home/me/remote/inner rw - tmpfs tmpfs rw\n"
                             "50 26 0:60 / /opt rw - ext4 /dev/vdb rw\n"
                             "51 26 0:61 / /opt rw - vfat /dev/sdd1 rw\n";
    const QByteArray malformed =
        "1 2 3\n60 1 0:1 / /data rw ext4 /dev/x rw\n61 1 0:2 / /data rw -\n";
    QCOMPARE(FileSystemRulesUtils::typeFromMountInfo(type.isEmpty() ? malformed : table, path),
             type);
}

// What the desktop's autostart entry means for this program, and what enabling and disabling
// leave behind. The program path needs quoting, so the Exec value round trip is exercised too.
void TestStartup::autoStartEntry_data()
{
    QTest::addColumn<QByteArray>("entry"); // null: none
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("survivesRemove");

    const QByteArray ours = "[Desktop Entry]\n" + kExecLine;
    QTest::newRow("none") << QByteArray() << false << false;
    QTest::newRow("ours") << ours + "\n" << true << false;
    QTest::newRow("ours with arguments") << ours + " /minimized\n" << true << false;
    QTest::newRow("hidden") << ours + "\nHidden=true\n" << false << false;
    QTest::newRow("switched off") << ours + "\nX-GNOME-Autostart-enabled=false\n" << false << false;
    QTest::newRow("another copy") << QByteArray("[Desktop Entry]\nExec=/usr/bin/th\n") << false
                                  << true;
    QTest::newRow("Exec in another group")
        << "[Desktop Entry]\nName=x\n[Desktop Action a]\n" + ours.mid(16) << false << true;
    QTest::newRow("unterminated quote") << ours.chopped(1) + "\n" << false << true;
}

void TestStartup::autoStartEntry()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, installed);
    QFETCH(bool, survivesRemove);

    const QString program = "/opt/my apps/100%/th$e";
    const QString path = XdgAutoStartUtils::entryPath();
    QCOMPARE(path, qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart/thermora.desktop");
    if (!entry.isNull()) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(entry) == entry.size());
    }
    QCOMPARE(XdgAutoStartUtils::isInstalled(program), installed);
    QVERIFY(XdgAutoStartUtils::remove(program));
    QCOMPARE(QFileInfo::exists(path), survivesRemove);

    // Enabling twice leaves one entry that starts exactly this program, without arguments.
    QVERIFY(XdgAutoStartUtils::install(program) && XdgAutoStartUtils::install(program));
    QVERIFY(XdgAutoStartUtils::isInstalled(program));
    QVERIFY(!XdgAutoStartUtils::isInstalled("/opt/my apps/100%/th"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("\n" + kExecLine + "\n"));
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
