#ifndef EX_COM_H
#define EX_COM_H
/*
 * ex_com: the link between the setup program and its instruments over a serial line.
 *
 * Plain C interface. Every call but EX_CreateCOM returns a 32-bit result, 0 for success;
 * EX_GetExendedErrorInfo gives the text of any other result. Texts are zero-terminated; a text
 * passed by reference is the address of the caller's buffer pointer, and the library writes at
 * most the buffer size given for that call (255 bytes with the terminator unless said otherwise).
 *
 * Texts that the library writes (error texts, reply texts, port lists) are UTF-8.
 *
 * Handles are independent of each other and may be used from different threads; calls on one
 * handle are serialised, except EX_StopSearchAvailableDevices, which is meant to be called while
 * EX_SearchAvailableDevices runs on another thread.
 *
 * ---------------------------------------------------------------------------------------------
 * Port names
 *
 *   "COM1", "COM2", ... (any letter case) name /dev/ttyS0, /dev/ttyS1, ...
 *   A name beginning with "/" is a device path used as it stands: /dev/ttyUSB0, /dev/ttyACM0,
 *   /dev/serial/by-id/..., a pseudo-terminal /dev/pts/N.
 *   Any other name is looked up under /dev ("ttyUSB0" is /dev/ttyUSB0).
 *
 *   The port is opened for exclusive use (TIOCEXCL and an advisory flock), raw, 8 data bits, no
 *   parity, one stop bit, no flow control; USB adapters are asked for low latency
 *   (ASYNC_LOW_LATENCY) where the driver allows it.
 *
 * Port list (EX_SearchAvailableCOMPorts): the names separated by ";", no ";" at the end, in this
 * order:
 *   1. the paths of the environment variable EX_COM_EXTRA_PORTS (colon-separated, in the order
 *      given; each is listed when it exists), so that tests and the demo can offer the
 *      pseudo-terminal of a simulator;
 *   2. the on-board ports that have hardware behind them, as "COM1", "COM2", ... by number;
 *   3. the other serial devices the kernel knows (USB and ACM adapters and the like), each by
 *      its stable name under /dev/serial/by-id/ when it has one, else by its /dev path, sorted
 *      by name with numbers in numeric order.
 *   Names that do not fit in the EX_PORT_LIST_SIZE buffer are left out whole. When no port is
 *   present the call fails with EX_ERR_NO_PORTS. EX_ExtractAvailableCOMPorts splits such a text
 *   at ";" and passes each non-empty name; a text without any name fails with EX_ERR_NO_PORTS.
 *
 * ---------------------------------------------------------------------------------------------
 * Wire protocol
 *
 * Half duplex, one request and at most one reply. Both frames have the same layout:
 *
 *   offset  size  content
 *   0       1     marker: 0xA5 request (PC to instrument), 0x5A reply (instrument to PC)
 *   1       1     sequence number of the request; the reply repeats it
 *   2       1     device type (request: the type addressed; reply: the instrument's own)
 *   3       1     network address (request: the one addressed; reply: the instrument's own)
 *   4       1     command code 0..13; in a reply bit 7 set means "refused", the text then
 *                 holds the instrument's decimal reason
 *   5       1     n, the length of the text, 0..EX_FRAME_MAX_TEXT
 *   6       n     text: the decimal argument (request) or reply text, ASCII
 *   6+n     2     CRC-16/MODBUS (polynomial 0xA001 reflected, initial 0xFFFF) of bytes 0..5+n,
 *                 low byte first
 *
 * So a request without argument is 8 bytes; reading one EEPROM byte is 8 + 11 bytes.
 *
 * The library sends the argument text only for the commands that take one (1, 2, 4, 5, 7, 8, 9,
 * 10, 12): an unsigned decimal number of 1 to 5 digits. Commands 0, 3, 6, 11 and 13 go out with
 * an empty text whatever the buffer holds. The reply text comes back in the buffer (empty for
 * commands that reply nothing).
 *
 *   0  Identify: reply the decimal device type. Every instrument answers it whatever the type
 *      addressed, and the library passes the reply on without judging the type.
 *   1  Read value (EX_GetDeviceData): argument 0 measured value, 1..3 setpoints 1..3; reply a
 *      decimal number with "." as separator.
 *   2  Set EEPROM address (0..2047)    3  Read EEPROM byte, then advance
 *   4  Write EEPROM byte, then advance 5  Set RAM address (0..255)
 *   6  Read RAM byte, then advance     7  Set indicator position (0..8)
 *   8  Write indicator pattern, then next position
 *   9  Relay mask (0..7; 0 hands the relays back to the instrument)
 *   11 Finish EEPROM write: reply "0", or "1" when none of the bytes written since the last
 *      finish changed the EEPROM (they held those values already; nothing was rewritten). The
 *      library returns EX_WRITE_UNCHANGED (-22) for "1": the write is complete all the same.
 *   13 Indicators back to normal display.
 *   10, 12 are not used; the instrument refuses them.
 *
 * Receiving: every marker byte may start the reply, so stray bytes on the line (noise) never
 * hide it: a candidate frame with a bad CRC, an impossible length or a text that is not ASCII,
 * or one whose length reaches past the bytes that came, moves the scan on by one byte. A
 * complete request frame (the echo of an RS-485 adapter) is skipped; a reply whose sequence
 * number is not the request's (a late reply to an earlier request) is skipped. The first valid
 * reply frame that is not skipped decides: other address EX_ERR_ADDRESS, other command
 * EX_ERR_FRAME, other device type EX_ERR_DEVICE_TYPE (not for Identify), refused
 * EX_ERR_REFUSED. When no such reply came by the deadline: a reply to the request with a bad CRC
 * gives EX_ERR_CRC, any other bytes EX_ERR_FRAME, silence EX_ERR_NO_ANSWER.
 *
 * Time-out of one exchange, counted from the moment the request is written:
 *   wire time of the request + wire time of the longest reply the command can give (a text
 *   of 3 characters, 16 for command 1) + wire time of EX_MARGIN_BYTES bytes (gaps between
 *   bytes) + EX_REPLY_ALLOWANCE_MS,
 * a byte being 10 bits at the baud rate. The allowance is the time a reply may come late and
 * still count. It is generous on purpose: a USB serial adapter holds received bytes until its
 * latency timer runs out (16 ms by default) and then delivers them in one burst, an instrument
 * takes a few tens of milliseconds to answer, and a busy desktop may wake the reading thread
 * late. A reply lost to a tight deadline fails the whole operation (one lost reply ends a
 * 2049-exchange EEPROM copy), while the deadline costs nothing when the reply comes: an
 * answered exchange returns as soon as its reply frame is complete. Only silence waits the
 * whole time-out: a silent address in the device search costs its wire time and the
 * allowance (an Identify at 9600 baud: 23 bytes' wire time + 100 ms = 124 ms).
 * Nothing else waits; there are no fixed pauses.
 * The environment variable EX_COM_REPLY_ALLOWANCE_MS widens the allowance to the milliseconds it
 * names (a whole number above EX_REPLY_ALLOWANCE_MS, at most EX_REPLY_ALLOWANCE_MAX_MS; any other
 * value is ignored), read at every exchange. It is for rigs whose far end is a program that may
 * be woken late (a simulator on a busy machine), not for instruments: silence then costs the
 * widened allowance.
 * On failure EX_Exchange leaves the empty text in the buffer.
 *
 * Device search (EX_SearchAvailableDevices): Identify for each address from first to last; an
 * address counts as found when its reply is valid and names the device type searched. The search
 * text receives the found addresses in decimal separated by ";". EX_StopSearchAvailableDevices
 * ends the current exchange at once and the search returns 0. A stop that comes before the search
 * has begun is kept for it (so it is never lost); EX_CloseCOM discards a stop left over.
 * A line failure (EX_ERR_IO, EX_ERR_NOT_OPEN) ends the search with that code.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The device type of the instruments this program configures. */
