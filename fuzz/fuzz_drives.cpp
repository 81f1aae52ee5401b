// A drive's identify and SMART blocks as any drive (or a broken bridge) may answer them: parsing
// must come back, and a temperature record found must lie inside the block's table.
#include "core/drives/DriveDataUtils.h"

#include <cstdint>
#include <cstdlib>

using namespace DriveDataUtils;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray block(reinterpret_cast<const char*>(data), static_cast<int>(size));
    DriveIdentity identity;
    if (parseIdentify(block, identity) != (block.size() >= kBlockSize))
        abort();
    if (identity.model.size() > 40 || identity.serial.size() > 20 || identity.firmware.size() > 8)
        abort();
    smartSupported(block);
    _DRIVEATTRIBUTE record;
    if (findTemperatureAttribute(block, record) && record.bAttrID != kAttributeTemperature &&
        record.bAttrID != kAttributeAirflowTemperature)
        abort();
    if (isPlausibleCelsius(record.bRawValue[0]) && record.bRawValue[0] > kMaxPlausibleCelsius)
        abort();
    return 0;
}
