/*
 * ORVIX32 reader driver: the reader handle interface.
 *
 * Each orvix_reader is one reader on its own port with its own link state,
 * lock, trace and cancel: a process may open several readers (an entry and an
 * exit reader, a contactless and a contact reader, a row of attendance
 * terminals) and drive them from several threads at once. Calls on different
 * readers never wait for each other; calls on one reader run one after the
 * other, each whole. The flat functions of orvix32.h keep driving their own
 * process-wide link, separate from every reader opened here.
 *
 * Every command of orvix32.h has a counterpart here that takes the reader
 * first and, after every buffer, the size of that buffer in bytes. A function
 * checks each size before anything is sent: a buffer too small for what the
 * command reads or writes gives ORVIX_BUFFER_TOO_SMALL (output) or
 * ORVIX_BAD_ARGUMENT (input) and nothing is sent. Where the reply's length is
 * known only once it arrives, the reply is copied only when it fits, and
 * *received tells its length; a reply longer than the room gives
 * ORVIX_BUFFER_TOO_SMALL (the command was carried out; *received then holds
 * the length that was needed). Nothing is ever read or written past a size
 * given. Each function's arguments, buffer layouts and reader commands are
 * those of its orvix32.h counterpart, named with it below.
 *
 * Result codes: those of orvix32.h (0 success, 4 bad argument, 101 … 115
 * link errors, 3 and 19 of the contact families, SW1 * 256 + SW2 and 65536
 * for the CPU card, otherwise the reader's own status), and these, which no
 * reader status and no status word can be:
 */
#ifndef ORVIX_H
#define ORVIX_H

#include <stddef.h>

#include "orvix32.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ORVIX_OK 0
#define ORVIX_BAD_ARGUMENT 4
#define ORVIX_NO_STATUS_WORD 65536
/** The call was stopped by orvix_cancel; the line was purged and the reader
 * stays open and usable. */
#define ORVIX_CANCELLED 65537
/** An output buffer is smaller than the reply (see above). */
#define ORVIX_BUFFER_TOO_SMALL 65538
/** orvix_open: no such port (a COMn mapped to nothing, a missing device, not
 * a serial device, the system console). */
#define ORVIX_NO_PORT 65539
/** orvix_open: the port is held by another program or reader. */
#define ORVIX_PORT_BUSY 65540
/** orvix_open: the port may not be opened by this user. */
#define ORVIX_PERMISSION_DENIED 65541
/** orvix_end: the calling thread does not hold the reader. */
#define ORVIX_NOT_HELD 65542
/** Memory ran out, or a fault inside the library stopped the call. */
#define ORVIX_INTERNAL_ERROR 65543
/** A Mifare write or value step was cancelled after its whole frame had gone
 * out: the reader may have carried it out. Read the block or value back
 * before doing anything else; never repeat the command blindly. See
 * orvix_may_have_changed. */
#define ORVIX_CARD_MAY_HAVE_CHANGED 65544
/** orvix_open of a network port: the server refused the connection. */
#define ORVIX_CONNECTION_REFUSED 65545
/** orvix_open of a network port: the host name could not be resolved. */
#define ORVIX_HOST_NOT_FOUND 65546
/** orvix_open of a network port: no server accepted the connection in 3 s. */
#define ORVIX_CONNECT_TIMED_OUT 65547
/** orvix_open of an rfc2217:// port: the server does not speak RFC 2217 (it
 * refused or ignored the port control option). */
#define ORVIX_NOT_RFC2217 65548
/** orvix_open of a network port: the server's serial port is held by another
 * client ("Port already in use"), and was still held after retrying for 2 s. */
#define ORVIX_SERVER_BUSY 65549
/** orvix_open: the path names something that is not a serial device (a
 * regular file, a directory, a FIFO, a device of another kind). */
#define ORVIX_NOT_SERIAL 65550
/** orvix_set_trace_file: the trace file could not be opened (a missing
 * folder, no permission, a symbolic link). */
#define ORVIX_TRACE_NOT_OPENED 65551
/** orvix_open of a tcp:// port: the server answered the connection, but no
 * reader answered at the server's line speed, which a raw TCP port cannot
 * change: configure the server's speed, or use rfc2217:// (which can). */
