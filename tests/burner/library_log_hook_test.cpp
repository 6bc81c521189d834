// The worker's hook for library messages: level mapping, verbosity asked per
// message, out-of-range levels dropped, UTF-8 text, "default" category.

#include "library_log_hook.h"
#include "settings_store.h"
#include "zelupg_log.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Captured {
    QtMsgType type;
    std::string category;
    QString text;
};

std::vector<Captured> &captured()
{
    static std::vector<Captured> list;
    return list;
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    captured().push_back({type, context.category ? context.category : "", text});
}

class LibraryLogHook : public ::testing::Test
{
protected:
    // The settings file is relative to the working directory, and the store
    // is created on first use: move into a scratch folder before that.
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(s_dir->isValid());
        s_previous = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(s_dir->path()));
    }
    static void TearDownTestSuite()
    {
        QDir::setCurrent(s_previous);
        s_dir.reset();
    }
    void SetUp() override
    {
        setVerbose(false);
        captured().clear();
        m_previous = qInstallMessageHandler(handler);
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }

    static void setVerbose(bool on)
    {
        SettingsStore::instance()->setBoolValue(QStringLiteral("debug"),
                                                QStringLiteral("is_verbose"), on);
    }

    static std::unique_ptr<QTemporaryDir> s_dir;
    static QString s_previous;
    QtMessageHandler m_previous = nullptr;
};

std::unique_ptr<QTemporaryDir> LibraryLogHook::s_dir;
QString LibraryLogHook::s_previous;

} // namespace

TEST_F(LibraryLogHook, LevelsMapToTheWorkerLogLevels)
{
    setVerbose(true);
    const std::vector<std::pair<int, QtMsgType>> table = {
        {-1, QtDebugMsg},   {0, QtCriticalMsg}, {1, QtWarningMsg}, {2, QtCriticalMsg},
        {3, QtCriticalMsg}, {4, QtWarningMsg},  {5, QtWarningMsg}, {6, QtInfoMsg},
        {7, QtDebugMsg},
    };
    for (const auto &[level, type] : table) {
        captured().clear();
        libraryLogHook(level, "message");
        ASSERT_EQ(captured().size(), 1u) << "level " << level;
        EXPECT_EQ(captured()[0].type, type) << "level " << level;
        EXPECT_EQ(captured()[0].category, "default");
        EXPECT_EQ(captured()[0].text, QStringLiteral("message"));
    }
}

TEST_F(LibraryLogHook, DebugLevelOnlyWhenVerbose)
{
    libraryLogHook(7, "hidden");
    EXPECT_TRUE(captured().empty());
    libraryLogHook(6, "info passes");
    libraryLogHook(-1, "plain passes");
    EXPECT_EQ(captured().size(), 2u);
}

TEST_F(LibraryLogHook, VerbosityIsAskedForEveryMessage)
{
    libraryLogHook(7, "one");
    setVerbose(true);
    libraryLogHook(7, "two");
    setVerbose(false);
    libraryLogHook(7, "three");
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(captured()[0].text, QStringLiteral("two"));
}

TEST_F(LibraryLogHook, LevelsOutsideTheRangeAreDropped)
{
    setVerbose(true);
    for (int level : {-2, 8, 100, -100})
        libraryLogHook(level, "dropped");
    EXPECT_TRUE(captured().empty());
}

TEST_F(LibraryLogHook, TextIsUtf8AndNotQuoted)
{
    libraryLogHook(3, u8"Cannot open file /固件/a \"b\".img");
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(captured()[0].text, QString::fromUtf8(u8"Cannot open file /固件/a \"b\".img"));
}

TEST_F(LibraryLogHook, InstalledHookCarriesLibraryMessages)
{
    zelupg_set_log_hook(libraryLogHook);
    upg_err("Error, send fwc meta failed.");
    upg_dbg("not verbose");
    zelupg_set_log_hook(nullptr);
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(captured()[0].type, QtCriticalMsg);
    EXPECT_TRUE(captured()[0].text.endsWith(QStringLiteral("Error, send fwc meta failed.")));
    EXPECT_EQ(captured()[0].text.indexOf(QStringLiteral("Error")), 40);
}

TEST_F(LibraryLogHook, FilterPassesExactlyWhatTheHookForwards)
{
    for (bool verbose : {false, true}) {
        setVerbose(verbose);
        for (int level = -3; level <= 9; ++level) {
            captured().clear();
            libraryLogHook(level, "m");
            EXPECT_EQ(libraryLogWanted(level) != 0, !captured().empty())
                << "level " << level << (verbose ? ", verbose" : "");
        }
    }
}

TEST_F(LibraryLogHook, HiddenDebugMessagesAreNotFormatted)
{
    zelupg_set_log_filter(libraryLogWanted);
    zelupg_set_log_hook(libraryLogHook);
    const int hidden = upg_dbg("%s", "hidden");
    setVerbose(true);
    const int shown = upg_dbg("%s", "shown");
    zelupg_set_log_hook(nullptr);
    zelupg_set_log_filter(nullptr);
    EXPECT_EQ(hidden, 0);
    EXPECT_EQ(shown, 5);
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_TRUE(captured()[0].text.endsWith(QStringLiteral("shown")));
}
