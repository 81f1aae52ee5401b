#include "app/AppPlatform.h"
#include "app/FileSystemRules.h"
#include "app/XdgAutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

// The file-system decision, the mount-table lookup and the autostart entry.
class TestAppPlatform : public QObject
{
    Q_OBJECT

private slots:
    void linuxFileSystemRule_data();
    void linuxFileSystemRule();
    void macFileSystemRule_data();
    void macFileSystemRule();
    void mountInfoLookup_data();
    void mountInfoLookup();
    void queryFileSystem();

    void execValueRoundTrip_data();
    void execValueRoundTrip();
    void autoStartToggling();
    void autoStartEntryOfOthers_data();
    void autoStartEntryOfOthers();

    void cleanup() { QFile::remove(XdgAutoStartUtils::entryPath()); }

private:
    static void writeEntry(const QByteArray& text);
};

void TestAppPlatform::linuxFileSystemRule_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("noSuid");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("ext4") << "ext4" << false << true;
    QTest::newRow("ext4 nosuid") << "ext4" << true << false;
    QTest::newRow("btrfs") << "btrfs" << false << true;
    QTest::newRow("xfs nosuid") << "xfs" << true << false;
    QTest::newRow("vfat") << "vfat" << false << false;
    QTest::newRow("msdos") << "msdos" << false << false;
    QTest::newRow("exfat") << "exfat" << false << false;
    QTest::newRow("ntfs") << "ntfs" << false << false;
    QTest::newRow("ntfs3") << "ntfs3" << false << false;
    QTest::newRow("fuseblk") << "fuseblk" << false << false;
    QTest::newRow("fuse.sshfs") << "fuse.sshfs" << false << false;
    QTest::newRow("cifs") << "cifs" << false << false;
    QTest::newRow("smb3") << "smb3" << false << false;
    QTest::newRow("upper case VFAT") << "VFAT" << false << false;
    QTest::newRow("fuse-like name that is not fuse") << "fusefoo" << false << true;
    QTest::newRow("nfs") << "nfs" << false << true;
    QTest::newRow("unknown magic") << "0x1234" << false << true;
    QTest::newRow("empty name") << "" << false << true;
}

void TestAppPlatform::linuxFileSystemRule()
{
    QFETCH(QString, type);
    QFETCH(bool, noSuid);
    QFETCH(bool, allowed);
    QCOMPARE(FileSystemRulesUtils::linuxAllowsSetUid(type, noSuid), allowed);
}

void TestAppPlatform::macFileSystemRule_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("hfs") << "hfs" << true;
    QTest::newRow("hfsplus-like suffix") << "hfsx" << true;
    QTest::newRow("afpfs") << "afpfs" << true;
    QTest::newRow("msdos") << "msdos" << false;
    QTest::newRow("smbfs") << "smbfs" << false;
    QTest::newRow("apfs") << "apfs" << false;
    QTest::newRow("capital HFS") << "HFS" << false;
    QTest::newRow("afp without fs") << "afp" << false;
    QTest::newRow("hf") << "hf" << false;
    QTest::newRow("empty") << "" << false;
}

void TestAppPlatform::macFileSystemRule()
{
    QFETCH(QString, type);
    QFETCH(bool, allowed);
    QCOMPARE(FileSystemRulesUtils::macAllowsSetUid(type), allowed);
}

void TestAppPlatform::mountInfoLookup_data()
{
    QTest::addColumn<QByteArray>("mountInfo");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("type");

    const QByteArray table =
        "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "40 26 8:17 / /media/usb rw,nosuid,nodev shared:7 - vfat /dev/sdb1 rw,uid=1000\n"
        "41 26 0:50 / /media/usb\\040stick rw,nosuid master:3 - exfat /dev/sdc1 rw\n"
        "42 26 0:51 / /home/me/remote rw,nosuid,nodev - fuse.sshfs me@host: rw\n"
        "43 42 0:52 / /home/me/remote/inner rw - tmpfs tmpfs rw\n";
    QTest::newRow("root file system") << table << "/usr/bin"
                                      << "ext4";
    QTest::newRow("the root itself") << table << "/"
                                     << "ext4";
    QTest::newRow("mount point itself") << table << "/media/usb"
                                        << "vfat";
    QTest::newRow("below a mount point") << table << "/media/usb/Apps/Thermora"
                                         << "vfat";
    QTest::newRow("sibling with common prefix") << table << "/media/usbx/app"
                                                << "ext4";
    QTest::newRow("escaped blank in mount point") << table << "/media/usb stick/app"
                                                  << "exfat";
    QTest::newRow("fuse sub-type") << table << "/home/me/remote/x"
                                   << "fuse.sshfs";
    QTest::newRow("nested mount wins") << table << "/home/me/remote/inner/x"
                                       << "tmpfs";

    const QByteArray stacked = "26 1 254:0 / / rw - ext4 /dev/vda rw\n"
                               "50 26 0:60 / /opt rw - ext4 /dev/vdb rw\n"
                               "51 26 0:61 / /opt rw,nosuid - vfat /dev/sdd1 rw\n";
    QTest::newRow("later of stacked mounts") << stacked << "/opt/app"
                                             << "vfat";

    const QByteArray malformed = "garbage line\n"
                                 "1 2 3\n"
                                 "60 1 0:1 / /data rw no-separator ext4 /dev/x rw\n"
                                 "61 1 0:2 / /data rw -\n";
    QTest::newRow("malformed lines only") << malformed << "/data/x"
                                          << "";
    QTest::newRow("empty table") << QByteArray() << "/x"
                                 << "";
}

