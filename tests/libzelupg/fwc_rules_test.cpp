#include "fwc_rules.h"

#include <gtest/gtest.h>

TEST(FwcRules, ChunksAreWholeBlocksAndBlockSizesAreBounded)
{
    EXPECT_EQ(zelupg_fwc_chunk_size(512), 1048576u);
    EXPECT_EQ(zelupg_fwc_chunk_size(3000), 1047000u);
    EXPECT_EQ(zelupg_fwc_chunk_size(2 * 1048576), 2u * 1048576);
    EXPECT_EQ(zelupg_fwc_chunk_size(ZELUPG_FWC_MAX_BLOCK_SIZE),
              uint32_t(ZELUPG_FWC_MAX_BLOCK_SIZE));
    // A board asking for nothing or for more than the bound gets no chunk.
    EXPECT_EQ(zelupg_fwc_chunk_size(0), 0u);
    EXPECT_EQ(zelupg_fwc_chunk_size(ZELUPG_FWC_MAX_BLOCK_SIZE + 1), 0u);
    EXPECT_EQ(zelupg_fwc_chunk_size(1u << 30), 0u);
    EXPECT_FALSE(zelupg_fwc_block_size_ok(-1));
    EXPECT_TRUE(zelupg_fwc_block_size_ok(1));

    EXPECT_EQ(zelupg_fwc_padded_length(100, 512), 512u);
    EXPECT_EQ(zelupg_fwc_padded_length(1024, 512), 1024u);
    EXPECT_EQ(zelupg_fwc_padded_length(402848, 4096), 405504u);
    EXPECT_EQ(zelupg_fwc_padded_length(0xFFFFFFFFull, 4096), 0x100000000ull);
}

TEST(FwcRules, LoaderStagesAreUpdaterComponentsButNotTheEnvironment)
{
    EXPECT_TRUE(zelupg_fwc_is_loader_stage("updater.spl"));
    EXPECT_TRUE(zelupg_fwc_is_loader_stage("image.updater.uboot"));
    EXPECT_FALSE(zelupg_fwc_is_loader_stage("image.updater.env"));
    EXPECT_FALSE(zelupg_fwc_is_loader_stage("image.target.kernel"));
    EXPECT_FALSE(zelupg_fwc_is_loader_stage(nullptr));

    EXPECT_TRUE(zelupg_result_accepted(0));
    EXPECT_FALSE(zelupg_result_accepted(1));
    EXPECT_FALSE(zelupg_result_accepted(0xFFFFFFFFu));
}
