// The command set against a full virtual board: what reaches the board, and
// how the library takes the board's answers and faults.

#include "vboard_fixture.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <zlib.h>

#include <cstring>

namespace {

class CommandBoard : public VboardTest {
protected:
    upg_device *board(const vboard::BoardConfig &config)
    {
        boardId = vboard::addBoard(config);
        EXPECT_NE(boardId, vboard::kNoDevice);
        dev = openAt(config.position);
        return dev;
    }
    upg_device *board() { return board(defaultConfig()); }

    static vboard::BoardConfig defaultConfig()
    {
        vboard::BoardConfig config;
        config.position = position(1, {2, 3});
        return config;
    }

    vboard::DeviceId boardId = vboard::kNoDevice;
};

std::vector<uint8_t> pattern(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(i * 13 + (i >> 8));
    return v;
}

// A 512-byte FWC table entry as an image stores it.
std::vector<uint8_t> fwcEntry(const std::string &name, uint32_t size, uint32_t crc)
{
    std::vector<uint8_t> e(ZELUPG_FWC_META_WIRE_SIZE, 0);
    std::memcpy(e.data(), "FWC", 3);
    std::memcpy(e.data() + 8, name.data(), name.size());
    std::memcpy(e.data() + 72, "boot", 4);
    const uint32_t fields[] = {2048, size, crc, 0x80000000};
    for (int f = 0; f < 4; f++)
        for (int b = 0; b < 4; b++)
            e[136 + 4 * f + b] = uint8_t(fields[f] >> (8 * b));
    std::memcpy(e.data() + 152, "burn", 4);
    return e;
}

uint32_t crc32Of(const std::vector<uint8_t> &data)
{
    return uint32_t(crc32(0L, data.data(), uInt(data.size())));
}

TEST_F(CommandBoard, DeviceStatusSetsThePacketLimitFromTheBoardsMode)
{
    ASSERT_NE(board(), nullptr);
    zelupg_set_max_packet(ZELUPG_PACKET_LIMIT_UPGRADE);
    int mode = -1;
    EXPECT_EQ(zelupg_get_device_status(dev, &mode), 0);
    EXPECT_EQ(mode, ZELUPG_MODE_LOADER);
    EXPECT_EQ(zelupg_get_max_packet(), 2048u);

    vboard::BoardConfig config = defaultConfig();
    config.position = position(1, {4});
    config.startInUpgradeMode = true;
    ASSERT_NE(vboard::addBoard(config), vboard::kNoDevice);
    upg_device *upgrade = openAt(config.position);
    ASSERT_NE(upgrade, nullptr);
    EXPECT_EQ(zelupg_get_device_status(upgrade, &mode), 0);
    EXPECT_EQ(mode, ZELUPG_MODE_UPGRADE);
    EXPECT_EQ(zelupg_get_max_packet(), 65536u);
    upg_dev_close(upgrade);
}

TEST_F(CommandBoard, FailedDeviceStatusReportsLoaderModeAndKeepsTheLimit)
{
    ASSERT_NE(board(), nullptr);
    vboard::Fault stall;
    stall.kind = vboard::FaultKind::Stall;
    stall.command = 0x00;
    ASSERT_TRUE(vboard::addFault(boardId, stall));
    int mode = 1;
    EXPECT_EQ(zelupg_get_device_status(dev, &mode), ZELUPG_EFAIL);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(zelupg_get_max_packet(), 2048u);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_cmd_get_hwinfo",
                        "Read RESP failed. ret = 0, siz = 16"),
              1);
}

TEST_F(CommandBoard, OneFwcBurnsInTheOrderTheBoardExpects)
{
    vboard::BoardConfig config = defaultConfig();
    config.keepData = true;
    ASSERT_NE(board(config), nullptr);
    const std::vector<uint8_t> data = pattern(10000);
    const uint32_t crc = crc32Of(data);

    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, fwcEntry("updater.spl", 10000, crc).data()), 0);
    const int block = zelupg_cmd_get_block_size(dev);
    EXPECT_EQ(block, 512);
    std::vector<uint8_t> padded = data;
    padded.resize((data.size() + 511) / 512 * 512, 0);
    ASSERT_EQ(zelupg_cmd_send_fwc_data_start(dev, 10000), 0);
    for (size_t at = 0; at < padded.size(); at += 4096) {
        const uint32_t n = uint32_t(std::min<size_t>(4096, padded.size() - at));
        ASSERT_EQ(zelupg_cmd_send_fwc_data_update(dev, padded.data() + at, n), int(n));
    }
    ASSERT_EQ(zelupg_cmd_send_fwc_data_final(dev), 0);
    uint32_t boardCrc = 0, burn = 1, run = 1;
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(dev, &boardCrc), 0);
    EXPECT_EQ(boardCrc, crc);
    EXPECT_EQ(zelupg_cmd_get_fwc_burn_result(dev, &burn), 0);
    EXPECT_TRUE(zelupg_result_accepted(burn));
    EXPECT_EQ(zelupg_cmd_get_fwc_run_result(dev, &run), 0);
    EXPECT_TRUE(zelupg_result_accepted(run));

    const vboard::BoardReport rep = vboard::report(boardId);
    ASSERT_EQ(rep.fwcs.size(), 1u);
    EXPECT_EQ(rep.fwcs[0].name, "updater.spl");
    EXPECT_TRUE(rep.fwcs[0].complete);
    EXPECT_EQ(rep.fwcs[0].data, data);
    EXPECT_EQ(rep.stalls, 0);
    EXPECT_TRUE(log.nonDebug().empty());
}

TEST_F(CommandBoard, BoardAnswersArePassedOnAsGiven)
{
    ASSERT_NE(board(), nullptr);
    vboard::Fault block0;
    block0.kind = vboard::FaultKind::BlockSizeZero;
    ASSERT_TRUE(vboard::addFault(boardId, block0));
    vboard::Fault burnFail;
    burnFail.kind = vboard::FaultKind::BurnFail;
    burnFail.value = 3;
    ASSERT_TRUE(vboard::addFault(boardId, burnFail));

    const std::vector<uint8_t> data(512, 0x77);
    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, fwcEntry("updater.spl", 512, crc32Of(data)).data()), 0);
    EXPECT_EQ(zelupg_cmd_get_block_size(dev), 0);
    ASSERT_EQ(zelupg_cmd_send_fwc_data_start(dev, 512), 0);
    ASSERT_EQ(zelupg_cmd_send_fwc_data_update(dev, data.data(), 512), 512);
    ASSERT_EQ(zelupg_cmd_send_fwc_data_final(dev), 0);
    uint32_t burn = 0;
    EXPECT_EQ(zelupg_cmd_get_fwc_burn_result(dev, &burn), 0);
    EXPECT_EQ(burn, 3u);
    EXPECT_FALSE(zelupg_result_accepted(burn));
}

}  // namespace
