#ifndef PROTOCOL_H
#define PROTOCOL_H
/*
 * protocol: requests to and answers from the measuring instruments on the data driver's line.
 *
 * Plain C interface. The library builds the request text for one channel of one instrument and
 * decodes the answer text that comes back; the serial port (comport) carries both.
 *
 * ---------------------------------------------------------------------------------------------
 * Wire format: ASCII, one line a message, every field of fixed width.
 *
 *   request   #III:KKK:CCC:SS*XXXX<CR>        21 bytes
 *   answer    !III:CCC:SS:value*XXXX<CR>      value 1 to 32 characters
 *
 *   III   instrument number, 3 decimal digits (000..255)
 *   KKK   command, 3 decimal digits; 001 reads the channel's measured value (the only one)
 *   CCC   channel number, 3 decimal digits (000..255)
 *   SS    sequence number of the request, 2 upper-case hexadecimal digits; the answer repeats
 *         it, so that a late answer to an earlier request is told apart from the answer awaited
 *   value the measured value as a decimal number: an optional "-", digits, optionally "." and
 *         more digits (for example 23.456, -0.5, 1000); or an instrument error: "$" and a code
 *         of two decimal digits, optionally followed by a blank and a text:
 *           $01 unknown command     $02 no such channel     $03 sensor break
 *           $04 over range          $05 under range
 *   XXXX  CRC-16/MODBUS (polynomial 0xA001 reflected, initial 0xFFFF) of every byte from the
 *         leading "#" or "!" up to the "*", as 4 upper-case hexadecimal digits
 *   <CR>  carriage return (13): the terminator at which comport ends an answer
 *
 *   Example: "#001:001:003:2A*xxxx\r" asks instrument 1 for channel 3, and
 *   "!001:003:2A:23.456*xxxx\r" answers it.
 *
 * An instrument answers only a request with a valid CRC that names its own number, and answers
 * nothing at all to anything else.
 *
 * ---------------------------------------------------------------------------------------------
 * Decoding (VKS2810_AnalysisParcel) accepts an answer only when:
 *   - it has the layout above (a trailing CR and LF are allowed; bytes before the last "!" are
 *     line noise and skipped), and its CRC matches;
 *   - it names the instrument asked for;
 *   - it names the channel and the sequence number of the last request that this thread built
 *     for that instrument with VKS2810_CreateParcel.
 * So the answer of another instrument or channel, a late answer to an earlier request and a
 * damaged answer are all failed decodes, with a result code saying which (VKS2810_LastError).
 * The decoded value is the value field as it stands; an instrument error keeps its "$".
 */
#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of the last call on this thread. */
#define VKS2810_OK 0
#define VKS2810_ERR_ARGUMENT (-1)    /* null pointer */
#define VKS2810_ERR_FORMAT (-2)      /* not an answer of the layout above */
#define VKS2810_ERR_CRC (-3)         /* the CRC does not match */
#define VKS2810_ERR_INSTRUMENT (-4)  /* the answer of another instrument */
#define VKS2810_ERR_CHANNEL (-5)     /* the answer for another channel */
#define VKS2810_ERR_SEQUENCE (-6)    /* the answer to an earlier request (late) */
#define VKS2810_ERR_NO_REQUEST (-7)  /* no request was built for this instrument */
#define VKS2810_ERR_VALUE (-8)       /* the value field is neither a number nor an error */

/* Commands. */
#define VKS2810_CMD_READ_VALUE 1

/* Size of the value buffer the caller provides, terminator included. */
#define VKS2810_VALUE_SIZE 255
/* Longest request and answer texts, terminator not included. */
#define VKS2810_REQUEST_LENGTH 21
#define VKS2810_MAX_ANSWER 49
#define VKS2810_MAX_VALUE 32

/* The request text for a command to one channel of an instrument, terminator included. The text
 * belongs to the library and stays valid until the next call on the same thread; each call takes
 * the next sequence number. */
const char *VKS2810_CreateParcel(uint8_t instrument, uint8_t command, uint8_t channel);

/* Decodes an answer to the last request built for instrument on this thread. True when it was
 * decoded: *value (VKS2810_VALUE_SIZE bytes) then holds the value text; on failure the buffer is
 * left as it was. */
bool VKS2810_AnalysisParcel(uint8_t instrument, const char *answer, char **value);

/* The result of the last call on this thread, and the text of a code (the library's, valid for
 * good). */
int32_t VKS2810_LastError(void);
const char *VKS2810_ErrorText(int32_t code);

#ifdef __cplusplus
}
#endif

#endif
