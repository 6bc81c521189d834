#include "fixture.h"

using namespace rawhost;

namespace {

class Smoke : public vbtest::BoardTest {};

TEST_F(Smoke, HardwareInfoInLoaderMode)
{
    addBoard();
    ASSERT_TRUE(openAt(vboard::UsbPosition()));
    uint8_t st = 0xff;
    Bytes hw;
    ASSERT_TRUE(host.simple(0x00, &st, &hw)) << host.where << " " << host.lastError;
    EXPECT_EQ(st, 0);
    ASSERT_EQ(hw.size(), 108u);
    EXPECT_EQ(hw[40], 0);
}

} // namespace
