#include "settings/QPreferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

Q_DECLARE_METATYPE(QList<int>)

class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void cacheSemantics_data();
    void cacheSemantics();
    void storedValues_data();
    void storedValues();
    void handEditedFile_data();
    void handEditedFile();
    void dateTimeRoundTrip_data();
    void dateTimeRoundTrip();
    void withoutBackend_data();
    void withoutBackend();
    void nativeStoreLivesInUserConfig();
    void concurrentReadersAndWriters();
    void malformedFileIsKept_data();
    void malformedFileIsKept();
    void unreadableFileIsNeverWritten();

private:
    QString iniPath() const { return m_pDir->filePath(QStringLiteral("test.ini")); }
    void writeFile(const QString& path, const QByteArray& content);
    QByteArray readFile(const QString& path);

    QTemporaryDir m_ConfigHome;
    std::unique_ptr<QTemporaryDir> m_pDir;
};

void TestPreferences::initTestCase()
{
    QVERIFY(m_ConfigHome.isValid());
    // QSettings remembers the per-user folder at first use, so point it away from the real
    // user's settings before any store exists.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_ConfigHome.path()));
}

void TestPreferences::init()
{
    m_pDir.reset(new QTemporaryDir);
    QVERIFY(m_pDir->isValid());
}

void TestPreferences::writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QFile::WriteOnly | QFile::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

QByteArray TestPreferences::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QFile::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Each step is "set:N", "read:D" (getInt with default D), "remove" or "clear"; every read's
// result is compared in order. A second store on the same file then shows what reached disk.
void TestPreferences::cacheSemantics_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("expectedReads");
    QTest::addColumn<int>("expectedOnDisk");

    QTest::newRow("missing key caches the first default")
        << QStringList{"read:-1", "read:5"} << QList<int>{-1, -1} << -9;
    QTest::newRow("set value wins over any default")
        << QStringList{"set:3", "read:-1", "read:5"} << QList<int>{3, 3} << 3;
    QTest::newRow("set replaces a cached default")
        << QStringList{"read:-1", "set:3", "read:5"} << QList<int>{-1, 3} << 3;
    QTest::newRow("remove forgets value and cached default")
        << QStringList{"set:3", "read:-1", "remove", "read:5", "read:7"} << QList<int>{3, 5, 5}
        << -9;
    QTest::newRow("clear forgets everything")
        << QStringList{"set:3", "clear", "read:5"} << QList<int>{5} << -9;
    QTest::newRow("set after clear persists")
        << QStringList{"set:3", "clear", "set:4", "read:-1"} << QList<int>{4} << 4;
}

void TestPreferences::cacheSemantics()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, expectedReads);
    QFETCH(int, expectedOnDisk);

    const QString key = QStringLiteral("trayFan");
    QList<int> reads;
    {
        QPreferences prefs(iniPath());
        for (const QString& step : steps) {
            const QString arg = step.section(':', 1);
            if (step.startsWith("set:"))
                prefs.setInt(key, arg.toInt());
            else if (step.startsWith("read:"))
                reads << prefs.getInt(key, arg.toInt());
            else if (step == "remove")
                prefs.remove(key);
            else if (step == "clear")
                prefs.clear();
        }
        prefs.sync();
    }
    QCOMPARE(reads, expectedReads);

    QPreferences reopened(iniPath());
    QCOMPARE(reopened.getInt(key, -9), expectedOnDisk);
}

