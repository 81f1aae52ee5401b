#include "settings/QPreferences.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include <thread>

class TestPreferences : public QObject
{
    Q_OBJECT
    QTemporaryDir m_Dir;
    QString m_Ini; // one per row: the settings files are cached by name and time

private slots:
    void init() { m_Ini = m_Dir.filePath(QTest::currentDataTag()); }

    // Steps: "kind=value" sets, "kind?expected" gets and compares ("int:D?" reads with default
    // D, else -1), "remove", "clear", and "reopen" goes on with a fresh store on the same file,
    // so that what reached the disk is checked and not the cache.
    void steps_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("missing int caches its default") << "int:-1?-1 int:5?-1 reopen int:5?5";
        QTest::newRow("set wins over defaults") << "int:-1?-1 int=3 int:5?3 reopen int:5?3";
        QTest::newRow("remove forgets") << "int=3 remove int:5?5 int:7?5 reopen int:7?7";
        QTest::newRow("clear forgets") << "int=3 clear int:5?5 reopen string?";
        QTest::newRow("string") << "string=2,TC0P,40,70 reopen string?2,TC0P,40,70";
        QTest::newRow("int as string") << "int=42 reopen string?42";
        QTest::newRow("text as int is not set") << "string=seven int?-1 reopen int?-1";
        QTest::newRow("list") << "list=a|b,c reopen list?a|b,c";
        QTest::newRow("rect") << "rect=7 reopen rect?7 int=3 rect?null";
        QTest::newRow("date")
            << "date=2026-07-15T13:45:59.987Z reopen date?2026-07-15T13:45:59.000Z";
        QTest::newRow("no date") << "date? string=tuesday date?";
    }

    void steps()
    {
        QFETCH(QString, steps);
        std::unique_ptr<QPreferences> pPrefs(new QPreferences(m_Ini));
        for (const QString& step : steps.split(' ')) {
            const int nSplit = step.indexOf(QRegularExpression("[=?]"));
            const QString kind = step.left(nSplit).section(':', 0, 0);
            const QString value = step.mid(nSplit + 1);
            const QRect rect(value.toInt(), value.toInt() + 1, 640, 480);
            if (step == "reopen") {
                pPrefs->sync();
                pPrefs.reset(new QPreferences(m_Ini));
            } else if (step == "remove" || step == "clear") {
                step == "remove" ? pPrefs->remove("Key") : pPrefs->clear();
            } else if (step.at(nSplit) == '=') {
                if (kind == "int")
                    pPrefs->setInt("Key", value.toInt());
                else if (kind == "string")
                    pPrefs->setString("Key", value);
                else if (kind == "list")
                    pPrefs->setStringList("Key", value.split('|'));
                else if (kind == "rect")
                    pPrefs->setRect("Key", rect);
                else
                    pPrefs->setDateTime("Key", QDateTime::fromString(value, Qt::ISODateWithMs));
            } else {
                const int nDefault = step.left(nSplit).section(':', 1).toInt();
                const QString actual =
                    kind == "int" ? QString::number(pPrefs->getInt("Key", nDefault ? nDefault : -1))
                    : kind == "string" ? pPrefs->getString("Key")
                    : kind == "list"   ? pPrefs->getStringList("Key").join('|')
                    : kind == "rect"
                        ? (pPrefs->getRect("Key") == rect ? value : "null")
                        : pPrefs->getDateTime("Key").toUTC().toString(Qt::ISODateWithMs);
                QVERIFY2(actual == value, qPrintable(step + " gave " + actual));
            }
        }
    }

    // A broken file is copied aside (each its own copy) and what could be read is used; an
    // unreadable one is never written. Row: EnableLog; the warning; Fans.
    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("row");
        QTest::newRow("well formed") << QByteArray("[General]\nEnableLog=1\n") << "1;;";
        QTest::newRow("hand-edited list") << QByteArray("EnableLog=1\nFans=F0,F1\n") << "1;;F0,F1";
        QTest::newRow("unclosed quote")
            << QByteArray("EnableLog=1\nFans=F0\n\"x\n") << "1;malformed.*kept as .*corrupt;F0";
        QTest::newRow("binary noise")
            << QByteArray("\x01\xff[\x80=\n\"\x02") << "-1;malformed.*kept as .*corrupt;";
        QTest::newRow("unreadable") << QByteArray("dir") << "-1;cannot be read. changes will not;";
        QTest::newRow("no backend") << QByteArray() << "-1;;";
    }

    void badFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, row);
        const QString warning = row.section(';', 1, 1);
        if (content == "dir")
            QVERIFY(QDir().mkpath(m_Ini + "/keep"));
        for (int nRound = 0; nRound < 2; ++nRound) {
            QFile file(m_Ini);
            QVERIFY(content == "dir" || content.isNull() ||
                    (file.open(QFile::WriteOnly) && file.write(content) == content.size()));
            file.close();
            if (!warning.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
            std::unique_ptr<QPreferences> pStore(content.isNull() ? new QPreferences(nullptr)
                                                                  : new QPreferences(m_Ini));
            QCOMPARE(pStore->getInt("EnableLog", -1), row.section(';', 0, 0).toInt());
            QCOMPARE(pStore->getString("Fans"), row.section(';', 2));
            QCOMPARE(pStore->isMemoryOnly(), warning.contains("cannot"));
            pStore->setString("Machine", "MacBookPro8,1");
            QCOMPARE(pStore->getString("Machine"), content.isNull() ? "" : "MacBookPro8,1");
            QCOMPARE(pStore->getRect("Machine"), QRect());
            pStore->sync();
        }
        QFile copy(m_Ini + ".corrupt");
        QCOMPARE(copy.open(QFile::ReadOnly) && copy.readAll() == content, warning.contains("kept"));
        QCOMPARE(QFile(m_Ini + ".corrupt.2").exists(), warning.contains("kept"));
        QCOMPARE(QFileInfo(m_Ini + "/keep").isDir(), warning.contains("cannot"));
        QCOMPARE(QSettings(m_Ini, QSettings::IniFormat).value("Machine").toString(),
                 content.isNull() || content == "dir" ? "" : "MacBookPro8,1");
    }

    // A full disk: the failed write is reported once and the file on disk stays as it was.
    void fullDisk()
    {
        m_Ini = m_Dir.filePath("full.ini");
        QPreferences(m_Ini).setString("Fans", "F0,F1");
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit full = saved;
        full.rlim_cur = 16; // no file may grow past 16 bytes
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &full);
        QPreferences prefs(m_Ini);
        QSignalSpy problems(&prefs, &QPreferences::saveProblem);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be saved to .*full.ini"));
        for (int i = 0; i < 3; ++i)
            prefs.setInt("EnableLog", i), prefs.sync();
        setrlimit(RLIMIT_FSIZE, &saved);
        QTRY_COMPARE(problems.size(), 1);
        QVERIFY(prefs.saveFailed());
        QCOMPARE(QSettings(m_Ini, QSettings::IniFormat).value("Fans").toString(), "F0,F1");
    }

    // The window's worker writes the cache while the window reads and QSettings writes to disk
    // from its own posted event: no write is lost (the thread sanitizer pass sees any missing
    // lock).
    void threads()
    {
        m_Ini = m_Dir.filePath("threads");
        QPreferences prefs(m_Ini);
        std::thread writer([&prefs] {
            for (int i = 0; i < 200; ++i)
                prefs.setInt(QStringLiteral("w%1").arg(i), i);
        });
        for (int i = 0; i < 200; ++i) {
            prefs.setString(QStringLiteral("m%1").arg(i), QString::number(i));
            prefs.getInt(QStringLiteral("w%1").arg(i), 0);
            QCoreApplication::processEvents();
        }
        writer.join();
        QCoreApplication::processEvents();
        prefs.sync();
        QSettings disk(m_Ini, QSettings::IniFormat);
        for (int i = 0; i < 200; i += 37) {
            QCOMPARE(disk.value(QStringLiteral("w%1").arg(i)).toInt(), i);
            QCOMPARE(disk.value(QStringLiteral("m%1").arg(i)).toString(), QString::number(i));
        }
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
