#ifndef COMPORT_H
#define COMPORT_H
/*
 * comport: the serial port of the data driver. One port object carries the requests of every
 * measuring point to the line and brings their answers back.
 *
 * Plain C interface. Texts are zero-terminated 8-bit strings; a text passed by reference is the
 * address of the caller's buffer pointer, and the library writes at most COMPORT_TEXT_SIZE bytes
 * there, terminator included. Calls on one port object are serialised; different objects are
 * independent. Every call that can fail returns false (or 0 for CreateCOM) and leaves a result
 * code, which GetCOMLastError gives and GetCOMErrorText turns into a text. No call hangs: every
 * wait has a deadline derived from the baud rate and the three time-outs.
 *
 * ---------------------------------------------------------------------------------------------
 * Port names and opening: as in ex_com.h ("COM1" is /dev/ttyS0, a name beginning with "/" is a
 * device path used as it stands, other names are looked up under /dev). The port is opened for
 * exclusive use, raw 8N1 without flow control at the configured baud rate (300, 600, 1200, 2400,
 * 4800, 9600, 19200, 38400 or 57600: GetCOMBaudRates). The serial layer is the one ex_com uses.
 *
 * ---------------------------------------------------------------------------------------------
 * An exchange: TransmitCOMPOneByte writes the request, ReciveCOMPOneByte collects the answer.
 *
 *   The answer ends at its terminator, a carriage return (13), which is not passed on; the text
 *   before it is the answer. A line feed or anything else after the terminator is dropped with
 *   the next request. Nothing waits once the terminator is in.
 *
 *   TransmitCOMPOneByte first drops whatever arrived and was not read (a late answer to an
 *   earlier request), then writes the request as given: the caller includes the terminator.
 *   A received line equal to the request just sent (the echo of an RS-485 adapter) is skipped.
 *
 *   A byte is 10 bits on the line; the wire time of n bytes is n * 10 / baud seconds.
 *
 * The three time-outs of SetCOMCfg, in milliseconds (0 to 65535), each an allowance on top of
 * the wire time, so that the same settings serve every baud rate:
 *
 *   time-out 1  transmit allowance: the request must be written within its wire time plus this
 *               (a port whose output is stuck fails here). Default 100.
 *   time-out 2  gap between the bytes of an answer: once the answer has begun, each next byte
 *               must arrive within one byte's wire time plus this plus COMPORT_BURST_ALLOWANCE_MS
 *               after the previous one, else the answer counts as broken off. Default 10. The
 *               burst allowance is there because a USB adapter passes received bytes on in
 *               bursts, each when its latency timer runs out (16 ms by default): between two
 *               bursts the program sees a pause that the line never had.
 *   time-out 3  answer time-out: the instrument's reaction. The first byte of the answer must
 *               arrive within the request's wire time plus this, counted from the end of
 *               TransmitCOMPOneByte. The driver gives each measuring point its own value in its
 *               individual time-out mode. Default 1000.
 *
 *   So a silent line costs the request's wire time plus time-out 3, and the longest possible
 *   wait for an answer is that plus COMPORT_TEXT_SIZE times (one byte's wire time plus
 *   time-out 2 plus the burst allowance). An answer that starts late, as long as it starts
 *   within time-out 3, is kept; an answer that is complete returns at once. An answer longer than the buffer fails with COMPORT_ERR_OVERFLOW at once.
 *
 *   The environment variable COMPORT_ANSWER_TIMEOUT_MS raises time-out 3 to the milliseconds it
 *   names where the port's own is lower (a whole number, at most COMPORT_ANSWER_TIMEOUT_MAX_MS;
 *   any other value is ignored), read at every answer. It is for rigs whose far end is a program
 *   that may be woken late (a simulator on a busy machine), not for instruments: silence then
 *   costs the raised time-out.
 *
 * ---------------------------------------------------------------------------------------------
 * A line that goes away: when a write or a wait finds the line gone (the device unplugged, the
 * far end of a pseudo-terminal closed), the port is closed at once and the call fails with
 * COMPORT_ERR_IO; the port object still counts as open, and the next TransmitCOMPOneByte opens
 * the same port name again with the same settings before it writes. A reopen that fails fails
 * that transmit with the open's result, and the next transmit tries again.
 */