// A value written through one store and read back through a fresh one on the same file, so
// the encoding on disk is what is checked, not the cache.
void TestPreferences::storedValues_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("getter");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("string") << "string" << QVariant("English.xml") << "string"
                            << QVariant("English.xml");
    QTest::newRow("string with commas stays one string")
        << "string" << QVariant("F0Ac,F1Ac") << "string" << QVariant("F0Ac,F1Ac");
    QTest::newRow("mode text") << "string" << QVariant("2,TC0P,40,70") << "string"
                               << QVariant("2,TC0P,40,70");
    QTest::newRow("non-ascii string") << "string" << QVariant(QString::fromUtf8("Fläche °C"))
                                      << "string" << QVariant(QString::fromUtf8("Fläche °C"));
    QTest::newRow("string list") << "list" << QVariant(QStringList{"a", "b,c", ""}) << "list"
                                 << QVariant(QStringList{"a", "b,c", ""});
    QTest::newRow("int") << "int" << QVariant(-1) << "int" << QVariant(-1);
    QTest::newRow("int read as string") << "int" << QVariant(42) << "string" << QVariant("42");
    QTest::newRow("numeric string read as int")
        << "string" << QVariant("7") << "int" << QVariant(7);
    QTest::newRow("text read as int is not set")
        << "string" << QVariant("seven") << "int" << QVariant(-1);
    QTest::newRow("rect") << "rect" << QVariant(QRect(10, 20, 640, 480)) << "rect"
                          << QVariant(QRect(10, 20, 640, 480));
    QTest::newRow("int read as rect is null")
        << "int" << QVariant(3) << "rect" << QVariant(QRect());
}

namespace {
void setTyped(QPreferences& prefs, const QString& kind, const QString& key, const QVariant& value)
{
    if (kind == "string")
        prefs.setString(key, value.toString());
    else if (kind == "list")
        prefs.setStringList(key, value.toStringList());
    else if (kind == "int")
        prefs.setInt(key, value.toInt());
    else if (kind == "rect")
        prefs.setRect(key, value.toRect());
    else if (kind == "datetime")
        prefs.setDateTime(key, value.toDateTime());
}

QVariant getTyped(const QPreferences& prefs, const QString& kind, const QString& key)
{
    if (kind == "string")
        return prefs.getString(key);
    if (kind == "list")
        return prefs.getStringList(key);
    if (kind == "int")
        return prefs.getInt(key, -1);
    if (kind == "rect")
        return prefs.getRect(key);
    if (kind == "datetime")
        return prefs.getDateTime(key);
    return QVariant();
}
} // namespace

void TestPreferences::storedValues()
{
    QFETCH(QString, setter);
    QFETCH(QVariant, value);
    QFETCH(QString, getter);
    QFETCH(QVariant, expected);

    {
        QPreferences prefs(iniPath());
        setTyped(prefs, setter, "Key", value);
        QCOMPARE(getTyped(prefs, getter, "Key"), expected);
    }
    QPreferences reopened(iniPath());
    QCOMPARE(getTyped(reopened, getter, "Key"), expected);
}

// Files edited by hand or left by another version: odd values read as the getter's empty value
// or the caller's "not set" default.
void TestPreferences::handEditedFile_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("getter");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("unquoted comma list as string")
        << QByteArray("Key=F0Ac,F1Ac") << "string" << QVariant("F0Ac,F1Ac");
    QTest::newRow("word as int") << QByteArray("Key=abc") << "int" << QVariant(-1);
    QTest::newRow("empty as int") << QByteArray("Key=") << "int" << QVariant(-1);
    QTest::newRow("short rect") << QByteArray("Key=@Rect(1 2 3)") << "rect" << QVariant(QRect());
    QTest::newRow("garbage variant")
        << QByteArray("Key=@Variant(\\0\\0\\0\\x7fzz)") << "string" << QVariant(QString());
    QTest::newRow("date text without time") << QByteArray("Key=2026-03-04") << "datetime"
                                            << QVariant(QDateTime(QDate(2026, 3, 4), QTime(0, 0)));
    QTest::newRow("date text garbage")
        << QByteArray("Key=next tuesday") << "datetime" << QVariant(QDateTime());
    QTest::newRow("date stored as int")
        << QByteArray("Key=5") << "datetime" << QVariant(QDateTime());
}

void TestPreferences::handEditedFile()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, getter);
    QFETCH(QVariant, expected);

    writeFile(iniPath(), "[General]\n" + line + "\nOther=1\n");
    QPreferences prefs(iniPath());
    const QVariant actual = getTyped(prefs, getter, "Key");
    if (getter == "datetime")
        QCOMPARE(actual.toDateTime().isValid(), expected.toDateTime().isValid());
    QCOMPARE(actual, expected);
    QCOMPARE(prefs.getInt("Other", -1), 1);
}

