#pragma once
// Delivery of one report from a worker to the console window with a given
// title. Synchronous: returns once the console has handled the report.
// Without a console the report is dropped silently.

#include <QByteArray>
#include <QString>

void deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload);
