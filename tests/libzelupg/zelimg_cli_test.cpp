// The zelimg command: build, print and extract, help texts and errors.

#include "image_test_util.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

class ZelimgCli : public imagetest::ScratchDirTest
{
protected:
    static std::string quote(const std::string &s) { return "'" + s + "'"; }

    // shellPrefix runs in the same shell right before the command.
    CliRun zelimg(const std::string &args, const std::string &shellPrefix = "")
    {
        const std::string out = file("stdout.txt");
        const std::string err = file("stderr.txt");
        const std::string cmd =
            shellPrefix + quote(ZELIMG) + " " + args + " >" + quote(out) + " 2>" + quote(err);
        int raw = std::system(cmd.c_str());
        CliRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text(out), text(err)};
        return r;
    }
    static std::string text(const std::string &path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void writeText(const std::string &name, const std::string &content)
    {
        std::ofstream(file(name)) << content;
    }
    static std::vector<uint8_t> pattern(size_t n, uint8_t seed)
    {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; i++)
            v[i] = uint8_t(seed + i * 31 + (i >> 8));
        return v;
    }
    static size_t lineCount(const std::string &s)
    {
        return size_t(std::count(s.begin(), s.end(), '\n'));
    }
};

const char kManifest[] = "# test image\n"
                         "platform = zk3308\n"
                         "product = cli-test\n"
                         "version = 2.0.1\n"
                         "media_type = emmc\n"
                         "media_number = 0x2\n"
                         "media_id = mmc1\n"
                         "\n"
                         "[fwc]\n"
                         "name = updater.spl\n"
                         "partition = spl\n"
                         "ram = 0x200000\n"
                         "attributes = run\n"
                         "file = parts/spl.bin\n"
                         "\n"
                         "[fwc]\n"
                         "name = updater.uboot\n"
                         "partition = uboot\n"
                         "ram = 0x600000\n"
                         "attributes = run\n"
                         "file = parts/uboot.bin\n"
                         "\n"
                         "[fwc]\n"
                         "name = image.target\n"
                         "partition = rootfs\n"
                         "attributes = burn\n"
                         "file = parts/rootfs.bin\n"
                         "\n"
                         "[env]\n"
                         "set = bootdelay=3\n"
                         "parts_mmc = 1m(boot),4m(kernel),-(rootfs)\n"
                         "\n"
                         "[fwc]\n"
                         "name = empty.bin\n"
                         "partition = misc\n"
                         "attributes = burn\n"
                         "file = parts/empty.bin\n";

} // namespace

TEST_F(ZelimgCli, BuildPrintExtractRoundTrip)
{
    imagetest::fs::create_directories(m_dir / "parts");
    const std::vector<uint8_t> spl = pattern(5000, 1), uboot = pattern(70000, 2),
                               rootfs = pattern(300001, 3), empty;
    writeBytes("parts/spl.bin", spl);
    writeBytes("parts/uboot.bin", uboot);
    writeBytes("parts/rootfs.bin", rootfs);
    writeBytes("parts/empty.bin", empty);
    writeText("image.manifest", kManifest);

    CliRun build = zelimg("build -o " + quote(file("out.img")) + " " + quote(file("image.manifest")));
    ASSERT_EQ(build.status, 0) << build.err;
    EXPECT_EQ(build.err, "");

    CliRun print = zelimg("print " + quote(file("out.img")));
    ASSERT_EQ(print.status, 0) << print.err;
    EXPECT_NE(print.out.find("\tproduct    : cli-test\n"), std::string::npos) << print.out;
    EXPECT_NE(print.out.find("\tmeta size  : 0xA00\n"), std::string::npos) << print.out;
    EXPECT_NE(print.out.find("FWC Info 4:\n"), std::string::npos) << print.out;
    char crc[64];
    std::snprintf(crc, sizeof(crc), "\tCRC        : 0x%X\n", zelimg::crc32Of(rootfs));
    EXPECT_NE(print.out.find(crc), std::string::npos) << print.out;
    EXPECT_NE(print.out.find("\tRAM        : 0x600000\n"), std::string::npos);

    CliRun extract = zelimg("extract -C " + quote(m_dir.string()) + " " + quote(file("out.img")));
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(lineCount(extract.out), 5u) << extract.out;
    EXPECT_EQ(readBytes(file("updater.spl")), spl);
    EXPECT_EQ(readBytes(file("updater.uboot")), uboot);
    EXPECT_EQ(readBytes(file("image.target")), rootfs);
    EXPECT_EQ(readBytes(file("empty.bin")), empty);
    EXPECT_TRUE(imagetest::fs::exists(file("empty.bin")));
    const std::string env = "bootdelay=3" + std::string(1, '\0') +
                            "parts_mmc=1m(boot),4m(kernel),-(rootfs)" + std::string(2, '\0');
    EXPECT_EQ(readBytes(file("image.updater.env")), std::vector<uint8_t>(env.begin(), env.end()));
}

