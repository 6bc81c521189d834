// The library logger: the 40-column prefix, the hook, the 1024-byte line.

#include "image_test_util.h"

#include "zelupg_log.h"

#include <string>
#include <vector>

using imagetest::LogCapture;

namespace {

const std::string &lastLine()
{
    return LogCapture::lines().back().second;
}

} // namespace

// The prefix "name()line: " is padded with spaces so that the message starts
// in column 40; a longer prefix is neither cut nor padded.
TEST(ZelupgLog, MessageStartsInColumn40UnlessThePrefixIsLonger)
{
    const struct {
        size_t nameLength;
        size_t messageColumn;
    } cases[] = {{1, 40}, {33, 40}, {34, 40}, {39, 45}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.nameLength);
        LogCapture log;
        const std::string name(c.nameLength, 'f');
        zelupg_log(ZELUPG_LOG_ERR, name.c_str(), 12, "x=%d", 5);
        ASSERT_EQ(LogCapture::lines().size(), 1u);
        EXPECT_EQ(lastLine(), name + "()12:" + std::string(c.messageColumn - c.nameLength - 5, ' ') + "x=5");
    }
}

TEST(ZelupgLog, ShortPrefixIsPaddedTo40Columns)
{
    LogCapture log;
    upg_err("Cannot open file %s", "a.img");
    const std::string &line = lastLine();
    ASSERT_EQ(line.find("TestBody()"), 0u) << line;
    EXPECT_EQ(line.substr(40), "Cannot open file a.img");
    EXPECT_EQ(line[39], ' ');
    EXPECT_EQ(LogCapture::lines().back().first, 3);
}

TEST(ZelupgLog, MacrosCarryTheirLevels)
{
    LogCapture log;
    upg_err("e");
    upg_info("i");
    upg_dbg("d");
    upg_plain("p");
    upg_err_as("image_dump", "as");
    auto &l = LogCapture::lines();
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0].first, 3);
    EXPECT_EQ(l[1].first, 6);
    EXPECT_EQ(l[2].first, 7);
    EXPECT_EQ(l[3].first, -1);
    EXPECT_EQ(l[4].first, 3);
    EXPECT_EQ(l[4].second.rfind("image_dump()", 0), 0u);
}

TEST(ZelupgLog, PlainTextHasNoPrefix)
{
    LogCapture log;
    upg_plain("\nBurn %s successfully!", "image.target");
    EXPECT_EQ(lastLine(), "\nBurn image.target successfully!");
}

TEST(ZelupgLog, SilentWithoutHookAndFormatsNothing)
{
    zelupg_set_log_hook(nullptr);
    // Returns 0 at once: nothing is formatted, so the message length is not known.
    EXPECT_EQ(zelupg_log(ZELUPG_LOG_ERR, "f", 1, "%s", "twelve chars"), 0);
    LogCapture log;
    EXPECT_EQ(zelupg_log(ZELUPG_LOG_ERR, "f", 1, "%s", "twelve chars"), 12);
}

TEST(ZelupgLog, NullHookSwitchesLoggingOff)
{
    {
        LogCapture log;
        upg_err("one");
        EXPECT_EQ(LogCapture::lines().size(), 1u);
    }
    LogCapture::lines().clear();
    upg_err("two"); // the capture has removed its hook
    EXPECT_TRUE(LogCapture::lines().empty());
}

TEST(ZelupgLog, LineIsCutAt1023Characters)
{
    LogCapture log;
    const std::string longText(3000, 'z');
    int len = zelupg_log(ZELUPG_LOG_ERR, "func", 7, "%s", longText.c_str());
    EXPECT_EQ(len, 3000); // what formatting would have produced
    EXPECT_EQ(lastLine().size(), 1023u);
    EXPECT_EQ(lastLine().substr(0, 40), "func()7:" + std::string(32, ' '));

    zelupg_log(ZELUPG_LOG_PLAIN, nullptr, 0, "%s", longText.c_str());
    EXPECT_EQ(lastLine(), std::string(1023, 'z'));
}

TEST(ZelupgLog, OverlongFunctionNameStillLeavesATerminatedLine)
{
    LogCapture log;
    const std::string name(2000, 'n');
    zelupg_log(ZELUPG_LOG_ERR, name.c_str(), 1, "tail");
    EXPECT_EQ(lastLine().size(), 1023u);
    EXPECT_EQ(lastLine(), std::string(1023, 'n'));
}

namespace {
std::vector<int> &askedLevels()
{
    static std::vector<int> levels;
    return levels;
}

int debugDropped(int level)
{
    askedLevels().push_back(level);
    return level != ZELUPG_LOG_DEBUG;
}
} // namespace

TEST(ZelupgLog, FilterDropsMessagesBeforeTheyAreFormatted)
{
    LogCapture log;
    askedLevels().clear();
    zelupg_set_log_filter(debugDropped);
    EXPECT_EQ(zelupg_log(ZELUPG_LOG_DEBUG, "f", 1, "%s", "twelve chars"), 0) << "not formatted";
    EXPECT_EQ(zelupg_log(ZELUPG_LOG_ERR, "f", 1, "%s", "twelve chars"), 12);
    upg_plain("plain");
    zelupg_set_log_filter(nullptr);
    upg_dbg("after the filter is gone");

    EXPECT_EQ(askedLevels(), (std::vector<int>{ZELUPG_LOG_DEBUG, ZELUPG_LOG_ERR, ZELUPG_LOG_PLAIN}));
    auto &l = LogCapture::lines();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].first, ZELUPG_LOG_ERR);
    EXPECT_EQ(l[1].second, "plain");
    EXPECT_EQ(l[2].first, ZELUPG_LOG_DEBUG);
}
