#include "app/FileSystemRules.h"
#include "app/Startup.h"
#include "app/XdgAutoStart.h"
#include "app/app.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "support/QMemorySmcControl.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// An SMC that may refuse to open and tells when it is deleted.
struct QStartupSmc : QMemorySmcControl
{
    QStartupSmc(bool bOpens, bool* pDestroyed) : m_bOpens(bOpens), m_pDestroyed(pDestroyed) {}
    ~QStartupSmc() override { *m_pDestroyed = true; }
    bool Open() override { return m_bOpens; }
    bool m_bOpens;
    bool* m_pDestroyed;
};

const QByteArray kExecLine = "Exec=\"/opt/my apps/100%%/th\\\\$e\"";

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
    QTemporaryDir m_KeyDir; // the in-process instances' own single-instance name
    const QString m_Key = m_KeyDir.filePath("THERMORA");
    int m_nArgc = 0;
    char* m_Argv[4] = {};
    QList<QByteArray> m_Arguments; // outlive the application object built on them

    void setArguments(const QString& arguments)
    {
        m_Arguments = QByteArray("tst_startup " + arguments.toUtf8()).split(' ');
        m_nArgc = std::min(3, m_Arguments.size());
        for (int i = 0; i < 3; ++i)
            m_Argv[i] = i < m_nArgc ? m_Arguments[i].data() : nullptr;
    }

