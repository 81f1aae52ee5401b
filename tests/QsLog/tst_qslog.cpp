#include "QsLog/QsLog.h"
#include "QsLog/QsLogDestFile.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "support/QMemoryLogDestination.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace QsLogging;

Q_DECLARE_METATYPE(QsLogging::Level)

namespace {

// Counts how often it is formatted, to prove that a disabled statement formats nothing.
struct CountedItem
{
    int* pnFormatted;
};

QDebug operator<<(QDebug dbg, const CountedItem& item)
{
    ++*item.pnFormatted;
    dbg << "counted";
    return dbg;
}

int countedCall(int* pnCalls)
{
    return ++*pnCalls;
}

// Sends standard error to a file while alive, so the logger's messages can be read back.
class StderrCapture
{
public:
    explicit StderrCapture(const QString& path) : m_path(path)
    {
        fflush(stderr);
        m_nSaved = dup(STDERR_FILENO);
        FILE* pFile = fopen(QFile::encodeName(path).constData(), "w");
        dup2(fileno(pFile), STDERR_FILENO);
        fclose(pFile);
    }
    ~StderrCapture() { restore(); }

    QString text()
    {
        restore();
        QFile file(m_path);
        file.open(QFile::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

private:
    void restore()
    {
        if (m_nSaved < 0)
            return;
        fflush(stderr);
        dup2(m_nSaved, STDERR_FILENO);
        close(m_nSaved);
        m_nSaved = -1;
    }

    QString m_path;
    int m_nSaved = -1;
};

// Blocks the writer thread at its first line until released.
class GateDestination : public QMemoryLogDestination
{
public:
    void write(const QString& message, Level level) override
    {
        if (!m_bPassed) {
            m_Gate.acquire();
            m_bPassed = true;
        }
        QMemoryLogDestination::write(message, level);
    }
    void open() { m_Gate.release(); }

private:
    QSemaphore m_Gate;
    bool m_bPassed = false;
};

const qint64 kMaxSize = 100;

// Exactly 40 bytes of UTF-8 (41 with the line end), numbered so files can be compared by number.
QString makeLine(int n, bool bWide)
{
    const QString head = QStringLiteral("line %1 ").arg(n, 2, 10, QLatin1Char('0'));
    return head + (bWide ? QString(16, QChar(0xE9)) : QString(32, QLatin1Char('x')));
}

QStringList lineNumbers(const QString& path)
{
    QFile file(path);
    if (!file.open(QFile::ReadOnly | QFile::Text))
        return {QStringLiteral("<missing>")};
    QStringList numbers;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
        numbers << QString::number(line.section(' ', 1, 1).toInt());
    return numbers;
}

} // namespace

class TestQsLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void disabledLevelFormatsNothing_data();
    void disabledLevelFormatsNothing();
    void lineFormat_data();
    void lineFormat();
    void fileHoldsUtf8Lines();
    void rotation_data();
    void rotation();
    void errorsAreReportedAndLoggingGoesOn_data();
    void errorsAreReportedAndLoggingGoesOn();
    void linesFromThreadsArriveWholeAndInOrder_data();
    void linesFromThreadsArriveWholeAndInOrder();
    void destroyWritesEveryQueuedLine();
    void defaultLogPath_data();
    void defaultLogPath();
    void badLevelIsFatal();

private:
    QManualClock m_Clock{1767225600123LL}; // 2026-01-01T00:00:00.123Z
    std::unique_ptr<QTemporaryDir> m_pDir;
};

void TestQsLog::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
    QCoreServices::setClock(&m_Clock);
}

void TestQsLog::init()
{
    Logger::destroyInstance();
    m_pDir.reset(new QTemporaryDir);
    QVERIFY(m_pDir->isValid());
}

void TestQsLog::cleanup()
{
    Logger::destroyInstance();
}

