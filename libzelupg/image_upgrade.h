#pragma once
// The library's own burn procedures. Every FWC of an image goes to the board
// in table order through the FWC command sequence (meta, block size, start,
// data in chunks, closing response, CRC, burn and run results); a board that
// restarts after a loader stage is found again at the same bus and port path
// (a serial board: on the same line, once it answers the connection handshake
// again).
//
// Only a board that leaves once a loader stage's data is all sent is
// restarting: a transfer error anywhere else means the FWC was cut short, and
// the burn fails with the board lost (or refused, for a stalled endpoint).
//
// The procedures wait as boards need: up to ten hardware-info pings a second
// apart before every FWC, and up to ten rescans two seconds apart after a
// restart. Results are 0 on success and negative on failure; the library log
// says why, and upg_last_failure() tells the kind of failure.

#include "upg_device.h"

#include <cstdint>

// The board's position, filled from the handle by the procedures and used to
// find the board again after a restart.
struct upg_port {
    uint8_t bus;
    uint8_t port_path[UPG_PORT_PATH_LEN];
};

// Why the last procedure failed.
enum upg_failure {
    UPG_FAIL_NONE = 0,
    UPG_FAIL_IMAGE,  // the image cannot be read, is not valid, or lacks the component asked for
    UPG_FAIL_LOST,   // the board stopped answering, left the bus, or did not come back
    UPG_FAIL_VERIFY, // the board's CRC differs from the image's, or it reported a failed burn or
                     // run
    UPG_FAIL_OTHER,  // the board refused or failed a command, or the host ran out of memory
    UPG_FAIL_STOPPED, // upg_request_stop() ended it at a safe point
};

// What a progress report tells.
enum upg_progress_event {
    UPG_PROGRESS_FWC_BEGIN = 0, // an FWC starts (fwc_crc is the image's CRC)
    UPG_PROGRESS_DATA,          // the board took a chunk
    UPG_PROGRESS_FWC_END,       // the FWC is done; board_crc holds what the board reported,
                                // unless board_crc_known is 0 (a loader stage the board
                                // restarted into before it could be asked)
};

// Where a procedure stands, handed to the progress hook at the start of each
// FWC and after every chunk the board took. Byte counts are the FWCs' own
// bytes, without the padding to whole blocks.
struct upg_progress {
    int event; // upg_progress_event
    const char *fwc_name;
    int fwc_index; // in the image's table
    int fwc_count; // FWCs the procedure sends at most
    uint32_t fwc_sent;
    uint32_t fwc_size;
    uint64_t total_sent; // over the FWCs sent so far in this procedure
    uint64_t total_size; // of the FWCs the procedure sends at most
    uint32_t fwc_crc;    // the image table's CRC of the FWC
    uint32_t board_crc;
    int board_crc_known;
};

typedef void (*upg_progress_hook)(const upg_progress *progress, void *user);

// Stores the progress hook and its user pointer; null switches it off.
void upg_set_progress_hook(upg_progress_hook hook, void *user);

// Kind of failure of the last procedure; UPG_FAIL_NONE after a success.
int upg_last_failure(void);

// Asks the running (or next) procedure to stop at its next safe point: before
// an FWC, between two chunks, between two pings or rescans. It then fails
// with UPG_FAIL_STOPPED, the handles closed as on any failure. Safe to call
// from a signal handler; upg_clear_stop() takes the request back.
void upg_request_stop(void);
void upg_clear_stop(void);
int upg_stop_requested(void);

// Burns every FWC of the image at path into the board, then closes the upgrade.
// Same as image_do_upgrade_inner with ram-boot mode off.
int image_do_upgrade(upg_device *dev, const char *path, upg_port *port);

// The full burn. With ramboot on it stops, successfully, as soon as the board
// reports its upgrade mode, sends no end-of-upgrade command and prints no
// verdict. Returns 0, -1, or the port lookup's code when the board restarted
// and its position could not be taken. The caller's handle stays open; a
// handle opened after a restart is closed before returning.
int image_do_upgrade_inner(upg_device *dev, const char *path, upg_port *port, int ramboot);

// Sends the loader stages that lead the image's table (see
// zelupg_fwc_is_loader_stage) and stops at the first other FWC: enough to
// bring a board from its first-stage loader into its upgrade firmware
// without writing anything into its storage. 0 or -1.
int run_to_uboot(upg_device *dev, const char *path, upg_port *port);

// Brings the board into its upgrade firmware, writes the FWC named exactly
// fwc_name into board memory at addr and starts it there with the board
// command "ram_boot <addr> <media type> <media device number>". Returns the
// run-shell command's result, the failing write's code, or -1.
int image_do_ramboot(upg_device *dev, const char *fwc_name, uint32_t addr, const char *path,
                     upg_port *port);

// Asks the board's storage media into a new buffer stored in *out (the caller
// frees it); when the board has left the bus, finds it again once and asks
// anew. Returns the answer's length or -1.
int get_storage_media(upg_device *dev, uint8_t **out, upg_port *port);

// Up to ten attempts, two seconds apart, to open the board at bus and port
// path. The handle, or null (also when a stop was requested).
upg_device *upg_scan_device(uint8_t bus, const uint8_t *port_path);
