#include "QsLog/QsLog.h"
#include "QsLog/QsLogDestFile.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "support/QMemoryLogDestination.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <ctime>
#include <unistd.h>

using namespace QsLogging;

namespace {

// Counts its formatting, to prove that a disabled statement formats nothing.
QDebug operator<<(QDebug dbg, int* pnFormatted)
{
    return dbg << ++*pnFormatted;
}

// Fixed-length lines (40 bytes of UTF-8 either way), numbered so files compare by number.
QString makeLine(int n, bool bWide)
{
    return QString("line %1 ").arg(n, 2, 10, QChar('0')) +
           (bWide ? QString(16, QChar(0xE9)) : QString(32, 'x'));
}

QString lineNumbers(const QString& path)
{
    QFile file(path);
    if (!file.open(QFile::ReadOnly))
        return "missing";
    QStringList numbers;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
        numbers << QString::number(line.section(' ', 1, 1).toInt());
    return numbers.join(' ');
}

} // namespace

class TestQsLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { Logger::destroyInstance(); }
    void statement_data();
    void statement();
    void rotation_data();
    void rotation();
    void fileErrorsGoToStandardError();
    void threadsAndShutdown();
    void defaultLogPath();

private:
    QManualClock m_Clock{1767225600123LL}; // 2026-01-01T00:00:00.123Z
    QTemporaryDir m_Dir;
};

void TestQsLog::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
    QCoreServices::setClock(&m_Clock);
}

void TestQsLog::statement_data()
{
    QTest::addColumn<int>("threshold"); // -1: the logger's initial level
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text"); // empty: nothing formatted, nothing written

    QTest::newRow("initial drops debug") << -1 << int(DebugLevel) << "";
    QTest::newRow("initial keeps info") << -1 << int(InfoLevel) << "INFO ";
    QTest::newRow("trace at trace") << int(TraceLevel) << int(TraceLevel) << "TRACE";
    QTest::newRow("debug") << int(TraceLevel) << int(DebugLevel) << "DEBUG";
    QTest::newRow("warn") << int(WarnLevel) << int(WarnLevel) << "WARN ";
    QTest::newRow("warn under error") << int(ErrorLevel) << int(WarnLevel) << "";
    QTest::newRow("error") << int(ErrorLevel) << int(ErrorLevel) << "ERROR";
    QTest::newRow("fatal") << int(ErrorLevel) << int(FatalLevel) << "FATAL";
    QTest::newRow("fatal under off") << int(OffLevel) << int(FatalLevel) << "";
}

void TestQsLog::statement()
{
    QFETCH(int, threshold);
    QFETCH(int, level);
    QFETCH(QString, text);

    Logger& logger = Logger::instance();
    if (threshold >= 0)
        logger.setLoggingLevel(Level(threshold));
    QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
    logger.addDestination(memory);
    int nFormatted = 0;
    // clang-format off
    QLOG_AT_LEVEL(Level(level)) << QStringLiteral("F0Ac") << &nFormatted; const int nLine = __LINE__;
    // clang-format on
    logger.waitForWrites();

    QCOMPARE(nFormatted, text.isEmpty() ? 0 : 1);
    const QString expected =
        text + " 2026-01-01T00:00:00.123 " + __FILE__ + QString(" @ %1 \"F0Ac\" 1 ").arg(nLine);
    QCOMPARE(memory->lines(), text.isEmpty() ? QStringList() : QStringList(expected));
}

// Lines are 40 bytes, the maximum 100 unless a row says otherwise. The count grows by each line
// before it is written and restarts from the reopened file, so a fresh file takes two lines.
void TestQsLog::rotation_data()
{
    QTest::addColumn<int>("backups"); // -1: no rotation
    QTest::addColumn<qint64>("maxSize");
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("wide");
    QTest::addColumn<int>("leftover");      // lines already in the file
    QTest::addColumn<QStringList>("files"); // the log, then ".1", ".2", ...

    QTest::newRow("below the maximum") << 2 << qint64(100) << 2 << false << 0 << QStringList{"1 2"};
    QTest::newRow("exactly the maximum")
        << 2 << qint64(80) << 3 << false << 0 << QStringList{"3", "1 2"};
    QTest::newRow("backup 1 becomes 2")
        << 2 << qint64(100) << 6 << false << 0 << QStringList{"6", "3 4 5", "1 2"};
    QTest::newRow("never more than two")
        << 2 << qint64(100) << 9 << true << 0 << QStringList{"9", "6 7 8", "3 4 5"};
    QTest::newRow("no backup") << 0 << qint64(100) << 9 << false << 0 << QStringList{"9"};
    QTest::newRow("large leftover")
        << 2 << qint64(100) << 1 << false << 3 << QStringList{"1", "0 0 0"};
    QTest::newRow("small leftover")
        << 2 << qint64(100) << 2 << false << 1 << QStringList{"2", "0 1"};
    QStringList tenBackups{"39 40"};
    for (int i = 1; i <= 10; ++i)
        tenBackups
            << QString("%1 %2 %3").arg(3 * (13 - i)).arg(3 * (13 - i) + 1).arg(3 * (13 - i) + 2);
    QTest::newRow("at most ten") << 12 << qint64(100) << 40 << false << 0 << tenBackups;
    QTest::newRow("without rotation")
        << -1 << qint64(100) << 4 << false << 3 << QStringList{"1 2 3 4"};
}