void TestQsLog::disabledLevelFormatsNothing_data()
{
    QTest::addColumn<int>("threshold"); // -1: leave the logger's initial level
    QTest::addColumn<Level>("statement");
    QTest::addColumn<bool>("expectLine");

    QTest::newRow("initial level drops debug") << -1 << DebugLevel << false;
    QTest::newRow("initial level keeps info") << -1 << InfoLevel << true;
    QTest::newRow("trace under info") << int(InfoLevel) << TraceLevel << false;
    QTest::newRow("info at info") << int(InfoLevel) << InfoLevel << true;
    QTest::newRow("trace at trace") << int(TraceLevel) << TraceLevel << true;
    QTest::newRow("warn under error") << int(ErrorLevel) << WarnLevel << false;
    QTest::newRow("fatal over error") << int(ErrorLevel) << FatalLevel << true;
    QTest::newRow("fatal under off") << int(OffLevel) << FatalLevel << false;
}

void TestQsLog::disabledLevelFormatsNothing()
{
    QFETCH(int, threshold);
    QFETCH(Level, statement);
    QFETCH(bool, expectLine);

    Logger& logger = Logger::instance();
    if (threshold >= 0)
        logger.setLoggingLevel(Level(threshold));
    QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
    logger.addDestination(memory);

    int nFormatted = 0;
    int nCalls = 0;
    switch (statement) {
    case TraceLevel:
        QLOG_TRACE() << CountedItem{&nFormatted} << countedCall(&nCalls);
        break;
    case DebugLevel:
        QLOG_DEBUG() << CountedItem{&nFormatted} << countedCall(&nCalls);
        break;
    case InfoLevel:
        QLOG_INFO() << CountedItem{&nFormatted} << countedCall(&nCalls);
        break;
    case WarnLevel:
        QLOG_WARN() << CountedItem{&nFormatted} << countedCall(&nCalls);
        break;
    case ErrorLevel:
        QLOG_ERROR() << CountedItem{&nFormatted} << countedCall(&nCalls);
        break;
    default:
        QLOG_FATAL() << CountedItem{&nFormatted} << countedCall(&nCalls);
        break;
    }
    logger.waitForWrites();

    const int nExpected = expectLine ? 1 : 0;
    QCOMPARE(nFormatted, nExpected);
    QCOMPARE(nCalls, nExpected);
    QCOMPARE(memory->lines().size(), nExpected);
}

void TestQsLog::lineFormat_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<QString>("levelText");

    QTest::newRow("trace") << TraceLevel << "TRACE";
    QTest::newRow("debug") << DebugLevel << "DEBUG";
    QTest::newRow("info") << InfoLevel << "INFO ";
    QTest::newRow("warn") << WarnLevel << "WARN ";
    QTest::newRow("error") << ErrorLevel << "ERROR";
    QTest::newRow("fatal") << FatalLevel << "FATAL";
}

void TestQsLog::lineFormat()
{
    QFETCH(Level, level);
    QFETCH(QString, levelText);

    Logger& logger = Logger::instance();
    logger.setLoggingLevel(TraceLevel);
    QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
    logger.addDestination(memory);

    // clang-format off
    QLOG_AT_LEVEL(level) << QStringLiteral("F0Ac") << 1200 << "rpm"; const int nLine = __LINE__;
    // clang-format on
    logger.waitForWrites();

    const QString expected = levelText + QStringLiteral(" 2026-01-01T00:00:00.123 ") +
                             QString::fromUtf8(__FILE__) +
                             QStringLiteral(" @ %1 \"F0Ac\" 1200 rpm ").arg(nLine);
    QCOMPARE(memory->lines(), QStringList{expected});
}

void TestQsLog::fileHoldsUtf8Lines()
{
    const QString path = m_pDir->filePath(QStringLiteral("Thermora.log"));
    Logger& logger = Logger::instance();
    logger.addDestination(DestinationFactory::MakeFileDestination(
        path, EnableLogRotation, MaxSizeBytes(10485760), MaxOldLogCount(2)));

    QLOG_INFO() << QString::fromUtf8("Lüfter") << 21.5;
    QLOG_WARN() << "second";
    logger.waitForWrites();

    QFile file(path);
    QVERIFY(file.open(QFile::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].startsWith("INFO  2026-01-01T00:00:00.123 "), lines[0].constData());
    QVERIFY2(lines[0].endsWith(" \"L\xc3\xbc"
                               "fter\" 21.5 "),
             lines[0].constData());
    QVERIFY(lines[1].startsWith("WARN  "));
    QVERIFY(lines[2].isEmpty());
}

