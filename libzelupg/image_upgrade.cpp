#include "image_upgrade.h"

#include "fwc_rules.h"
#include "image_file.h"
#include "image_format.h"
#include "libuart.h"
#include "upg_tools.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace
{

// ---- Process-wide state of the procedures ----------------------------------

constexpr int kPingAttempts = 10;
constexpr auto kPingPause = std::chrono::milliseconds(1000);
constexpr int kScanAttempts = 10;
constexpr auto kScanPause = std::chrono::milliseconds(2000);
constexpr uint32_t kRambootPiece = 1024 * 1024;

// Set the first time a board answers that it runs its upgrade firmware; every
// procedure starts with it clear, since it may be handed another board.
bool g_upgrade_mode = false;
int g_failure = UPG_FAIL_NONE;
upg_progress_hook g_progress_hook = nullptr;
void *g_progress_user = nullptr;
// Set from signal handlers: a lock-free atomic is safe there.
std::atomic<int> g_stop{0};
static_assert(ATOMIC_INT_LOCK_FREE == 2, "the stop request is set from signal handlers");

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Keeps the first failure kind recorded: the one closest to the cause.
int fail(int kind, int ret)
{
    if (g_failure == UPG_FAIL_NONE)
        g_failure = kind;
    return ret;
}

void begin_procedure(void)
{
    g_failure = UPG_FAIL_NONE;
    g_upgrade_mode = false;
}

// Input-output, pipe and no-device errors are how a board leaving the bus
// shows on the transfer that was in progress (behind a real host controller
// it may already be gone when the transfer is submitted).
bool is_leave_error(int usb_error)
{
    return usb_error == LIBUSB_ERROR_IO || usb_error == LIBUSB_ERROR_PIPE ||
           usb_error == LIBUSB_ERROR_NO_DEVICE;
}

// A board restarts only into a loader stage it has taken in whole: it leaves
// at the stage's closing response or right after it. Leaving anywhere else
// cuts the FWC short, and carrying on would report a board burned that holds
// part of an FWC.
bool is_restart(int usb_error, bool loader_stage, bool data_sent)
{
    return loader_stage && data_sent && is_leave_error(usb_error);
}

// A transfer failure that is no restart: a stalled endpoint is the board
// refusing; a board gone from the bus or the line is lost.
int failure_kind(int usb_error, int command_kind)
{
    if (usb_error == LIBUSB_ERROR_IO || usb_error == LIBUSB_ERROR_NO_DEVICE)
        return UPG_FAIL_LOST;
    return command_kind;
}

// Sleeps for the pause, or less when a stop is requested meanwhile.
void pause_unless_stopped(std::chrono::milliseconds pause)
{
    const auto step = std::chrono::milliseconds(50);
    for (auto slept = std::chrono::milliseconds(0); slept < pause && !g_stop.load(); slept += step)
        std::this_thread::sleep_for(step < pause - slept ? step : pause - slept);
}

bool stop_requested(const char *fn)
{
    if (!g_stop.load())
        return false;
    upg_err_as(fn, "Stopped on request.");
    fail(UPG_FAIL_STOPPED, ZELUPG_EFAIL);
    return true;
}

struct Progress {
    upg_progress state = {};

    void start_fwc(const fwc_meta &meta, int index)
    {
        state.event = UPG_PROGRESS_FWC_BEGIN;
        state.fwc_name = meta.name;
        state.fwc_index = index;
        state.fwc_sent = 0;
        state.fwc_size = meta.size;
        state.fwc_crc = meta.crc;
        state.board_crc = 0;
        state.board_crc_known = 0;
        tell();
    }
    void advance(uint32_t bytes)
    {
        state.event = UPG_PROGRESS_DATA;
        state.fwc_sent += bytes;
        state.total_sent += bytes;
        tell();
    }
    void end_fwc(const uint32_t *board_crc)
    {
        state.event = UPG_PROGRESS_FWC_END;
        state.board_crc_known = board_crc != nullptr;
        state.board_crc = board_crc ? *board_crc : 0;
        tell();
    }
    void tell() const
    {
        if (g_progress_hook)
            g_progress_hook(&state, g_progress_user);
    }
};

// An open image with its header and FWC table; closes and frees on every path.
struct Image {
    FILE *fp = nullptr;
    uint64_t length = 0;
    image_header hdr = {};
    uint8_t *table = nullptr;
    uint32_t count = 0;

    Image() = default;
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    ~Image()
    {
        std::free(table);
        if (fp)
            std::fclose(fp);
    }
    const uint8_t *entry(uint32_t i) const { return table + size_t(i) * FWC_META_DISK_SIZE; }
};

enum class SizeRule {
    WithEx,    // 2048 + meta size + file size + ex size
    WithoutEx, // 2048 + meta size + file size
};

// Opens the image, checks its magic and length rule, reads its FWC table and
// refuses it when any FWC runs past the end of the file. Messages carry fn.
bool open_image(const char *fn, const char *path, SizeRule rule, bool announce, Image *img)
{
    img->fp = std::fopen(path, "rb");
    if (!img->fp) {
        upg_err_as(fn, "Cannot open file %s", path);
        return false;
    }
    if (!image_file_length(img->fp, &img->length))
        return false;
    if (announce)
        upg_plain("\nThe Image file: %s, size %llu", path, (unsigned long long)img->length);
    uint8_t raw[IMAGE_HEADER_SIZE];
    if (!image_read_at(img->fp, 0, raw, sizeof(raw)))
        return false;
    image_header_decode(raw, &img->hdr);
    if (!image_magic_ok(raw)) {
        upg_err_as(fn, "Error, not supportted image file.");
        return false;
    }
    uint64_t expected = uint64_t(IMAGE_HEADER_SIZE) + img->hdr.meta_size + img->hdr.file_size;
    if (rule == SizeRule::WithEx)
        expected += img->hdr.ex_size;
    if (img->length != expected) {
        upg_err_as(fn, "Error, file size is illegal.");
        return false;
    }
    if (!image_fwc_count(img->hdr.meta_size, fn, &img->count))
        return false;
    img->table = image_read_table(img->fp, img->count, fn);
    if (img->count && !img->table)
        return false;
    for (uint32_t i = 0; i < img->count; i++) {
        fwc_meta meta;
        fwc_meta_decode(img->entry(i), &meta);
        if (!image_fwc_check_in_file(&meta, int(i), img->length, fn))
            return false;
    }
    return true;
}

// Hardware info, up to ten attempts a second apart; the answer's mode sets
// the packet limit, and the first upgrade-mode answer also sends the (zeroed)
// upgrade configuration. Returns 0, the USB error that shows the board gone,
// or -1 when it never gave a valid answer.
int ping_device(upg_device *dev)
{
    static const char fn[] = "__ping_device";
    uint8_t hwinfo[ZELUPG_HWINFO_SIZE];
    for (int attempt = 1; attempt <= kPingAttempts; attempt++) {
        if (zelupg_cmd_get_hwinfo(dev, hwinfo) == 0) {
            const bool upgrade = hwinfo[ZELUPG_HWINFO_MODE] == ZELUPG_MODE_UPGRADE;
            if (upgrade && !g_upgrade_mode) {
                const uint8_t cfg[ZELUPG_UPG_CFG_SIZE] = {};
                zelupg_cmd_set_upg_cfg(dev, cfg);
                g_upgrade_mode = true;
            }
            zelupg_set_max_packet(upgrade ? ZELUPG_PACKET_LIMIT_UPGRADE
                                          : ZELUPG_PACKET_LIMIT_LOADER);
            return 0;
        }
        const int usb_error = upg_dev_last_error(dev);
        upg_dbg_as(fn, "The last USB error: [%d] %s", usb_error, libusb_strerror(usb_error));
        if (usb_error == LIBUSB_ERROR_PIPE || usb_error == LIBUSB_ERROR_NO_DEVICE ||
            usb_error == LIBUSB_ERROR_IO)
            return usb_error;
        if (attempt == kPingAttempts || stop_requested(fn))
            break;
        pause_unless_stopped(kPingPause);
        upg_info_as(fn, "Ping device ... %d", attempt);
    }
    // Answers that never made sense are no board to burn.
    if (!g_stop.load())
        upg_err_as(fn, "Error, no valid answer after %d attempts.", kPingAttempts);
    return ZELUPG_EFAIL;
}

// Reads len bytes of the FWC and hands send_len bytes (len plus zero padding)
// to the board.
bool send_chunk(const char *fn, upg_device *dev, FILE *fp, uint8_t *buf, uint32_t len,
                uint32_t send_len)
{
    if (std::fread(buf, 1, len, fp) != len) {
        upg_err_as(fn, "Error, read fwc data failed.");
        return false;
    }
    std::memset(buf + len, 0, send_len - len);
    if (zelupg_cmd_send_fwc_data_update(dev, buf, send_len) != int(send_len)) {
        upg_err_as(fn, "Error, send fwc data failed.");
        return false;
    }
    return true;
}

// One FWC through the whole command sequence. entry is the 512-byte table
// entry exactly as the image holds it. Returns 0 with *board_crc set, or a
// negative code with *kind telling the failure when it is not a restart of
// the board; *data_sent tells whether the board had taken every data byte.
int do_fwc_upgrade(upg_device *dev, FILE *fp, const uint8_t *entry, Progress *progress, int *kind,
                   bool *data_sent, uint32_t *board_crc)
{
    static const char fn[] = "__do_fwc_upgrade";
    fwc_meta meta;
    fwc_meta_decode(entry, &meta);
    *kind = UPG_FAIL_OTHER;
    *data_sent = false;

    int ret = zelupg_cmd_set_fwc_meta(dev, entry);
    if (ret != 0) {
        upg_err_as(fn, "Error, send fwc meta failed.");
        return ret;
    }
    const int block = zelupg_cmd_get_block_size(dev);
    if (block <= 0) {
        upg_err_as(fn, "Error, get block size failed.");
        return ZELUPG_EFAIL;
    }
    if (!zelupg_fwc_block_size_ok(block)) {
        upg_err_as(fn, "Error, block size %d is above %d.", block, ZELUPG_FWC_MAX_BLOCK_SIZE);
        return ZELUPG_EFAIL;
    }
    const uint32_t chunk = zelupg_fwc_chunk_size(uint32_t(block));
    Buffer buf(static_cast<uint8_t *>(std::malloc(chunk)));
    if (!buf) {
        upg_err_as(fn, "Error, malloc failed.");
        return ZELUPG_EFAIL;
    }
    upg_dbg_as(fn, "chunksize %u, blksiz %d", chunk, block);

    // Target images are taken only by the upgrade firmware.
    if (std::strstr(meta.name, "image.target") && !g_upgrade_mode) {
        upg_err_as(fn, "Error, device status invalid.");
        return ZELUPG_EFAIL;
    }
    if (zelupg_cmd_send_fwc_data_start(dev, meta.size) != 0) {
        upg_err_as(fn, "Error, start to send fwc data failed.");
        return ZELUPG_EFAIL;
    }
    if (fseeko(fp, off_t(meta.offset), SEEK_SET) != 0) {
        upg_err_as(fn, "Error, read fwc data failed.");
        return ZELUPG_EFAIL;
    }
    const uint32_t full = meta.size / chunk;
    for (uint32_t i = 0; i < full; i++) {
        if (chunk >= ZELUPG_FWC_CHUNK_LIMIT)
            upg_plain("Send the %u block, size %uMB", i, chunk / ZELUPG_FWC_CHUNK_LIMIT);
        else
            upg_plain("Send the %u block, size %uKB", i, chunk / 1024);
        if (!send_chunk(fn, dev, fp, buf.get(), chunk, chunk))
            return ZELUPG_EFAIL;
        progress->advance(chunk);
        if ((i + 1 < full || meta.size % chunk) && stop_requested(fn))
            return ZELUPG_EFAIL;
    }
    const uint32_t rest = meta.size % chunk;
    if (rest) {
        // The board takes whole blocks; a chunk is whole blocks, so the padded
        // rest fits in the buffer.
        const uint32_t padded = uint32_t(zelupg_fwc_padded_length(rest, uint32_t(block)));
        upg_plain("Send the rest %u", padded);
        if (!send_chunk(fn, dev, fp, buf.get(), rest, padded))
            return ZELUPG_EFAIL;
        progress->advance(rest);
    }
    *data_sent = true;

    ret = zelupg_cmd_send_fwc_data_final(dev);
    if (ret != 0) {
        if (zelupg_fwc_is_loader_stage(meta.name))
            upg_info_as(fn, "Waiting for uboot bringup ...");
        else
            upg_err_as(fn, "Send fwc final data failed. ret %d", ret);
        return ZELUPG_EFAIL;
    }

    uint32_t value = 0;
    ret = zelupg_cmd_get_fwc_crc(dev, &value);
    if (ret != 0 || value != meta.crc) {
        upg_err_as(fn, "Error, get fwc crc failed. expect 0x%X, got 0x%X", meta.crc, value);
        if (ret == 0)
            *kind = UPG_FAIL_VERIFY;
        return ZELUPG_EFAIL;
    }
    upg_dbg_as(fn, "FWC CRC is OK");
    *board_crc = value;
    ret = zelupg_cmd_get_fwc_burn_result(dev, &value);
    if (ret != 0 || !zelupg_result_accepted(value)) {
        upg_err_as(fn, "Error, FWC burn result %u failed. return %d", value, ret);
        if (ret == 0)
            *kind = UPG_FAIL_VERIFY;
        return ZELUPG_EFAIL;
    }
    upg_dbg_as(fn, "FWC burn result is OK");
    ret = zelupg_cmd_get_fwc_run_result(dev, &value);
    if (ret != 0 || !zelupg_result_accepted(value)) {
        upg_err_as(fn, "Error, FWC run result %u failed, return %d", value, ret);
        if (ret == 0)
            *kind = UPG_FAIL_VERIFY;
        return ZELUPG_EFAIL;
    }
    upg_dbg_as(fn, "FWC run result is OK");
    return 0;
}

// The position text of a handle for messages, e.g. "Bus:Port 1:2:4".
std::string position_text(const upg_port *port)
{
    char text[64];
    return upg_format_port_path(text, sizeof(text), port->bus, port->port_path,
                                UPG_PORT_PATH_LEN);
}

// After a restart: takes the position from the handle and finds the board
// there again. On success *rescanned holds the new handle (a handle from an
// earlier rescan is closed first). A serial board keeps its handle: it is
// back once it answers the connection handshake on the same line again.
// Returns 0, the port lookup's code, or -1.
int reconnect(const char *fn, upg_device *current, upg_port *port, upg_device **rescanned)
{
    if (current && current->transport == UPG_TRANSPORT_SERIAL) {
        upg_info_as(fn, "Serial board restarting, waiting for its handshake ...");
        libuart_expect_reconnect(current->uart);
        const auto deadline = std::chrono::steady_clock::now() + kScanAttempts * kScanPause;
        bool back = false;
        while (!back && !g_stop.load() && std::chrono::steady_clock::now() < deadline)
            back = libuart_wait_connected(current->uart, 100) != 0;
        if (!back) {
            if (!stop_requested(fn)) {
                upg_err_as(fn, "No device is connected");
                fail(UPG_FAIL_LOST, ZELUPG_EFAIL);
            }
            return ZELUPG_EFAIL;
        }
        upg_plain("Serial board connected");
        return 0;
    }
    const int ret =
        upg_dev_get_port(current, port ? &port->bus : nullptr, port ? port->port_path : nullptr);
    if (ret != 0)
        return fail(UPG_FAIL_OTHER, ret);
    if (upg_verbose_scan())
        upg_info_as(fn, "%s maybe was disconnected!", position_text(port).c_str());
    upg_dev_close(*rescanned);
    *rescanned = upg_scan_device(port->bus, port->port_path);
    if (!*rescanned) {
        if (!stop_requested(fn)) {
            upg_err_as(fn, "No device is connected");
            fail(UPG_FAIL_LOST, ZELUPG_EFAIL);
        }
        return ZELUPG_EFAIL;
    }
    upg_plain("%s connected", position_text(port).c_str());
    return 0;
}

// How the full burn and run_to_uboot differ.
struct BurnStyle {
    const char *fn;
    SizeRule rule;
    bool loader_only; // the leading loader stages only
    bool ramboot;
    bool end_upgrade;
    bool uboot_messages; // run_to_uboot's own message forms
};

// The closing lines of a burn that is not a ram-boot; returns ret.
int verdict(const BurnStyle &style, const char *path, int ret, uint64_t image_length,
            std::chrono::steady_clock::time_point start)
{
    if (style.ramboot)
        return ret;
    if (ret != 0) {
        if (style.uboot_messages)
            upg_err_as(style.fn, "\nBurn %s failed!", path);
        else
            upg_err_as(style.fn, "Burn %s failed!, ret %d", path, ret);
        return ret;
    }
    upg_plain("\nBurn %s successfully!", path);
    if (!style.uboot_messages) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        upg_plain("Used time: %.1f sec, Speed: %.2f MB/s", seconds,
                  double(image_length) / 1048576.0 / seconds);
    }
    return 0;
}

