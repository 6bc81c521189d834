#pragma once
// The history database reads its "created" flag from the process's settings
// store, which binds to the working directory at first use. The history tests
// therefore run the whole process in one temporary directory and give every
// test a database file of its own.

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The working directory of this test process.
QString testDirectory();

// Collects every Qt message while alive.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    bool contains(QtMsgType type, const QString &startOfMessage) const;

private:
    QtMessageHandler m_previous;
};
