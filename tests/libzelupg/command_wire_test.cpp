// The command set against a scripted device: the exact packets of every
// command, packetization by the limit, and each refusal of a bad answer.

#include "partition.h"
#include "vboard_fixture.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <libusb.h>

#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using CommandWire = VboardTest;

std::vector<uint8_t> bytes(const std::string &s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(seed + i * 7);
    return v;
}

std::vector<uint8_t> addrLen(uint32_t addr, uint32_t len)
{
    std::vector<uint8_t> v = Wire::le32(addr);
    for (uint8_t b : Wire::le32(len))
        v.push_back(b);
    return v;
}

// A 184-byte read-back request whose 64-bit size field holds size.
std::vector<uint8_t> readRequest(uint64_t size)
{
    std::vector<uint8_t> req(ZELUPG_READ_FWC_REQ_SIZE, 0);
    for (int i = 0; i < 8; i++)
        req[ZELUPG_READ_FWC_REQ_SIZE_FIELD + i] = uint8_t(size >> (8 * i));
    return req;
}

// Marks an FWC meta entry as accepted by a board, as a burn would have.
void acceptMeta(Wire &wire)
{
    wire.header(0x10, 512).send(std::vector<uint8_t>(512, 0x33)).resp(0, 0);
}

TEST_F(CommandWire, HeaderOfCommandZeroCarriesTheDocumentedChecksum)
{
    const std::vector<uint8_t> expected = {0x55, 0x50, 0x47, 0x43, 0x01, 0x01, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x56, 0x51, 0x47, 0x43};
    EXPECT_EQ(Wire::commandHeader(0x00, 0), expected);
    Wire wire;
    wire.send(expected).resp(0, 108).recv(pattern(108, 1));
    ASSERT_NE(scripted(wire), nullptr);
    uint8_t hw[ZELUPG_HWINFO_SIZE];
    EXPECT_EQ(zelupg_cmd_get_hwinfo(dev, hw), 0);
    EXPECT_EQ(std::vector<uint8_t>(hw, hw + 108), pattern(108, 1));
    EXPECT_TRUE(scriptDone());
}

struct CommandCase {
    const char *name;
    std::function<void(Wire &)> exchange;
    std::function<int(upg_device *)> call;
    int result;
};