// Lines are 40 bytes; the maximum is 100. The size count grows by each line before it is
// written and restarts from the reopened (empty) file after a rotation, so a fresh file takes
// two lines and every later one three.
void TestQsLog::rotation_data()
{
    QTest::addColumn<bool>("rotate");
    QTest::addColumn<qint64>("maxSize");
    QTest::addColumn<int>("backupCount");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<bool>("wide");
    QTest::addColumn<int>("leftoverLines");
    QTest::addColumn<QStringList>("expectedCurrent");
    QTest::addColumn<QStringList>("expectedBackups"); // ".1" first, each as its line numbers

    QTest::newRow("below the maximum")
        << true << kMaxSize << 2 << 2 << false << 0 << QStringList{"1", "2"} << QStringList{};
    QTest::newRow("exactly the maximum does not rotate")
        << true << qint64(80) << 2 << 3 << false << 0 << QStringList{"3"} << QStringList{"1 2"};
    QTest::newRow("first rotation")
        << true << kMaxSize << 2 << 3 << false << 0 << QStringList{"3"} << QStringList{"1 2"};
    QTest::newRow("backup 1 becomes backup 2") << true << kMaxSize << 2 << 6 << false << 0
                                               << QStringList{"6"} << QStringList{"3 4 5", "1 2"};
    QTest::newRow("never more than two backups")
        << true << kMaxSize << 2 << 9 << false << 0 << QStringList{"9"}
        << QStringList{"6 7 8", "3 4 5"};
    QTest::newRow("one backup") << true << kMaxSize << 1 << 9 << false << 0 << QStringList{"9"}
                                << QStringList{"6 7 8"};
    QTest::newRow("no backup deletes the full log")
        << true << kMaxSize << 0 << 9 << false << 0 << QStringList{"9"} << QStringList{};
    QTest::newRow("size counted in utf-8 bytes") << true << kMaxSize << 2 << 6 << true << 0
                                                 << QStringList{"6"} << QStringList{"3 4 5", "1 2"};
    QTest::newRow("large leftover rotates at the first line")
        << true << kMaxSize << 2 << 1 << false << 13 << QStringList{"1"}
        << QStringList{QStringList(QVector<QString>(13, "0").toList()).join(' ')};
    QTest::newRow("small leftover is appended to")
        << true << kMaxSize << 2 << 2 << false << 1 << QStringList{"2"} << QStringList{"0 1"};

    // 40 lines rotate 13 times; only ten backups are kept even when twelve are asked for.
    QStringList tenBackups;
    for (int i = 1; i <= 10; ++i) {
        const int nFirst = 3 * (13 - i);
        tenBackups << QStringLiteral("%1 %2 %3").arg(nFirst).arg(nFirst + 1).arg(nFirst + 2);
    }
    QTest::newRow("backup count clamped to ten")
        << true << kMaxSize << 12 << 40 << false << 0 << QStringList{"39", "40"} << tenBackups;

    QTest::newRow("without rotation the file is truncated and grows")
        << false << kMaxSize << 2 << 9 << false << 13 << QString("1 2 3 4 5 6 7 8 9").split(' ')
        << QStringList{};
}

