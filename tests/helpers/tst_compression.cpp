#include "helpers/CompressionUtils.h"
#include "helpers/ProcessHelpers.h"
#include "helpers/SizeFormatUtils.h"

#include <QTemporaryDir>
#include <QtTest>
#include <zlib.h>

using namespace CompressionUtils;

static QByteArray compress(const QByteArray& data, int nWindowBits)
{
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, nWindowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<int>(deflateBound(&s, data.size())) + 32, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(static_cast<int>(s.total_out));
    deflateEnd(&s);
    return out;
}

class TestCompression : public QObject
{
    Q_OBJECT
private slots:
    void decompress_data()
    {
        QTest::addColumn<int>("windowBits"); // 0: stored plain
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("cutTo");        // bytes of the input kept; -1 all
        QTest::addColumn<QString>("expected"); // all, none or prefix
        QTest::newRow("zlib") << 15 << int(ZLIB) << -1 << "all";
        QTest::newRow("gzip") << 31 << int(GZIP) << -1 << "all";
        QTest::newRow("plain copy") << 0 << int(NONE) << -1 << "all";
        QTest::newRow("gzip cut short") << 31 << int(GZIP) << 30000 << "prefix";
        QTest::newRow("zlib on gzip") << 31 << int(ZLIB) << -1 << "none";
        QTest::newRow("gzip on zlib") << 15 << int(GZIP) << -1 << "none";
        QTest::newRow("unknown method") << 31 << int(BZIP2) << -1 << "none";
    }
    void decompress()
    {
        QFETCH(int, windowBits);
        QFETCH(int, method);
        QFETCH(int, cutTo);
        QFETCH(QString, expected);
        QByteArray text; // long enough to span several 16 KiB input chunks compressed
        for (int i = 0; i < 20000; ++i)
            text += QByteArray::number(i * 7919 % 100003) + ' ';
        QByteArray input = windowBits ? compress(text, windowBits) : text;
        if (cutTo >= 0)
            input.truncate(cutTo);
        const QByteArray out = DecompressByteArray(input, CompressionMethod(method));
        if (expected == "all")
            QCOMPARE(out, text);
        else if (expected == "none")
            QVERIFY(out.isEmpty());
        else
            QVERIFY(out.size() > 32768 && out.size() < text.size() && text.startsWith(out));
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("512 bytes") << qint64(512) << "512 B";
        QTest::newRow("1024 bytes") << qint64(1024) << "1024 B";
        QTest::newRow("1536 bytes") << qint64(1536) << "1.5 KB";
        QTest::newRow("1 MiB") << qint64(1048576) << "1.02e+03 KB";
        QTest::newRow("5 MiB") << qint64(5 * 1048576) << "5 MB";
        QTest::newRow("1 GiB") << qint64(1073741824) << "1.02e+03 MB";
        QTest::newRow("3.25 GiB") << qint64(3489660928LL) << "3.25 GB";
    }
    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SizeFormatUtils::formatSize(bytes, {"B", "KB", "MB", "GB"}), text);
    }

    // A command runs to its end; one that cannot start or outlives its time-out reports false.
    void runAndWait_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("finishMs");
        QTest::addColumn<bool>("finished");
        QTest::newRow("ends, whatever its code")
            << "sh" << QStringList{"-c", "exit 3"} << 20000 << true;
        QTest::newRow("no such program") << "/nonexistent/tool" << QStringList() << 20000 << false;
        QTest::newRow("outlives its time-out") << "sleep" << QStringList{"30"} << 100 << false;
    }
    void runAndWait()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, finishMs);
        QFETCH(bool, finished);
        QCOMPARE(ProcessHelpers::runAndWait(program, arguments, 10000, finishMs), finished);
    }
    // One command line: double quotes group, and the call returns once the command is done.
    void commandLine()
    {
        QTemporaryDir dir;
        const QString marker = dir.filePath("done here");
        ProcessHelpers::startProcessAndWaitForFinished(
            QStringLiteral("sh -c \"sleep 0.2; echo > '%1'\"").arg(marker), 10000, 20000);
        QVERIFY(QFile::exists(marker));
    }
};

QTEST_GUILESS_MAIN(TestCompression)
#include "tst_compression.moc"
