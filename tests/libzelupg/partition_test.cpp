// The partition-string grammar of zelupg_new_partition.

#include "image_test_util.h"

#include "partition.h"

#include <memory>
#include <string>
#include <vector>

using imagetest::LogCapture;

namespace {

struct Part {
    std::string name;
    uint64_t start;
    uint64_t size;
    bool operator==(const Part &o) const
    {
        return name == o.name && start == o.start && size == o.size;
    }
};

std::ostream &operator<<(std::ostream &os, const Part &p)
{
    return os << "{" << p.name << ", 0x" << std::hex << p.start << ", 0x" << p.size << std::dec
              << "}";
}

std::vector<Part> parse(const char *text, uint64_t firstStart = 0)
{
    upg_partition *head = zelupg_new_partition(text, firstStart);
    std::vector<Part> parts;
    for (upg_partition *p = head; p; p = p->next)
        parts.push_back({p->name, p->start, p->size});
    EXPECT_EQ(zelupg_partition_count(head), int(parts.size()));
    zelupg_free_partition(head);
    return parts;
}

constexpr uint64_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;

} // namespace

TEST(PartitionGrammar, RestOfMedium)
{
    EXPECT_EQ(parse("-(all)", 0x4400), (std::vector<Part>{{"all", 0x4400, 0}}));
}

TEST(PartitionGrammar, EntriesWithoutStartFollowTheirPredecessor)
{
    EXPECT_EQ(parse("1m(a),2m(b),-(c)", 0x4400),
              (std::vector<Part>{{"a", 0x4400, MiB}, {"b", 0x4400 + MiB, 2 * MiB},
                                 {"c", 0x4400 + 3 * MiB, 0}}));
}

TEST(PartitionGrammar, ExplicitStartAndTheEntryAfterIt)
{
    EXPECT_EQ(parse("0x800@0(boot),4k(env)", 0x4400),
              (std::vector<Part>{{"boot", 0, 0x800}, {"env", 0x800, 4 * KiB}}));
    EXPECT_EQ(parse("1m@8m(a)"), (std::vector<Part>{{"a", 8 * MiB, MiB}}));
}

TEST(PartitionGrammar, CNotationNumbers)
{
    EXPECT_EQ(parse("0x10(h),0X10(H),010(o),10(d),0(z)"),
              (std::vector<Part>{{"h", 0, 16}, {"H", 16, 16}, {"o", 32, 8}, {"d", 40, 10},
                                 {"z", 50, 0}}));
}

TEST(PartitionGrammar, SuffixesInBothCasesWithOptionalIBOrB)
{
    EXPECT_EQ(parse("4MiB(a)")[0].size, 4 * MiB);
    EXPECT_EQ(parse("4MB(a)")[0].size, 4 * MiB);
    EXPECT_EQ(parse("4m(a)")[0].size, 4 * MiB);
    EXPECT_EQ(parse("3k(a)")[0].size, 3 * KiB);
    EXPECT_EQ(parse("3KiB(a)")[0].size, 3 * KiB);
    EXPECT_EQ(parse("2g(a)")[0].size, 2 * GiB);
    EXPECT_EQ(parse("2GB(a)")[0].size, 2 * GiB);
    EXPECT_EQ(parse("0x10k(a)")[0].size, 16 * KiB);
    EXPECT_EQ(parse("1m@0x10kB(a)")[0].start, 16 * KiB);
}

TEST(PartitionGrammar, SizeAfterSAndColonIsDecimal)
{
    EXPECT_EQ(parse("size:0100(a)"), (std::vector<Part>{{"a", 0, 100}}));
    EXPECT_EQ(parse("s:2m(a),s:1k(b)"),
              (std::vector<Part>{{"a", 0, 2 * MiB}, {"b", 2 * MiB, KiB}}));
}

TEST(PartitionGrammar, StartsAndSizesAre64Bit)
{
    std::vector<Part> parts = parse("4g(a),4g(b)", 0);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].start, 4 * GiB);
    EXPECT_EQ(parts[1].size, 4 * GiB);
}