void TestPreferences::dateTimeRoundTrip_data()
{
    QTest::addColumn<QDateTime>("value");
    QTest::addColumn<QDateTime>("expected");

    const QDate day(2026, 7, 15);
    QTest::newRow("local, milliseconds dropped")
        << QDateTime(day, QTime(13, 45, 59, 987)) << QDateTime(day, QTime(13, 45, 59));
    QTest::newRow("utc keeps its offset")
        << QDateTime(day, QTime(23, 59, 58), Qt::UTC) << QDateTime(day, QTime(23, 59, 58), Qt::UTC);
    QTest::newRow("fixed offset") << QDateTime(day, QTime(1, 2, 3), Qt::OffsetFromUTC, -5 * 3600)
                                  << QDateTime(day, QTime(1, 2, 3), Qt::OffsetFromUTC, -5 * 3600);
    QTest::newRow("invalid stays invalid") << QDateTime() << QDateTime();
}

void TestPreferences::dateTimeRoundTrip()
{
    QFETCH(QDateTime, value);
    QFETCH(QDateTime, expected);

    const QString key = QStringLiteral("UpdateChecker_NextCheck");
    {
        QPreferences prefs(iniPath());
        prefs.setDateTime(key, value);
        const QDateTime cached = prefs.getDateTime(key);
        QCOMPARE(cached.isValid(), expected.isValid());
        QCOMPARE(cached, expected);
    }
    QPreferences reopened(iniPath());
    const QDateTime stored = reopened.getDateTime(key);
    QCOMPARE(stored.isValid(), expected.isValid());
    QCOMPARE(stored, expected);
    if (expected.isValid())
        QCOMPARE(stored.toMSecsSinceEpoch() % 1000, qint64(0));
}

void TestPreferences::withoutBackend_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("empty");

    QTest::newRow("string") << "string" << QVariant("x") << QVariant(QString());
    QTest::newRow("list") << "list" << QVariant(QStringList{"x"}) << QVariant(QStringList());
    QTest::newRow("int") << "int" << QVariant(4) << QVariant(-1);
    QTest::newRow("rect") << "rect" << QVariant(QRect(1, 2, 3, 4)) << QVariant(QRect());
    QTest::newRow("datetime") << "datetime" << QVariant(QDateTime::fromSecsSinceEpoch(1e9))
                              << QVariant(QDateTime());
}

void TestPreferences::withoutBackend()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    QFETCH(QVariant, empty);

    QPreferences prefs(nullptr);
    QCOMPARE(getTyped(prefs, kind, "Key"), empty);
    setTyped(prefs, kind, "Key", value);
    QCOMPARE(getTyped(prefs, kind, "Key"), empty);
    // The default is handed back, not remembered.
    QCOMPARE(prefs.getInt("Other", 5), 5);
    QCOMPARE(prefs.getInt("Other", 6), 6);
    prefs.remove("Key");
    prefs.clear();
    prefs.sync();
    QCOMPARE(prefs.isMemoryOnly(), false);
}

void TestPreferences::nativeStoreLivesInUserConfig()
{
    const QString expectedFile = m_ConfigHome.filePath(QStringLiteral("brightfold/thermora.conf"));
    {
        QPreferences prefs(QStringLiteral("thermora"), QStringLiteral("brightfold"));
        prefs.clear();
        prefs.setInt("EnableLog", 1);
        prefs.sync();
    }
    QVERIFY2(QFileInfo::exists(expectedFile), qPrintable(expectedFile));
    QSettings direct(expectedFile, QSettings::IniFormat);
    QCOMPARE(direct.value("EnableLog").toInt(), 1);
}

