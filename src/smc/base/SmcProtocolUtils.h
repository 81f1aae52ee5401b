#pragma once

#include "smc/base/QSmcCallTransport.h"

// The AppleSMC protocol steps over one transport, in plain C++: the program's backend
// (QSmcControlMac) and the key-writing tool run the very same code.
namespace SmcProtocolUtils {

// One call with the method selector; a missing transport answers kSmcReturnNotFound.
int call(QSmcCallTransport* pTransport, const SMCKeyData_t& input, SMCKeyData_t& output);
// Key information, then the value; 0 on success. Only the call results are examined.
int readKey(QSmcCallTransport* pTransport, const char* key, SMCVal_t* pVal);
// The key at index, then its information; 0 on success, -1 when the index call fails, the
// information call's code when that fails. The entry is filled only on success.
// Size, type and attributes of one key (the key-information command); 0 or the call's result.
int keyInfo(QSmcCallTransport* pTransport, const char* key, applesmc_entry* pEntry);
int keyInfoByIndex(QSmcCallTransport* pTransport, int index, applesmc_entry* pEntry);
// Reads the key first; a size other than value.dataSize answers kSmcReturnError and writes
// nothing. Otherwise the write call's code.
int writeKey(QSmcCallTransport* pTransport, const SMCVal_t& value);

} // namespace SmcProtocolUtils
