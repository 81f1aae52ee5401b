// The key-dump parser and the thermal model on arbitrary text. A dump that parses must write
// back to text that parses to the same table; a dump that does not must say why. Whatever table
// comes out, the model must keep every fan speed and temperature finite and bounded, and store
// only values that fit each key's own size.
#include "sim/QSimDynamics.h"
#include "sim/SimDumpUtils.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

bool sameTable(const QVector<QSimKey>& a, const QVector<QSimKey>& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].type != b[i].type || a[i].bytes != b[i].bytes)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    QVector<QSimKey> keys;
    QString error;
    if (!SimDumpUtils::parseDump(text, QStringLiteral("fuzz.dump"), keys, &error)) {
        if (error.isEmpty() || !keys.isEmpty())
            abort();
        return 0;
    }
    QVector<QSimKey> again;
    if (!SimDumpUtils::parseDump(SimDumpUtils::formatDump(keys), QStringLiteral("again.dump"),
                                 again, &error) ||
        !sameTable(keys, again))
        abort();

    QHash<QByteArray, int> index;
    for (int i = 0; i < keys.size(); ++i)
        index.insert(keys.at(i).key, i);
    QVector<int> sizes;
    for (const QSimKey& key : keys)
        sizes << key.bytes.size();
    QSimDynamics model;
    model.bind(keys, index);
    for (int nStep = 1; nStep <= 300; ++nStep) // 30 simulated seconds
        model.step(keys, nStep * QSimDynamics::kStepMsecs / 1000.0);
    model.store(keys, 30.0);
    for (int i = 0; i < keys.size(); ++i) {
        if (keys.at(i).bytes.size() != sizes.at(i))
            abort();
    }
    for (int nFan = 0; nFan < model.fanCount(); ++nFan) {
        const double dSpeed = model.fanSpeed(nFan);
        if (!std::isfinite(dSpeed) || dSpeed < 0 || dSpeed > 100000)
            abort();
    }
    for (const QSimKey& key : keys) {
        const double dTemp = model.temperature(key.key);
        if (!std::isnan(dTemp) && (!std::isfinite(dTemp) || std::fabs(dTemp) > 300))
            abort();
    }
    return 0;
}
