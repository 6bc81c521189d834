#include "settings_store.h"

#include <gtest/gtest.h>

namespace {
PortMapping parse(const char *text)
{
    return SettingsStore::parsePortMapping(QString::fromUtf8(text));
}
}  // namespace

TEST(PortMappingParse, KeepsWellFormedEntriesAndSkipsTheRest)
{
    EXPECT_TRUE(parse("").isEmpty());
    EXPECT_EQ(parse("0_A#junk#3_B"), (PortMapping{{"A", 0}, {"B", 3}}));
    EXPECT_EQ(parse("x_A"), (PortMapping{{"A", 0}}));
    EXPECT_TRUE(parse("0_A_B").isEmpty());
    EXPECT_EQ(parse("0_A#5_A"), (PortMapping{{"A", 5}}));
    EXPECT_EQ(parse("#1_1:2##"), (PortMapping{{"1:2", 1}}));
    EXPECT_EQ(parse("2_ 1:4 \t"), (PortMapping{{"1:4", 2}}));
}

TEST(PortMappingFormat, WritesEntriesInPortOrder)
{
    EXPECT_EQ(SettingsStore::formatPortMapping({}), QString());
    const PortMapping mapping{{"2:1", 3}, {"1:10", 0}, {"1:9", 15}};
    EXPECT_EQ(SettingsStore::formatPortMapping(mapping), QStringLiteral("0_1:10#15_1:9#3_2:1"));
    EXPECT_EQ(SettingsStore::parsePortMapping(SettingsStore::formatPortMapping(mapping)), mapping);
}

TEST(PortMappingFormat, SeparatorsInsidePortTextDoNotSurvive)
{
    const PortMapping mapping{{"1_2", 4}, {"3#4", 5}};
    const PortMapping back = SettingsStore::parsePortMapping(SettingsStore::formatPortMapping(mapping));
    EXPECT_FALSE(back.contains(QStringLiteral("1_2")));
    EXPECT_FALSE(back.contains(QStringLiteral("3#4")));
}