#define ORVIX_SPEED_NOT_SETTABLE 65552
/** orvix_close: another thread holds the reader (orvix_begin without its
 * orvix_end); nothing was closed. */
#define ORVIX_READER_HELD 65553
/** A call that was waiting for the reader when orvix_close closed it. */
#define ORVIX_READER_CLOSED 65554

/** Families of reader statuses for orvix_status_text. */
#define ORVIX_FAMILY_READER 0     /* identity, signalling, the link */
#define ORVIX_FAMILY_MIFARE 1     /* the Mifare commands */
#define ORVIX_FAMILY_RF5550 2     /* RF5550 tags */
#define ORVIX_FAMILY_MEMORY 3     /* contact memory cards and AT1608 cards */
#define ORVIX_FAMILY_CPU 4        /* the CPU card and the SAM slots */
#define ORVIX_FAMILY_ATTENDANCE 5 /* the attendance terminal */

/** An open reader. Made by orvix_open, ended by orvix_close. */
typedef struct orvix_reader orvix_reader;

/** Line speeds for orvix_options.speed. */
#define ORVIX_SPEED_AUTO 0 /* 57600 bit/s, and 9600 when the reader does not answer */
#define ORVIX_SPEED_57600 57600
#define ORVIX_SPEED_9600 9600

/** How orvix_open links. A null options pointer means the defaults: speed
 * ORVIX_SPEED_AUTO, low_latency 1. */
typedef struct orvix_options {
  int speed;       /* ORVIX_SPEED_AUTO, ORVIX_SPEED_57600 or ORVIX_SPEED_9600 */
  int low_latency; /* 1: ask the serial driver for low latency (USB serial
                      adapters then pass bytes on at once; ORVIX32_LOW_LATENCY=0
                      in the environment still turns it off); 0: leave it */
} orvix_options;

/** orvix_open: open a port and link to the reader on it.
 *   port     a port name as orvix_port_device takes it: "COM1" … "COM10" or
 *            "0" … "9", a device path ("/dev/ttyUSB0") or a network URL
 *            ("tcp://HOST:PORT", "rfc2217://HOST:PORT"). Not null.
 *   options  as above; may be null.
 *   reader   out: the new reader on success, else null. Not null.
 * The port is opened exclusively, set to 8N1 without flow control and probed
 * (command 0) at 57600 bit/s, then at 9600 (by options.speed).
 * Over rfc2217:// the speed is changed on the open connection; a server
 * that answers "Port already in use" (it has not yet let the device go after
 * an earlier connection) is asked again for up to 2 s. Over tcp:// the speed
 * is the server's: only 57600 (or options.speed) is probed.
 * Returns 0 = linked; 4 = a null pointer, a malformed port name (see
 * orvix_port_device) or bad options; ORVIX_NO_PORT (a COMn mapped to
 * nothing, a missing device, the system console), ORVIX_NOT_SERIAL,
 * ORVIX_PORT_BUSY, ORVIX_PERMISSION_DENIED, ORVIX_CONNECTION_REFUSED,
 * ORVIX_HOST_NOT_FOUND, ORVIX_CONNECT_TIMED_OUT, ORVIX_NOT_RFC2217,
 * ORVIX_SERVER_BUSY = the port could not be opened; 101 … 115 = the port
 * opened but no reader answered the probe (the status of the last probe);
 * ORVIX_SPEED_NOT_SETTABLE (tcp://, see above); ORVIX_INTERNAL_ERROR.
 * Nothing stays open on failure. */
ORVIX32_API int ORVIX32_CALL orvix_open(const char* port, const orvix_options* options,
                                        orvix_reader** reader);