// Sends the FWCs of the image in table order, finding the board again after
// each restart. Returns 0 or -1 (or the port lookup's code).
int burn_image(const BurnStyle &style, upg_device *dev, const char *path, upg_port *port)
{
    const char *fn = style.fn;
    begin_procedure();
    if (!dev || !path) {
        upg_err_as(fn, "Invalid args");
        return fail(UPG_FAIL_OTHER, ZELUPG_EFAIL);
    }
    const auto start = std::chrono::steady_clock::now();
    Image img;
    if (!open_image(fn, path, style.rule, true, &img)) {
        fail(UPG_FAIL_IMAGE, ZELUPG_EFAIL);
        return verdict(style, path, ZELUPG_EFAIL, 0, start);
    }

    uint32_t count = img.count;
    if (style.loader_only) {
        count = 0;
        fwc_meta meta;
        while (count < img.count &&
               (fwc_meta_decode(img.entry(count), &meta), zelupg_fwc_is_loader_stage(meta.name)))
            count++;
    }
    Progress progress;
    progress.state.fwc_count = int(count);
    for (uint32_t i = 0; i < count; i++) {
        fwc_meta meta;
        fwc_meta_decode(img.entry(i), &meta);
        progress.state.total_size += meta.size;
    }

    upg_device *rescanned = nullptr;
    int ret = 0;
    for (uint32_t i = 0; i < count && ret == 0; i++) {
        upg_device *current = rescanned ? rescanned : dev;
        fwc_meta meta;
        fwc_meta_decode(img.entry(i), &meta);
        if (stop_requested(fn)) {
            ret = ZELUPG_EFAIL;
            break;
        }
        if (ping_device(current) != 0) {
            if (!g_stop.load())
                upg_err_as(fn, "Error, device is disconnect");
            ret = fail(g_stop.load() ? UPG_FAIL_STOPPED : UPG_FAIL_LOST, ZELUPG_EFAIL);
            break;
        }
        if (style.ramboot && g_upgrade_mode)
            break;
        upg_plain("\nUpgrade fwc: %s, size %u ...", meta.name, meta.size);
        progress.start_fwc(meta, int(i));
        int kind = UPG_FAIL_NONE;
        bool data_sent = false;
        uint32_t board_crc = 0;
        const int fwc_ret = do_fwc_upgrade(current, img.fp, img.entry(i), &progress, &kind,
                                           &data_sent, &board_crc);
        if (fwc_ret == 0) {
            progress.end_fwc(&board_crc);
            continue;
        }
        upg_dbg_as(fn, "__do_fwc_upgrade ret %d", fwc_ret);
        const int usb_error = upg_dev_last_error(current);
        const bool stopped = g_failure == UPG_FAIL_STOPPED;
        if (stopped || !is_restart(usb_error, zelupg_fwc_is_loader_stage(meta.name), data_sent)) {
            if (stopped)
                upg_plain("Stopped in %s at byte %u of %u", meta.name, progress.state.fwc_sent,
                          meta.size);
            else if (style.uboot_messages)
                upg_err_as(fn, "Error, fwc upgrade failed.");
            else
                upg_err_as(fn, "Error, fwc upgrade failed., usb last error %d", usb_error);
            ret = fail(failure_kind(usb_error, kind), ZELUPG_EFAIL);
            break;
        }
        // The board took the loader stage in and restarts into it; the FWC
        // is not sent again.
        progress.end_fwc(nullptr);
        ret = reconnect(fn, current, port, &rescanned);
    }

    if (style.end_upgrade)
        zelupg_cmd_set_upg_end(rescanned ? rescanned : dev);
    upg_dev_close(rescanned);

    return verdict(style, path, ret, img.length, start);
}

