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

// Lines of 40 bytes of UTF-8 either way, numbered so files compare by number.
QString makeLine(int n, bool bWide)
{
    return QString("line %1 ").arg(n, 2, 10, QChar('0')) +
           (bWide ? QString(16, QChar(0xE9)) : QString(32, 'x'));
}

QString lineNumbers(const QString& path)
{
    QFile file(path);
    QStringList numbers;
    if (!file.open(QFile::ReadOnly))
        return "missing";
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
        numbers << QString::number(line.section(' ', 1, 1).toInt());
    return numbers.join(' ');
}

} // namespace

class TestQsLog : public QObject
{
    Q_OBJECT
    QManualClock m_Clock{1767225600123LL}; // 2026-01-01T00:00:00.123Z
    QTemporaryDir m_Dir;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QCoreServices::setClock(&m_Clock);
    }
    void cleanup() { Logger::destroyInstance(); }

    void statement_data()
    {
        QTest::addColumn<int>("threshold"); // -1: the logger's initial level
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("text"); // empty: nothing formatted, nothing written
        QTest::newRow("initial drops debug") << -1 << int(DebugLevel) << "";
        QTest::newRow("initial keeps info") << -1 << int(InfoLevel) << "INFO ";
        QTest::newRow("trace") << int(TraceLevel) << int(TraceLevel) << "TRACE";
        QTest::newRow("debug") << int(TraceLevel) << int(DebugLevel) << "DEBUG";
        QTest::newRow("warn") << int(WarnLevel) << int(WarnLevel) << "WARN ";
        QTest::newRow("warn under error") << int(ErrorLevel) << int(WarnLevel) << "";
        QTest::newRow("error") << int(ErrorLevel) << int(ErrorLevel) << "ERROR";
        QTest::newRow("fatal") << int(ErrorLevel) << int(FatalLevel) << "FATAL";
        QTest::newRow("fatal under off") << int(OffLevel) << int(FatalLevel) << "";
    }

    void statement()
    {
        QFETCH(int, threshold);
        QFETCH(int, level);
        QFETCH(QString, text);
        if (threshold >= 0)
            Logger::instance().setLoggingLevel(Level(threshold));
        QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
        Logger::instance().addDestination(memory);
        int nFormatted = 0;
        // clang-format off
        QLOG_AT_LEVEL(Level(level)) << QString("F0Ac") << &nFormatted; const int nLine = __LINE__;
        // clang-format on
        Logger::instance().waitForWrites();
        QCOMPARE(nFormatted, text.isEmpty() ? 0 : 1);
        const QString line =
            text + " 2026-01-01T00:00:00.123 " + __FILE__ + QString(" @ %1 \"F0Ac\" 1 ").arg(nLine);
        QCOMPARE(memory->lines(), text.isEmpty() ? QStringList() : QStringList(line));
    }

    // Backups (-1: no rotation); maximum size; lines written; wide characters; lines already in
    // the file; the line numbers in the log, ".1", ".2", ... Lines are 40 bytes; the count
    // grows by each line before it is written and restarts from the reopened file.
    void rotation_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::newRow("below the maximum") << "2;100;2;0;0;1 2";
        QTest::newRow("exactly the maximum") << "2;80;3;0;0;3,1 2";
        QTest::newRow("backup 1 becomes 2") << "2;100;6;0;0;6,3 4 5,1 2";
        QTest::newRow("never more than two") << "2;100;9;1;0;9,6 7 8,3 4 5";
        QTest::newRow("no backup") << "0;100;9;0;0;9";
        QTest::newRow("large leftover") << "2;100;1;0;3;1,0 0 0";
        QTest::newRow("small leftover") << "2;100;2;0;1;2,0 1";
        QTest::newRow("at most ten") << "12;100;40;0;0;39 40,36 37 38,33 34 35,30 31 32,27 28 29,"
                                        "24 25 26,21 22 23,18 19 20,15 16 17,12 13 14,9 10 11";
        QTest::newRow("without rotation") << "-1;100;4;0;3;1 2 3 4";
    }

    void rotation()
    {
        QFETCH(QString, spec);
        const QStringList field = spec.split(';');
        const int nBackups = field[0].toInt();
        const QString path = m_Dir.filePath(QTest::currentDataTag());
        QFile file(path);
        QVERIFY(file.open(QFile::WriteOnly));
        for (int i = 0; i < field[4].toInt(); ++i)
            file.write(makeLine(0, false).toUtf8() + '\n');
        file.close();
        {
            DestinationPtr dest = DestinationFactory::MakeFileDestination(
                path, nBackups < 0 ? DisableLogRotation : EnableLogRotation,
                MaxSizeBytes(field[1].toLongLong()), MaxOldLogCount(nBackups));
            for (int n = 1; n <= field[2].toInt(); ++n)
                dest->write(makeLine(n, field[3] == "1"), InfoLevel);
        }
        QStringList files;
        for (int i = 0; files.isEmpty() || files.last() != "missing"; ++i)
            files << lineNumbers(i == 0 ? path : path + QString(".%1").arg(i));
        QCOMPARE(files.join(','), field[5] + ",missing");
    }

    // File trouble is reported on standard error; the full log still becomes backup 1.
    void fileErrorsGoToStandardError()
    {
        const QString path = m_Dir.filePath("blocked.log");
        const QString missing = m_Dir.filePath("no/such/folder/Thermora.log");
        QVERIFY(QDir().mkpath(path + ".2/keep")); // backup 2 cannot be replaced
        for (const QString& name : {path + ".1", path}) {
            QFile file(name);
            QVERIFY(file.open(QFile::WriteOnly) && file.write(QByteArray(200, 'o')) == 200);
        }
        const int nSaved = dup(STDERR_FILENO);
        QVERIFY(freopen(qPrintable(m_Dir.filePath("stderr.txt")), "w", stderr));
        for (const QString& name : {path, missing})
            DestinationFactory::MakeFileDestination(name, EnableLogRotation, MaxSizeBytes(100),
                                                    MaxOldLogCount(2))
                ->write(makeLine(1, false), InfoLevel);
        fflush(stderr);
        dup2(nSaved, STDERR_FILENO);
        QFile errors(m_Dir.filePath("stderr.txt"));
        QVERIFY(errors.open(QFile::ReadOnly));
        QCOMPARE(QString::fromUtf8(errors.readAll()),
                 QString("QsLog: could not rename backup %1.1 to %1.2\nQsLog: could not open log "
                         "file %2\n")
                     .arg(path, missing));
        QCOMPARE(lineNumbers(path), QString("1"));
        QCOMPARE(QFileInfo(path + ".1").size(), qint64(200));
    }

    // Lines from several threads arrive whole and in statement order, and destroying the
    // logger writes every line still queued.
    void threadsAndShutdown()
    {
        Logger::instance().setLoggingLevel(TraceLevel);
        QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
        Logger::instance().addDestination(memory);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back(QThread::create([t] {
                for (int i = 0; i < 500; ++i)
                    QLOG_DEBUG() << "thread" << t << "seq" << i << QString(40, '#');
            }));
            threads.back()->start();
        }
        for (auto& thread : threads)
            QVERIFY(thread->wait(60000));
        Logger::destroyInstance();
        const QRegularExpression whole("^DEBUG 2026-01-01T00:00:00\\.123 \\S+ @ \\d+ thread (\\d) "
                                       "seq (\\d+) \"#{40}\" $");
        QVector<int> nextSeq(3, 0);
        for (const QString& line : memory->lines()) {
            const QRegularExpressionMatch match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QCOMPARE(match.captured(2).toInt(), nextSeq[match.captured(1).toInt()]++);
        }
        QCOMPARE(nextSeq, QVector<int>(3, 500));
    }

    // On the desktop when there is one, else in the program's data folder, which is created.
    void defaultLogPath()
    {
        qputenv("HOME", QFile::encodeName(m_Dir.filePath("home")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_Dir.filePath("data")));
        const QString withoutDesktop = QsLogging::defaultLogPath();
        QVERIFY(QDir().mkpath(m_Dir.filePath("home/Desktop")));
        QCOMPARE(QsLogging::defaultLogPath(), m_Dir.filePath("home/Desktop/Thermora.log"));
        QVERIFY2(withoutDesktop.startsWith(m_Dir.filePath("data/")), qPrintable(withoutDesktop));
        QVERIFY(withoutDesktop.endsWith("/Thermora.log"));
        QVERIFY(QFileInfo(withoutDesktop).dir().exists());
    }
};

QTEST_GUILESS_MAIN(TestQsLog)
#include "tst_qslog.moc"
