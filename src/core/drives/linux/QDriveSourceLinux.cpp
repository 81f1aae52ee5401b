#include "core/drives/linux/QDriveSourceLinux.h"

#include "core/drives/DriveDataUtils.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace DriveDataUtils;

namespace {

constexpr int kTimeoutMsecs = 5000;
constexpr int kHostTimedOut = 3; // DID_TIME_OUT

// One ATA command in an ATA PASS-THROUGH (16) CDB: PIO data-in of one 512-byte block, or
// non-data when pData is null.
uint32_t ataCommand(int fd, uint8_t nCommand, uint8_t nFeature, unsigned char* pData)
{
    unsigned char cdb[16] = {};
    cdb[0] = 0x85;                    // ATA PASS-THROUGH (16)
    cdb[1] = pData ? 4 << 1 : 3 << 1; // protocol: PIO data-in, or non-data
    cdb[2] = pData ? 0x0E : 0x00;     // from the device, length in blocks, in the sector count
    cdb[4] = nFeature;
    cdb[6] = 1; // sector count
    if (nCommand == 0xB0) {
        cdb[10] = 0x4F; // the SMART signature in LBA mid and high
        cdb[12] = 0xC2;
    }
    cdb[14] = nCommand;
    unsigned char sense[32] = {};
    sg_io_hdr_t io;
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    io.cmd_len = sizeof cdb;
    io.cmdp = cdb;
    io.dxfer_direction = pData ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxferp = pData;
    io.dxfer_len = pData ? kBlockSize : 0;
    io.sbp = sense;
    io.mx_sb_len = sizeof sense;
    io.timeout = kTimeoutMsecs;
    if (::ioctl(fd, SG_IO, &io) != 0)
        return kDriveNoDevice;
    if (io.host_status == kHostTimedOut)
        return kDriveTimeout;
    return (io.info & SG_INFO_OK_MASK) == SG_INFO_OK ? kDriveSuccess : kDriveError;
}

class QAtaDriveHandle : public QDriveHandle
{
public:
    explicit QAtaDriveHandle(int fd) : m_nFd(fd) {}
    ~QAtaDriveHandle() override { ::close(m_nFd); }

    uint32_t identify(QByteArray& block) override { return read(0xEC, 0, block); }
    uint32_t enableSmart() override { return ataCommand(m_nFd, 0xB0, 0xD8, nullptr); }
    uint32_t readSmartData(QByteArray& block) override { return read(0xB0, 0xD0, block); }

private:
    uint32_t read(uint8_t nCommand, uint8_t nFeature, QByteArray& block)
    {
        block = QByteArray(kBlockSize, '\0');
        return ataCommand(m_nFd, nCommand, nFeature,
                          reinterpret_cast<unsigned char*>(block.data()));
    }

    int m_nFd;
};

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed()
                                          : QString();
}

// One sysfs attribute kept open and re-read in place, so that reading it on every update pass
// opens nothing. A failed read (the sensor went away, e.g. over a suspend) opens the file
// again once, which also picks up a sensor that came back.
class QSysfsValue
{
public:
    explicit QSysfsValue(const QString& path) : m_Path(QFile::encodeName(path)) { reopen(); }
    ~QSysfsValue() { closeFd(); }
    Q_DISABLE_COPY(QSysfsValue)

    QString read()
    {
        QString text;
        if (!readInPlace(text) && reopen())
            readInPlace(text);
        return text;
    }

private:
    bool readInPlace(QString& text) const
    {
        char buffer[64];
        const ssize_t nRead = m_nFd >= 0 ? ::pread(m_nFd, buffer, sizeof buffer, 0) : -1;
        if (nRead < 0)
            return false;
        text = QString::fromLatin1(buffer, int(nRead)).trimmed();
        return true;
    }
    bool reopen()
    {
        closeFd();
        m_nFd = ::open(m_Path.constData(), O_RDONLY | O_CLOEXEC);
        return m_nFd >= 0;
    }
    void closeFd()
    {
        if (m_nFd >= 0)
            ::close(m_nFd);
        m_nFd = -1;
    }

    QByteArray m_Path;
    int m_nFd = -1;
};