void TestQsLog::rotation()
{
    QFETCH(bool, rotate);
    QFETCH(qint64, maxSize);
    QFETCH(int, backupCount);
    QFETCH(int, lineCount);
    QFETCH(bool, wide);
    QFETCH(int, leftoverLines);
    QFETCH(QStringList, expectedCurrent);
    QFETCH(QStringList, expectedBackups);

    const QString path = m_pDir->filePath(QStringLiteral("Thermora.log"));
    if (leftoverLines > 0) {
        QFile leftover(path);
        QVERIFY(leftover.open(QFile::WriteOnly));
        for (int i = 0; i < leftoverLines; ++i)
            leftover.write(makeLine(0, false).toUtf8() + '\n');
    }

    {
        DestinationPtr dest = DestinationFactory::MakeFileDestination(
            path, rotate ? EnableLogRotation : DisableLogRotation, MaxSizeBytes(maxSize),
            MaxOldLogCount(backupCount));
        QVERIFY(dest->isValid());
        for (int n = 1; n <= lineCount; ++n)
            dest->write(makeLine(n, wide), InfoLevel);
    }

    QCOMPARE(lineNumbers(path), expectedCurrent);
    for (int i = 0; i < expectedBackups.size(); ++i)
        QCOMPARE(lineNumbers(path + QStringLiteral(".%1").arg(i + 1)).join(' '),
                 expectedBackups.at(i));
    const QString beyond = path + QStringLiteral(".%1").arg(expectedBackups.size() + 1);
    QVERIFY2(!QFile::exists(beyond), qPrintable(beyond));
}

void TestQsLog::errorsAreReportedAndLoggingGoesOn_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expectedMessage"); // %1: the log path

    QTest::newRow("folder missing") << "missing-folder"
                                    << "QsLog: could not open log file %1";
    QTest::newRow("path is a folder") << "path-is-folder"
                                      << "QsLog: could not open log file %1";
    QTest::newRow("backup slot is a folder") << "backup-is-folder"
                                             << "QsLog: could not rename backup %1.1 to %1.2";
}

void TestQsLog::errorsAreReportedAndLoggingGoesOn()
{
    QFETCH(QString, setup);
    QFETCH(QString, expectedMessage);

    QString path = m_pDir->filePath(QStringLiteral("Thermora.log"));
    if (setup == "missing-folder") {
        path = m_pDir->filePath(QStringLiteral("no/such/folder/Thermora.log"));
    } else if (setup == "path-is-folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (setup == "backup-is-folder") {
        // ".1" exists and ".2" is a folder that cannot be replaced: the shift fails.
        QVERIFY(QDir().mkpath(path + ".2/keep"));
        QFile backup(path + ".1");
        QVERIFY(backup.open(QFile::WriteOnly));
        backup.write("older\n");
        QFile log(path);
        QVERIFY(log.open(QFile::WriteOnly));
        log.write(QByteArray(200, 'o') + '\n');
    }

    Logger& logger = Logger::instance();
    QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
    QString errors;
    {
        StderrCapture capture(m_pDir->filePath(QStringLiteral("stderr.txt")));
        logger.addDestination(DestinationFactory::MakeFileDestination(
            path, EnableLogRotation, MaxSizeBytes(kMaxSize), MaxOldLogCount(2)));
        logger.addDestination(memory);
        QLOG_INFO() << "first";
        QLOG_INFO() << "second";
        logger.waitForWrites();
        errors = capture.text();
    }

    QVERIFY2(errors.contains(expectedMessage.arg(path)), qPrintable(errors));
    QCOMPARE(memory->lines().size(), 2);
    if (setup == "backup-is-folder") {
        // The full log still became backup 1 and the new file holds both lines.
        QCOMPARE(lineNumbers(path).size(), 2);
        QFile backup(path + ".1");
        QVERIFY(backup.open(QFile::ReadOnly));
        QCOMPARE(backup.readAll(), QByteArray(200, 'o') + '\n');
    }
}

void TestQsLog::linesFromThreadsArriveWholeAndInOrder_data()
{
    QTest::addColumn<int>("threadCount");
    QTest::addColumn<int>("linesPerThread");

    QTest::newRow("2 threads") << 2 << 300;
    QTest::newRow("4 threads") << 4 << 1000;
}

