#pragma once
// Helpers for the image tests: a scratch directory, the library's log lines
// and standard output captured as text.

#include "image_builder.h"
#include "zelupg_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace imagetest {

namespace fs = std::filesystem;

// Every library message while an instance lives, as (level, text).
class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        zelupg_set_log_hook(&LogCapture::hook);
    }
    ~LogCapture() { zelupg_set_log_hook(nullptr); }

    static std::vector<std::pair<int, std::string>> &lines()
    {
        static std::vector<std::pair<int, std::string>> captured;
        return captured;
    }
    // True when some line's text contains the given piece.
    bool contains(const std::string &piece) const
    {
        for (const auto &l : lines())
            if (l.second.find(piece) != std::string::npos)
                return true;
        return false;
    }
    std::string all() const
    {
        std::string text;
        for (const auto &l : lines())
            text += std::to_string(l.first) + " " + l.second + "\n";
        return text;
    }

private:
    static int hook(int level, const char *text)
    {
        lines().emplace_back(level, text);
        return 0;
    }
};

// Standard output of the code run between construction and text().
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file = std::tmpfile();
        m_saved = dup(fileno(stdout));
        dup2(fileno(m_file), fileno(stdout));
    }
    ~StdoutCapture()
    {
        restore();
        if (m_file)
            std::fclose(m_file);
    }
    std::string text()
    {
        restore();
        std::string out;
        std::rewind(m_file);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), m_file)) > 0)
            out.append(buf, n);
        return out;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        dup2(m_saved, fileno(stdout));
        close(m_saved);
        m_saved = -1;
    }
    FILE *m_file = nullptr;
    int m_saved = -1;
};

// A fresh directory under the system's temporary folder, removed afterwards.
class ScratchDirTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // create_directory is false for a folder that exists: try another name.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_dir.empty(); attempt++) {
            const fs::path dir = fs::temp_directory_path() / ("zelimg-test-" + std::to_string(random()));
            if (fs::create_directory(dir))
                m_dir = dir;
        }
        ASSERT_FALSE(m_dir.empty());
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string file(const std::string &name) const { return (m_dir / name).string(); }

    std::string writeBytes(const std::string &name, const std::vector<uint8_t> &bytes) const
    {
        std::string path = file(name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    static std::vector<uint8_t> readBytes(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
    }
    std::string writeImage(const std::string &name, const zelimg::ImageDesc &desc) const
    {
        std::string error;
        std::vector<uint8_t> bytes = zelimg::buildImage(desc, &error);
        EXPECT_FALSE(bytes.empty()) << error;
        return writeBytes(name, bytes);
    }

    fs::path m_dir;
};

inline void putLe32(std::vector<uint8_t> &image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        image[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// A small image: one component of the given bytes, no environment.
inline zelimg::ImageDesc oneComponent(std::vector<uint8_t> bytes, const std::string &name = "image.target")
{
    zelimg::ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "test";
    desc.version = "0.1";
    desc.mediaType = "emmc";
    desc.mediaId = "mmc0";
    desc.components.push_back({name, "rootfs", 0x1000, "burn", std::move(bytes), {}, "ZEL.FWC"});
    return desc;
}

// A file of 2048 + 0xFFFFF800 bytes (4 GiB, sparse) whose header claims a
// component table of 0xFFFFF800 bytes: it passes the length rules.
inline void writeHugeTableImage(const std::string &path)
{
    std::vector<uint8_t> header = zelimg::buildImage(oneComponent({}));
    header.resize(zelimg::ImageLayout::kHeaderSize);
    putLe32(header, zelimg::ImageLayout::kMetaSize, 0xFFFFF800u);
    putLe32(header, zelimg::ImageLayout::kFileSize, 0);
    putLe32(header, zelimg::ImageLayout::kExSize, 0);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(header.data()), std::streamsize(header.size()));
    fs::resize_file(path, 2048 + 0xFFFFF800ull);
}

} // namespace imagetest