TEST_F(CommandWire, EveryCommandSendsItsHeaderArgumentsAndReadsItsAnswer)
{
    const std::vector<uint8_t> cfg = pattern(32, 9);
    const std::vector<uint8_t> meta = pattern(512, 3);
    const std::vector<uint8_t> data = pattern(100, 5);
    const std::string parts = "1m(uboot),-(rootfs)";
    const std::vector<CommandCase> cases = {
        {"get_traceinfo",
         [](Wire &w) { w.header(0x01, 0).resp(0, 5).recv(bytes("trace")); },
         [](upg_device *d) {
             uint8_t *out = nullptr;
             int rc = zelupg_cmd_get_traceinfo(d, &out);
             EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 5), "trace");
             std::free(out);
             return rc;
         },
         5},
        {"write",
         [&](Wire &w) { w.header(0x02, 108).send(addrLen(0x80001000, 100)).send(data).resp(0, 0); },
         [&](upg_device *d) { return zelupg_cmd_write(d, 0x80001000, data.data(), 100); }, 100},
        {"read",
         [&](Wire &w) { w.header(0x03, 8).send(addrLen(0x1234, 100)).resp(0, 100).recv(data); },
         [&](upg_device *d) {
             std::vector<uint8_t> buf(100);
             int rc = zelupg_cmd_read(d, 0x1234, buf.data(), 100);
             EXPECT_EQ(buf, data);
             return rc;
         },
         100},
        {"exec_u32", [](Wire &w) { w.header(0x04, 4).u32(0xCAFE).resp(0, 0); },
         [](upg_device *d) { return zelupg_cmd_exec_u32(d, 0xCAFE); }, 0},
        {"run_shell", [](Wire &w) { w.header(0x05, 9).u32(5).send(bytes("reset")).resp(0, 0); },
         [](upg_device *d) { return zelupg_cmd_run_shell(d, "reset"); }, 0},
        {"send_blob", [&](Wire &w) { w.header(0x06, 104).u32(100).send(data).resp(0, 0); },
         [&](upg_device *d) { return zelupg_cmd_send_blob(d, data.data(), 100); }, 0},
        {"nop (status not looked at)", [](Wire &w) { w.header(0x07, 0).resp(5, 0); },
         [](upg_device *d) { return zelupg_cmd_nop(d); }, 0},
        {"query_u32",
         [](Wire &w) { w.header(0x08, 4).u32(7).resp(0, 4).recv({1, 2, 3, 4}); },
         [](upg_device *d) {
             uint8_t out[4] = {};
             int rc = zelupg_cmd_query_u32(d, 7, out);
             EXPECT_EQ(out[3], 4);
             return rc;
         },
         0},
        {"set_u32", [](Wire &w) { w.header(0x09, 4).u32(0xFFFFFFFF).resp(0, 0); },
         [](upg_device *d) { return zelupg_cmd_set_u32(d, 0xFFFFFFFF); }, 0},
        {"set_upg_cfg", [&](Wire &w) { w.header(0x0A, 36).u32(32).send(cfg).resp(0, 0); },
         [&](upg_device *d) { return zelupg_cmd_set_upg_cfg(d, cfg.data()); }, 0},
        {"set_upg_end",
         [](Wire &w) { w.header(0x0B, 36).u32(32).send(std::vector<uint8_t>(32, 0)).resp(0, 0); },
         [](upg_device *d) { return zelupg_cmd_set_upg_end(d); }, 0},
        {"set_fwc_meta", [&](Wire &w) { w.header(0x10, 512).send(meta).resp(0, 0); },
         [&](upg_device *d) { return zelupg_cmd_set_fwc_meta(d, meta.data()); }, 0},
        {"get_block_size",
         [](Wire &w) { w.header(0x11, 0).resp(0, 4).recv(Wire::le32(4096)); },
         [](upg_device *d) { return zelupg_cmd_get_block_size(d); }, 4096},
        {"get_storage_media",
         [](Wire &w) { w.header(0x16, 0).resp(0, 4).recv(bytes("mmc0")); },
         [](upg_device *d) {
             uint8_t *out = nullptr;
             int rc = zelupg_cmd_get_storage_media(d, &out);
             EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 4), "mmc0");
             std::free(out);
             return rc;
         },
         4},
        {"get_partition_table (header length 4, 68 bytes follow)",
         [&](Wire &w) {
             w.header(0x17, 4).send(pattern(68, 2)).resp(0, uint32_t(parts.size()));
             w.recv(bytes(parts));
         },
         [](upg_device *d) {
             zelupg_part_table_req req;
             std::vector<uint8_t> p = pattern(68, 2);
             std::memcpy(req.bytes, p.data(), 68);
             upg_partition *head = nullptr;
             int rc = zelupg_cmd_get_partition_table(d, req, &head);
             EXPECT_EQ(zelupg_partition_count(head), 2);
             zelupg_free_partition(head);
             return rc;
         },
         0},
        {"read_fwc_data_start",
         [](Wire &w) { w.header(0x18, 184).send(readRequest(100)).resp(0, 100); },
         [](upg_device *d) { return zelupg_cmd_read_fwc_data_start(d, readRequest(100).data()); },
         0},
        {"read_fwc_data", [&](Wire &w) { w.recv(data); },
         [&](upg_device *d) {
             std::vector<uint8_t> buf(100);
             int rc = zelupg_cmd_read_fwc_data(d, buf.data(), 100);
             EXPECT_EQ(buf, data);
             return rc;
         },
         100},
    };

    for (const CommandCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Wire wire;
        c.exchange(wire);
        ASSERT_NE(scripted(wire), nullptr);
        EXPECT_EQ(c.call(dev), c.result);
        EXPECT_TRUE(scriptDone());
        EXPECT_TRUE(log.nonDebug().empty()) << log.nonDebug().front();
        TearDown();
    }
}

