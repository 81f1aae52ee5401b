#pragma once

#include "smc/SmcKeyData.h"

#include <QByteArray>
#include <QtEndian>

#include <cstring>

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
//
// The client sends one request and waits for its reply. A header with another magic or version,
// an unknown type, a length above kMaxPayload or a payload of the wrong size for its type makes
// the daemon close that connection; the daemon itself carries on.
namespace SimWire {

constexpr quint32 kMagic = 0x434D5354; // the bytes "TSMC" in little-endian order
constexpr quint16 kVersion = 1;
constexpr int kHeaderSize = 12;
constexpr quint32 kMaxPayload = 1024;
constexpr int kCallPayloadSize = 4 + static_cast<int>(sizeof(SMCKeyData_t));
constexpr int kMaxModelSize = 255;

enum SimFrameType : quint16
{
    SimFrameCall = 1,
    SimFrameCallReply = 2,
    SimFrameModel = 3,
    SimFrameModelReply = 4,
};

struct FrameHeader
{
    quint16 type = 0;
    quint32 length = 0;
};

inline QByteArray encodeFrame(quint16 type, const QByteArray& payload)
{
    QByteArray frame(kHeaderSize, '\0');
    qToLittleEndian<quint32>(kMagic, frame.data());
    qToLittleEndian<quint16>(kVersion, frame.data() + 4);
    qToLittleEndian<quint16>(type, frame.data() + 6);
    qToLittleEndian<quint32>(static_cast<quint32>(payload.size()), frame.data() + 8);
    return frame + payload;
}

// False for a header the other side must not trust (wrong magic or version, too long).
inline bool decodeHeader(const char* pHeader, FrameHeader& header)
{
    if (qFromLittleEndian<quint32>(pHeader) != kMagic ||
        qFromLittleEndian<quint16>(pHeader + 4) != kVersion)
        return false;
    header.type = qFromLittleEndian<quint16>(pHeader + 6);
    header.length = qFromLittleEndian<quint32>(pHeader + 8);
    return header.length <= kMaxPayload;
}

// The payload size a frame type must have; -1 for "up to kMaxModelSize" and -2 for unknown.
inline int expectedPayload(quint16 type)
{
    switch (type) {
    case SimFrameCall:
    case SimFrameCallReply:
        return kCallPayloadSize;
    case SimFrameModel:
        return 0;
    case SimFrameModelReply:
        return -1;
    default:
        return -2;
    }
}

inline bool payloadFits(const FrameHeader& header)
{
    const int nExpected = expectedPayload(header.type);
    if (nExpected == -1)
        return header.length <= static_cast<quint32>(kMaxModelSize);
    return nExpected >= 0 && header.length == static_cast<quint32>(nExpected);
}

// The call payloads: a 32-bit value (selector or result) and the structure.
inline QByteArray encodeCall(quint32 nValue, const SMCKeyData_t& data)
{
    QByteArray payload(kCallPayloadSize, '\0');
    qToLittleEndian<quint32>(nValue, payload.data());
    std::memcpy(payload.data() + 4, &data, sizeof data);
    return payload;
}

inline void decodeCall(const QByteArray& payload, quint32& nValue, SMCKeyData_t& data)
{
    nValue = qFromLittleEndian<quint32>(payload.constData());
    std::memcpy(&data, payload.constData() + 4, sizeof data);
}

} // namespace SimWire
