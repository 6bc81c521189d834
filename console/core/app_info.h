#pragma once
// The console's identity: its window title (by which every worker finds it,
// built in common/ for both programs), application id and build time.

#include <QString>

namespace AppInfo
{

constexpr int kAppId = 2; // application id of the update check and the feedback link

// "Zelkora量产工具 v0.1.8".
QString windowTitle();
// Compiler build date and time run together, e.g. "Jul 27 202316:46:59".
QString buildTime();

} // namespace AppInfo
