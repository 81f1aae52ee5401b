#pragma once

#include <QByteArray>
#include <QIODevice>

// Inflating zlib or gzip data held in memory or in devices (on top of zlib). Stateless.
namespace CompressionUtils {

// Values as stored; only ZLIB, GZIP and NONE are decoded, the others give an empty result.
enum CompressionMethod
{
    ZLIB = 0,
    GZIP = 1,
    DEFLATE = 2,
    BZIP2 = 3,
    LZMA = 4,
    NONE = 5
};

// A random-access device over a caller-owned array, open read-write from construction.
// Writing past the end grows the array, up to nMaxSize bytes when that is not -1 (a write that
// would pass it fails); writing inside it overwrites in place.
class QStreamFromByteArray : public QIODevice
{
public:
    explicit QStreamFromByteArray(QByteArray* pArray, qint64 nMaxSize = -1);
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_pArray->size(); }

protected:
    qint64 readData(char* pData, qint64 nMaxSize) override;
    qint64 writeData(const char* pData, qint64 nSize) override;

private:
    QByteArray* m_pArray;
    qint64 m_nMaxSize;
};

// The decompressed bytes. After a stream error (a cut-short or corrupt input) they are the
// bytes inflated before the error; the wrong method or an unknown one gives an empty array.
// nMaxOutput (when not -1) bounds the result, so that a small hostile input cannot inflate
// into all of memory: inflating stops before the output would pass it.
QByteArray DecompressByteArray(const QByteArray& input, CompressionMethod method,
                               qint64 nMaxOutput = -1);

// Inflates input into output; the number of bytes written, or -1 on a stream error.
qint64 zlib_inflate_stream(QIODevice* pIn, QIODevice* pOut, CompressionMethod method,
                           bool bUnused = false);

// Copies the whole input; the bytes written, or -1 when a read comes up short.
qint64 copy_stream(QIODevice* pIn, QIODevice* pOut, bool bUnused = false);

} // namespace CompressionUtils
