// A board held by another process, through the board farm that several
// processes share.

#include "farm_fixture.h"
#include "vboard_fixture.h"
#include "zelupg_log.h"

#include <sys/wait.h>
#include <unistd.h>

namespace {

class UsbFarm : public FarmTest
{
protected:
    void SetUp() override
    {
        FarmTest::SetUp();
        startFarm("--board 1:2:5");
        libzelupg_exit();
    }
};

TEST_F(UsbFarm, BoardClaimedByAnotherProcessIsReportedBusyAndFreedWhenItCloses)
{
    const std::vector<uint8_t> path = portPath(position(1, {2, 5}));
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        upg_device *dev = upg_usb_dev_open(1, path.data());
        char c = dev ? 'y' : 'n';
        bool ok = write(ready[1], &c, 1) == 1 && read(release[0], &c, 1) == 1;
        upg_dev_close(dev);
        libzelupg_exit();
        _exit(ok ? 0 : 1);
    }
    char opened = 0;
    ASSERT_EQ(read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, 'y') << "the other process could not open the board";

    LogCapture log;
    EXPECT_EQ(upg_usb_dev_open(1, path.data()), nullptr);
    EXPECT_EQ(log.nonDebug(),
              (std::vector<std::string>{"__claim_interface: libusb_claim_interface() failed",
                                        "upg_usb_dev_open: FAILED to claim interface."}));
    upg_usb_dev_entry *table = nullptr;
    EXPECT_EQ(upg_usb_dev_get_list(&table), -1);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "upg_usb_dev_get_list", "Error, open USB device failed"),
              1);

    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);

    EXPECT_EQ(upg_usb_dev_get_list(&table), 1);
    EXPECT_EQ(table[0].port_path[1], 5);
    upg_device *dev = upg_usb_dev_open(1, path.data());
    EXPECT_NE(dev, nullptr);
    upg_dev_close(dev);
}

}  // namespace