// Writes the FWC's bytes in pieces of at most 1 MiB to board memory from
// addr on. Returns 0 or the failing write's code.
int write_fwc(const char *fn, upg_device *dev, FILE *fp, const fwc_meta &meta, uint32_t addr,
              int index, int *kind)
{
    *kind = UPG_FAIL_OTHER;
    Buffer buf(static_cast<uint8_t *>(std::malloc(kRambootPiece)));
    if (!buf) {
        upg_err_as(fn, "Error, malloc failed.");
        return ZELUPG_EFAIL;
    }
    if (fseeko(fp, off_t(meta.offset), SEEK_SET) != 0) {
        upg_err_as(fn, "Error, read fwc data failed.");
        return ZELUPG_EFAIL;
    }
    Progress progress;
    progress.state.fwc_count = 1;
    progress.state.total_size = meta.size;
    progress.start_fwc(meta, index);
    for (uint32_t done = 0; done < meta.size;) {
        const uint32_t piece = meta.size - done < kRambootPiece ? meta.size - done : kRambootPiece;
        if (std::fread(buf.get(), 1, piece, fp) != piece) {
            upg_err_as(fn, "Error, read fwc data failed.");
            return ZELUPG_EFAIL;
        }
        const int ret = zelupg_cmd_write(dev, addr + done, buf.get(), piece);
        if (ret < 0) {
            upg_err_as(fn, "cmd write failed, return %d", ret);
            *kind = failure_kind(upg_dev_last_error(dev), UPG_FAIL_OTHER);
            return ret;
        }
        done += piece;
        progress.advance(piece);
    }
    return 0;
}

} // namespace

