// The inflater on arbitrary bytes with each method: it must come back, a plain copy must be
// exact, and a bounded inflate must keep to its bound.
#include "helpers/CompressionUtils.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the method, the rest is the stream.
    const CompressionUtils::CompressionMethod methods[] = {
        CompressionUtils::ZLIB, CompressionUtils::GZIP, CompressionUtils::NONE,
        CompressionUtils::LZMA};
    const auto method = methods[data[0] % 4];
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
    const QByteArray output = CompressionUtils::DecompressByteArray(input, method);
    if (method == CompressionUtils::NONE && output != input)
        abort();
    if (method == CompressionUtils::LZMA && !output.isEmpty())
        abort();
    // A bounded inflate never passes its bound and agrees with the unbounded one up to it.
    const QByteArray bounded = CompressionUtils::DecompressByteArray(input, method, 100);
    if (bounded.size() > 100 || !output.startsWith(bounded))
        abort();
    return 0;
}
