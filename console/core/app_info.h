#pragma once
// The console's identity: its window title (by which every worker finds it,
// built in common/ for both programs), application id and build time.

#include <QString>

namespace AppInfo
{

constexpr int kAppId = 2; // application id of the update check and the feedback link
constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;
constexpr int kVersionPatch = 8;

// Where the feedback service lives unless the settings name another address
// ("service"/"feedback_url").
constexpr char kDefaultFeedbackAddress[] = "http://feedback.zelkora.invalid:8080";

// "Zelkora量产工具 v0.1.8".
QString windowTitle();
// "0.1.8".
QString versionText();
// The feedback page for this application and version at the service address,
// e.g. "http://host:8080/api/feedback_edit?app_id=2&version_no=0.1.8".
QString feedbackLink(const QString &serviceAddress);
// Compiler build date and time run together, e.g. "Jul 27 202316:46:59".
QString buildTime();

} // namespace AppInfo
