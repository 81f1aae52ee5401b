#include "core/drives/DriveDataUtils.h"

#include <cstring>

namespace DriveDataUtils {

namespace {

constexpr int kSerialOffset = 20, kSerialSize = 20;
constexpr int kFirmwareOffset = 46, kFirmwareSize = 8;
constexpr int kModelOffset = 54, kModelSize = 40;
constexpr int kRotationWord = 217;
constexpr int kCommandSetWord = 82;

uint16_t wordAt(const QByteArray& block, int nWord)
{
    const auto* p = reinterpret_cast<const unsigned char*>(block.constData()) + 2 * nWord;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// An ASCII field of the identify data: byte pairs swapped back, Latin-1, trimmed.
QString asciiField(QByteArray& copy, int nOffset, int nSize)
{
    auto* p = reinterpret_cast<unsigned char*>(copy.data()) + nOffset;
    SwapStringBytes(p, static_cast<unsigned int>(nSize));
    const int nLength = static_cast<int>(strnlen(reinterpret_cast<const char*>(p), nSize));
    return QString::fromLatin1(reinterpret_cast<const char*>(p), nLength).trimmed();
}

} // namespace

void SwapStringBytes(unsigned char* p, unsigned int n)
{
    for (unsigned int i = 0; i + 1 < n; i += 2) {
        const unsigned char c = p[i];
        p[i] = p[i + 1];
        p[i + 1] = c;
    }
}

int ata_get_rotation_rate(const ata_identify_device& id)
{
    const uint16_t r = id.words[kRotationWord];
    if (r == 0 || r == 0xFFFF)
        return 0;
    if (r == 1)
        return 1;
    if (r > 0x400)
        return r;
    return -static_cast<int>(r);
}

bool parseIdentify(const QByteArray& block, DriveIdentity& identity)
{
    if (block.size() < kBlockSize)
        return false;
    QByteArray copy = block.left(kBlockSize);
    identity.model = asciiField(copy, kModelOffset, kModelSize);
    identity.serial = asciiField(copy, kSerialOffset, kSerialSize);
    identity.firmware = asciiField(copy, kFirmwareOffset, kFirmwareSize);
    ata_identify_device id;
    for (int i = 0; i < 256; ++i)
        id.words[i] = wordAt(block, i);
    identity.nRotationRate = ata_get_rotation_rate(id);
    return true;
}

bool smartSupported(const QByteArray& block)
{
    return block.size() >= kBlockSize && (wordAt(block, kCommandSetWord) & 1) != 0;
}

_DRIVEATTRIBUTE attributeAt(const QByteArray& block, int i)
{
    const auto* p = reinterpret_cast<const unsigned char*>(block.constData()) + kAttributesOffset +
                    i * kAttributeSize;
    _DRIVEATTRIBUTE record;
    record.bAttrID = p[0];
    record.wStatusFlags = static_cast<uint16_t>(p[1] | (p[2] << 8));
    record.bAttrValue = p[3];
    record.bWorstValue = p[4];
    std::memcpy(record.bRawValue, p + 5, sizeof record.bRawValue);
    record.bReserved = p[11];
    return record;
}

bool findTemperatureAttribute(const QByteArray& block, _DRIVEATTRIBUTE& record)
{
    if (block.size() < kBlockSize)
        return false;
    for (uint8_t nId : {kAttributeTemperature, kAttributeAirflowTemperature}) {
        for (int i = 0; i < kAttributeCount; ++i) {
            record = attributeAt(block, i);
            if (record.bAttrID == nId)
                return true;
        }
    }
    return false;
}

QByteArray makeIdentifyBlock(const QString& model, int nRotationRate)
{
    QByteArray block(kBlockSize, '\0');
    QByteArray field = model.toLatin1().left(kModelSize);
    field.append(QByteArray(kModelSize - field.size(), ' '));
    std::memcpy(block.data() + kModelOffset, field.constData(), kModelSize);
    SwapStringBytes(reinterpret_cast<unsigned char*>(block.data()) + kModelOffset, kModelSize);
    block[2 * kCommandSetWord] = 1; // SMART supported
    block[2 * kRotationWord] = static_cast<char>(nRotationRate & 0xFF);
    block[2 * kRotationWord + 1] = static_cast<char>((nRotationRate >> 8) & 0xFF);
    return block;
}

QByteArray makeTemperatureBlock(int nCelsius, int nRaw4)
{
    QByteArray block(kBlockSize, '\0');
    char* p = block.data() + kAttributesOffset;
    p[0] = static_cast<char>(kAttributeTemperature);
    p[3] = static_cast<char>(100 - nCelsius);
    p[4] = p[3];
    p[5] = static_cast<char>(nCelsius);
    p[9] = static_cast<char>(nRaw4);
    return block;
}

} // namespace DriveDataUtils