void upg_set_progress_hook(upg_progress_hook hook, void *user)
{
    g_progress_hook = hook;
    g_progress_user = user;
}

int upg_last_failure(void)
{
    return g_failure;
}

int image_do_upgrade(upg_device *dev, const char *path, upg_port *port)
{
    return image_do_upgrade_inner(dev, path, port, 0);
}

int image_do_upgrade_inner(upg_device *dev, const char *path, upg_port *port, int ramboot)
{
    const BurnStyle style = {__func__, SizeRule::WithEx, false, ramboot != 0, !ramboot, false};
    return burn_image(style, dev, path, port);
}

int run_to_uboot(upg_device *dev, const char *path, upg_port *port)
{
    const BurnStyle style = {__func__, SizeRule::WithoutEx, true, false, false, true};
    return burn_image(style, dev, path, port);
}

int image_do_ramboot(upg_device *dev, const char *fwc_name, uint32_t addr, const char *path,
                     upg_port *port)
{
    static const char fn[] = "image_do_ramboot";
    if (!dev || !fwc_name || !path) {
        begin_procedure();
        upg_err_as(fn, "Invalid args");
        return fail(UPG_FAIL_OTHER, ZELUPG_EFAIL);
    }
    uint8_t bus = 0;
    uint8_t port_path[UPG_PORT_PATH_LEN];
    upg_dev_get_port(dev, &bus, port_path);
    int ret = image_do_upgrade_inner(dev, path, port, 1);
    if (ret != 0)
        return ret;

    // The loader stages just sent restart the board; a USB board comes back
    // with a new handle.
    upg_device *reopened = nullptr;
    if (dev->transport == UPG_TRANSPORT_USB && is_leave_error(upg_dev_last_error(dev))) {
        reopened = upg_usb_dev_open(bus, port_path);
        if (!reopened) {
            upg_err_as(fn, "No device is connected");
            return fail(UPG_FAIL_LOST, ZELUPG_EFAIL);
        }
    }
    upg_device *current = reopened ? reopened : dev;

    Image img;
    int kind = UPG_FAIL_IMAGE;
    ret = ZELUPG_EFAIL;
    if (open_image(fn, path, SizeRule::WithEx, false, &img)) {
        uint32_t i = 0;
        fwc_meta meta;
        for (; i < img.count; i++) {
            fwc_meta_decode(img.entry(i), &meta);
            if (std::strcmp(meta.name, fwc_name) == 0)
                break;
        }
        if (i == img.count) {
            upg_err_as(fn, "Error, no FWC named \"%s\" in %s", fwc_name, path);
        } else {
            ret = write_fwc(fn, current, img.fp, meta, addr, int(i), &kind);
            if (ret == 0) {
                char text[160];
                std::snprintf(text, sizeof(text), "ram_boot 0x%lx %s %d", (unsigned long)addr,
                              img.hdr.media_type, int(img.hdr.media_dev_num));
                ret = zelupg_cmd_run_shell(current, text);
                kind = UPG_FAIL_OTHER;
            }
        }
    }
    upg_dev_close(reopened);
    return ret == 0 ? 0 : fail(kind, ret);
}

