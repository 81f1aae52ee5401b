#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Stateless pieces of machine identification, kept apart from the platform layers so every
// rule can be exercised on any system.
namespace SysInfoHelpers {

// Model codes of the machines whose sensor keys differ from the default rows.
enum ModelCode
{
    ModelUnknown = 0,
    ModelIMac11_2 = 100,
    ModelIMac11_3 = 101,
    ModelIMac13_1 = 102,
    ModelIMac13_2 = 103,
    ModelMacMini3_1 = 200,
    ModelMacMini5_1 = 201,
    ModelMacPro1_1 = 300,
    ModelMacPro2_1 = 301,
    ModelMacPro3_1 = 302,
    ModelMacPro4_1 = 303,
};

// Exact, case-sensitive identifier match; 0 for anything not listed.
int modelCode(const QString& identifier);

// The controller generation a model identifier belongs to, which decides its sensor keys.
enum MacGeneration
{
    GenerationIntel = 0, // before the T2 chip, and every identifier not recognised
    GenerationT2 = 1,    // Intel with the T2 chip (2018-2020)
    GenerationM1 = 11,   // Apple silicon, M1 family (M1, Pro, Max, Ultra)
    GenerationM2 = 12,
    GenerationM3 = 13,
    GenerationM4 = 14, // and later
};
int macGeneration(const QString& identifier);
bool isAppleSilicon(int nGeneration);
bool isMacProIdentifier(const QString& identifier);

// Name of a system version given as the toolkit's Macintosh version number (7 = 10.5 ...
// 11 = 10.9); "Mac OS X Unknown" for any other number.
QString osVersionName(int nMacintoshVersion);

// The identifier in the output of "sysctl hw.model": the first line without the 10-character
// label "hw.model: "; a shorter first line is taken whole; no line gives an empty identifier.
QString identifierFromSysctl(const QStringList& lines);

// Where a machine without the Apple model query finds its identifier.
struct ModelSources
{
    // Socket of a simulated controller whose profile names the model; empty when none.
    QString simulatorSocket;
    // Asks the simulator at a socket for its model; empty when it does not answer.
    std::function<QString(const QString&)> simulatorModel;
    // Folder with the firmware's product information (sys_vendor, product_name).
    QString dmiDir = QStringLiteral("/sys/class/dmi/id");
};

bool isAppleVendor(const QString& vendor);
// product_name of the DMI folder when sys_vendor names Apple; empty otherwise or unreadable.
QString appleDmiProductName(const QString& dmiDir);
// The simulator's model when one answers, else the DMI product name of an Apple machine.
QString modelFromSources(const ModelSources& sources);

} // namespace SysInfoHelpers