/** orvix_close: close the reader and free it. Releases everything the open
 * took: the exclusive mode, the low-latency flag (put back as found) and the
 * descriptor. A call in progress on the reader is cancelled first and waited
 * for; calls already waiting for the reader return ORVIX_READER_CLOSED before
 * the reader is freed. No thread may start a call on the reader once
 * orvix_close has begun, and the pointer is invalid after it. A transaction
 * (orvix_begin) of the calling thread ends with the close; one held by
 * another thread makes orvix_close return ORVIX_READER_HELD at once, with the
 * reader left open (that thread's orvix_end, then orvix_close again).
 * It does not pause. The flat UnLinkCom keeps its 1000 ms pause because a
 * program written for it may link again at once on the same port and rely on
 * the reader having settled; a reader closed here is never relinked through
 * this handle, and a new orvix_open probes the reader before any command.
 *   reader  may be null (nothing is done).
 * In a process forked from the opener only that process's descriptor is
 * closed: the opener keeps the port, its exclusive mode and its flag.
 * Returns 0; 1 when the port's close reported an error (it is released all
 * the same); ORVIX_READER_HELD as above. */
ORVIX32_API int ORVIX32_CALL orvix_close(orvix_reader* reader);

/** orvix_cancel: stop the call in progress on the reader, from any thread or
 * from a signal handler (it only sets a flag and writes one byte to a pipe).
 * That call returns ORVIX_CANCELLED within 10 ms (ORVIX_CARD_MAY_HAVE_CHANGED
 * for a Mifare write or value step whose frame had gone out), on every
 * transport; the line is purged and the reader stays usable. A reader interrupted inside a frame
 * abandons it once the line has been quiet for a while: the next call on the reader first waits
 * until 350 ms have passed since the cancel, then purges the line again. With no call in progress
 * nothing happens: a later call is not affected. Calls waiting for the reader are not cancelled.
 * Returns 0, or 4 for a null reader. */
ORVIX32_API int ORVIX32_CALL orvix_cancel(orvix_reader* reader);

/** orvix_begin / orvix_end: hold the reader across several calls. Between
 * them the calling thread's calls on the reader run one after another with no
 * other thread's call in between; other threads' calls on the reader wait
 * until orvix_end. They nest: the reader is released by the orvix_end that
 * matches the first orvix_begin.
 * Returns 0; 4 for a null reader; orvix_end: ORVIX_NOT_HELD when the calling
 * thread does not hold the reader. */
ORVIX32_API int ORVIX32_CALL orvix_begin(orvix_reader* reader);
ORVIX32_API int ORVIX32_CALL orvix_end(orvix_reader* reader);

/** orvix_strerror: a short English text for a result code, never null and
 * never to be freed: "success", "bad argument", each link error's step ("no
 * answer to sync", …), "cancelled", "buffer too small", … Codes the library
 * does not define itself (the reader's own statuses, status words) give
 * "reader status". */
ORVIX32_API const char* ORVIX32_CALL orvix_strerror(int code);

/** orvix_status_text: the meaning of a reader status in the command family
 * (ORVIX_FAMILY_…) of the call that returned it ("no card", "authentication
 * refused", …). For a code that is not a status the reader gives in that
 * family (0, 4, the link errors, the codes above, status words, an unknown
 * family), the very pointer orvix_strerror(code) returns. Never null, static
 * storage, never to be freed. */
ORVIX32_API const char* ORVIX32_CALL orvix_status_text(int family, int code);

/** orvix_port_device: the device a port name opens, as orvix_open maps it.
 *   name       "COM1" … "COM10" (any case) or "0" … "9": the device named by
 *              ORVIX32_COMn when it is set, else /dev/ttyS<n-1> (on Windows
 *              \\.\COMn); a device path (holding a '/' or '\\'): as it is; a
 *              URL "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (scheme in any
 *              case): as it is.
 *   path       out: the device, NUL-terminated; path_size bytes of room.
 * Returns 0; 4 = a null pointer or a malformed name (COM0, COM11 and above,
 * COM01, "10", a URL of another scheme or without a port, a name that is
 * none of the above); ORVIX_NO_PORT = ORVIX32_COMn is set but empty (no such
 * port); ORVIX_BUFFER_TOO_SMALL = the device and its NUL do not fit (path is
 * then left as it was). */
ORVIX32_API int ORVIX32_CALL orvix_port_device(const char* name, char* path, int path_size);

