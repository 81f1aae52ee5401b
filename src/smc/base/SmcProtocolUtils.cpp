#include "smc/base/SmcProtocolUtils.h"

#include "smc/base/SmcCodecUtils.h"

#include <cstring>

using SmcCodecUtils::packKey;
using SmcCodecUtils::unpackCode;

namespace SmcProtocolUtils {

namespace {
SMCKeyData_t request(uint32_t nKey, uint8_t command)
{
    SMCKeyData_t input;
    std::memset(&input, 0, sizeof(input));
    input.key = nKey;
    input.command = command;
    return input;
}
} // namespace

int call(QSmcCallTransport* pTransport, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    std::memset(&output, 0, sizeof(output));
    if (!pTransport)
        return kSmcReturnNotFound;
    return pTransport->call(kSmcMethodSelector, input, output);
}

int readKey(QSmcCallTransport* pTransport, const char* key, SMCVal_t* pVal)
{
    std::memset(pVal, 0, sizeof(*pVal));
    SMCKeyData_t input = request(packKey(key), SmcCmdReadKeyInfo);
    SMCKeyData_t output;
    int nResult = call(pTransport, input, output);
    if (nResult != kSmcReturnSuccess)
        return nResult;

    unpackCode(pVal->key, input.key);
    pVal->dataSize = output.dataSize;
    unpackCode(pVal->dataType, output.dataType);

    input.dataSize = pVal->dataSize;
    input.command = SmcCmdReadBytes;
    nResult = call(pTransport, input, output);
    if (nResult != kSmcReturnSuccess)
        return nResult;
    std::memcpy(pVal->bytes, output.bytes, sizeof(pVal->bytes));
    return kSmcReturnSuccess;
}

int keyInfo(QSmcCallTransport* pTransport, const char* key, applesmc_entry* pEntry)
{
    const SMCKeyData_t input = request(packKey(key), SmcCmdReadKeyInfo);
    SMCKeyData_t output;
    const int nResult = call(pTransport, input, output);
    if (nResult != kSmcReturnSuccess)
        return nResult;
    std::memset(pEntry, 0, sizeof(*pEntry));
    unpackCode(pEntry->key, input.key);
    pEntry->dataSize = static_cast<uint8_t>(output.dataSize & 0xFF);
    unpackCode(pEntry->dataType, output.dataType);
    pEntry->attributes = output.dataAttributes;
    pEntry->valid = 1;
    return 0;
}

int keyInfoByIndex(QSmcCallTransport* pTransport, int index, applesmc_entry* pEntry)
{
    SMCKeyData_t input = request(0, SmcCmdReadIndex);
    input.index = static_cast<uint32_t>(index);
    SMCKeyData_t output;
    int nResult = call(pTransport, input, output);
    char key[5];
    unpackCode(key, output.key);
    if (nResult != kSmcReturnSuccess)
        return -1;

    input.key = SmcCodecUtils::packCode(key, 4);
    input.command = SmcCmdReadKeyInfo;
    nResult = call(pTransport, input, output);
    if (nResult != kSmcReturnSuccess)
        return nResult;

    std::memcpy(pEntry->key, key, 4);
    pEntry->dataSize = static_cast<uint8_t>(output.dataSize & 0xFF);
    unpackCode(pEntry->dataType, output.dataType);
    pEntry->attributes = output.dataAttributes;
    pEntry->valid = 1;
    return 0;
}

int writeKey(QSmcCallTransport* pTransport, const SMCVal_t& value)
{
    SMCVal_t current;
    const int nResult = readKey(pTransport, value.key, &current);
    if (nResult != kSmcReturnSuccess)
        return nResult;
    if (current.dataSize != value.dataSize)
        return kSmcReturnError;

    SMCKeyData_t input = request(packKey(value.key), SmcCmdWriteBytes);
    input.dataSize = value.dataSize;
    std::memcpy(input.bytes, value.bytes, sizeof(input.bytes));
    SMCKeyData_t output;
    return call(pTransport, input, output);
}

} // namespace SmcProtocolUtils
