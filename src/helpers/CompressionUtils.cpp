#include "helpers/CompressionUtils.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace CompressionUtils {

QStreamFromByteArray::QStreamFromByteArray(QByteArray* pArray, qint64 nMaxSize)
    : m_pArray(pArray), m_nMaxSize(nMaxSize)
{
    open(QIODevice::ReadWrite);
}

qint64 QStreamFromByteArray::readData(char* pData, qint64 nMaxSize)
{
    const qint64 nLeft = qMax<qint64>(0, m_pArray->size() - pos());
    const qint64 n = qMin(nLeft, nMaxSize);
    if (n > 0)
        memcpy(pData, m_pArray->constData() + pos(), static_cast<size_t>(n));
    return n;
}

qint64 QStreamFromByteArray::writeData(const char* pData, qint64 nSize)
{
    const qint64 nEnd = pos() + nSize;
    if (m_nMaxSize >= 0 && nEnd > m_nMaxSize)
        return -1;
    if (nEnd > m_pArray->size())
        m_pArray->resize(static_cast<int>(nEnd));
    memcpy(m_pArray->data() + pos(), pData, static_cast<size_t>(nSize));
    return nSize;
}

namespace {
const int kInChunk = 16384;
const int kOutChunk = 32768;
const qint64 kCopyChunk = 81920;

bool initInflate(z_stream& stream, CompressionMethod method)
{
    memset(&stream, 0, sizeof(stream));
    // 15 + 16: a gzip header and trailer around the deflate data.
    const int nResult = method == GZIP ? inflateInit2(&stream, 15 + 16) : inflateInit(&stream);
    return nResult == Z_OK;
}
} // namespace

qint64 zlib_inflate_stream(QIODevice* pIn, QIODevice* pOut, CompressionMethod method, bool)
{
    z_stream stream;
    if ((method != ZLIB && method != GZIP) || !initInflate(stream, method))
        return -1;
    std::vector<char> in(kInChunk);
    std::vector<char> out(kOutChunk);
    qint64 nTotal = 0;
    int nResult = Z_OK;
    while (nResult != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            const qint64 nRead = pIn->read(in.data(), kInChunk);
            if (nRead <= 0) {
                nTotal = -1; // the input ended before the stream did
                break;
            }
            stream.next_in = reinterpret_cast<Bytef*>(in.data());
            stream.avail_in = static_cast<uInt>(nRead);
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = kOutChunk;
        nResult = inflate(&stream, Z_NO_FLUSH);
        if (nResult != Z_OK && nResult != Z_STREAM_END) {
            nTotal = -1;
            break;
        }
        const qint64 nProduced = kOutChunk - static_cast<qint64>(stream.avail_out);
        if (nProduced > 0 && pOut->write(out.data(), nProduced) != nProduced) {
            nTotal = -1;
            break;
        }
        nTotal += nProduced;
    }
    inflateEnd(&stream);
    return nTotal;
}

qint64 copy_stream(QIODevice* pIn, QIODevice* pOut, bool)
{
    std::vector<char> buffer(static_cast<size_t>(kCopyChunk));
    qint64 nLeft = pIn->size() - pIn->pos();
    qint64 nWritten = 0;
    while (nLeft > 0) {
        const qint64 nWant = qMin(nLeft, kCopyChunk);
        if (pIn->read(buffer.data(), nWant) != nWant || pOut->write(buffer.data(), nWant) != nWant)
            return -1;
        nWritten += nWant;
        nLeft -= nWant;
    }
    return nWritten;
}

QByteArray DecompressByteArray(const QByteArray& input, CompressionMethod method, qint64 nMaxOutput)
{
    QByteArray source = input;
    QByteArray output;
    QStreamFromByteArray in(&source);
    QStreamFromByteArray out(&output, nMaxOutput);
    if (method == NONE)
        copy_stream(&in, &out);
    else if (method == ZLIB || method == GZIP)
        zlib_inflate_stream(&in, &out, method);
    return output;
}

} // namespace CompressionUtils
