#include "helpers/CompressionUtils.h"
#include "helpers/SizeFormatUtils.h"

#include <QtTest>
#include <zlib.h>

using namespace CompressionUtils;

namespace {
// Text long enough to span several 16 KiB input chunks once compressed.
QByteArray sampleText()
{
    QByteArray text;
    for (int i = 0; i < 20000; ++i)
        text += QByteArray::number(i * 7919 % 100003) + ' ';
    return text;
}

QByteArray compress(const QByteArray& data, int nWindowBits)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, nWindowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<int>(deflateBound(&stream, data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(static_cast<int>(stream.total_out));
    deflateEnd(&stream);
    return out;
}
} // namespace

class TestCompression : public QObject
{
    Q_OBJECT
private slots:
    void decompress_data()
    {
        QTest::addColumn<QString>("stored"); // zlib, gzip or plain
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("cutTo");        // bytes of the input kept; -1 all
        QTest::addColumn<QString>("expected"); // all, none or prefix
        QTest::newRow("zlib") << "zlib" << int(ZLIB) << -1 << "all";
        QTest::newRow("gzip") << "gzip" << int(GZIP) << -1 << "all";
        QTest::newRow("plain copy") << "plain" << int(NONE) << -1 << "all";
        QTest::newRow("gzip cut short") << "gzip" << int(GZIP) << 30000 << "prefix";
        QTest::newRow("zlib on gzip") << "gzip" << int(ZLIB) << -1 << "none";
        QTest::newRow("gzip on zlib") << "zlib" << int(GZIP) << -1 << "none";
        QTest::newRow("gzip on plain") << "plain" << int(GZIP) << -1 << "none";
        QTest::newRow("unknown method") << "gzip" << int(BZIP2) << -1 << "none";
        QTest::newRow("empty gzip") << "empty" << int(GZIP) << -1 << "none";
    }
    void decompress()
    {
        QFETCH(QString, stored);
        QFETCH(int, method);
        QFETCH(int, cutTo);
        QFETCH(QString, expected);
        const QByteArray text = sampleText();
        QByteArray input = stored == "zlib"    ? compress(text, 15)
                           : stored == "gzip"  ? compress(text, 15 + 16)
                           : stored == "plain" ? text
                                               : QByteArray();
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

    // The device over an array grows it at the end and overwrites inside it.
    void streamDevice()
    {
        QByteArray array("abcdef");
        QStreamFromByteArray device(&array);
        QCOMPARE(device.size(), 6);
        device.seek(4);
        QCOMPARE(device.write("XYZ", 3), 3);
        QCOMPARE(array, QByteArray("abcdXYZ"));
        device.seek(1);
        QCOMPARE(device.read(10), QByteArray("bcdXYZ"));
    }

    void formatSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("512 bytes") << qint64(512) << "512 B";
        QTest::newRow("1024 bytes") << qint64(1024) << "1024 B";
        QTest::newRow("1025 bytes") << qint64(1025) << "1 KB";
        QTest::newRow("1536 bytes") << qint64(1536) << "1.5 KB";
        QTest::newRow("2048 bytes") << qint64(2048) << "2 KB";
        QTest::newRow("1000 KiB") << qint64(1024000) << "1e+03 KB";
        QTest::newRow("1 MiB") << qint64(1048576) << "1.02e+03 KB";
        QTest::newRow("5 MiB") << qint64(5 * 1048576) << "5 MB";
        QTest::newRow("1 GiB") << qint64(1073741824) << "1.02e+03 MB";
        QTest::newRow("3.25 GiB") << qint64(3489660928LL) << "3.25 GB";
    }
    void formatSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        const QStringList units{"B", "KB", "MB", "GB"};
        QCOMPARE(SizeFormatUtils::formatSize(bytes, units), text);
    }
};

QTEST_GUILESS_MAIN(TestCompression)
#include "tst_compression.moc"