/** orvix_port_check: whether orvix_open would try to open the port, found
 * without opening anything (the check orvix_open makes before it opens).
 *   name  a port name as orvix_port_device takes it.
 * Returns 0 = orvix_open would open it (it may still find the port busy or
 * no reader on it; a network port is known only by connecting, so a
 * well-formed URL gives 0); 4 = a null pointer or a malformed name (see
 * orvix_port_device); ORVIX_NO_PORT = a COMn mapped to nothing, a missing
 * device or the system console; ORVIX_NOT_SERIAL = not a character device,
 * or one whose kernel class is not tty (such a device is never opened:
 * opening some acts); ORVIX_PERMISSION_DENIED = this user may not read and
 * write it; ORVIX_INTERNAL_ERROR. */
ORVIX32_API int ORVIX32_CALL orvix_port_check(const char* name);

/** orvix_may_have_changed: 1 when the reader's last call failed or was
 * cancelled after the frame of a command that changes the card had gone out
 * (a Mifare block or key write, a value write, increment or decrement), so
 * that the card may hold the new data or value; else 0 (also for a null
 * reader). The value steps are then never repeated by the library; read the
 * card back before anything else. The last call's result is then a link
 * error (108 … 115), ORVIX_CARD_MAY_HAVE_CHANGED (cancelled) or a reader
 * status that followed a lost answer. */
ORVIX32_API int ORVIX32_CALL orvix_may_have_changed(orvix_reader* reader);

/** orvix_port_name: the port as given to orvix_open ("COM3",
 * "/dev/ttyUSB0"); null for a null reader. Valid until orvix_close. */
ORVIX32_API const char* ORVIX32_CALL orvix_port_name(orvix_reader* reader);

/** orvix_baud_rate: the line speed of the reader's link, 57600 or 9600 (0
 * while a relink has found no reader: the next call links again, 57600
 * first); 0 for a null reader. It waits for a call in progress, is never
 * cancelled and never returns a result code. */
ORVIX32_API int ORVIX32_CALL orvix_baud_rate(orvix_reader* reader);

/** orvix_relink: close the port and link again as orvix_open did (the same
 * port and options), without a pause. Returns as orvix_open. */
ORVIX32_API int ORVIX32_CALL orvix_relink(orvix_reader* reader);

/** One exchange as a trace callback sees it. The pointers are valid during
 * the callback only. */
typedef struct orvix_exchange {
  const char* port;          /* as orvix_port_name */
  int command;               /* the command byte */
  const unsigned char* sent; /* every byte written, sync and poll included */
  size_t sent_length;
  const unsigned char* received; /* every byte read */
  size_t received_length;
  int status;          /* 0, 101 … 115 or the reader's status */
  double milliseconds; /* from the sync byte to the last byte */
} orvix_exchange;

typedef void(ORVIX32_CALL* orvix_trace_callback)(void* user, const orvix_exchange* exchange);

/** orvix_set_trace_file: trace the reader's exchanges into a file, in the
 * format of ORVIX32_TRACE (which, when set, also traces every reader; lines
 * name the port). path "-" is standard error; null stops this trace.
 * The file is opened without waiting, appended to, created 0600 (it holds
 * every key sent), never inherited; a path that is a symbolic link is
 * refused.
 * Returns 0; 4 for a null reader; ORVIX_TRACE_NOT_OPENED when the file
 * cannot be opened. */
ORVIX32_API int ORVIX32_CALL orvix_set_trace_file(orvix_reader* reader, const char* path);

/** orvix_set_trace_callback: call back after each exchange of the reader, on
 * the calling thread, with the reader held; the callback must not call the
 * reader. A null callback stops it. Returns 0, or 4 for a null reader. */
ORVIX32_API int ORVIX32_CALL orvix_set_trace_callback(orvix_reader* reader,
                                                      orvix_trace_callback callback, void* user);

/* ===== Reader identity and signalling ====================================== */

/** As GetDeviceNumber; number_size >= 8. */
ORVIX32_API int ORVIX32_CALL orvix_device_number(orvix_reader* reader, unsigned char* number,
                                                 size_t number_size);
/** As DEVVER; version_size >= 8. */
ORVIX32_API int ORVIX32_CALL orvix_device_version(orvix_reader* reader, unsigned char* version,
                                                  size_t version_size);
