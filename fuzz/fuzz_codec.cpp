// The value codec on arbitrary bytes: the first byte picks a type, the rest is the value. A value
// that decodes must encode back to bytes that decode to the same number, and encoding never
// writes outside the value's size.
#include "smc/base/SmcCodecUtils.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
const char* const kTypes[] = {"fpe2", "fp88", "sp78", "sp5a", "spf0", "fp1f",
                              "ui8 ", "ui16", "ui32", "si8 ", "si16", "si32",
                              "flag", "flt ", "ioft", "ch8*", "{fds", "hex_"};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 1 + SmcCodecUtils::kMaxValueSize)
        return 0;
    const std::string type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    double dValue = 0;
    if (!SmcCodecUtils::decodeNumber(type, bytes, dValue))
        return 0;
    unsigned char out[SmcCodecUtils::kMaxValueSize + 1];
    std::memset(out, 0xA5, sizeof out);
    if (!SmcCodecUtils::encodeNumber(type, dValue, out, bytes.size()))
        std::abort(); // a number that was read can always be written
    if (out[bytes.size()] != 0xA5)
        std::abort(); // written past the value
    double dAgain = 0;
    const std::string again(reinterpret_cast<const char*>(out), bytes.size());
    if (!SmcCodecUtils::decodeNumber(type, again, dAgain) || dAgain != dValue)
        std::abort();
    return 0;
}
