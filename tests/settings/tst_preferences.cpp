#include "settings/QPreferences.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void init() { QDir(m_Dir.path()).removeRecursively() && QDir().mkpath(m_Dir.path()); }
    void steps_data();
    void steps();
    void badFiles_data();
    void badFiles();
    void concurrentWriters();

private:
    QTemporaryDir m_Dir;
    const QString m_Ini = m_Dir.filePath("test.ini");
};

// Each step is "kind=value" (a setter), "kind?expected" (a getter, compared), "remove" or
// "clear"; "reopen" goes on with a fresh store on the same file, so the encoding on disk is
// checked and not the cache. "int?" reads with -1, "int:D?" with default D.
void TestPreferences::steps_data()
{
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("missing int caches its first default")
        << QStringList{"int:-1?-1", "int:5?-1", "reopen", "int:5?5"};
    QTest::newRow("set wins over defaults")
        << QStringList{"int:-1?-1", "int=3", "int:5?3", "reopen", "int:5?3"};
    QTest::newRow("remove forgets value and default")
        << QStringList{"int=3", "remove", "int:5?5", "int:7?5", "reopen", "int:7?7"};
    QTest::newRow("clear forgets everything")
        << QStringList{"int=3", "clear", "int:5?5", "reopen", "string?"};
    QTest::newRow("string") << QStringList{"string=2,TC0P,40,70", "reopen", "string?2,TC0P,40,70"};
    QTest::newRow("int as string") << QStringList{"int=42", "reopen", "string?42"};
    QTest::newRow("text as int is not set")
        << QStringList{"string=seven", "int?-1", "reopen", "int?-1"};
    QTest::newRow("list") << QStringList{"list=a|b,c", "reopen", "list?a|b,c"};
    QTest::newRow("rect") << QStringList{"rect=7", "reopen", "rect?7", "int=3", "rect?null"};
    QTest::newRow("date to the second")
        << QStringList{"date=2026-07-15T13:45:59.987Z", "date?2026-07-15T13:45:59Z", "reopen",
                       "date?2026-07-15T13:45:59Z"};
    QTest::newRow("no date") << QStringList{"date?", "string=next tuesday", "date?"};
}

void TestPreferences::steps()
{
    QFETCH(QStringList, steps);

    std::unique_ptr<QPreferences> pPrefs(new QPreferences(m_Ini));
    for (const QString& step : steps) {
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
                : kind == "rect"   ? (pPrefs->getRect("Key") == rect ? value : "null")
                                   : pPrefs->getDateTime("Key").toUTC().toString(Qt::ISODate);
            QVERIFY2(actual == value, qPrintable(step + " gave " + actual));
        }
    }
}

// A file the parser cannot fully read keeps its original bytes beside it (each broken file its
// own copy) and what could be read is used; one that cannot be read at all is never written.
// Without a backend every getter gives its empty value and writes go nowhere.
void TestPreferences::badFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // "dir": a folder stands where the file should be
    QTest::addColumn<int>("enableLog");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("fans");

    const QString copied = "malformed.*kept as .*\\.corrupt(\\.2)?$";
    QTest::newRow("well formed") << QByteArray("[General]\nEnableLog=1\n") << 1 << ""
                                 << "";
    QTest::newRow("hand-edited list") << QByteArray("EnableLog=1\nFans=F0Ac,F1Ac\n") << 1 << ""
                                      << "F0Ac,F1Ac";
    QTest::newRow("unclosed quote")
        << QByteArray("EnableLog=1\nFans=F0Ac\n\"broken\n") << 1 << copied << "F0Ac";
    QTest::newRow("binary noise") << QByteArray("\x01\xff[\x80=\n\"\x02", 9) << -1 << copied << "";
    QTest::newRow("unreadable") << QByteArray("dir") << -1 << "cannot be read; changes will not"
                                << "";
    QTest::newRow("no backend") << QByteArray() << -1 << ""
                                << "";
}

void TestPreferences::badFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, enableLog);
    QFETCH(QString, warning);
    QFETCH(QString, fans);

    const bool bUnreadable = content == "dir";
    if (bUnreadable)
        QVERIFY(QDir().mkpath(m_Ini + "/keep"));
    for (int nRound = 0; nRound < 2; ++nRound) {
        QFile file(m_Ini);
        QVERIFY(bUnreadable || content.isNull() ||
                (file.open(QFile::WriteOnly) && file.write(content) == content.size()));
        file.close();
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        std::unique_ptr<QPreferences> pStore(content.isNull() ? new QPreferences(nullptr)
                                                              : new QPreferences(m_Ini));
        QPreferences& store = *pStore;
        QCOMPARE(store.getInt("EnableLog", -1), enableLog);
        QCOMPARE(store.getString("Fans"), fans);
        QCOMPARE(store.isMemoryOnly(), bUnreadable);
        store.setString("Machine", "MacBookPro8,1");
        QCOMPARE(store.getString("Machine"),
                 content.isNull() ? QString() : QString("MacBookPro8,1"));
        QCOMPARE(store.getRect("Machine"), QRect());
        store.sync();
    }
    const bool bCopied = warning.startsWith("malformed");
    QFile copy(m_Ini + ".corrupt");
    QCOMPARE(copy.open(QFile::ReadOnly) && copy.readAll() == content, bCopied);
    QCOMPARE(QFile(m_Ini + ".corrupt.2").exists(), bCopied);
    QCOMPARE(QFileInfo(m_Ini).isDir(), bUnreadable);
    if (!bUnreadable && !content.isNull())
        QCOMPARE(QSettings(m_Ini, QSettings::IniFormat).value("Machine").toString(),
                 QString("MacBookPro8,1"));
    QDir(m_Ini).removeRecursively();
}

// The update worker reads while the GUI thread writes: no write is lost, cache and file agree.
void TestPreferences::concurrentWriters()
{
    QPreferences prefs(m_Ini);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([&prefs, t] {
            for (int i = 0; i < 300; ++i) {
                prefs.setString(QString("t%1_%2").arg(t).arg(i), QString::number(i));
                prefs.getInt(QString("u%1_%2").arg(t).arg(i), -1);
            }
        }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));
    prefs.sync();
    const QSettings reopened(m_Ini, QSettings::IniFormat);
    for (int n = 0; n < 4 * 300; ++n) {
        const QString key = QString("t%1_%2").arg(n / 300).arg(n % 300);
        QCOMPARE(reopened.value(key).toString(), QString::number(n % 300));
        QCOMPARE(prefs.getString(key), QString::number(n % 300));
    }
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