/** As ALARM. */
ORVIX32_API int ORVIX32_CALL orvix_alarm(orvix_reader* reader, int select, int a, int b, int c);

/* ===== Mifare cards (the RFMifare_ functions) ============================== */
/* Sent with the retrying exchange, as the RFMifare_ functions are: after a
 * link error the reader is relinked and the command repeated. Unlike the
 * flat functions, which send the low byte of each number, these refuse with
 * ORVIX_BAD_ARGUMENT, before anything is sent, a block outside 0 … 255, a
 * key-memory sector (trans_key, load_key, authenticate) outside 0 … 15 and a
 * card sector (write_key) outside 0 … 39. Keys are 6
 * bytes (key_size >= 6), blocks 16 (data_size >= 16), type and serial
 * buffers 4 (size >= 4). Output buffers are filled whatever the status, as
 * in orvix32.h. */

ORVIX32_API int ORVIX32_CALL orvix_mifare_module(orvix_reader* reader, unsigned char* info,
                                                 size_t info_size); /* RFMifare_Mcmno */
ORVIX32_API int ORVIX32_CALL orvix_mifare_trans_key(orvix_reader* reader, int sector,
                                                    const unsigned char* key,
                                                    size_t key_size); /* RFMifare_TransKey */
ORVIX32_API int ORVIX32_CALL orvix_mifare_auth_mode(orvix_reader* reader,
                                                    int mode); /* RFMifare_Authmode */
ORVIX32_API int ORVIX32_CALL orvix_mifare_get_type(orvix_reader* reader, unsigned char* type,
                                                   size_t type_size); /* RFMifare_GetType */
ORVIX32_API int ORVIX32_CALL orvix_mifare_get_serial(orvix_reader* reader, unsigned char* serial,
                                                     size_t serial_size); /* RFMifare_GetSnr */
ORVIX32_API int ORVIX32_CALL orvix_mifare_read_block(orvix_reader* reader, int block, int serial,
                                                     unsigned char* data,
                                                     size_t data_size); /* RFMifare_ReadBlock */
ORVIX32_API int ORVIX32_CALL orvix_mifare_write_block(orvix_reader* reader, int block, int serial,
                                                      unsigned char* data,
                                                      size_t data_size); /* RFMifare_WriteBlock */
ORVIX32_API int ORVIX32_CALL orvix_mifare_write_key(orvix_reader* reader, int sector, int serial,
                                                    const unsigned char* key, size_t key_size,
                                                    int last); /* RFMifare_WriteKey */
ORVIX32_API int ORVIX32_CALL orvix_mifare_read_value(orvix_reader* reader, int block, int serial,
                                                     int* value); /* RFMifare_ReadValue */
ORVIX32_API int ORVIX32_CALL orvix_mifare_write_value(orvix_reader* reader, int block, int serial,
                                                      int* value); /* RFMifare_WriteValue */
/** RFMifare_IncrementValue / RFMifare_DecrementValue. A link error after the
 * command went out is not repeated: the card's value is then unknown and must
 * be read back (orvix_may_have_changed says 1). */
ORVIX32_API int ORVIX32_CALL orvix_mifare_increment_value(orvix_reader* reader, int block,
                                                          int serial, int* value);
ORVIX32_API int ORVIX32_CALL orvix_mifare_decrement_value(orvix_reader* reader, int block,
                                                          int serial, int* value);
ORVIX32_API int ORVIX32_CALL orvix_mifare_load_key(orvix_reader* reader, int mode, int sector,
                                                   const unsigned char* key,
                                                   size_t key_size); /* RFMifare_LoadKey */
ORVIX32_API int ORVIX32_CALL orvix_mifare_request(orvix_reader* reader, int mode,
                                                  unsigned char* type,
                                                  size_t type_size); /* RFMifare_Request */
ORVIX32_API int ORVIX32_CALL orvix_mifare_anticoll(orvix_reader* reader, unsigned char* serial,
                                                   size_t serial_size); /* RFMifare_AntiColl */
ORVIX32_API int ORVIX32_CALL orvix_mifare_select(orvix_reader* reader,
                                                 int serial); /* RFMifare_Select */
