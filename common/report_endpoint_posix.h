#pragma once
// Where the console's report socket lives on POSIX systems: a per-user
// directory that only its owner may enter, and a name derived from the window
// title. Shared by the sending and the receiving side.

#include <QByteArray>
#include <QString>

// Largest payload a receiver accepts; reports are a few dozen bytes.
constexpr quint32 kMaxReportPayload = 4096;

// The socket path for the title, or empty when no private directory is available.
QByteArray reportSocketPath(const QString &windowTitle);
