// The simulated controller under a hostile client: arbitrary calls, 84 bytes each (the
// selector, then the 80-byte structure as it arrives from the socket), on a small machine with
// fans, sensors and keys of odd sizes. Every call must come back with at most 32 value bytes,
// and no call may add, drop or resize a key.
#include "helpers/QClock.h"
#include "sim/QSimSmc.h"
#include "sim/SimDumpUtils.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const char kDump[] = "  FNum  [ui8 ]  2 (bytes 02)\n"
                     "  FS!   [ui16]  1 (bytes 00 01)\n"
                     "  F0Ac  [fpe2]  2000 (bytes 1f 40)\n"
                     "  F0Mn  [fpe2]  2000 (bytes 1f 40)\n"
                     "  F0Mx  [fpe2]  6200 (bytes 60 e0)\n"
                     "  F0Tg  [fpe2]  3000 (bytes 2e e0)\n"
                     "  F1Ac  [flt ]  1200 (bytes 00 00 96 44)\n"
                     "  F1Mx  [flt ]  5500 (bytes 00 e0 ab 45)\n"
                     "  TC0P  [sp78]  48 (bytes 30 00)\n"
                     "  TB0T  [sp78]  0 (bytes 00 00)\n"
                     "  MSAL  [hex_]  (bytes)\n"
                     "  RPlt  [ch8*]  \"j30\" (bytes 6a 33 30 00 00 00 00 00)\n";

constexpr size_t kCallSize = 4 + sizeof(SMCKeyData_t);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QVector<QSimKey> keys;
    if (!SimDumpUtils::parseDump(QByteArray(kDump), QStringLiteral("fuzz.dump"), keys, nullptr))
        abort();
    QManualClock clock;
    QSimSmc smc(&clock);
    smc.setKeys(keys);
    const QVector<QSimKey> before = smc.keys();
    for (size_t offset = 0; offset + kCallSize <= size; offset += kCallSize) {
        uint32_t selector = 0;
        SMCKeyData_t input;
        std::memcpy(&selector, data + offset, 4);
        std::memcpy(&input, data + offset + 4, sizeof input);
        SMCKeyData_t output;
        smc.call(selector, input, output, input.padding1 & 1 ? 1000 : 0);
        if (output.dataSize > sizeof output.bytes)
            abort();
        clock.advanceMsecs(input.padding0[0] * 100);
    }
    const QVector<QSimKey> after = smc.keys();
    if (after.size() != before.size())
        abort();
    for (int i = 0; i < after.size(); ++i) {
        if (after[i].key != before[i].key || after[i].bytes.size() != before[i].bytes.size())
            abort();
    }
    return 0;
}
