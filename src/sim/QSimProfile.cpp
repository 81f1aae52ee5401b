#include "sim/QSimProfile.h"

#include "sim/QSimDrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>

namespace {

bool toNumber(const QString& text, double& dValue)
{
    bool bOk = false;
    dValue = text.trimmed().toDouble(&bOk);
    return bOk && std::isfinite(dValue);
}

bool parseLoad(const QString& text, double& dLoad)
{
    static const QHash<QString, double> named = {
        {"idle", 0.05}, {"light", 0.3}, {"load", 0.85}, {"burst", 1.0}};
    const QString word = text.trimmed().toLower();
    if (named.contains(word)) {
        dLoad = named.value(word);
        return true;
    }
    return toNumber(word, dLoad) && dLoad >= 0.0 && dLoad <= 1.0;
}

bool parseSchedule(const QString& text, QVector<QSimLoadPhase>& schedule)
{
    schedule.clear();
    for (const QString& item : text.split(',', Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(':');
        QSimLoadPhase phase;
        if (parts.size() != 2 || !parseLoad(parts.at(0), phase.dLoad) ||
            !toNumber(parts.at(1), phase.dSecs) || phase.dSecs <= 0)
            return false;
        schedule.append(phase);
    }
    return true;
}

bool parseNumbers(const QString& text, QVector<double>& numbers)
{
    numbers.clear();
    for (const QString& item : text.split(',')) {
        double dValue = 0;
        if (!toNumber(item, dValue))
            return false;
        numbers.append(dValue);
    }
    return true;
}

bool parseSensor(const QString& text, QSimSensorParams& params)
{
    QVector<double> numbers;
    if (!parseNumbers(text, numbers) || numbers.size() != 2 || numbers.at(1) <= 0)
        return false;
    params.dLoadHeat = numbers.at(0);
    params.dTauSecs = numbers.at(1);
    return true;
}

// Applies one "name = value" of a section; false when the name or the value is not understood.
// Sensor rows of the file go in front of the built-in ones, in file order (nFileRows so far).
bool applyEntry(QSimProfile& profile, const QString& section, const QString& name,
                const QString& value, const QString& dir, int& nFileRows)
{
    QSimDynamicsParams& dyn = profile.dynamics;
    if (section == "machine") {
        if (name == "model")
            profile.model = value;
        else if (name == "dump")
            profile.dumpPath = QDir(dir).absoluteFilePath(value);
        else
            return false;
        return !value.isEmpty();
    }
    if (section == "thermal") {
        const QHash<QString, double*> numbers = {
            {"ambient", &dyn.dAmbient},    {"airflow", &dyn.dAirflow},
            {"ramp", &dyn.dRampRpmPerSec}, {"auto.low", &dyn.dAutoLow},
            {"auto.high", &dyn.dAutoHigh}, {"noise", &dyn.dNoise}};
        if (numbers.contains(name))
            return toNumber(value, *numbers.value(name)) && *numbers.value(name) >= 0;
        if (name == "schedule")
            return parseSchedule(value, dyn.schedule);
        if (name == "fan.airflow")
            return parseNumbers(value, dyn.fanAirflow) &&
                   std::all_of(dyn.fanAirflow.begin(), dyn.fanAirflow.end(),
                               [](double dShare) { return dShare >= 0; });
        return false;
    }
    if (section == "sensors") {
        QSimSensorParams params;
        if (!parseSensor(value, params))
            return false;
        if (name == "default") {
            dyn.defaults = params;
            return true;
        }
        const QByteArray pattern = name.toLatin1();
        for (auto& row : dyn.sensors) {
            if (row.first == pattern) {
                row.second = params;
                return true;
            }
        }
        dyn.sensors.insert(nFileRows++, qMakePair(pattern, params));
        return true;
    }
    if (section == "drives")
        return QSimDrives::parseProfileRow(name, value, dir, profile.drives);
    return false;
}

} // namespace

const QSimSensorParams& QSimDynamicsParams::sensor(const QByteArray& key) const
{
    for (const auto& row : sensors) {
        const QByteArray& pattern = row.first;
        if (pattern.endsWith('*') ? key.startsWith(pattern.left(pattern.size() - 1))
                                  : key == pattern)
            return row.second;
    }
    return defaults;
}

double QSimDynamicsParams::loadAt(double dSecsSinceStart) const
{
    double dCycle = 0;
    for (const QSimLoadPhase& phase : schedule)
        dCycle += phase.dSecs;
    if (dCycle <= 0)
        return 0.05;
    double dInCycle = std::fmod(std::max(0.0, dSecsSinceStart), dCycle);
    for (const QSimLoadPhase& phase : schedule) {
        if (dInCycle < phase.dSecs)
            return phase.dLoad;
        dInCycle -= phase.dSecs;
    }
    return schedule.last().dLoad;
}

bool QSimProfile::load(const QString& path, QSimProfile& profile, QString* pError)
{
    return parse(path, profile, true, pError);
}

bool QSimProfile::loadDynamics(const QString& path, QSimProfile& profile, QString* pError)
{
    return parse(path, profile, false, pError);
}

bool QSimProfile::parse(const QString& path, QSimProfile& profile, bool bNeedDump, QString* pError)
{
    auto fail = [&](const QString& message) {
        if (pError)
            *pError = message;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(
            QStringLiteral("%1: cannot read the profile: %2").arg(path, file.errorString()));
    QSimProfile result;
    const QFileInfo info(path);
    result.name = info.completeBaseName();
    const QString dir = info.absolutePath();
    QString section;
    int nLine = 0;
    int nFileRows = 0;
    while (!file.atEnd()) {
        ++nLine;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const int nEq = line.indexOf('=');
        const QString name = line.left(nEq).trimmed();
        const QString value = line.mid(nEq + 1).trimmed();
        if (nEq <= 0 || !applyEntry(result, section, name, value, dir, nFileRows))
            return fail(QStringLiteral("%1:%2: cannot use \"%3\" in section [%4]")
                            .arg(path)
                            .arg(nLine)
                            .arg(line, section));
    }
    if (bNeedDump && result.dumpPath.isEmpty())
        return fail(
            QStringLiteral("%1: the profile names no dump (dump = FILE in [machine])").arg(path));
    if (result.dynamics.dAutoHigh <= result.dynamics.dAutoLow)
        return fail(QStringLiteral("%1: auto.high must be above auto.low").arg(path));
    profile = result;
    return true;
}

QString QSimProfile::find(const QString& nameOrPath, const QStringList& searchDirs)
{
    if (nameOrPath.isEmpty())
        return QString();
    if (nameOrPath.contains('/') || QFileInfo(nameOrPath).isFile())
        return QFileInfo(nameOrPath).isFile() ? QFileInfo(nameOrPath).absoluteFilePath()
                                              : QString();
    for (const QString& dir : searchDirs) {
        const QString candidate = QDir(dir).filePath(nameOrPath + ".profile");
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}

QStringList QSimProfile::defaultSearchDirs(const QString& binDir)
{
    QStringList dirs;
    const QString fromEnv = qEnvironmentVariable("THERMORA_PROFILES_DIR");
    if (!fromEnv.isEmpty())
        dirs << fromEnv;
    dirs << QDir(binDir).absoluteFilePath("../share/thermora/profiles");
    // A build tree inside the source tree: the first ancestor that holds profiles/.
    QDir dir(binDir);
    for (int i = 0; i < 4 && dir.cdUp(); ++i) {
        if (QFileInfo(dir.filePath("profiles")).isDir() &&
            QFileInfo(dir.filePath("CMakeLists.txt")).isFile()) {
            dirs << dir.filePath("profiles");
            break;
        }
    }
    return dirs;
}
