#pragma once
// The console's name, version and window title. Every worker finds the console
// by the exact title text, so it is built in one place only.

#include <QString>

namespace AppInfo
{

constexpr int kAppId = 2; // application id of the update check and the feedback link
constexpr int kMajor = 0;
constexpr int kMinor = 1;
constexpr int kPatch = 8;

QString programName();
// "0.1.8"
QString versionText();
// Program name, " v", version text.
QString windowTitle();
// Compiler build date and time run together, e.g. "Jul 27 202316:46:59".
QString buildTime();

} // namespace AppInfo
