#pragma once
// Boards in upgrade mode on USB: finding them by physical position (bus and
// port path, stable while a board re-enumerates), opening one as an
// upg_device, and listing the boards that are plugged in.

#include <cstdint>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libuart_conn;

enum {
    UPG_USB_VID = 0x33C3,
    UPG_USB_PID = 0x6677,
    // Bus number meaning "any position": open the first board found.
    UPG_BUS_ANY = 255,
    UPG_PORT_PATH_LEN = 7,
    UPG_DEV_TABLE_SIZE = 16,
};

enum {
    UPG_TRANSPORT_USB = 0,
    UPG_TRANSPORT_SERIAL = 1,
};

// One open board. The transport kind comes first because the same handle type
// also stands for a board on a serial port.
struct upg_device {
    uint32_t transport;
    uint8_t reserved[32];
    uint8_t bus;
    uint8_t port_path[UPG_PORT_PATH_LEN];  // from the root hub down, zero behind the last
    uint8_t dev_addr;                      // list-opened boards only
    uint8_t dev_class;                     // list-opened boards only
    uint32_t ids;                          // vendor id low half, product id high half
    libusb_device_handle *usb;             // null for serial
    uint8_t ep_out;
    uint8_t ep_in;
    int32_t last_error;  // libusb result of the most recent bulk transfer
    libuart_conn *uart;  // null for USB
};

// One entry of the table upg_usb_dev_get_list hands out; 10 bytes, no padding.
struct upg_usb_dev_entry {
    uint8_t bus;
    uint8_t port_path[UPG_PORT_PATH_LEN];
    uint8_t dev_addr;
    uint8_t dev_class;
};
static_assert(sizeof(upg_usb_dev_entry) == 10, "device table entries are 10 bytes");

// Initialises the library once (clears the packet tag and the FWC-meta-sent
// flag, creates the libusb context). Returns 0 or the libusb error code.
int libzelupg_init(void);
// Releases the libusb context and clears the packet tag and FWC-meta-sent flag.
void libzelupg_exit(void);
// The library's libusb context; null while not initialised.
libusb_context *zelupg_usb_context(void);

// Diagnostic switches, both off unless a program turns them on: report open
// errors makes upg_usb_dev_open log its failures; verbose scan makes the
// rescanning burn procedure print its attempts.
void upg_set_report_open_errors(int on);
void upg_set_verbose_scan(int on);
int upg_verbose_scan(void);

// Port numbers of dev into buf (zero-filled behind them). Returns their count,
// or -1 when libusb fails or they do not fit in len.
int upg_usb_get_port_numbers(libusb_device *dev, uint8_t *buf, int len);

// Opens the board at bus and 7-byte port path (bus UPG_BUS_ANY: the first
// board), claims interface 0 and finds the bulk endpoints. Null on failure.
upg_device *upg_usb_dev_open(uint8_t bus, const uint8_t *port_path);

// Lists the boards that can be opened into the library-owned table of
// UPG_DEV_TABLE_SIZE entries, valid until the next call. Returns their count,
// or -1 when there is none or the system list fails; *table is set whenever
// the system list could be read.
int upg_usb_dev_get_list(upg_usb_dev_entry **table);

// One board in burn mode as the system lists it, whether it can be used or not.
struct upg_usb_board {
    uint8_t bus;
    uint8_t port_path[UPG_PORT_PATH_LEN];
    uint8_t dev_addr;
    int open_result; // 0, or the libusb error of opening or claiming it
                     // (LIBUSB_ERROR_ACCESS: no permission, LIBUSB_ERROR_BUSY:
                     // another program holds it)
};

// Every board in burn mode into out (at most max), each tried for opening and
// claiming and released again at once; nothing is logged. Unlike
// upg_usb_dev_get_list, a board that cannot be used is listed too. Returns
// the count, or -1 when the system list fails.
int upg_usb_dev_survey(upg_usb_board *out, int max);

// Lists the boards plugged in now into the same table, without opening any:
// their descriptors, bus, port path and address need no handle, so a board a
// burn holds open is listed too and no burn finds its board held by the
// listing. Returns their count (0 when there is none), or -1 when the system
// list fails.
int upg_usb_dev_scan(upg_usb_dev_entry **table);

// Whether the board at bus and 7-byte port path can be opened and claimed
// now; it is released and closed again at once.
enum {
    UPG_USB_USABLE = 0,
    UPG_USB_NO_PERMISSION = 1,
    UPG_USB_IN_USE = 2,  // another program has claimed it
    UPG_USB_GONE = 3,    // no longer at that position
    UPG_USB_UNUSABLE = 4,
};
int upg_usb_dev_check(uint8_t bus, const uint8_t *port_path);

// Boards refused for lack of permission since the last upg_usb_dev_get_list
// began, so after a listing: those it saw but could not open. Each one is
// logged with UPG_USB_ACCESS_HINT.
int upg_usb_dev_denied_count(void);

// What an operator must do when the system refuses to open a board.
#define UPG_USB_ACCESS_HINT                                                           \
    "no permission to open it: install the udev rule 70-veldmark.rules "              \
    "(/usr/lib/udev/rules.d, from the veldmark package) and plug the board again, or " \
    "join the plugdev group"

// What an operator must do when another program holds a board.
#define UPG_USB_IN_USE_HINT \
    "another program holds it: close that program and plug the board again"

// A zeroed record of the transport kind, the library initialised first.
// Null when either fails ("Failed to malloc for upg_device" under func).
upg_device *upg_dev_alloc(uint32_t transport, const char *func);

// Copies the handle's bus and 7-byte port path. -1 for a null argument, else 0.
int upg_dev_get_port(const upg_device *dev, uint8_t *bus, uint8_t *port_path);

// libusb result of the handle's most recent bulk transfer; 0 for null.
int upg_dev_last_error(const upg_device *dev);

// Releases interface 0 and closes the USB handle (a serial handle: closes its
// connection), then frees the record. Null is ignored.
void upg_dev_close(upg_device *dev);