void TestQsLog::rotation()
{
    QFETCH(int, backups);
    QFETCH(qint64, maxSize);
    QFETCH(int, lines);
    QFETCH(bool, wide);
    QFETCH(int, leftover);
    QFETCH(QStringList, files);

    const QString path = m_Dir.filePath(QTest::currentDataTag());
    QFile file(path);
    QVERIFY(file.open(QFile::WriteOnly));
    for (int i = 0; i < leftover; ++i)
        file.write(makeLine(0, false).toUtf8() + '\n');
    file.close();
    {
        DestinationPtr dest = DestinationFactory::MakeFileDestination(
            path, backups < 0 ? DisableLogRotation : EnableLogRotation, MaxSizeBytes(maxSize),
            MaxOldLogCount(backups));
        for (int n = 1; n <= lines; ++n)
            dest->write(makeLine(n, wide), InfoLevel);
    }
    for (int i = 0; i <= files.size(); ++i) {
        const QString name = i == 0 ? path : path + QString(".%1").arg(i);
        QCOMPARE(lineNumbers(name), i < files.size() ? files.at(i) : QString("missing"));
    }
}

// File trouble is reported on standard error and never stops the lines to other destinations.
void TestQsLog::fileErrorsGoToStandardError()
{
    const QString path = m_Dir.filePath("blocked.log");
    QVERIFY(QDir().mkpath(path + ".2/keep")); // backup 2 cannot be replaced
    for (const QString& name : {path + ".1", path}) {
        QFile file(name);
        QVERIFY(file.open(QFile::WriteOnly) && file.write(QByteArray(200, 'o')) == 200);
    }
    const QString missing = m_Dir.filePath("no/such/folder/Thermora.log");
    const QString errorsPath = m_Dir.filePath("stderr.txt");
    fflush(stderr);
    const int nSaved = dup(STDERR_FILENO);
    QVERIFY(freopen(qPrintable(errorsPath), "w", stderr));
    for (const QString& name : {path, missing}) {
        DestinationPtr dest = DestinationFactory::MakeFileDestination(
            name, EnableLogRotation, MaxSizeBytes(100), MaxOldLogCount(2));
        dest->write(makeLine(1, false), InfoLevel);
    }
    fflush(stderr);
    dup2(nSaved, STDERR_FILENO);
    close(nSaved);

    QFile errors(errorsPath);
    QVERIFY(errors.open(QFile::ReadOnly));
    const QString text = QString::fromUtf8(errors.readAll());
    QVERIFY2(text.contains(QString("QsLog: could not rename backup %1.1 to %1.2").arg(path)),
             qPrintable(text));
    QVERIFY2(text.contains("QsLog: could not open log file " + missing), qPrintable(text));
    QCOMPARE(lineNumbers(path), QString("1")); // the full log still became backup 1
    QCOMPARE(QFileInfo(path + ".1").size(), qint64(200));
}

// Lines from several threads arrive whole and in statement order, and destroying the logger
// writes every line still queued.
void TestQsLog::threadsAndShutdown()
{
    const int nThreads = 3;
    const int nLines = 500;
    Logger::instance().setLoggingLevel(TraceLevel);
    QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
    Logger::instance().addDestination(memory);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back(QThread::create([t] {
            for (int i = 0; i < nLines; ++i)
                QLOG_DEBUG() << "thread" << t << "seq" << i << QString(40, '#');
        }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));
    Logger::destroyInstance();

    const QRegularExpression whole("^DEBUG 2026-01-01T00:00:00\\.123 \\S+ @ \\d+ thread (\\d) seq "
                                   "(\\d+) \"#{40}\" $");
    QVector<int> nextSeq(nThreads, 0);
    for (const QString& line : memory->lines()) {
        const QRegularExpressionMatch match = whole.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(2).toInt(), nextSeq[match.captured(1).toInt()]++);
    }
    QCOMPARE(nextSeq, QVector<int>(nThreads, nLines));
}

// On the desktop when there is one, else in the program's data folder, which is created.
void TestQsLog::defaultLogPath()
{
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_Dir.filePath("home")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_Dir.filePath("data")));
    const QString withoutDesktop = QsLogging::defaultLogPath();
    QVERIFY(QDir().mkpath(m_Dir.filePath("home/Desktop")));
    const QString onDesktop = QsLogging::defaultLogPath();
    qputenv("HOME", savedHome);

    QCOMPARE(onDesktop, m_Dir.filePath("home/Desktop/Thermora.log"));
    QVERIFY2(withoutDesktop.startsWith(m_Dir.filePath("data/")), qPrintable(withoutDesktop));
    QVERIFY(withoutDesktop.endsWith("/Thermora.log"));
    QVERIFY(QFileInfo(withoutDesktop).dir().exists());
}

QTEST_GUILESS_MAIN(TestQsLog)
#include "tst_qslog.moc"
