#include "farm_fixture.h"

#include "upg_device.h"
#include "vboard_host.h"

#include <cstdlib>
#include <filesystem>

void FarmTest::SetUp()
{
    char dir[] = "/tmp/zelupg-farm-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    m_dir = dir;
    m_socket = m_dir + "/farm.sock";
    ASSERT_EQ(setenv(vboard::kFarmEnv, m_socket.c_str(), 1), 0);
    libzelupg_exit();
}

void FarmTest::TearDown()
{
    libzelupg_exit();
    unsetenv(vboard::kFarmEnv);
    if (m_started)
        farm("stop");
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

void FarmTest::startFarm(const std::string &args)
{
    const std::string start =
        std::string(VBOARD_FARM) + " start --socket " + m_socket + " " + args + " >/dev/null";
    ASSERT_EQ(std::system(start.c_str()), 0);
    m_started = true;
    libzelupg_exit();
    ASSERT_EQ(libzelupg_init(), 0);
}

std::string FarmTest::farm(const std::string &line)
{
    std::string reply;
    vboard::farmCommand(m_socket, line, &reply);
    return reply;
}