TEST_F(ZelimgCli, HelpForEveryCommand)
{
    for (const char *cmd : {"--help", "print --help", "extract --help", "build --help", "help",
                            "build -h"}) {
        SCOPED_TRACE(cmd);
        CliRun r = zelimg(cmd);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: zelimg", 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(zelimg("build --help").out.find("[fwc]"), std::string::npos);
}

TEST_F(ZelimgCli, ErrorsAreOneLineAndANonZeroStatus)
{
    writeText("bad.img", "not an image");
    std::vector<uint8_t> wrongMagic = zelimg::buildImage(imagetest::oneComponent({1}));
    wrongMagic[0] = 'X';
    writeBytes("magic.img", wrongMagic);
    writeText("m1", "platform = a\nbogus = 1\n");
    writeText("m2", "[fwc]\nname = a\nfile = missing.bin\n");
    writeText("m3", "[fwc]\nname = a\nram = 12x\nfile = m1\n");
    writeText("m4", "[env]\nname = image.updater.env\n");
    writeText("m5", "platform = " + std::string(64, 'p') + "\n[fwc]\nname = a\nfile = m1\n");
    writeText("m6", "platform = a\n");
    writeText("m7", "[fwc]\nname = a\nfile = m1\n");
    imagetest::writeHugeTableImage(file("huge.img"));
    // Component files that must be refused before any byte is read: a device
    // without end, a folder, and a sparse 5 GiB file.
    writeText("m8", "[fwc]\nname = a\nfile = /dev/zero\n");
    imagetest::fs::create_directories(m_dir / "folder");
    writeText("m9", "[fwc]\nname = a\nfile = folder\n");
    writeText("m10", "ex_file = /dev/zero\n[fwc]\nname = a\nfile = m1\n");
    std::ofstream(file("big.bin")).close();
    imagetest::fs::resize_file(file("big.bin"), 5ull << 30);
    writeText("m11", "[fwc]\nname = a\nfile = big.bin\n");
    struct Case {
        std::string args;
        int status;
        std::string piece;
    } cases[] = {
        {"", 2, "usage: zelimg"},
        {"frobnicate", 2, "unknown command \"frobnicate\""},
        {"print", 2, "expected one IMAGE"},
        {"print -q x", 2, "unknown option -q"},
        {"extract -C", 2, "option -C needs a value"},
        {"build", 2, "expected one MANIFEST"},
        {"print " + quote(file("none.img")), 1, "Cannot open file"},
        {"print " + quote(file("bad.img")), 1, "shorter than an image header"},
        {"print " + quote(file("magic.img")), 1, "Error, not supportted image file."},
        {"extract -C " + quote(m_dir.string()) + " " + quote(file("magic.img")), 1,
         "Error, not supportted image file."},
        {"print " + quote(file("huge.img")), 1, "FWC table of 8388604 entries is larger than"},
        {"extract -C " + quote(m_dir.string()) + " " + quote(file("huge.img")), 1,
         "FWC table of 8388604 entries is larger than"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("none.manifest")), 1,
         "cannot open manifest"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m1")), 1,
         "m1:2: unknown header key \"bogus\""},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m2")), 1,
         "cannot read \"missing.bin\""},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m3")), 1, "m3:3: ram \"12x\""},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m4")), 1,
         "[env] without parts_mmc"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m5")), 1, "longer than 63 bytes"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m6")), 1,
         "no [fwc] or [env] section"},
        {"build -o " + quote(file("no/such/dir/o.img")) + " " + quote(file("m7")), 1,
         "cannot create"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m8")), 1,
         "m8:1: \"/dev/zero\" is not a regular file"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m9")), 1,
         "m9:1: \"folder\" is not a regular file"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m10")), 1,
         "m10:1: \"/dev/zero\" is not a regular file"},
        {"build -o " + quote(file("o.img")) + " " + quote(file("m11")), 1,
         "image would be larger than 4 GiB"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        CliRun r = zelimg(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.piece), std::string::npos) << r.err;
        if (c.args.empty())
            continue; // the bare command prints its usage
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.find("()"), std::string::npos) << "library prefix left in: " << r.err;
    }
    EXPECT_FALSE(imagetest::fs::exists(file("o.img")));
}

TEST_F(ZelimgCli, ExtractGuardFromTheCommandLine)
{
    zelimg::ImageDesc desc = imagetest::oneComponent({1, 2}, "../outside");
    writeImage("evil.img", desc);
    imagetest::fs::create_directories(m_dir / "in");
    CliRun r = zelimg("extract -C " + quote(file("in")) + " " + quote(file("evil.img")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("FWC name \"../outside\" is not a plain file name, refused."),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(imagetest::fs::exists(file("outside")));
}

TEST_F(ZelimgCli, FailedBuildLeavesTheEarlierImageAsItWas)
{
    writeBytes("payload.bin", pattern(300000, 7));
    writeText("image.manifest", "[fwc]\nname = image.target\nfile = payload.bin\n");
    const std::string out = file("out.img");
    const std::string build = "build -o " + quote(out) + " " + quote(file("image.manifest"));
    ASSERT_EQ(zelimg(build).status, 0);
    const std::vector<uint8_t> good = readBytes(out);

    // The next build runs out of room half-way: a file size limit of 64
    // blocks makes the write fail with EFBIG.
    writeBytes("payload.bin", pattern(300000, 9));
    CliRun r = zelimg(build, "trap '' XFSZ; ulimit -f 64; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write \"" + out + "\""), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(out), good);
    std::vector<std::string> left;
    for (const auto &e : imagetest::fs::directory_iterator(m_dir))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(std::count_if(left.begin(), left.end(),
                            [](const std::string &n) { return n.rfind("out.img", 0) == 0; }),
              1)
        << "a temporary file was left behind";
}
