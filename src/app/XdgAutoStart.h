#pragma once

#include <QString>

// The freedesktop.org autostart entry that starts the program at login:
// $XDG_CONFIG_HOME/autostart/thermora.desktop (~/.config when the variable is unset), with
// the program path as its only command word, without arguments.
namespace XdgAutoStartUtils {

QString entryPath();

// The entry exists, is not switched off, and starts exactly this program.
bool isInstalled(const QString& programPath);
// Writes the entry for this program (replacing one that starts another copy). False when the
// file cannot be written.
bool install(const QString& programPath);
// Deletes the entry when it starts this program; an entry for another program stays.
bool remove(const QString& programPath);

// One command word as the Exec key wants it: quoted when it holds reserved characters, with
// the escapes of a desktop-entry string value and "%" doubled.
QString execValueFor(const QString& programPath);
// The first command word of an Exec value as written in the file; empty when malformed.
QString programFromExecValue(const QString& execValue);

} // namespace XdgAutoStartUtils