#define EX_DEVICE_TYPE 9

/* Result codes. */
#define EX_OK 0
#define EX_ERR_NO_ANSWER (-1)     /* no reply within the time-out */
#define EX_ERR_FRAME (-2)         /* broken or incomplete reply frame */
#define EX_ERR_CRC (-3)           /* reply with a wrong CRC */
#define EX_ERR_ADDRESS (-4)       /* reply from another address */
#define EX_ERR_DEVICE_TYPE (-5)   /* reply from an instrument of another type */
#define EX_ERR_NOT_OPEN (-6)      /* the port is not open */
#define EX_ERR_UNKNOWN_PORT (-7)  /* no such port */
#define EX_ERR_PORT_BUSY (-8)     /* the port is in use by another program or link */
#define EX_ERR_ARGUMENT (-9)      /* bad argument (baud rate, command, text, address range, pointer) */
#define EX_ERR_REFUSED (-10)      /* the instrument refused the command */
#define EX_ERR_HANDLE (-11)       /* no link with this handle */
#define EX_ERR_IO (-12)           /* the line failed (read or write error, device gone) */
#define EX_ERR_OPEN (-13)         /* the port exists but cannot be opened or set up */
#define EX_ERR_KIND (-14)         /* EX_GetExendedErrorInfo: unknown kind */
#define EX_ERR_NO_PORTS (-15)     /* no serial port present / no name in a port list */
#define EX_ERR_ACCESS (-16)       /* the user may not open the port; the text names the device and
                                     the group that owns it (that of the last refused open) */