int get_storage_media(upg_device *dev, uint8_t **out, upg_port *port)
{
    begin_procedure();
    int ret = zelupg_cmd_get_storage_media(dev, out);
    if (ret >= 0)
        return ret;
    // A board that answered has not left the bus: asking it again elsewhere
    // would only wait for nothing.
    if (!dev || upg_dev_last_error(dev) == 0)
        return fail(UPG_FAIL_OTHER, ZELUPG_EFAIL);
    upg_device *rescanned = nullptr;
    ret = reconnect(__func__, dev, port, &rescanned);
    if (ret == 0) {
        ret = zelupg_cmd_get_storage_media(rescanned ? rescanned : dev, out);
        if (ret <= 0)
            ret = fail(UPG_FAIL_OTHER, ZELUPG_EFAIL);
    } else {
        ret = ZELUPG_EFAIL;
    }
    upg_dev_close(rescanned);
    return ret;
}

upg_device *upg_scan_device(uint8_t bus, const uint8_t *port_path)
{
    char text[64];
    upg_format_port_path(text, sizeof(text), bus, port_path, UPG_PORT_PATH_LEN);
    for (int attempt = 1; attempt <= kScanAttempts && !g_stop.load(); attempt++) {
        if (upg_verbose_scan())
            upg_info("%d. Try to scan %s...", attempt, text);
        upg_device *dev = upg_usb_dev_open(bus, port_path);
        if (dev)
            return dev;
        if (attempt < kScanAttempts)
            pause_unless_stopped(kScanPause);
    }
    return nullptr;
}

void upg_request_stop(void)
{
    g_stop.store(1);
}

void upg_clear_stop(void)
{
    g_stop.store(0);
}

int upg_stop_requested(void)
{
    return g_stop.load();
}
