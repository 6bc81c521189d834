// A board farm in its own process for the library's tests: the library's
// libusb context is created against it, so boards behave as they do for the
// programs, and the farm's control lines change and inspect them.
#pragma once

#include <gtest/gtest.h>

#include <string>

class FarmTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // "vboard-farm start" with these arguments (boards and their options);
    // the library is initialised afresh against the farm.
    void startFarm(const std::string &args);
    // One control line; the farm's answer.
    std::string farm(const std::string &line);
    std::string dir() const { return m_dir; }

private:
    std::string m_dir;
    std::string m_socket;
    bool m_started = false;
};