#define EX_WRITE_UNCHANGED (-22)  /* command 11: write finished, the EEPROM needed no change */

/* Frame limits and time-out allowances (see the wire protocol above). */
#define EX_FRAME_OVERHEAD 8
#define EX_FRAME_MAX_TEXT 32
#define EX_REPLY_ALLOWANCE_MS 100
#define EX_REPLY_ALLOWANCE_MAX_MS 60000
#define EX_MARGIN_BYTES 4

/* Buffer sizes the caller provides. */
#define EX_TEXT_SIZE 255
#define EX_PORT_LIST_SIZE 1793
#define EX_SEARCH_TEXT_SIZE 4095

/* A new link, closed; 0 when none can be made. */
uint32_t EX_CreateCOM(void);
/* Closes and releases the link and sets *handle to 0. */
int32_t EX_FreeCOM(uint32_t *handle);
/* The baud rate (300, 600, 1200, 2400, 4800, 9600 or 19200) of the next open; set at once on an
 * open port. Another rate fails with EX_ERR_ARGUMENT. 9600 until set. */
int32_t EX_SetBaudRate(uint32_t handle, int32_t baud);
int32_t EX_OpenCOM(uint32_t handle, const char *port);
int32_t EX_CloseCOM(uint32_t handle);
/* One command: *text carries the decimal argument in and the reply text out (255-byte buffer). */
int32_t EX_Exchange(uint32_t handle, uint8_t deviceType, uint8_t address, uint8_t command, char **text);
/* Index 0: the measured value; 1 to 3: setpoints 1 to 3. */
int32_t EX_GetDeviceData(uint32_t handle, uint8_t deviceType, uint8_t address, uint8_t index, double *value);
/* CRC of the first length bytes. */
int32_t EX_ArrayCRCWord(const uint8_t *bytes, uint16_t length, uint16_t *crc);
/*
 * The text of a result code; kind EX_DEVICE_TYPE, or 0 for the code of a failed lookup. A code
 * the library does not know gets a text that names it, with result 0. Another kind fails with
 * EX_ERR_KIND and leaves that code's text.
 */
int32_t EX_GetExendedErrorInfo(uint8_t kind, int32_t code, char **text);
/* Fills *text (EX_PORT_LIST_SIZE bytes) with the ports present; window gets no messages. */
int32_t EX_SearchAvailableCOMPorts(uint32_t handle, int32_t mode, uint32_t window, char **text);
/* Splits a port-list text: calls add(list, name) once per port, in order. */
typedef void (*EX_AddString)(void *list, const char *item);
int32_t EX_ExtractAvailableCOMPorts(const char *text, void *list, EX_AddString add);
/*
 * Identifies every address from first to last on the open port, delivering the registered
 * message "SX_SearchAvailableDevices" to window for each (wParam the position, lParam the
 * address that answered or 65535). Returns 0 when the range is done or the search was stopped.
 */
int32_t EX_SearchAvailableDevices(uint32_t handle, int32_t mode, uint32_t window, uint8_t deviceType,
                                  uint8_t first, uint8_t last, char **text);
/* From another thread: the running search returns within one address's time. */
int32_t EX_StopSearchAvailableDevices(uint32_t handle);

#ifdef __cplusplus
}
#endif

#endif