// The update worker reads while the GUI thread writes. Cache and file are updated under one
// lock: no write is lost, and whatever write came last is the value in both.
void TestPreferences::concurrentReadersAndWriters()
{
    QPreferences prefs(iniPath());
    const int nThreads = 4;
    const int nRounds = 1000;
    std::atomic<int> nReady{0};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back(QThread::create([&prefs, &nReady, t]() {
            // Start together so that the threads really overlap.
            ++nReady;
            while (nReady.load() < nThreads)
                QThread::yieldCurrentThread();
            for (int i = 0; i < nRounds; ++i) {
                prefs.setInt(QStringLiteral("shared"), t * nRounds + i);
                prefs.setString(QStringLiteral("t%1_%2").arg(t).arg(i), QString::number(i));
                prefs.getString(QStringLiteral("traySensor"));
                prefs.getInt(QStringLiteral("uncached%1_%2").arg(t).arg(i), -1);
                if (i % 50 == 0)
                    prefs.remove(QStringLiteral("uncached%1_%2").arg(t).arg(i));
            }
        }));
    }
    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));

    prefs.sync();
    QPreferences reopened(iniPath());
    int nLost = 0;
    for (int t = 0; t < nThreads; ++t) {
        for (int i = 0; i < nRounds; ++i) {
            const QString key = QStringLiteral("t%1_%2").arg(t).arg(i);
            if (prefs.getString(key) != QString::number(i) ||
                reopened.getString(key) != QString::number(i))
                ++nLost;
        }
    }
    QCOMPARE(nLost, 0);
    const int nShared = prefs.getInt("shared", -1);
    QVERIFY(nShared >= 0 && nShared < nThreads * nRounds);
    QCOMPARE(reopened.getInt("shared", -1), nShared);

    prefs.setInt("shared", -7);
    prefs.sync();
    QCOMPARE(prefs.getInt("shared", 1), -7);
    QCOMPARE(QPreferences(iniPath()).getInt("shared", 1), -7);
}

// The original bytes of a file the settings parser cannot fully read must survive the next
// write, and whatever it could read is still used.
void TestPreferences::malformedFileIsKept_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("expectCopy");
    QTest::addColumn<int>("expectedEnableLog");

    QByteArray binary;
    for (int i = 0; i < 512; ++i)
        binary.append(char((i * 73 + 11) % 256));

    QTest::newRow("well formed") << QByteArray("[General]\nEnableLog=1\n") << false << 1;
    QTest::newRow("binary noise") << binary << true << -1;
    QTest::newRow("text without keys") << QByteArray("hello\nworld\n") << true << -1;
    QTest::newRow("unclosed quote hides later keys")
        << QByteArray("EnableLog=1\n\"broken\nFans=F0Ac\n") << true << 1;
    QTest::newRow("unclosed section")
        << QByteArray("EnableLog=1\n[General\nFans=F0Ac\n") << true << 1;
}

void TestPreferences::malformedFileIsKept()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, expectCopy);
    QFETCH(int, expectedEnableLog);

    writeFile(iniPath(), content);
    const QString copy = iniPath() + ".corrupt";
    if (expectCopy)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("malformed.*kept as .*\\.corrupt$"));
    {
        QPreferences prefs(iniPath());
        QCOMPARE(prefs.getInt("EnableLog", -1), expectedEnableLog);
        prefs.setString("Machine", "MacBookPro8,1");
        prefs.sync();
        QCOMPARE(prefs.isMemoryOnly(), false);
    }
    QCOMPARE(QFileInfo::exists(copy), expectCopy);
    if (expectCopy)
        QCOMPARE(readFile(copy), content);
    QCOMPARE(QPreferences(iniPath()).getString("Machine"), QString("MacBookPro8,1"));

    if (expectCopy) {
        // A second broken file does not replace the first copy.
        writeFile(iniPath(), content);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("kept as .*\\.corrupt\\.2$"));
        QPreferences again(iniPath());
        QCOMPARE(readFile(copy), content);
        QCOMPARE(readFile(copy + ".2"), content);
    }
}

void TestPreferences::unreadableFileIsNeverWritten()
{
    // A folder where the file should be: nothing can be read, so nothing may be written.
    QVERIFY(QDir().mkpath(iniPath()));
    writeFile(iniPath() + "/keep", "data");

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("cannot be read; changes will not be saved"));
    QPreferences prefs(iniPath());
    QVERIFY(prefs.isMemoryOnly());
    QCOMPARE(prefs.getInt("EnableLog", -1), -1);
    prefs.setInt("EnableLog", 1);
    QCOMPARE(prefs.getInt("EnableLog", -1), 1); // this session still sees its changes
    prefs.clear();
    prefs.sync();
    QVERIFY(QFileInfo(iniPath()).isDir());
    QCOMPARE(readFile(iniPath() + "/keep"), QByteArray("data"));
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
