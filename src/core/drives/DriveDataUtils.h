#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// ATA IDENTIFY DEVICE data and the SMART READ DATA attribute table, read from raw 512-byte
// blocks. Platform-free: every drive source hands its blocks to these functions.
namespace DriveDataUtils {

constexpr int kBlockSize = 512;
constexpr int kAttributeCount = 30;
constexpr int kAttributeSize = 12;
constexpr int kAttributesOffset = 2; // after the 2-byte revision
constexpr uint8_t kAttributeTemperature = 194;
constexpr uint8_t kAttributeAirflowTemperature = 190;

// Drive return codes (IOKit's values, so that every source reports alike).
constexpr uint32_t kDriveSuccess = 0;
constexpr uint32_t kDriveError = 0xE00002BC;
constexpr uint32_t kDriveNoDevice = 0xE00002C0;
constexpr uint32_t kDriveTimeout = 0xE00002D6;
constexpr uint32_t kDriveNotResponding = 0xE00002ED;

// The identify data as 256 little-endian words.
struct ata_identify_device
{
    uint16_t words[256];
};

// One record of the attribute table.
struct _DRIVEATTRIBUTE
{
    uint8_t bAttrID;
    uint16_t wStatusFlags;
    uint8_t bAttrValue;
    uint8_t bWorstValue;
    uint8_t bRawValue[6];
    uint8_t bReserved;
};

// What the program takes from the identify data.
struct DriveIdentity
{
    QString model;
    QString serial;
    QString firmware;
    int nRotationRate = 0;
};

// A drive reading above this is garbage (a raw byte of 255, a limit of 250), not a temperature:
// such a reading counts as not reported and such a limit sets no range.
constexpr int kMaxPlausibleCelsius = 100;
constexpr bool isPlausibleCelsius(int nCelsius)
{
    return nCelsius > 0 && nCelsius <= kMaxPlausibleCelsius;
}

// Exchanges the two bytes of every word in the first n bytes (n rounded down to even).
void SwapStringBytes(unsigned char* p, unsigned int n);

// Word 217: 0 not reported (0 or 0xFFFF), 1 solid-state, the rate above 1024, else -rate.
int ata_get_rotation_rate(const ata_identify_device& id);

// True when the identify block is complete; fills the identity from it.
bool parseIdentify(const QByteArray& block, DriveIdentity& identity);

// Whether word 82 announces the SMART feature set (bit 0), in a complete block.
bool smartSupported(const QByteArray& block);

// The temperature record of a complete SMART block: the first with id 194, else the first with
// id 190. False when neither occurs or the block is short.
bool findTemperatureAttribute(const QByteArray& block, _DRIVEATTRIBUTE& record);

// The record at index i of the table (the caller has checked the block's size).
_DRIVEATTRIBUTE attributeAt(const QByteArray& block, int i);

// The reverse, for sources that have only a model and a reading (kernel sensors) and for the
// simulator: a block holding the model (swapped, blank-padded) and the rotation rate, and a
// SMART block with one temperature record.
QByteArray makeIdentifyBlock(const QString& model, int nRotationRate);
QByteArray makeTemperatureBlock(int nCelsius, int nRaw4 = 0);

} // namespace DriveDataUtils