void TestQsLog::linesFromThreadsArriveWholeAndInOrder()
{
    QFETCH(int, threadCount);
    QFETCH(int, linesPerThread);

    const QString path = m_pDir->filePath(QStringLiteral("Thermora.log"));
    Logger& logger = Logger::instance();
    logger.setLoggingLevel(TraceLevel);
    logger.addDestination(DestinationFactory::MakeFileDestination(
        path, EnableLogRotation, MaxSizeBytes(10485760), MaxOldLogCount(2)));

    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t, linesPerThread]() {
            for (int i = 0; i < linesPerThread; ++i)
                QLOG_DEBUG() << "thread" << t << "seq" << i << QString(40, QLatin1Char('#'));
        }));
    }
    for (auto& thread : threads)
        thread->start();
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));
    logger.waitForWrites();

    QFile file(path);
    QVERIFY(file.open(QFile::ReadOnly | QFile::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), threadCount * linesPerThread);

    const QRegularExpression whole(
        QStringLiteral("^DEBUG 2026-01-01T00:00:00\\.123 \\S+ @ \\d+ thread (\\d+) seq (\\d+) "
                       "\"#{40}\" $"));
    QVector<int> nextSeq(threadCount, 0);
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = whole.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int t = match.captured(1).toInt();
        QCOMPARE(match.captured(2).toInt(), nextSeq[t]);
        ++nextSeq[t];
    }
}

void TestQsLog::destroyWritesEveryQueuedLine()
{
    QSharedPointer<GateDestination> gate(new GateDestination);
    Logger::instance().addDestination(gate);
    const int nLines = 2000;
    for (int i = 0; i < nLines; ++i)
        QLOG_INFO() << i;
    gate->open();
    Logger::destroyInstance();

    const QStringList lines = gate->lines();
    QCOMPARE(lines.size(), nLines);
    QVERIFY(lines.last().endsWith(QStringLiteral(" %1 ").arg(nLines - 1)));
}

void TestQsLog::defaultLogPath_data()
{
    QTest::addColumn<QString>("desktop"); // "folder", "file" or "none"
    QTest::addColumn<bool>("onDesktop");

    QTest::newRow("desktop folder") << "folder" << true;
    QTest::newRow("no desktop") << "none" << false;
    QTest::newRow("desktop is a file") << "file" << false;
}

void TestQsLog::defaultLogPath()
{
    QFETCH(QString, desktop);
    QFETCH(bool, onDesktop);

    const QString home = m_pDir->filePath(QStringLiteral("home"));
    const QString dataHome = m_pDir->filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(home));
    if (desktop == "folder")
        QVERIFY(QDir().mkpath(home + "/Desktop"));
    else if (desktop == "file")
        QVERIFY(QFile(home + "/Desktop").open(QFile::WriteOnly));

    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const QString path = QsLogging::defaultLogPath();
    qputenv("HOME", savedHome);
    qputenv("XDG_DATA_HOME", savedData);

    if (onDesktop) {
        QCOMPARE(path, home + "/Desktop/Thermora.log");
    } else {
        QVERIFY2(path.startsWith(dataHome + '/'), qPrintable(path));
        QVERIFY2(path.endsWith("/Thermora.log"), qPrintable(path));
        QVERIFY(QFileInfo(QFileInfo(path).path()).isDir());
    }
    // The folder is writable: the log can be created there.
    QFile log(path);
    QVERIFY(log.open(QFile::WriteOnly));
}

// A statement at a level outside 0..6 is a programming error that must stop the program with a
// clear message. The test runs itself as a child that makes the mistake.
void TestQsLog::badLevelIsFatal()
{
    if (qEnvironmentVariableIsSet("TST_QSLOG_BAD_LEVEL_CHILD")) {
        Logger::instance().setLoggingLevel(TraceLevel);
        QLOG_AT_LEVEL(Level(9)) << "never written";
        return; // only reached when the bad level was accepted
    }

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TST_QSLOG_BAD_LEVEL_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels); // the test library reports on stdout
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("badLevelIsFatal")});
    QVERIFY(child.waitForFinished(60000));
    const QString errors = QString::fromUtf8(child.readAll());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY2(errors.contains(QStringLiteral("bad log level")), qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestQsLog)
#include "tst_qslog.moc"