ORVIX32_API int ORVIX32_CALL orvix_mifare_authenticate(orvix_reader* reader, int key_type,
                                                       int sector,
                                                       int block); /* RFMifare_Authentication */
ORVIX32_API int ORVIX32_CALL orvix_mifare_read(orvix_reader* reader, int block, unsigned char* data,
                                               size_t data_size); /* RFMifare_Read */
ORVIX32_API int ORVIX32_CALL orvix_mifare_write(orvix_reader* reader, int block,
                                                const unsigned char* data,
                                                size_t data_size); /* RFMifare_Write */
/** RFMifare_Increment / RFMifare_Decrment; not repeated after a lost reply,
 * as orvix_mifare_increment_value. */
ORVIX32_API int ORVIX32_CALL orvix_mifare_increment(orvix_reader* reader, int block, int value);
ORVIX32_API int ORVIX32_CALL orvix_mifare_decrement(orvix_reader* reader, int block, int value);
ORVIX32_API int ORVIX32_CALL orvix_mifare_halt(orvix_reader* reader); /* RFMifare_Halt */

/* ===== RF5550 tags (the RF5550_ functions) ================================= */
/* Passwords are 4 bytes (password_size >= 4), written blocks 4
 * (data_size >= 4). A block read copies the whole reply when it fits. */

ORVIX32_API int ORVIX32_CALL orvix_rf5550_read_block(orvix_reader* reader, int block,
                                                     unsigned char* buffer, size_t buffer_size,
                                                     size_t* received); /* RF5550_ReadBlk */
ORVIX32_API int ORVIX32_CALL orvix_rf5550_write_block(orvix_reader* reader, int block,
                                                      const unsigned char* password,
                                                      size_t password_size, unsigned char* data,
                                                      size_t data_size,
                                                      int option); /* RF5550_WriteBlk */
/** RF5550_Init; config: config_count >= 10 ints. */
ORVIX32_API int ORVIX32_CALL orvix_rf5550_init(orvix_reader* reader, const int* config,
                                               size_t config_count, const unsigned char* password,
                                               size_t password_size, int option);
ORVIX32_API int ORVIX32_CALL orvix_rf5550_wake(orvix_reader* reader, const unsigned char* password,
                                               size_t password_size); /* RF5550_Wake */
ORVIX32_API int ORVIX32_CALL orvix_rf5550_read_after_wake(
    orvix_reader* reader, int block, const unsigned char* password, size_t password_size,
    unsigned char* buffer, size_t buffer_size, size_t* received); /* RF5550_ReadAfterWake */
ORVIX32_API int ORVIX32_CALL orvix_rf5550_write_after_wake(orvix_reader* reader, int block,
                                                           const unsigned char* password,
                                                           size_t password_size,
                                                           unsigned char* data, size_t data_size,
                                                           int option); /* RF5550_WriteAfterWake */
ORVIX32_API int ORVIX32_CALL orvix_rf5550_module(orvix_reader* reader, unsigned char* number,
                                                 size_t number_size); /* RF5550_Mcmno */

/* ===== Contact memory cards ================================================ */
/* The card-type rules of orvix32.h apply per reader: each reader keeps its own
 * selected type. A code buffer's size must hold what the selected type reads
 * and writes (4 bytes for types 0 and 15 … 17, else length). Card reads and
 * writes need buffer_size >= length. */

ORVIX32_API int ORVIX32_CALL orvix_power_on(orvix_reader* reader);              /* PowerOn */
ORVIX32_API int ORVIX32_CALL orvix_power_off(orvix_reader* reader);             /* PowerOff */
ORVIX32_API int ORVIX32_CALL orvix_select_card(orvix_reader* reader, int type); /* SelectCard */
ORVIX32_API int ORVIX32_CALL orvix_verify_ic(orvix_reader* reader);             /* VerifyIC */
ORVIX32_API int ORVIX32_CALL orvix_inquire(orvix_reader* reader, int* type, int* second,
                                           int* power); /* Inquire */
ORVIX32_API int ORVIX32_CALL orvix_check_secret(orvix_reader* reader, int length,
                                                unsigned char* code,
                                                size_t code_size); /* CheckSecret */