void TestAppPlatform::mountInfoLookup()
{
    QFETCH(QByteArray, mountInfo);
    QFETCH(QString, path);
    QFETCH(QString, type);
    QCOMPARE(FileSystemRulesUtils::typeFromMountInfo(mountInfo, path), type);
}

void TestAppPlatform::queryFileSystem()
{
    QString type = QStringLiteral("unchanged");
    bool bNoSuid = false;
    QVERIFY(!AppPlatformUtils::queryFileSystem(QStringLiteral("/no/such/folder/anywhere"), type,
                                               bNoSuid));
    QCOMPARE(type, QStringLiteral("unchanged"));
#ifdef Q_OS_LINUX
    QVERIFY(AppPlatformUtils::queryFileSystem(QStringLiteral("/proc/self"), type, bNoSuid));
    QCOMPARE(type, QStringLiteral("proc"));
#endif
}

void TestAppPlatform::execValueRoundTrip_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("execValue");

    QTest::newRow("plain") << "/opt/thermora/bin/thermora"
                           << "/opt/thermora/bin/thermora";
    QTest::newRow("blank") << "/home/me/My Apps/thermora"
                           << "\"/home/me/My Apps/thermora\"";
    QTest::newRow("percent") << "/opt/100%/thermora"
                             << "/opt/100%%/thermora";
    QTest::newRow("dollar and quote") << "/opt/a$b\"c/thermora"
                                      << "\"/opt/a\\\\$b\\\\\"c/thermora\"";
    QTest::newRow("backslash") << "/opt/a\\b/thermora"
                               << "\"/opt/a\\\\\\\\b/thermora\"";
}

void TestAppPlatform::execValueRoundTrip()
{
    QFETCH(QString, program);
    QFETCH(QString, execValue);
    QCOMPARE(XdgAutoStartUtils::execValueFor(program), execValue);
    QCOMPARE(XdgAutoStartUtils::programFromExecValue(execValue), program);
}

void TestAppPlatform::writeEntry(const QByteArray& text)
{
    const QString path = XdgAutoStartUtils::entryPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

void TestAppPlatform::autoStartToggling()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configHome.isEmpty())
        QCOMPARE(XdgAutoStartUtils::entryPath(), configHome + "/autostart/thermora.desktop");

    const QString program = QStringLiteral("/opt/Thermora Apps/thermora");
    QVERIFY(!XdgAutoStartUtils::isInstalled(program));
    QVERIFY(XdgAutoStartUtils::remove(program)); // disabling without an entry does nothing
    QVERIFY(!QFileInfo::exists(XdgAutoStartUtils::entryPath()));

    QVERIFY(XdgAutoStartUtils::install(program));
    QVERIFY(XdgAutoStartUtils::install(program));
    QVERIFY(XdgAutoStartUtils::isInstalled(program));
    QVERIFY(!XdgAutoStartUtils::isInstalled(QStringLiteral("/opt/other/thermora")));

    QFile file(XdgAutoStartUtils::entryPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    file.close();
    QCOMPARE(text.count("[Desktop Entry]"), 1);
    QCOMPARE(text.count("\nExec="), 1);
    QVERIFY(text.contains("\nExec=\"/opt/Thermora Apps/thermora\"\n"));
    QVERIFY(text.contains("\nType=Application\n"));

    QVERIFY(XdgAutoStartUtils::remove(program));
    QVERIFY(!XdgAutoStartUtils::isInstalled(program));
    QVERIFY(!QFileInfo::exists(XdgAutoStartUtils::entryPath()));
    QVERIFY(XdgAutoStartUtils::remove(program));
    QVERIFY(!QFileInfo::exists(XdgAutoStartUtils::entryPath()));
}

void TestAppPlatform::autoStartEntryOfOthers_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("survivesRemove");

    const QString program = QStringLiteral("/opt/thermora/thermora");
    QTest::newRow("ours") << QByteArray("[Desktop Entry]\nType=Application\n"
                                        "Exec=/opt/thermora/thermora\n")
                          << true << false;
    QTest::newRow("ours with arguments")
        << QByteArray("[Desktop Entry]\nExec=/opt/thermora/thermora /minimized\n") << true << false;
    QTest::newRow("hidden") << QByteArray("[Desktop Entry]\nExec=/opt/thermora/thermora\n"
                                          "Hidden=true\n")
                            << false << false;
    QTest::newRow("switched off") << QByteArray("[Desktop Entry]\nExec=/opt/thermora/thermora\n"
                                                "X-GNOME-Autostart-enabled=false\n")
                                  << false << false;
    QTest::newRow("another copy") << QByteArray("[Desktop Entry]\nExec=/usr/bin/thermora\n")
                                  << false << true;
    QTest::newRow("Exec in another group")
        << QByteArray("[Desktop Entry]\nName=x\n[Desktop Action a]\nExec=/opt/thermora/thermora\n")
        << false << true;
    QTest::newRow("unterminated quote")
        << QByteArray("[Desktop Entry]\nExec=\"/opt/thermora/thermora\n") << false << true;
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[[[=\n==\n", 11) << false << true;
}

void TestAppPlatform::autoStartEntryOfOthers()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, installed);
    QFETCH(bool, survivesRemove);
    const QString program = QStringLiteral("/opt/thermora/thermora");

    writeEntry(entry);
    QCOMPARE(XdgAutoStartUtils::isInstalled(program), installed);
    QVERIFY(XdgAutoStartUtils::remove(program));
    QCOMPARE(QFileInfo::exists(XdgAutoStartUtils::entryPath()), survivesRemove);

    // Enabling always ends with an entry that starts this program.
    QVERIFY(XdgAutoStartUtils::install(program));
    QVERIFY(XdgAutoStartUtils::isInstalled(program));
}

QTEST_GUILESS_MAIN(TestAppPlatform)
#include "tst_appplatform.moc"