TEST_F(CommandWire, FwcSequenceAfterAcceptedMeta)
{
    const std::vector<uint8_t> data = pattern(300, 1);
    Wire wire;
    acceptMeta(wire);
    wire.header(0x12, 300).send(data).resp(0, 0);
    wire.header(0x13, 0).resp(0, 4).recv(Wire::le32(0x11223344));
    wire.header(0x14, 0).resp(0, 4).recv(Wire::le32(0));
    wire.header(0x15, 0).resp(0, 4).recv(Wire::le32(7));
    ASSERT_NE(scripted(wire), nullptr);

    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0x33).data()), 0);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_start(dev, 300), 0);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_update(dev, data.data(), 300), 300);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_final(dev), 0);
    uint32_t crc = 0, burn = 1, run = 0;
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(dev, &crc), 0);
    EXPECT_EQ(crc, 0x11223344u);
    EXPECT_EQ(zelupg_cmd_get_fwc_burn_result(dev, &burn), 0);
    EXPECT_EQ(burn, 0u);
    EXPECT_EQ(zelupg_cmd_get_fwc_run_result(dev, &run), 0);
    EXPECT_EQ(run, 7u);
    EXPECT_TRUE(zelupg_result_accepted(burn));
    EXPECT_FALSE(zelupg_result_accepted(run));
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, BulkDataTravelsInPacketsOfTheLimit)
{
    const std::vector<uint8_t> data = pattern(5000, 4);
    auto part = [&](size_t at, size_t n) {
        return std::vector<uint8_t>(data.begin() + long(at), data.begin() + long(at + n));
    };
    Wire wire;
    wire.header(0x02, 5008).send(addrLen(0x40000000, 5000));
    wire.send(part(0, 2048)).send(part(2048, 2048)).send(part(4096, 904)).resp(0, 0);
    wire.header(0x03, 8).send(addrLen(0x40000000, 5000)).resp(0, 5000);
    wire.recv(part(0, 2048)).recv(part(2048, 2048)).recv(part(4096, 904));
    acceptMeta(wire);
    wire.header(0x12, 4096).send(part(0, 2048)).send(part(2048, 2048));
    ASSERT_NE(scripted(wire), nullptr);

    EXPECT_EQ(zelupg_cmd_write(dev, 0x40000000, data.data(), 5000), 5000);
    std::vector<uint8_t> back(5000);
    EXPECT_EQ(zelupg_cmd_read(dev, 0x40000000, back.data(), 5000), 5000);
    EXPECT_EQ(back, data);
    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0x33).data()), 0);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_start(dev, 4096), 0);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_update(dev, data.data(), 4096), 4096);
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, FwcDataCommandsBeforeAnyMetaSendNothing)
{
    Wire wire;  // no step: any transfer is a mismatch
    ASSERT_NE(scripted(wire), nullptr);
    uint32_t value = 0xFFFFFFFF;
    const uint8_t data[4] = {};

    EXPECT_EQ(zelupg_cmd_send_fwc_data_start(dev, 4), ZELUPG_ENOMETA);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_update(dev, data, 4), ZELUPG_ENOMETA);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_final(dev), ZELUPG_ENOMETA);
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(dev, &value), ZELUPG_ENOMETA);
    EXPECT_EQ(value, 0u);
    value = 0xFFFFFFFF;
    EXPECT_EQ(zelupg_cmd_get_fwc_burn_result(dev, &value), ZELUPG_ENOMETA);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(zelupg_cmd_get_fwc_run_result(dev, &value), ZELUPG_ENOMETA);
    for (const char *fn :
         {"zelupg_cmd_send_fwc_data_start", "zelupg_cmd_send_fwc_data_update",
          "zelupg_cmd_send_fwc_data_final", "zelupg_cmd_get_fwc_crc",
          "zelupg_cmd_get_fwc_burn_result", "zelupg_cmd_get_fwc_run_result"})
        EXPECT_EQ(log.count(ZELUPG_LOG_ERR, fn, "FWC Meta is not sent."), 1) << fn;
    EXPECT_EQ(log.nonDebug().size(), 6u);
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, RefusedMetaLeavesFwcDataCommandsLocked)
{
    Wire wire;
    wire.header(0x10, 512).send(std::vector<uint8_t>(512, 0)).resp(1, 0);
    ASSERT_NE(scripted(wire), nullptr);
    EXPECT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0).data()), ZELUPG_EFAIL);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_cmd_set_fwc_meta", "RESP status is not ok."), 1);
    uint32_t crc;
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(dev, &crc), ZELUPG_ENOMETA);
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, ShuttingTheLibraryDownForgetsAnAcceptedMeta)
{
    Wire wire;
    acceptMeta(wire);
    ASSERT_NE(scripted(wire), nullptr);
    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0x33).data()), 0);
    upg_dev_close(dev);
    libzelupg_exit();
    ASSERT_EQ(libzelupg_init(), 0);
    dev = openAt(position(1, {2, 3}));
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_start(dev, 4), ZELUPG_ENOMETA);
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, AnswersLargerThanOnePacketAreRefusedBeforeReading)
{
    Wire wire;
    wire.header(0x01, 0).resp(0, 2049);
    wire.header(0x16, 0).resp(0, 2049);
    wire.header(0x16, 0).resp(0, 0);
    wire.header(0x17, 4).send(std::vector<uint8_t>(68, 0)).resp(0, 0x7FFFFFFF);
    ASSERT_NE(scripted(wire), nullptr);

    uint8_t stale = 0;
    uint8_t *out = &stale;
    EXPECT_EQ(zelupg_cmd_get_traceinfo(dev, &out), ZELUPG_EFAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(zelupg_cmd_get_storage_media(dev, &out), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_get_storage_media(dev, &out), ZELUPG_EFAIL);
    EXPECT_EQ(out, nullptr);
    upg_partition *head = nullptr;
    EXPECT_EQ(zelupg_cmd_get_partition_table(dev, zelupg_part_table_req{}, &head), ZELUPG_EFAIL);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(log.nonDebug(),
              (std::vector<std::string>{
                  "zelupg_cmd_get_traceinfo: RESP data length is not expected.",
                  "zelupg_cmd_get_storage_media: RESP data length is not expected.",
                  "zelupg_cmd_get_storage_media: no available storage media devices",
                  "zelupg_cmd_get_partition_table: RESP data length is not ok"}));
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, AnnouncedLengthsThatDoNotMatchAreRefused)
{
    Wire wire;
    wire.header(0x00, 0).resp(0, 107);
    wire.header(0x03, 8).send(addrLen(0, 16)).resp(0, 17);
    wire.header(0x08, 4).u32(1).resp(0, 8);
    wire.header(0x11, 0).resp(0, 8);
    acceptMeta(wire);
    wire.header(0x13, 0).resp(0, 8);
    wire.header(0x18, 184).send(readRequest(100)).resp(0, 99);
    wire.header(0x18, 184).send(readRequest(0x100000064)).resp(0, 100);
    ASSERT_NE(scripted(wire), nullptr);

    uint8_t buf[ZELUPG_HWINFO_SIZE];
    EXPECT_EQ(zelupg_cmd_get_hwinfo(dev, buf), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_read(dev, 0, buf, 16), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_query_u32(dev, 1, buf), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_get_block_size(dev), ZELUPG_EFAIL);
    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0x33).data()), 0);
    uint32_t crc = 5;
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(dev, &crc), ZELUPG_EFAIL);
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(zelupg_cmd_read_fwc_data_start(dev, readRequest(100).data()), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_read_fwc_data_start(dev, readRequest(0x100000064).data()),
              ZELUPG_EFAIL);
    EXPECT_EQ(log.nonDebug(),
              (std::vector<std::string>{
                  "zelupg_cmd_get_hwinfo: RESP data is size is not correct.",
                  "zelupg_cmd_read: RESP data length is not matched.",
                  "zelupg_cmd_query_u32: RESP data length is not expected.",
                  "zelupg_cmd_get_block_size: RESP datga length is not expected. ret = 16",
                  "zelupg_cmd_get_fwc_crc: RESP data length is not 4, got 8",
                  "zelupg_cmd_read_fwc_data_start: resp.dDataLength:99,part.siz:100",
                  "zelupg_cmd_read_fwc_data_start: Error, recv size is illegal.",
                  "zelupg_cmd_read_fwc_data_start: resp.dDataLength:100,part.siz:4294967396",
                  "zelupg_cmd_read_fwc_data_start: Error, recv size is illegal."}));
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, NonZeroResponseStatusFailsTheCommandsThatCheckIt)
{
    const std::vector<uint8_t> cfg(32, 1);
    Wire wire;
    wire.header(0x02, 9).send(addrLen(0, 1)).send({1}).resp(2, 0);
    wire.header(0x03, 8).send(addrLen(0, 1)).resp(2, 1);
    wire.header(0x04, 4).u32(1).resp(2, 0);
    wire.header(0x05, 6).u32(2).send(bytes("ls")).resp(2, 0);
    wire.header(0x0A, 36).u32(32).send(cfg).resp(2, 0);
    wire.header(0x17, 4).send(std::vector<uint8_t>(68, 0)).resp(2, 10);
    acceptMeta(wire);
    wire.header(0x12, 1).send({1}).resp(2, 0);
    ASSERT_NE(scripted(wire), nullptr);

    const uint8_t one = 1;
    uint8_t buf[1];
    EXPECT_EQ(zelupg_cmd_write(dev, 0, &one, 1), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_read(dev, 0, buf, 1), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_exec_u32(dev, 1), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_run_shell(dev, "ls"), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_set_upg_cfg(dev, cfg.data()), ZELUPG_EFAIL);
    upg_partition *head = nullptr;
    EXPECT_EQ(zelupg_cmd_get_partition_table(dev, zelupg_part_table_req{}, &head), ZELUPG_EFAIL);
    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0x33).data()), 0);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_start(dev, 1), 0);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_update(dev, &one, 1), 1);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_final(dev), ZELUPG_EFAIL);
    EXPECT_EQ(log.nonDebug(),
              (std::vector<std::string>{"zelupg_cmd_write: RESP status is not ok",
                                        "zelupg_cmd_read: RESP status is not ok.",
                                        "zelupg_cmd_set_upg_cfg: RESP status is not ok.",
                                        "zelupg_cmd_get_partition_table: RESP status is not ok",
                                        "zelupg_cmd_send_fwc_data_final: Recv resp status is not ok."}));
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, FailedExchangesAreReportedUnderTheCommandsName)
{
    Wire wire;
    wire.fail(true, LIBUSB_ERROR_PIPE);                                   // 0x07 header
    wire.header(0x07, 0).begin(16, true).fail(false, LIBUSB_ERROR_IO);    // its response
    wire.header(0x02, 12).fail(true, LIBUSB_ERROR_PIPE);                  // write arguments
    wire.header(0x02, 2056).send(addrLen(0, 2048));
    wire.begin(2048, false).fail(true, LIBUSB_ERROR_PIPE);                // write data
    wire.header(0x00, 0).resp(0, 108).fail(true, LIBUSB_ERROR_PIPE);      // hwinfo data
    ASSERT_NE(scripted(wire), nullptr);

    EXPECT_EQ(zelupg_cmd_nop(dev), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_nop(dev), ZELUPG_EFAIL);
    const std::vector<uint8_t> data(2048, 1);
    EXPECT_EQ(zelupg_cmd_write(dev, 0, data.data(), 4), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_write(dev, 0, data.data(), 2048), ZELUPG_EFAIL);
    uint8_t hw[ZELUPG_HWINFO_SIZE];
    EXPECT_EQ(zelupg_cmd_get_hwinfo(dev, hw), ZELUPG_EFAIL);

    std::vector<std::string> cmdLines;
    for (const LogLine &l : log.lines())
        if (l.level == ZELUPG_LOG_ERR && l.func.rfind("zelupg_cmd_", 0) == 0)
            cmdLines.push_back(l.func + ": " + l.text);
    EXPECT_EQ(cmdLines, (std::vector<std::string>{
                            "zelupg_cmd_nop: Send command failed. ret = 0, siz = 16",
                            "zelupg_cmd_nop: Read RESP failed. ret = 0, siz = 16",
                            "zelupg_cmd_write: Send ARGS failed. ret = 0, siz = 8",
                            "zelupg_cmd_write: Send out data length is not expected. ret = 0",
                            "zelupg_cmd_get_hwinfo: Read data failed. ret = 0, siz = 108"}));
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, ResultQueriesLogBothHeaderMessagesWhenTheHeaderFails)
{
    Wire wire;
    acceptMeta(wire);
    wire.fail(true, LIBUSB_ERROR_PIPE);                             // 0x13 header
    wire.header(0x14, 0).fail(true, LIBUSB_ERROR_PIPE);             // response header
    wire.header(0x15, 0).resp(0, 4).fail(true, LIBUSB_ERROR_PIPE);  // the result
    ASSERT_NE(scripted(wire), nullptr);
    ASSERT_EQ(zelupg_cmd_set_fwc_meta(dev, std::vector<uint8_t>(512, 0x33).data()), 0);
    log.clear();

    uint32_t v;
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(dev, &v), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_get_fwc_burn_result(dev, &v), ZELUPG_EFAIL);
    EXPECT_EQ(zelupg_cmd_get_fwc_run_result(dev, &v), ZELUPG_EFAIL);
    std::vector<std::string> cmdLines;
    for (const LogLine &l : log.lines())
        if (l.level == ZELUPG_LOG_ERR && l.func.rfind("zelupg_cmd_", 0) == 0)
            cmdLines.push_back(l.func + ": " + l.text);
    EXPECT_EQ(cmdLines,
              (std::vector<std::string>{
                  "zelupg_cmd_get_fwc_crc: Send command failed. ret = 0",
                  "zelupg_cmd_get_fwc_crc: Send command failed. ret = 0, siz = 16",
                  "zelupg_cmd_get_fwc_burn_result: Recv resp failed, expect 16, got 0",
                  "zelupg_cmd_get_fwc_run_result: Recv Result failed, expect 4, got 0"}));
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, ShellTextAboveOnePacketIsRefusedBeforeSending)
{
    Wire wire;
    ASSERT_NE(scripted(wire), nullptr);
    const std::string text(2049, 'x');
    EXPECT_EQ(zelupg_cmd_run_shell(dev, text.c_str()), ZELUPG_EFAIL);
    EXPECT_EQ(log.nonDebug().size(), 1u);
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, UnparsablePartitionStringFailsWithoutAList)
{
    const std::string bad = "12q(",
                      ok = "4m(boot)";
    Wire wire;
    wire.header(0x17, 4).send(std::vector<uint8_t>(68, 0)).resp(0, uint32_t(bad.size()));
    wire.recv(bytes(bad));
    ASSERT_NE(scripted(wire), nullptr);
    upg_partition *head = nullptr;
    EXPECT_EQ(zelupg_cmd_get_partition_table(dev, zelupg_part_table_req{}, &head), ZELUPG_EFAIL);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_cmd_get_partition_table",
                        "Get partition table failed."),
              1);
    EXPECT_TRUE(scriptDone());
}