TEST(PartitionGrammar, NamesKeepAtMost32Characters)
{
    const std::string longName(40, 'n');
    std::vector<Part> parts = parse(("1k(" + longName + "),1k(b)").c_str());
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, std::string(32, 'n'));
    EXPECT_EQ(parts[1].name, "b");
    EXPECT_EQ(parts[1].start, KiB);

    EXPECT_EQ(parse(("1k(" + std::string(32, 'x') + ")").c_str())[0].name, std::string(32, 'x'));
    EXPECT_EQ(parse("1k()")[0].name, "");
}

TEST(PartitionGrammar, AnythingButACommaAfterTheNameEndsTheList)
{
    EXPECT_EQ(parse("1k(a);1k(b)").size(), 1u);
    EXPECT_EQ(parse("1k(a) ,1k(b)").size(), 1u);
}

TEST(PartitionGrammar, EachAcceptedNodeIsLoggedAtDebugLevel)
{
    LogCapture log;
    parse("1m(a),-(b)", 0x4400);
    ASSERT_EQ(LogCapture::lines().size(), 2u);
    EXPECT_EQ(LogCapture::lines()[0].first, 7);
    EXPECT_TRUE(log.contains("Part a: start 17408 size 1048576")) << log.all();
    EXPECT_TRUE(log.contains("Part b: start 1065984 size 0")) << log.all();
}

TEST(PartitionGrammar, DebugLogPrintsTheLow32BitsOfLargeValues)
{
    LogCapture log;
    parse("4g@0x100000010(a)");
    EXPECT_TRUE(log.contains("Part a: start 16 size 0")) << log.all();
}

TEST(PartitionGrammarFailure, SizeNotFollowedByName)
{
    LogCapture log;
    EXPECT_TRUE(parse("4x(a)").empty());
    EXPECT_TRUE(log.contains("Partition name should be next of size.")) << log.all();
    EXPECT_EQ(LogCapture::lines().back().first, 3);
}

TEST(PartitionGrammarFailure, AFailedEntryDropsItselfAndEverythingBehindIt)
{
    LogCapture log;
    EXPECT_EQ(parse("1m(a),2m(b),4x(c),1m(d)"),
              (std::vector<Part>{{"a", 0, MiB}, {"b", MiB, 2 * MiB}}));
    EXPECT_TRUE(log.contains("Partition name should be next of size.")) << log.all();
}

TEST(PartitionGrammarFailure, MalformedEntries)
{
    LogCapture log;
    EXPECT_TRUE(parse("").empty());
    EXPECT_TRUE(parse("1m").empty());
    EXPECT_TRUE(parse("1m@").empty());
    EXPECT_TRUE(parse("1m@4k").empty());
    EXPECT_TRUE(parse("+1m(a)").empty());
    EXPECT_TRUE(parse(" 1m(a)").empty());
    EXPECT_TRUE(parse("4B(a)").empty()); // "B" only after a suffix
    EXPECT_TRUE(parse("s100(a)").empty()); // "s" size without ":"
    EXPECT_EQ(parse("1m(a),").size(), 1u); // trailing comma: an empty entry fails
}

TEST(PartitionGrammarFailure, UnclosedNameFails)
{
    LogCapture log;
    EXPECT_TRUE(parse("1m(abc").empty());
    EXPECT_TRUE(log.contains("Partition name is not closed")) << log.all();
    EXPECT_EQ(parse("1m(a),1m(b").size(), 1u);
}

TEST(PartitionGrammarFailure, NullTextIsNoListAndNoMessage)
{
    LogCapture log;
    EXPECT_EQ(zelupg_new_partition(nullptr, 0), nullptr);
    EXPECT_TRUE(LogCapture::lines().empty());
    zelupg_free_partition(nullptr);
    EXPECT_EQ(zelupg_partition_count(nullptr), 0);
}

TEST(PartitionGrammar, NoDigitsMeansZeroSize)
{
    // As with C's strtoull, a size without digits is 0.
    EXPECT_EQ(parse("(a)"), (std::vector<Part>{{"a", 0, 0}}));
    EXPECT_EQ(parse("0x(a)").size(), 0u); // "0" then "x": no "(" behind the size
}