// A kernel sensor: the model and the kind from sysfs, the reading from temp1_input, the
// drive's own limit (temp1_max, where the kernel knows it) as raw[4].
class QHwmonDriveHandle : public QDriveHandle
{
public:
    QHwmonDriveHandle(const QString& dir, const QString& blockDir)
        : m_Dir(dir), m_BlockDir(blockDir), m_Input(dir + "/temp1_input"),
          m_Limit(dir + "/temp1_max")
    {}

    uint32_t identify(QByteArray& block) override
    {
        const bool bSolidState = readText(m_Dir + "/name") == QLatin1String("nvme") ||
                                 readText(m_BlockDir + "/queue/rotational") == QLatin1String("0");
        block = makeIdentifyBlock(readText(m_Dir + "/device/model"), bSolidState ? 1 : 0);
        return kDriveSuccess;
    }
    uint32_t enableSmart() override { return kDriveSuccess; }
    uint32_t readSmartData(QByteArray& block) override
    {
        bool bOk = false;
        const int nCelsius = degrees(m_Input.read(), &bOk);
        if (!bOk)
            return kDriveError;
        bool bLimit = false;
        const int nLimit = degrees(m_Limit.read(), &bLimit);
        block = makeTemperatureBlock(nCelsius, bLimit ? nLimit : 0);
        return kDriveSuccess;
    }

private:
    // Millidegrees to whole degrees, within what one attribute byte holds; text that is not a
    // number reads as 0, which is no reading.
    static int degrees(const QString& text, bool* pOk)
    {
        const long nCelsius = std::lround(text.toLong() / 1000.0);
        *pOk = nCelsius > 0 && nCelsius < 256;
        return static_cast<int>(nCelsius);
    }

    QString m_Dir;
    QString m_BlockDir;
    QSysfsValue m_Input;
    QSysfsValue m_Limit;
};

QStringList sortedEntries(const QString& dir, const QString& pattern)
{
    QStringList entries = QDir(dir).entryList({pattern}, QDir::Dirs | QDir::Files | QDir::System |
                                                             QDir::NoDotAndDotDot);
    // Shorter names first: hwmon10 after hwmon9, sdaa after sdz.
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return entries;
}

bool isDriveSensor(const QString& hwmonDir)
{
    const QString name = readText(hwmonDir + "/name");
    return name == QLatin1String("drivetemp") || name == QLatin1String("nvme");
}

} // namespace

QDriveSourceLinux::QDriveSourceLinux(const QString& sysRoot, const QString& devRoot)
    : m_SysRoot(sysRoot), m_DevRoot(devRoot)
{}

QString QDriveSourceLinux::blockDeviceOfSensor(const QString& hwmonDir) const
{
    const QStringList blocks = sortedEntries(hwmonDir + "/device/block", "*");
    return blocks.isEmpty() ? QString() : blocks.first();
}

int QDriveSourceLinux::deviceNames(QStringList& names)
{
    QStringList direct;
    for (const QString& disk : sortedEntries(m_SysRoot + "/block", "sd*")) {
        const int fd = ::open(QFile::encodeName(m_DevRoot + "/" + disk).constData(),
                              O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        QAtaDriveHandle handle(fd);
        QByteArray block;
        if (handle.identify(block) == kDriveSuccess && smartSupported(block)) {
            direct << disk;
            names << m_DevRoot + "/" + disk;
        }
    }
    const QString hwmonRoot = m_SysRoot + "/class/hwmon";
    for (const QString& entry : sortedEntries(hwmonRoot, "hwmon*")) {
        const QString dir = hwmonRoot + "/" + entry;
        if (isDriveSensor(dir) && !direct.contains(blockDeviceOfSensor(dir)))
            names << dir;
    }
    return names.size();
}

QDriveHandle* QDriveSourceLinux::open(const QString& name, int* pErrno)
{
    if (name.startsWith(m_DevRoot + "/")) {
        const int fd =
            ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *pErrno = errno;
            return nullptr;
        }
        return new QAtaDriveHandle(fd);
    }
    if (name.startsWith(m_SysRoot + "/class/hwmon/") && isDriveSensor(name)) {
        const QString block = blockDeviceOfSensor(name);
        return new QHwmonDriveHandle(name, m_SysRoot + "/block/" + block);
    }
    *pErrno = QFile::exists(name) ? ENODEV : ENOENT;
    return nullptr;
}
