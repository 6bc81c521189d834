#pragma once
// Serial transport: a serial port turned into the byte-stream service the
// packet transport needs. Data travels in small checksummed frames (short: up
// to 176 bytes with a length byte; long: exactly 1024 bytes), each answered
// with ACK or NAK; a manager thread per connection keeps checking with a 'C'
// handshake that a board is listening.

#include <cstddef>
#include <cstdint>

struct libuart_conn;
struct upg_device;

enum {
    UART_SOH = 0x01,  // short-frame start
    UART_STX = 0x02,  // long-frame start
    UART_ACK = 0x06,
    UART_NAK = 0x15,
    UART_DC1 = 0x11,  // host asks to send
    UART_DC2 = 0x12,  // host asks to receive
    UART_CAN = 0x18,  // board has no more data
    UART_ATTENTION = 'A',
    UART_CONNECT = 'C',
};

enum {
    UART_SHORT_MAX = 176,
    UART_LONG_DATA = 1024,
    UART_SHORT_OVERHEAD = 6,  // start, block, complement, length, CRC
    UART_LONG_FRAME = UART_LONG_DATA + 5,
};

enum {
    UART_STATE_DETECTING = 0,
    UART_STATE_CONNECTED = 1,
};

// Called on whichever thread changed the connection's state.
typedef void (*libuart_state_cb)(libuart_conn *conn, int state);

// CRC-16/XMODEM (polynomial 0x1021, initial 0, no reflection) of len bytes
// continued from crc.
uint16_t uart_crc16_update(uint16_t crc, const uint8_t *data, size_t len);

// Builds the frame for len data bytes (1..176 short, or exactly 1024 long)
// with block number blk into frame. Returns the frame length, 0 for a length
// no frame carries.
int uart_pack_frame(uint8_t blk, const uint8_t *data, int len, uint8_t *frame);

// Opens the serial port (a device path such as /dev/ttyUSB0 on Linux) at
// 115200 8N1 and starts the connection manager. Null on failure.
libuart_conn *libuart_open(const char *port_name, libuart_state_cb cb);

// Stops the manager thread and frees the connection. Null is ignored.
void libuart_close(libuart_conn *conn);

// How long libuart_send waits for the board to answer its DC1.
enum { LIBUART_HANDSHAKE_MS = 10000 };

// Delivers len bytes in frames. Returns the bytes the board acknowledged, or
// -1 for a null connection or one that is not connected. A frame the board
// NAKs goes again (up to ten times a call); so does one met with silence,
// whose ACK may have been lost, up to three copies in a row.
int libuart_send(libuart_conn *conn, const void *data, int len);
// The same, waiting up to timeout_ms for the board to answer the DC1.
int libuart_send_within(libuart_conn *conn, const void *data, int len, int timeout_ms);

// Collects up to len bytes within timeout_ms, after the board has answered
// the DC2 (within timeout_ms too). Bytes that start no frame (line noise)
// are skipped, and a frame start that proves false is dropped alone, so the
// next frame is found wherever it begins and its CRC decides. Returns the
// bytes received (fewer when the board ends with CAN or asks for a new
// handshake, or the deadline passes), or -1 for a null connection or one not
// connected.
int libuart_recv(libuart_conn *conn, void *buf, int len, int timeout_ms);

// UART_STATE_CONNECTED or UART_STATE_DETECTING; Detecting for null.
int libuart_state(libuart_conn *conn);

// Waits up to timeout_ms for the connection to be Connected. 1 when it is.
int libuart_wait_connected(libuart_conn *conn, int timeout_ms);

// Takes the connection as down (Detecting), so that the manager asks for the
// board at once: for a board known to restart, whose line looks quiet.
void libuart_expect_reconnect(libuart_conn *conn);

// A serial upg_device (transport kind 1) holding a new connection; the
// library is initialised first if needed. Null when the port cannot be
// opened. The board is not yet known to listen: see upg_uart_dev_connect.
upg_device *upg_uart_dev_open(const char *port_name, libuart_state_cb cb);

// Opens the port like upg_uart_dev_open and waits up to timeout_ms for the
// board to answer the connection handshake. Null (port closed again) when it
// does not. This is the call for programs that burn over a serial port.
upg_device *upg_uart_dev_connect(const char *port_name, int timeout_ms);

// Closes the connection and frees the record. Null is ignored.
void upg_uart_dev_close(upg_device *dev);

// The connection state (1 Connected); 0 for a device without connection.
int upg_uart_dev_is_connected(upg_device *dev);
