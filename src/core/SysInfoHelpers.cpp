#include "core/SysInfoHelpers.h"

#include <QFile>

namespace {
struct ModelRow
{
    const char* identifier;
    int nCode;
};

const ModelRow kModels[] = {
    {"iMac11,2", SysInfoHelpers::ModelIMac11_2},
    {"iMac11,3", SysInfoHelpers::ModelIMac11_3},
    {"iMac13,1", SysInfoHelpers::ModelIMac13_1},
    {"iMac13,2", SysInfoHelpers::ModelIMac13_2},
    {"MacPro1,1", SysInfoHelpers::ModelMacPro1_1},
    {"MacPro2,1", SysInfoHelpers::ModelMacPro2_1},
    {"MacPro3,1", SysInfoHelpers::ModelMacPro3_1},
    {"MacPro4,1", SysInfoHelpers::ModelMacPro4_1},
    {"Macmini3,1", SysInfoHelpers::ModelMacMini3_1},
    {"Macmini5,1", SysInfoHelpers::ModelMacMini5_1},
};

// Identifier families and the major numbers from which a generation starts; within a family a
// higher major number is a later machine. "Mac13" onward names Apple-silicon machines of
// every kind by chip generation.
struct GenerationRow
{
    const char* family;
    int nFirstMajor;
    int nGeneration;
};

const GenerationRow kGenerations[] = {
    {"MacBookPro", 17, SysInfoHelpers::GenerationM1}, // 17: M1 13-inch, 18: Pro/Max
    {"MacBookPro", 15, SysInfoHelpers::GenerationT2},
    {"MacBookAir", 10, SysInfoHelpers::GenerationM1},
    {"MacBookAir", 8, SysInfoHelpers::GenerationT2},
    {"iMacPro", 1, SysInfoHelpers::GenerationT2},
    {"iMac", 21, SysInfoHelpers::GenerationM1},
    {"iMac", 20, SysInfoHelpers::GenerationT2},
    {"Macmini", 9, SysInfoHelpers::GenerationM1},
    {"Macmini", 8, SysInfoHelpers::GenerationT2},
    {"MacPro", 7, SysInfoHelpers::GenerationT2},
    {"Mac", 16, SysInfoHelpers::GenerationM4},
    {"Mac", 15, SysInfoHelpers::GenerationM3},
    {"Mac", 14, SysInfoHelpers::GenerationM2},
    {"Mac", 13, SysInfoHelpers::GenerationM1},
};

const int kSysctlLabelLength = 10; // "hw.model: "

// First line of a small text file without its line end; empty when it cannot be read.
QString readFirstLine(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readLine(4096)).trimmed();
}
} // namespace

int SysInfoHelpers::modelCode(const QString& identifier)
{
    for (const ModelRow& row : kModels) {
        if (identifier == QLatin1String(row.identifier))
            return row.nCode;
    }
    return ModelUnknown;
}

int SysInfoHelpers::macGeneration(const QString& identifier)
{
    // "<family><major>,<minor>": the family is the letters before the first digit.
    int nDigit = 0;
    while (nDigit < identifier.size() && !identifier.at(nDigit).isDigit())
        ++nDigit;
    const QString family = identifier.left(nDigit);
    bool bOk = false;
    const int nMajor = identifier.mid(nDigit).section(QLatin1Char(','), 0, 0).toInt(&bOk);
    if (!bOk || !identifier.contains(QLatin1Char(',')))
        return GenerationIntel;
    for (const GenerationRow& row : kGenerations) {
        if (family == QLatin1String(row.family) && nMajor >= row.nFirstMajor)
            return row.nGeneration;
    }
    return GenerationIntel;
}

bool SysInfoHelpers::isAppleSilicon(int nGeneration)
{
    return nGeneration >= GenerationM1;
}

bool SysInfoHelpers::isMacProIdentifier(const QString& identifier)
{
    return identifier.startsWith(QLatin1String("MacPro"), Qt::CaseSensitive);
}

QString SysInfoHelpers::osVersionName(int nMacintoshVersion)
{
    switch (nMacintoshVersion) {
    case 7:
        return QStringLiteral("Mac OS X 10.5");
    case 8:
        return QStringLiteral("Mac OS X 10.6");
    case 9:
        return QStringLiteral("Mac OS X 10.7");
    case 10:
        return QStringLiteral("Mac OS X 10.8");
    case 11:
        return QStringLiteral("Mac OS X 10.9");
    default:
        return QStringLiteral("Mac OS X Unknown");
    }
}

QString SysInfoHelpers::identifierFromSysctl(const QStringList& lines)
{
    if (lines.isEmpty())
        return QString();
    const QString& first = lines.first();
    return first.length() < kSysctlLabelLength ? first : first.mid(kSysctlLabelLength);
}

bool SysInfoHelpers::isAppleVendor(const QString& vendor)
{
    return vendor == QLatin1String("Apple Inc.") || vendor == QLatin1String("Apple Computer, Inc.");
}

QString SysInfoHelpers::appleDmiProductName(const QString& dmiDir)
{
    if (!isAppleVendor(readFirstLine(dmiDir + QStringLiteral("/sys_vendor"))))
        return QString();
    return readFirstLine(dmiDir + QStringLiteral("/product_name"));
}

QString SysInfoHelpers::modelFromSources(const ModelSources& sources)
{
    if (!sources.simulatorSocket.isEmpty() && sources.simulatorModel) {
        const QString model = sources.simulatorModel(sources.simulatorSocket);
        if (!model.isEmpty())
            return model;
    }
    return appleDmiProductName(sources.dmiDir);
}