TEST_F(CommandWire, MissingDeviceOrPointerIsAnInvalidArgument)
{
    uint8_t buf[ZELUPG_HWINFO_SIZE];
    uint8_t *out = nullptr;
    uint32_t v;
    upg_partition *head = nullptr;
    EXPECT_EQ(zelupg_cmd_get_hwinfo(nullptr, buf), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_traceinfo(nullptr, &out), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_write(nullptr, 0, buf, 1), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_read(nullptr, 0, buf, 1), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_exec_u32(nullptr, 0), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_run_shell(nullptr, "reset"), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_send_blob(nullptr, buf, 1), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_nop(nullptr), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_query_u32(nullptr, 0, buf), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_set_u32(nullptr, 0), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_set_upg_cfg(nullptr, buf), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_set_upg_end(nullptr), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_set_fwc_meta(nullptr, buf), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_block_size(nullptr), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_start(nullptr, 1), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_send_fwc_data_update(nullptr, buf, 1), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_storage_media(nullptr, &out), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_read_fwc_data_start(nullptr, buf), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_read_fwc_data(nullptr, buf, 1), ZELUPG_EINVAL);
    int mode = 5;
    EXPECT_EQ(zelupg_get_device_status(nullptr, &mode), ZELUPG_EINVAL);
    EXPECT_EQ(mode, 0);
    EXPECT_TRUE(log.lines().empty());

    EXPECT_EQ(zelupg_cmd_send_fwc_data_final(nullptr), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_fwc_crc(nullptr, &v), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_fwc_burn_result(nullptr, &v), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_fwc_run_result(nullptr, &v), ZELUPG_EINVAL);
    EXPECT_EQ(zelupg_cmd_get_partition_table(nullptr, zelupg_part_table_req{}, &head),
              ZELUPG_EINVAL);
    EXPECT_EQ(log.nonDebug(),
              (std::vector<std::string>{"zelupg_cmd_send_fwc_data_final: Invalid handle.",
                                        "zelupg_cmd_get_fwc_crc: Invalid parameter.",
                                        "zelupg_cmd_get_fwc_burn_result: Invalid parameter.",
                                        "zelupg_cmd_get_fwc_run_result: Invalid parameter.",
                                        "zelupg_cmd_get_partition_table: Invalid args"}));
}

}  // namespace