/** ReadSecret; counter_size >= 2, code_size >= 8. */
ORVIX32_API int ORVIX32_CALL orvix_read_secret(orvix_reader* reader, unsigned char* counter,
                                               size_t counter_size, unsigned char* code,
                                               size_t code_size);
ORVIX32_API int ORVIX32_CALL orvix_modify_secret(orvix_reader* reader, int length,
                                                 unsigned char* code,
                                                 size_t code_size); /* ModifySecret */
ORVIX32_API int ORVIX32_CALL orvix_read_card(orvix_reader* reader, int area, int page, int address,
                                             int length, unsigned char* buffer,
                                             size_t buffer_size); /* ReadCard */
ORVIX32_API int ORVIX32_CALL orvix_write_card(orvix_reader* reader, int area, int page, int address,
                                              int length, unsigned char* buffer,
                                              size_t buffer_size); /* WriteCard */
ORVIX32_API int ORVIX32_CALL orvix_erase_card(orvix_reader* reader, int area, int page, int address,
                                              int length, unsigned char* buffer,
                                              size_t buffer_size);        /* EraseCard */
ORVIX32_API int ORVIX32_CALL orvix_fuse(orvix_reader* reader, int value); /* Fuse */
/** CheckEraseSecret; key_size >= the key length of the selected type. */
ORVIX32_API int ORVIX32_CALL orvix_check_erase_secret(orvix_reader* reader, int selector,
                                                      unsigned char* key, size_t key_size);
/** CheckZoneSecret; code_size >= 2. */
ORVIX32_API int ORVIX32_CALL orvix_check_zone_secret(orvix_reader* reader, int zone,
                                                     unsigned char* code, size_t code_size);
ORVIX32_API int ORVIX32_CALL orvix_set_zone_rw_bit(orvix_reader* reader, int zone,
                                                   int bits);         /* SetZoneRWBit */
ORVIX32_API int ORVIX32_CALL orvix_set_standby(orvix_reader* reader); /* SetStandby */
ORVIX32_API int ORVIX32_CALL orvix_read_mem_card(orvix_reader* reader, int address, int length,
                                                 unsigned char* buffer,
                                                 size_t buffer_size); /* ReadMemCard */
ORVIX32_API int ORVIX32_CALL orvix_write_mem_card(orvix_reader* reader, int address, int length,
                                                  unsigned char* buffer,
                                                  size_t buffer_size); /* WriteMemCard */
ORVIX32_API int ORVIX32_CALL orvix_erase_mem_card(orvix_reader* reader, int address, int length,
                                                  unsigned char* buffer,
                                                  size_t buffer_size); /* EraseMemCard */

/* ===== AT1608 secure memory cards ========================================== */

ORVIX32_API int ORVIX32_CALL orvix_at1608_write(orvix_reader* reader, int zone, int address,
                                                int length, const unsigned char* data,
                                                size_t data_size); /* AT1608_Write */
ORVIX32_API int ORVIX32_CALL orvix_at1608_read(orvix_reader* reader, int zone, int address,
                                               int length, unsigned char* buffer,
                                               size_t buffer_size); /* AT1608_Read */
/** AT1608_Psw; password_size >= 4. */
ORVIX32_API int ORVIX32_CALL orvix_at1608_password(orvix_reader* reader, int index,
                                                   unsigned char* password, size_t password_size);
/** AT1608_Authentic; challenge_size >= 8, secret_size >= 8. */
ORVIX32_API int ORVIX32_CALL orvix_at1608_authenticate(orvix_reader* reader,
                                                       unsigned char* challenge,
                                                       size_t challenge_size,
                                                       const unsigned char* secret,
                                                       size_t secret_size);
/** AT1608_ReadFuse; fuse_size >= 1. */
ORVIX32_API int ORVIX32_CALL orvix_at1608_read_fuse(orvix_reader* reader, unsigned char* fuse,
                                                    size_t fuse_size);
ORVIX32_API int ORVIX32_CALL orvix_at1608_reset(orvix_reader* reader); /* AT1608_Reset */