private slots:
    void cleanup() { QFile::remove(XdgAutoStartUtils::entryPath()); }

    // "thermora --report": the report alone on standard output; nothing stored, no display; the
    // fans in their own types and the sensors by the machine's own table (Apple silicon too).
    void reportCommand_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("fans");
        QTest::addColumn<QString>("firstSensor");
        QTest::newRow("Intel") << "MacBookPro8,2"
                               << "Left Side-min{2000}curr{}max{6200}mode{0}\nRight "
                                  "Side-min{2000}curr{}max{6200}mode{0}\n"
                               << "TA0P (Ambient) - ";
        QTest::newRow("M4 Pro") << "Mac16,8"
                                << "Fan 0-min{1200}curr{}max{5700}mode{0}\nFan "
                                   "1-min{1200}curr{}max{6100}mode{0}\n"
                                << "TB0T (Battery Hotspot) - ";
    }
    void reportCommand()
    {
        QFETCH(QString, profile);
        QFETCH(QString, fans);
        QFETCH(QString, firstSensor);
        QTemporaryDir dir;
        QProcess daemon, report;
        daemon.start(TestSupport::binDir() + "/thermora-smcsim",
                     {"--socket", dir.filePath("smc"), "--profile", profile});
        QVERIFY(daemon.waitForReadyRead(20000));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("THERMORA_SMC_SOCKET", dir.filePath("smc"));
        report.setProcessEnvironment(env);
        report.start(TestSupport::binDir() + "/thermora", {"--report"});
        QVERIFY(report.waitForFinished(20000) && report.exitCode() == 0);
        const QString out = QString(report.readAllStandardOutput())
                                .replace(QRegularExpression("curr\\{\\d+"), "curr{"); // live
        QCOMPARE(out.section(firstSensor, 0, 0), "Thermora 1.1.8, " + profile + ", " +
                                                     QMySysInfo().OS_GetOSVersionString() +
                                                     "\n\nFans:\n" + fans + "\n\nTempSensors:\n");
        QVERIFY(!QFileInfo::exists(dir.filePath("config")));
    }

    // What the program answers before any window exists, run with no display and no SMC.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("nExitCode");
        QTest::addColumn<QString>("output"); // a line of standard output or errors
        QTest::newRow("help") << QStringList{"--help"} << 0 << "usage: thermora";
        QTest::newRow("-h") << QStringList{"-h"} << 0 << "usage: thermora";
        QTest::newRow("mistyped option") << QStringList{"--verison"} << 2 << "usage: thermora";
        QTest::newRow("two arguments")
            << QStringList{"/minimized", "--report"} << 2 << "usage: thermora";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "Thermora 1.1.8\n";
        QTest::newRow("no display")
            << QStringList{"/minimized"} << 1 << "thermora: no display to show the window on";
        QTest::newRow("report, no SMC")
            << QStringList{"--report"} << 1 << "Error initializing SMC layer, please make sure";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, nExitCode);
        QFETCH(QString, output);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "THERMORA_SMC_SOCKET"})
            env.remove(name);
        env.insert("THERMORA_APPLESMC_DIR", "/nonexistent"); // no SMC at all
        program.setProcessEnvironment(env);
        program.start(TestSupport::binDir() + "/thermora", arguments);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), nExitCode);
        const QByteArray out = program.readAllStandardOutput() + program.readAllStandardError();
        QVERIFY2(out.startsWith(output.toUtf8()) || out.contains("\n" + output.toUtf8()),
                 out.constData());
    }

    void run_data()
    {
        // Arguments; set-up (autostart, vfat, no-machine, no-smc); what is shown at the end.
        QTest::addColumn<QString>("row");
        QTest::newRow("plain") << ";;shown";
        QTest::newRow("/minimized") << "/minimized;;hidden";
        QTest::newRow("/Minimized") << "/Minimized;;shown";
        QTest::newRow("/minimized and more") << "/minimized -v;;shown";
        QTest::newRow("minimized") << "minimized;;shown";
        QTest::newRow("autostart") << "/Minimized;autostart;hidden";
        QTest::newRow("FAT stick") << ";vfat;shownvfatvfat";
        QTest::newRow("no machine")
            << QString(";no-machine;Thermora 1.1.8|") + StartupUtils::kUnsupportedHardwareText;
        QTest::newRow("no SMC") << QString(";no-smc;Error|") + StartupUtils::kSmcErrorText;
    }

    void run()
    {
        QFETCH(QString, row);
        const QString setup = row.section(';', 1, 1);
        setArguments(row.section(';', 0, 0));
        if (setup == "autostart") {
            QCoreApplication app(m_nArgc, m_Argv);
            QVERIFY(XdgAutoStartUtils::install(QCoreApplication::applicationFilePath()));
        }
        bool bSmcDestroyed = false;
        QSmcControl::setInstance(new QStartupSmc(setup != "no-smc", &bSmcDestroyed));
        QString seen;
        QStartupHooks hooks;
        hooks.instanceKey = m_Key;
        hooks.showError = [&](const QString& title, const QString& text) {
            seen += title + '|' + text;
        };
        hooks.machineName = [&] { return setup == "no-machine" ? QString() : "MacPro4,1"; };
        hooks.checkFileSystem = [&](QString& name) {
            name = setup == "vfat" ? "vfat" : "ext4";
            return name == "ext4";
        };
        hooks.exec = [&] {
            QThermoraApp* pApp = QThermoraApp::instance();
            seen = pApp->mainWindow()->isVisible() ? "shown" : "hidden";
            // What the window, its menus and the workers see.
            if (QCoreServices::isReadOnly() && pApp->isReadOnly())
                seen += QCoreServices::readOnlyFileSystem() + pApp->readOnlyFileSystem();
            return 7;
        };
        QCOMPARE(StartupUtils::run(m_nArgc, m_Argv, hooks), row.contains('|') ? 1 : 7);
        QCOMPARE(seen, row.section(';', 2));
        QVERIFY(!QMyApplication::m_pInstance);
        // Once start-up reached the SMC, the key layer's object is gone, failed or not.
        QCOMPARE(bSmcDestroyed, setup != "no-machine");
        QSmcControl::destroyInstance();
        QCoreServices::setReadOnly(false);
    }

    // Defaults fill only what is missing or no number; the log header starts a log that is on.
    // Stored; then Fahrenheit, PreciseTemperature, menubarIcon, first run, log written.
    void settingsAtStart_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("nothing") << ";0 0 1 1 0";
        QTest::newRow("kept") << "menubarIcon=0 Fahrenheit=1 PreciseTemperature=2;1 2 0 1 0";
        QTest::newRow("missing") << "Fahrenheit=-1 menubarIcon=yes Fans=0,1;0 0 1 0 0";
        QTest::newRow("EnableLog 0") << "EnableLog=0;0 0 1 1 0";
        QTest::newRow("EnableLog 2") << "EnableLog=2;0 0 1 1 0";
        QTest::newRow("EnableLog 1") << "EnableLog=1 Fans=0;0 0 1 0 1";
        QTest::newRow("log blocked") << "EnableLog=1 Fans=0;0 0 1 0 0"; // a folder at its name
    }

    void settingsAtStart()
    {
        QFETCH(QString, row);
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "brightfold", "thermora");
        settings.clear();
        for (const QString& pair : (row.section(';', 0, 0) + " Machine=MacPro4,1").split(' '))
            settings.setValue(pair.section('=', 0, 0), pair.section('=', 1));
        settings.sync();
        QFile log(QDir::homePath() + "/Desktop/Thermora.log");
        QVERIFY(QDir().mkpath(QDir::homePath() + "/Desktop"));
        log.remove();
        QDir(log.fileName()).removeRecursively();
        const bool bBlocked = QString(QTest::currentDataTag()) == "log blocked";
        if (bBlocked)
            QVERIFY(QDir().mkpath(log.fileName()));
        QString osVersion;
        bool bFirstRun = false;
        {
            setArguments("");
            QThermoraApp app(m_nArgc, m_Argv, m_Key);
            QVERIFY(!app.isRunning());
            QCOMPARE(app.logPath(), log.fileName());
            QCOMPARE(app.logProblem().isEmpty(), !bBlocked);
            bFirstRun = app.isFirstRun();
            osVersion = app.sysInfo()->OS_GetOSVersionString();
            app.preferences()->sync();
        } // the logger writes every queued line before it dies with the application
        settings.sync();
        const bool bLogged = log.open(QIODevice::ReadOnly);
        QCOMPARE(QString("%1 %2 %3 %4 %5")
                     .arg(settings.value("Fahrenheit").toInt())
                     .arg(settings.value("PreciseTemperature").toInt())
                     .arg(settings.value("menubarIcon").toInt())
                     .arg(bFirstRun)
                     .arg(bLogged),
                 row.section(';', 1));
        const QRegularExpression header("^INFO  \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                        "\\S*app\\.cpp @ \\d+ \"Thermora 1\\.1\\.8, (.*), "
                                        "MacPro4,1, Qt 5\\.2\\.0\" \n$");
        QVERIFY(!bLogged ||
                header.match(QString::fromUtf8(log.readLine())).captured(1) == osVersion);
    }

    // Rows: type, nosuid, allowed on Linux, allowed on macOS.
    void fileSystemRules_data()
    {
        QTest::addColumn<QString>("row");
        for (const char* line : {"ext4 0 1 0", "ext4 1 0 0", "VFAT 0 0 0", "cifs 0 0 0",
                                 "fuse.sshfs 0 0 0", "fusefoo 0 1 0", "hfs 0 0 1", "hfsplus 1 0 1",
                                 "afpfs 0 1 1", "afp 0 1 0", "HFS 0 0 0"})
            QTest::newRow(line) << QString(line);
    }

    void fileSystemRules()
    {
        QFETCH(QString, row);
        const QStringList col = row.split(' ');
        QCOMPARE(FileSystemRulesUtils::linuxAllowsSetUid(col[0], col[1] == "1"), col[2] == "1");
        QCOMPARE(FileSystemRulesUtils::macAllowsSetUid(col[0]), col[3] == "1");
    }

    // Rows: path;type. Mount points escape blanks; the longest, then the latest, mount wins.
    void mountInfoLookup_data()
    {
        QTest::addColumn<QString>("row");
        for (const char* line : {"/usr/bin;ext4", "/media/usb;vfat", "/media/usbx/app;ext4",
                                 "/media/usb stick/app;exfat", "/home/me/remote/inner/x;tmpfs",
                                 "/home/me/remote/y;fuse.sshfs", "/opt/app;vfat", "/data/x;ext4"})
            QTest::newRow(line) << QString(line);
    }

    void mountInfoLookup()
    {
        QFETCH(QString, row);
        const QString type = row.section(';', 1);
        const QByteArray table = "26 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                 "40 26 8:17 / /media/usb rw shared:7 - vfat /dev/sdb1 rw\n"
                                 "41 26 0:50 / /media/usb\\040stick rw - exfat /dev/sdc1 rw\n"
                                 "42 26 0:51 / /home/me/remote rw - fuse.sshfs me@host: rw\n"
                                 "43 42 0:52 / /home/me/remote/inner rw - tmpfs tmpfs rw\n"
                                 "50 26 0:60 / /opt rw - ext4 /dev/vdb rw\n"
                                 "51 26 0:61 / /opt rw - vfat /dev/sdd1 rw\n"
                                 "1 2 3\n6 1 0:1 / /data rw ext4 /x rw\n6 1 0:2 / /data rw -\n";
        QCOMPARE(FileSystemRulesUtils::typeFromMountInfo(table, row.section(';', 0, 0)), type);
    }

    // What an autostart entry means for a program path that needs quotes and escapes.
    void autoStartEntry_data()
    {
        QTest::addColumn<QByteArray>("entry"); // null: none
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("survivesRemove");
        const QByteArray ours = "[Desktop Entry]\n" + kExecLine;
        QTest::newRow("none") << QByteArray() << false << false;
        QTest::newRow("ours") << ours + "\n" << true << false;
        QTest::newRow("ours with arguments") << ours + " /minimized\n" << true << false;
        QTest::newRow("hidden") << ours + "\nHidden=true\n" << false << false;
        QTest::newRow("off") << ours + "\nX-GNOME-Autostart-enabled=false\n" << false << false;
        QTest::newRow("another") << QByteArray("[Desktop Entry]\nExec=/usr/bin/th\n") << false
                                 << true;
        QTest::newRow("Exec in another group")
            << "[Desktop Entry]\nName=x\n[Desktop Action a]\n" + ours.mid(16) << false << true;
        QTest::newRow("unterminated quote") << ours.chopped(1) + "\n" << false << true;
    }

    void autoStartEntry()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, installed);
        QFETCH(bool, survivesRemove);
        const QString program = "/opt/my apps/100%/th$e";
        const QString path = XdgAutoStartUtils::entryPath();
        QFile file(path);
        QVERIFY(entry.isNull() || (QDir().mkpath(QFileInfo(path).path()) &&
                                   file.open(QIODevice::WriteOnly) && file.write(entry) > 0));
        file.close();
        QCOMPARE(XdgAutoStartUtils::isInstalled(program), installed);
        QVERIFY(XdgAutoStartUtils::remove(program));
        QCOMPARE(file.exists(), survivesRemove);

        // Enabling twice leaves one entry that starts exactly this program, without arguments.
        QVERIFY(XdgAutoStartUtils::install(program) && XdgAutoStartUtils::install(program));
        QVERIFY(XdgAutoStartUtils::isInstalled(program));
        QVERIFY(!XdgAutoStartUtils::isInstalled("/opt/my apps/100%/th"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\n" + kExecLine + "\n"));
    }
};

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