#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define COMPORT_OK 0
#define COMPORT_ERR_HANDLE (-1)        /* no port object with this handle */
#define COMPORT_ERR_ARGUMENT (-2)      /* bad argument: port name, baud rate, null pointer */
#define COMPORT_ERR_UNKNOWN_PORT (-3)  /* no such port */
#define COMPORT_ERR_PORT_BUSY (-4)     /* the port is in use by another program */
#define COMPORT_ERR_OPEN (-5)          /* the port exists but cannot be opened or set up */
#define COMPORT_ERR_NOT_OPEN (-6)      /* the port is not open */
#define COMPORT_ERR_IO (-7)            /* the line failed (read or write error, device gone) */
#define COMPORT_ERR_WRITE_TIMEOUT (-8) /* the request could not be written in time (time-out 1) */
#define COMPORT_ERR_GAP (-9)           /* the answer broke off (time-out 2) */
#define COMPORT_ERR_NO_ANSWER (-10)    /* no answer within time-out 3 */
#define COMPORT_ERR_OVERFLOW (-11)     /* the answer did not end within the buffer */
#define COMPORT_ERR_NO_REQUEST (-12)   /* ReciveCOMPOneByte without a request sent before it */
#define COMPORT_ERR_NO_WINDOW (-13)    /* ShowCOMWin without a running window application */
#define COMPORT_ERR_ACCESS (-14)       /* the user may not open the port; the text of the last such
                                          refusal names the device and the group that may open it */

/* Buffer size of every text the library reads or writes, terminator included. */
#define COMPORT_TEXT_SIZE 255
/* Added to time-out 2: how long a USB adapter may hold received bytes before it passes them on
 * (its latency timer) and a busy PC may take to read them. */
#define COMPORT_BURST_ALLOWANCE_MS 50
/* The highest answer time-out that COMPORT_ANSWER_TIMEOUT_MS may set (see the time-outs above). */
#define COMPORT_ANSWER_TIMEOUT_MAX_MS 60000

/* Defaults of a new port object. */
#define COMPORT_DEFAULT_PORT "COM1"
#define COMPORT_DEFAULT_BAUD 9600
#define COMPORT_DEFAULT_TIMEOUT1 100
#define COMPORT_DEFAULT_TIMEOUT2 10
#define COMPORT_DEFAULT_TIMEOUT3 1000

/* A new port object, closed, with the defaults above; owner is the application's window (the
 * parent of the settings dialog). 0 when none can be made. */
uint32_t CreateCOM(uint32_t owner);

/* Stores port name, baud rate and time-outs. An open port takes them at once (a new name closes
 * it and opens the new one). False for a name that cannot name a port (an empty one too) or does
 * not fit the buffer, or a baud rate the serial layer does not offer: the port object then has no
 * port at all, not the one set before. It is closed, and every open (OpenCOM, the reopen of
 * TransmitCOMPOneByte) fails with COMPORT_ERR_ARGUMENT until a setting is taken; GetCOMCfg gives
 * the refused setting back as it came. False too when an open port cannot take the new settings
 * (it is then closed). */
bool SetCOMCfg(uint32_t handle, const char *port, uint16_t baud, uint16_t timeOut1, uint16_t timeOut2,
               uint16_t timeOut3);

/* The baud rates that SetCOMCfg takes, ascending, ended by 0. */
const uint16_t *GetCOMBaudRates(void);

/* The stored settings: the port name into *port, the numbers into the rest. */
bool GetCOMCfg(uint32_t handle, char **port, uint16_t *baud, uint16_t *timeOut1, uint16_t *timeOut2,
               uint16_t *timeOut3);

/* The port settings dialog: port (the ports present, as ex_com lists them, EX_COM_EXTRA_PORTS
 * honoured; a name may also be typed), baud rate and the three time-outs. x and y place its top
 * left corner; -1, -1 centres it on the owner. Modal; runs on the thread of the window
 * application. OK with a change stores the settings as SetCOMCfg does and sets *changed to 1,
 * else *changed is 0. True when the dialog was shown. */
bool ShowCOMWin(uint32_t handle, int32_t x, int32_t y, uint8_t *changed);

/* Opens the configured port; true at once when it is open already. A failed open still marks
 * the port as wanted open: each TransmitCOMPOneByte then tries the open again, until CloseCOM. */
bool OpenCOM(uint32_t handle);
/* Closes the port; true also when it was closed. */
bool CloseCOM(uint32_t handle);

/* Sends one request (the caller's text, terminator included); true when it went out. */
bool TransmitCOMPOneByte(uint32_t handle, const char *request);
/* Waits for the answer to the last request and writes it, without its terminator, into the
 * caller's buffer (COMPORT_TEXT_SIZE bytes). On failure the buffer holds the empty text. */
bool ReciveCOMPOneByte(uint32_t handle, char **answer);

/* The result of the last call on the port object (COMPORT_ERR_HANDLE for an unknown handle). */
int32_t GetCOMLastError(uint32_t handle);
/* The text of a result code; the library's, valid for good. A code the library does not know
 * gets a text that names it, valid until the next such call on the same thread. */
const char *GetCOMErrorText(int32_t code);

/* The longest one exchange may take with these settings, in milliseconds, rounded up: the write
 * of a request of COMPORT_TEXT_SIZE bytes and the wait for an answer of as many bytes, by the
 * time-out rule above. 0 for a baud rate of 0. */
uint32_t GetCOMExchangeLimit(uint16_t baud, uint16_t timeOut1, uint16_t timeOut2, uint16_t timeOut3);

#ifdef __cplusplus
}
#endif

#endif
