#include "app/XdgAutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>

namespace {

const char* const kEntryFileName = "thermora.desktop";

// Characters that force a command word into double quotes.
bool isReservedInExec(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

// The string escapes every desktop-entry value uses.
QString escapeValue(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}

QString unescapeValue(const QString& text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\\') || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar next = text[++i];
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else
            out += next;
    }
    return out;
}

// The keys of the [Desktop Entry] group; other groups are ignored.
QMap<QString, QString> readMainGroup(const QString& path)
{
    QMap<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    bool bInMainGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            bInMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int nEquals = line.indexOf(QLatin1Char('='));
        if (!bInMainGroup || line.startsWith(QLatin1Char('#')) || nEquals <= 0)
            continue;
        values.insert(line.left(nEquals).trimmed(), line.mid(nEquals + 1).trimmed());
    }
    return values;
}

bool samePath(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

bool entryStarts(const QMap<QString, QString>& values, const QString& programPath)
{
    return samePath(XdgAutoStartUtils::programFromExecValue(values.value(QStringLiteral("Exec"))),
                    programPath);
}

} // namespace

namespace XdgAutoStartUtils {

QString entryPath()
{
    // GenericConfigLocation is $XDG_CONFIG_HOME, or ~/.config without it.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + QLatin1String(kEntryFileName);
}

QString execValueFor(const QString& programPath)
{
    QString word = programPath;
    if (std::any_of(word.begin(), word.end(), isReservedInExec)) {
        QString quoted;
        for (const QChar c : word) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        word = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    word.replace(QLatin1Char('%'), QLatin1String("%%"));
    return escapeValue(word);
}

QString programFromExecValue(const QString& execValue)
{
    const QString command = unescapeValue(execValue).trimmed();
    QString word;
    if (!command.startsWith(QLatin1Char('"'))) {
        word = command.section(QLatin1Char(' '), 0, 0);
    } else {
        bool bClosed = false;
        for (int i = 1; i < command.size(); ++i) {
            const QChar c = command[i];
            if (c == QLatin1Char('\\') && i + 1 < command.size()) {
                word += command[++i];
            } else if (c == QLatin1Char('"')) {
                bClosed = true;
                break;
            } else {
                word += c;
            }
        }
        if (!bClosed)
            return QString();
    }
    word.replace(QLatin1String("%%"), QLatin1String("%"));
    return word;
}

bool isInstalled(const QString& programPath)
{
    const QMap<QString, QString> values = readMainGroup(entryPath());
    if (values.isEmpty())
        return false;
    // Desktops switch an entry off by either of these keys instead of deleting it.
    if (values.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
        values.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
        return false;
    return entryStarts(values, programPath);
}

bool install(const QString& programPath)
{
    if (isInstalled(programPath))
        return true;
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Thermora\n"
                                        "Comment=Fan speeds and temperature sensors\n"
                                        "Exec=%1\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execValueFor(programPath));
    file.write(text.toUtf8());
    return file.commit();
}

bool remove(const QString& programPath)
{
    const QString path = entryPath();
    if (!QFileInfo::exists(path))
        return true;
    if (!entryStarts(readMainGroup(path), programPath))
        return true; // someone else's entry under our name: not ours to delete
    return QFile::remove(path);
}

} // namespace XdgAutoStartUtils
