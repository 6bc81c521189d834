#pragma once
// The console's identity: its window title (by which every worker finds it,
// built in common/ for both programs), application id and the sources' time.

#include "veldmark_version.h"

#include <QString>

namespace AppInfo
{

constexpr int kAppId = 2; // application id of the update check and the feedback link
constexpr int kVersionMajor = VeldmarkVersion::kMajor;
constexpr int kVersionMinor = VeldmarkVersion::kMinor;
constexpr int kVersionPatch = VeldmarkVersion::kPatch;

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
// The sources' time (the last commit) in UTC, date and time run together as
// a compiler's build stamp would read, e.g. "Jul 27 202316:46:59" or
// "Dec  7 202609:05:00". Not the clock at build time: rebuilding the same
// sources gives the same program.
QString buildTime();
// The same for any time in seconds since 1970-01-01 UTC.
QString buildTime(qint64 secondsSinceEpoch);

} // namespace AppInfo