/* ===== CPU card and SAM slots ============================================== */
/* slot 0 is the CPU card, 1 … 4 the SAMs (another slot gives 4). The
 * protocol and the T=1 sequence bit are the reader's own, shared by its five
 * slots. */

/** CPUCardProtocolType: 1 for T=1, else 0; 0 for a null reader. As
 * orvix_baud_rate, never cancelled and never a result code. */
ORVIX32_API int ORVIX32_CALL orvix_cpu_protocol(orvix_reader* reader);
/** CpuCardReset, SamCard1Reset …: answer[0] = the length n of the answer to
 * reset, then its n bytes; *received = 1 + n. Needs answer_size >= 1 + n. */
ORVIX32_API int ORVIX32_CALL orvix_cpu_reset(orvix_reader* reader, int slot, unsigned char* answer,
                                             size_t answer_size, size_t* received);
/** ProCpuCardCmd, ProSamCard1Cmd …: the fixed layout; command_size >= 134,
 * response: response[0] = n, then n bytes; needs response_size >= 1 + n. */
ORVIX32_API int ORVIX32_CALL orvix_cpu_command(orvix_reader* reader, int slot,
                                               const unsigned char* command, size_t command_size,
                                               unsigned char* response, size_t response_size);
/** ProCpuCard, ProSamCard1 …: the packed layout; command is in/out and
 * command_size must hold 10 + Lc bytes (and at least 6 + Lc to be read);
 * response as orvix_cpu_command. */
ORVIX32_API int ORVIX32_CALL orvix_cpu_packed(orvix_reader* reader, int slot,
                                              unsigned char* command, size_t command_size,
                                              unsigned char* response, size_t response_size);

/* ===== Attendance terminal (the KQ_ functions) ============================= */

ORVIX32_API int ORVIX32_CALL orvix_kq_end_trans(orvix_reader* reader); /* KQ_EndTrans */
/** KQ_GetTime / KQ_SetTime; clock: 7 ints. */
ORVIX32_API int ORVIX32_CALL orvix_kq_get_time(orvix_reader* reader, int* clock);
ORVIX32_API int ORVIX32_CALL orvix_kq_set_time(orvix_reader* reader, const int* clock);
/** KQ_GetCurrentPos, KQ_GetStartPos, KQ_GetEndPos; date: 3 ints;
 * position_size >= 4. */
ORVIX32_API int ORVIX32_CALL orvix_kq_current_pos(orvix_reader* reader, int* first,
                                                  unsigned char* position, size_t position_size);
ORVIX32_API int ORVIX32_CALL orvix_kq_start_pos(orvix_reader* reader, const int* date, int* first,
                                                unsigned char* position, size_t position_size);
ORVIX32_API int ORVIX32_CALL orvix_kq_end_pos(orvix_reader* reader, const int* date, int* first,
                                              unsigned char* position, size_t position_size);
ORVIX32_API int ORVIX32_CALL orvix_kq_read_record(orvix_reader* reader, int selector, int number,
                                                  int count, unsigned char* buffer,
                                                  size_t buffer_size,
                                                  size_t* received);  /* KQ_ReadRecord */
ORVIX32_API int ORVIX32_CALL orvix_kq_sys_init(orvix_reader* reader); /* KQ_SysInit */
/** KQ_Display; text_size >= 16. */
ORVIX32_API int ORVIX32_CALL orvix_kq_display(orvix_reader* reader, const unsigned char* text,
                                              size_t text_size);
/** KQ_TransCmd; buffer_size >= length - 1 to be read, and on status 0 it
 * must hold 1 + the reply's length (buffer[0] = that length). */
ORVIX32_API int ORVIX32_CALL orvix_kq_trans_cmd(orvix_reader* reader, int code, int length,
                                                unsigned char* buffer, size_t buffer_size);
/** KQ_DownloadPSW; password_size >= 4 for kind 1, else >= 6. */
ORVIX32_API int ORVIX32_CALL orvix_kq_download_password(orvix_reader* reader, int kind,
                                                        const unsigned char* password,
                                                        size_t password_size);

#ifdef __cplusplus
}
#endif

#endif /* ORVIX_H */
