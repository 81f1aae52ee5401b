#pragma once

#include "smc/SmcKeyData.h"

#include <cstdint>
#include <cstring>
#include <string>

// The frames exchanged with the simulator daemon over its Unix-domain stream socket.
//
// Every frame is a 12-byte header followed by a payload:
//   offset 0  u32  magic "TSMC" (kMagic)
//   offset 4  u16  version (kVersion)
//   offset 6  u16  frame type (SimFrameType)
//   offset 8  u32  payload length in bytes, at most kMaxPayload
// All header and payload integers are little-endian. The SMC structure travels as its 80 bytes
// in memory (both ends run on the same host).
//
// Payloads:
//   SimFrameCall        u32 selector, SMCKeyData_t input                 (84 bytes)
//   SimFrameCallReply   i32 result, SMCKeyData_t output                  (84 bytes)
//   SimFrameModel       empty
//   SimFrameModelReply  the model identifier, UTF-8, at most 255 bytes
//   SimFrameDrive       u32 command (0 count, 1 identify, 2 SMART data), u32 drive   (8 bytes)
//   SimFrameDriveReply  i32 result (the count, or 0 / an error code), 512-byte block (516 bytes)
//
// The client sends one request and waits for its reply. A header with another magic or version,
// an unknown type, a length above kMaxPayload or a payload of the wrong size for its type makes
// the daemon close that connection; the daemon itself carries on.
namespace SimWire {

constexpr uint32_t kMagic = 0x434D5354; // the bytes "TSMC" in little-endian order
constexpr uint16_t kVersion = 1;
constexpr int kHeaderSize = 12;
constexpr uint32_t kMaxPayload = 1024;
constexpr int kCallPayloadSize = 4 + static_cast<int>(sizeof(SMCKeyData_t));
constexpr int kMaxModelSize = 255;
constexpr int kDriveBlockSize = 512;
constexpr int kDrivePayloadSize = 8;
constexpr int kDriveReplyPayloadSize = 4 + kDriveBlockSize;

enum SimFrameType : uint16_t
{
    SimFrameCall = 1,
    SimFrameCallReply = 2,
    SimFrameModel = 3,
    SimFrameModelReply = 4,
    SimFrameDrive = 5,
    SimFrameDriveReply = 6,
};

struct FrameHeader
{
    uint16_t type = 0;
    uint32_t length = 0;
};

inline void storeLittleEndian(uint32_t nValue, int nBytes, char* pOut)
{
    for (int i = 0; i < nBytes; ++i)
        pOut[i] = static_cast<char>((nValue >> (8 * i)) & 0xFF);
}

inline uint32_t loadLittleEndian(const char* pIn, int nBytes)
{
    uint32_t nValue = 0;
    for (int i = nBytes - 1; i >= 0; --i)
        nValue = (nValue << 8) | static_cast<uint8_t>(pIn[i]);
    return nValue;
}

inline std::string encodeFrame(uint16_t type, const std::string& payload)
{
    std::string frame(kHeaderSize, '\0');
    storeLittleEndian(kMagic, 4, &frame[0]);
    storeLittleEndian(kVersion, 2, &frame[4]);
    storeLittleEndian(type, 2, &frame[6]);
    storeLittleEndian(static_cast<uint32_t>(payload.size()), 4, &frame[8]);
    return frame + payload;
}

// False for a header the other side must not trust (wrong magic or version, too long).
inline bool decodeHeader(const char* pHeader, FrameHeader& header)
{
    if (loadLittleEndian(pHeader, 4) != kMagic || loadLittleEndian(pHeader + 4, 2) != kVersion)
        return false;
    header.type = static_cast<uint16_t>(loadLittleEndian(pHeader + 6, 2));
    header.length = loadLittleEndian(pHeader + 8, 4);
    return header.length <= kMaxPayload;
}

// The payload size a frame type must have; -1 for "up to kMaxModelSize" and -2 for unknown.
inline int expectedPayload(uint16_t type)
{
    switch (type) {
    case SimFrameCall:
    case SimFrameCallReply:
        return kCallPayloadSize;
    case SimFrameModel:
        return 0;
    case SimFrameModelReply:
        return -1;
    case SimFrameDrive:
        return kDrivePayloadSize;
    case SimFrameDriveReply:
        return kDriveReplyPayloadSize;
    default:
        return -2;
    }
}

inline bool payloadFits(const FrameHeader& header)
{
    const int nExpected = expectedPayload(header.type);
    if (nExpected == -1)
        return header.length <= static_cast<uint32_t>(kMaxModelSize);
    return nExpected >= 0 && header.length == static_cast<uint32_t>(nExpected);
}

// The call payloads: a 32-bit value (selector or result) and the structure.
inline std::string encodeCall(uint32_t nValue, const SMCKeyData_t& data)
{
    std::string payload(kCallPayloadSize, '\0');
    storeLittleEndian(nValue, 4, &payload[0]);
    std::memcpy(&payload[4], &data, sizeof data);
    return payload;
}

// The caller has checked the payload's size (payloadFits).
inline void decodeCall(const std::string& payload, uint32_t& nValue, SMCKeyData_t& data)
{
    nValue = loadLittleEndian(payload.data(), 4);
    std::memcpy(&data, payload.data() + 4, sizeof data);
}

} // namespace SimWire
