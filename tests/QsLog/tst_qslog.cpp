#include "QsLog/QsLog.h"
#include "QsLog/QsLogDestFile.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "support/QMemoryLogDestination.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

#include <ctime>

using namespace QsLogging;

namespace {

// Counts its formatting, to prove that a disabled statement formats nothing.
QDebug operator<<(QDebug dbg, int* pnFormatted)
{
    return dbg << ++*pnFormatted;
}

// Lines of 24 characters and 40 bytes of UTF-8, numbered so files compare by number.
QString makeLine(int n)
{
    return QString("line %1 ").arg(n, 2, 10, QChar('0')) + QString(16, QChar(0xE9));
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

    // Backups (-1: no rotation); maximum size; lines written; lines there before; the line
    // numbers in the log, ".1", ".2"... The size counts a line before it is written.
    void rotation_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("below the maximum") << "2;100;2;0;1 2";
        QTest::newRow("exactly the maximum") << "2;80;3;0;3,1 2";
        QTest::newRow("backup 1 becomes 2") << "2;100;6;0;6,3 4 5,1 2";
        QTest::newRow("never more than two") << "2;100;9;0;9,6 7 8,3 4 5";
        QTest::newRow("no backup") << "0;100;9;0;9";
        QTest::newRow("large leftover") << "2;100;1;3;1,0 0 0";
        QTest::newRow("small leftover") << "2;100;2;1;2,0 1";
        QTest::newRow("at most ten") << "12;100;40;0;39 40,36 37 38,33 34 35,30 31 32,27 28 29,"
                                        "24 25 26,21 22 23,18 19 20,15 16 17,12 13 14,9 10 11";
        QTest::newRow("without rotation") << "-1;100;4;3;1 2 3 4";
    }

    void rotation()
    {
        QFETCH(QString, row);
        const QStringList field = row.split(';');
        const int nBackups = field[0].toInt();
        const QString path = m_Dir.filePath(QTest::currentDataTag());
        QFile file(path);
        QVERIFY(file.open(QFile::WriteOnly));
        for (int i = 0; i < field[3].toInt(); ++i)
            file.write(makeLine(0).toUtf8() + '\n');
        file.close();
        {
            DestinationPtr dest = DestinationFactory::MakeFileDestination(
                path, nBackups < 0 ? DisableLogRotation : EnableLogRotation,
                MaxSizeBytes(field[1].toLongLong()), MaxOldLogCount(nBackups));
            for (int n = 1; n <= field[2].toInt(); ++n)
                dest->write(makeLine(n), InfoLevel);
        }
        QStringList files;
        for (int i = 0; files.isEmpty() || files.last() != "missing"; ++i)
            files << lineNumbers(i == 0 ? path : path + QString(".%1").arg(i));
        QCOMPARE(files.join(','), field[4] + ",missing");
    }

    // Lines from threads arrive whole and in order, all of them, even when the logger dies.
    void threadsAndShutdown()
    {
        Logger::instance().setLoggingLevel(TraceLevel);
        QSharedPointer<QMemoryLogDestination> memory(new QMemoryLogDestination);
        Logger::instance().addDestination(memory);
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 500; ++i)
                    QLOG_DEBUG() << "thread" << t << "seq" << i << QString(40, '#');
            });
        for (std::thread& thread : threads)
            thread.join();
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
};

QTEST_GUILESS_MAIN(TestQsLog)
#include "tst_qslog.moc"
