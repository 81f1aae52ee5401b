#pragma once

#include <cstddef>
#include <cstdint>

// The one structure exchanged with the AppleSMC user client per call (method selector 2).
// Multi-byte integers are in host byte order; the value bytes are as the controller holds them.
struct SMCKeyData_t
{
    uint32_t key;           // packed key, first character most significant
    uint8_t reserved0[24];  // zero on input, not examined on output
    uint32_t dataSize;      // value size in bytes
    uint32_t dataType;      // packed type code
    uint8_t dataAttributes; // attribute byte
    uint8_t padding0[3];    //
    uint8_t reserved1[2];   // zero on input, not examined on output
    uint8_t command;        // one of SmcCommand
    uint8_t padding1;       //
    uint32_t index;         // key index, for SmcCmdReadIndex
    uint8_t bytes[32];      // value bytes
};

static_assert(sizeof(SMCKeyData_t) == 80, "SMCKeyData_t must be 80 bytes");
static_assert(offsetof(SMCKeyData_t, key) == 0, "key offset");
static_assert(offsetof(SMCKeyData_t, dataSize) == 28, "dataSize offset");
static_assert(offsetof(SMCKeyData_t, dataType) == 32, "dataType offset");
static_assert(offsetof(SMCKeyData_t, dataAttributes) == 36, "dataAttributes offset");
static_assert(offsetof(SMCKeyData_t, command) == 42, "command offset");
static_assert(offsetof(SMCKeyData_t, index) == 44, "index offset");
static_assert(offsetof(SMCKeyData_t, bytes) == 48, "bytes offset");

enum SmcCommand : uint8_t
{
    SmcCmdReadBytes = 5,
    SmcCmdWriteBytes = 6,
    SmcCmdReadIndex = 8,
    SmcCmdReadKeyInfo = 9,
};

// Every call of the AppleSMC protocol uses this structure-method selector.
constexpr uint32_t kSmcMethodSelector = 2;

// IOKit return codes the protocol code produces or the simulator answers with. They carry a
// prefix of their own: the system's headers define macros named after the IOKit originals.
constexpr int kSmcReturnSuccess = 0;
constexpr int kSmcReturnError = static_cast<int>(0xE00002BC);
constexpr int kSmcReturnBadArgument = static_cast<int>(0xE00002C2);
constexpr int kSmcReturnNotPrivileged = static_cast<int>(0xE00002C1);
constexpr int kSmcReturnNotFound = static_cast<int>(0xE00002F0);

// One record of the controller's key index, as cached by the key layer (13 bytes, no padding).
#pragma pack(push, 1)
struct applesmc_entry
{
    char key[5];        // four key characters and a NUL
    uint8_t valid;      // 0 = not yet fetched, 1 = fetched
    uint8_t dataSize;   // value size in bytes
    char dataType[5];   // four type characters and a NUL
    uint8_t attributes; // attribute byte
};
#pragma pack(pop)
static_assert(sizeof(applesmc_entry) == 13, "applesmc_entry must be 13 bytes");

// The value of one key as the protocol reads it; zero-filled before each read.
struct SMCVal_t
{
    char key[5];
    uint32_t dataSize;
    char dataType[5];
    unsigned char bytes[32];
};
