#pragma once
// Where the console's report socket lives on POSIX systems: a per-user
// folder that only its owner may enter, and a name derived from the window
// title. Shared by the sending and the receiving side.

#include <QByteArray>
#include <QString>

// The user's private folder (made when missing) that holds the report
// socket and the console's locks; empty with error set when there is none.
QByteArray privateRuntimeFolder(QString *error);

// The socket path for the title, or empty when no private folder is
// available; then error (when given) says why.
QByteArray reportSocketPath(const QString &windowTitle, QString *error = nullptr);
