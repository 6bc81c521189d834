#include "history_test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

static QTemporaryDir *g_directory = nullptr;

QString testDirectory()
{
    return g_directory->path();
}

struct Message {
    QtMsgType type;
    QString text;
};
static QList<Message> g_messages;

static void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    g_messages.append({type, text});
}

LogCapture::LogCapture() : m_previous(qInstallMessageHandler(captureMessage))
{
    g_messages.clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

bool LogCapture::contains(QtMsgType type, const QString &startOfMessage) const
{
    for (const Message &message : qAsConst(g_messages)) {
        if (message.type == type && message.text.startsWith(startOfMessage))
            return true;
    }
    return false;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir directory;
    if (!directory.isValid() || !QDir::setCurrent(directory.path()))
        return 1;
    g_directory = &directory;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
