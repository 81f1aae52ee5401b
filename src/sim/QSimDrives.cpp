#include "sim/QSimDrives.h"

#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {

constexpr int kBlockSize = 512;
constexpr int kStepMsecs = 1000;
// A longer gap is not integrated: the warmth settles on the present load instead.
constexpr qint64 kMaxCatchUpMsecs = 6LL * 3600 * 1000;

// Offset of raw[0] of the first record with id 194, else of the first with 190; -1 none.
int temperatureOffset(const QByteArray& smart)
{
    for (int nId : {194, 190}) {
        for (int i = 0; i < 30; ++i) {
            const int nRecord = 2 + 12 * i;
            if (static_cast<unsigned char>(smart.at(nRecord)) == nId)
                return nRecord + 5;
        }
    }
    return -1;
}

} // namespace

QSimDrives::QSimDrives(QClock* pClock) : m_pClock(pClock)
{}

qint64 QSimDrives::nowMsecs() const
{
    const QClock* pClock = m_pClock ? m_pClock : QCoreServices::clock();
    return pClock->msecsSinceEpoch();
}

bool QSimDrives::splitDriveArgument(const QString& arg, QString& identifyPath, QString& smartPath)
{
    int nComma = arg.indexOf(QLatin1Char(','));
    for (int i = nComma; i >= 0; i = arg.indexOf(QLatin1Char(','), i + 1)) {
        if (QFileInfo::exists(arg.left(i))) {
            nComma = i;
            break;
        }
    }
    identifyPath = arg.left(nComma);
    smartPath = arg.mid(nComma + 1);
    return nComma > 0 && !smartPath.isEmpty();
}

bool QSimDrives::readBlock(const QString& path, QByteArray& block, QString* pError)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *pError = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    block = file.read(kBlockSize + 1);
    if (block.size() != kBlockSize) {
        *pError = QStringLiteral("%1 holds %2 bytes, a drive block is %3")
                      .arg(path)
                      .arg(file.size())
                      .arg(kBlockSize);
        return false;
    }
    return true;
}

bool QSimDrives::parseProfileRow(const QString& name, const QString& value, const QString& dir,
                                 QVector<QSimDriveParams>& rows)
{
    const QStringList parts = value.split(QLatin1Char(','));
    if (name != QLatin1String("drive") || (parts.size() != 2 && parts.size() != 4))
        return false;
    QSimDriveParams params;
    params.identifyPath = QDir(dir).absoluteFilePath(parts.at(0).trimmed());
    params.smartPath = QDir(dir).absoluteFilePath(parts.at(1).trimmed());
    bool bHeat = true, bTau = true;
    if (parts.size() == 4) {
        params.dLoadHeat = parts.at(2).trimmed().toDouble(&bHeat);
        params.dTauSecs = parts.at(3).trimmed().toDouble(&bTau);
    }
    if (!bHeat || !bTau || !std::isfinite(params.dLoadHeat) || !(params.dTauSecs > 0))
        return false;
    rows.append(params);
    return true;
}

bool QSimDrives::load(const QVector<QSimDriveParams>& rows, const QSimDynamicsParams& dynamics,
                      QString* pError)
{
    QVector<Drive> drives;
    for (const QSimDriveParams& params : rows) {
        Drive drive;
        if (!readBlock(params.identifyPath, drive.identify, pError) ||
            !readBlock(params.smartPath, drive.smart, pError))
            return false;
        drive.nTempOffset = temperatureOffset(drive.smart);
        drive.nIdle = drive.nTempOffset < 0
                          ? 0
                          : static_cast<unsigned char>(drive.smart.at(drive.nTempOffset));
        drive.dLoadHeat = params.dLoadHeat;
        drive.dTauSecs = params.dTauSecs;
        drives.append(drive);
    }
    const qint64 nNow = nowMsecs();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Drives = drives;
    m_Dynamics = dynamics;
    m_nStartMsecs = m_nSimMsecs = nNow;
    return true;
}

bool QSimDrives::addReplayed(const QString& identifyPath, const QString& smartPath, QString* pError)
{
    QByteArray identify, smart;
    if (!readBlock(identifyPath, identify, pError) || !readBlock(smartPath, smart, pError))
        return false;
    addDrive(identify, smart);
    return true;
}

void QSimDrives::addDrive(const QByteArray& identify, const QByteArray& smart, double dLoadHeat,
                          double dTauSecs)
{
    Drive drive;
    drive.identify = identify;
    drive.smart = smart;
    drive.nTempOffset = smart.size() >= kBlockSize ? temperatureOffset(smart) : -1;
    drive.nIdle =
        drive.nTempOffset < 0 ? 0 : static_cast<unsigned char>(smart.at(drive.nTempOffset));
    drive.dLoadHeat = dLoadHeat;
    drive.dTauSecs = dTauSecs > 0 ? dTauSecs : 300;
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Drives.append(drive);
}

int QSimDrives::count() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Drives.size();
}

void QSimDrives::advanceLocked(qint64 nMsecs)
{
    if (nMsecs - m_nSimMsecs > kMaxCatchUpMsecs)
        m_nSimMsecs = nMsecs - kMaxCatchUpMsecs;
    while (m_nSimMsecs + kStepMsecs <= nMsecs) {
        m_nSimMsecs += kStepMsecs;
        const double dLoad = m_Dynamics.loadAt((m_nSimMsecs - m_nStartMsecs) / 1000.0);
        for (Drive& drive : m_Drives)
            drive.dWarmth += (dLoad - drive.dWarmth) * (1.0 - std::exp(-1.0 / drive.dTauSecs));
    }
}

int QSimDrives::temperatureLocked(const Drive& drive) const
{
    if (drive.nTempOffset < 0)
        return -1;
    const int nTemp = drive.nIdle + static_cast<int>(std::lround(drive.dLoadHeat * drive.dWarmth));
    return qBound(0, nTemp, 255);
}

int QSimDrives::temperature(int i)
{
    const qint64 nNow = nowMsecs();
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (i < 0 || i >= m_Drives.size())
        return -1;
    advanceLocked(nNow);
    return temperatureLocked(m_Drives.at(i));
}

int32_t QSimDrives::request(uint32_t nCommand, uint32_t nDrive, QByteArray& block)
{
    const qint64 nNow = nowMsecs();
    block.clear();
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (nCommand == 0)
        return m_Drives.size();
    if (nDrive >= static_cast<uint32_t>(m_Drives.size()) || nCommand > 2)
        return kNoSuchDrive;
    advanceLocked(nNow);
    const Drive& drive = m_Drives.at(static_cast<int>(nDrive));
    if (nCommand == 1) {
        block = drive.identify;
        return 0;
    }
    block = drive.smart;
    if (drive.nTempOffset >= 0)
        block[drive.nTempOffset] = static_cast<char>(temperatureLocked(drive));
    return 0;
}
