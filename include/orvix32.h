/*
 * ORVIX32 reader driver: the flat C interface.
 *
 * The library owns one serial link to a desktop card reader/writer. Every
 * function below is one (or a few) command/response exchanges with the reader
 * over that link, made on the caller's thread.
 *
 * Calls are serialized: every function that talks to the reader or reads the
 * library's state holds one process-wide lock for its whole call, so calls
 * from several threads are carried out one after the other, each whole (a
 * Mifare call's relinks and UnLinkCom's 1000 ms pause included); a call made
 * meanwhile waits for its turn. DLLVER, EnDesData, UnDesData, KQ_Daysbyte and
 * KQ_Datebyte compute on the host, share nothing and take no lock.
 *
 * Result codes shared by the whole interface:
 *   0          success
 *   101 … 115  link errors raised by the frame exchange itself:
 *              101 sync byte not written        109 acknowledge byte is not 0x67
 *              102 no answer to the sync byte   110 poll byte not written
 *              103 answer to sync is not 0x45   111 no status byte
 *              104 command byte not written     112 no length byte
 *              105 length byte not written      113 response data cut short
 *              106 command data not written     114 no checksum byte
 *              107 checksum byte not written    115 response checksum mismatch
 *              108 no acknowledge byte
 *   4          an argument is out of range, or a pointer the function needs
 *              is null; nothing was sent
 *   other      the reader's own status for the command, passed through
 *
 * Buffers belong to the caller; sizes are given with each function. The
 * library never keeps a pointer after returning.
 *
 * Ports: index 0 is "COM1" … 9 is "COM10". On POSIX systems port index i
 * opens the device named by the environment variable ORVIX32_COM<i+1> when it
 * is set, else /dev/ttyS<i>. The active system console is never opened.
 *
 * A port whose ORVIX32_COM<i+1> value is a URL reaches a reader behind a
 * serial device server (on Windows too), within a 3 s connect limit:
 *   tcp://HOST:PORT      a raw byte stream. The line speed and framing are
 *                        the server's settings: LinkCom's 57600 / 9600
 *                        fall-back cannot change them, so set the server
 *                        to the reader's speed (57600 8N1).
 *   rfc2217://HOST:PORT  Telnet with COM Port Control (RFC 2217): the
 *                        library sets the speed (57600, then 9600), 8N1 and
 *                        no flow control, and purges, as on a local port.
 * HOST may be a name, an IPv4 address or [an IPv6 address]. A connection
 * refused, reset or closed gives link errors as a reader that went away
 * does; the Mifare relink reconnects.
 */
#ifndef ORVIX32_H
#define ORVIX32_H

#if defined(_WIN32)
#define ORVIX32_CALL __stdcall
#else
#define ORVIX32_CALL
#endif

#if defined(ORVIX32_BUILDING) && !defined(_WIN32)
#define ORVIX32_API __attribute__((visibility("default")))
#else
#define ORVIX32_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ===== Link management ===================================================== */

/** LinkCom: link to the reader on one port.
 *   port  0 = COM1 … 9 = COM10.
 * Closes any open port first (with its 1000 ms pause), then opens the port at
 * 57600 bit/s and probes the reader; failing that, at 9600 bit/s.
 * Returns 0 = the reader answered the probe (link up), 1 = no link. */
ORVIX32_API int ORVIX32_CALL LinkCom(int port);

/** AutoLinkCom: link on COM1 or COM2, whichever answers first.
 *   port  in/out, one int. In: 1 = try COM2 first, any other value = COM1
 *         first. Out: the index that linked (0 or 1); unchanged when neither.
 *         May be null: COM1 first, and the index is not reported.
 * Returns 0 = link up; otherwise the nonzero status of the last probe
 * (101 … 115), or 1 when neither port could be opened at either speed. */
ORVIX32_API int ORVIX32_CALL AutoLinkCom(int* port);

/** UnLinkCom: close the port.
 * Returns 0 = the open port was closed (then pauses 1000 ms);
 *         1 = nothing was closed (no port open, or closing failed). */
ORVIX32_API int ORVIX32_CALL UnLinkCom(void);

/* ===== Reader identity and signalling ====================================== */

/** ComBaudRate: the line speed of the last successful link.
 * Returns 57600 or 9600; 0 at load and after a failed LinkCom. UnLinkCom
 * leaves it unchanged. Never touches the port. */
ORVIX32_API int ORVIX32_CALL ComBaudRate(void);

/** DLLVER: the library's version number. Returns 7321. */
ORVIX32_API int ORVIX32_CALL DLLVER(void);

/** GetDeviceNumber: the reader's device number (command 0x20).
 *   number  out, 8 bytes: zeroed first, filled only on status 0.
 * Returns 4 when number is null (nothing sent); else the status: 0,
 * 101 … 115, or the reader's own status. */
ORVIX32_API int ORVIX32_CALL GetDeviceNumber(unsigned char* number);

/** DEVVER: the reader's firmware version (command 0x22).
 *   version  out, 8 bytes: filled only on status 0, else left untouched.
 * Returns 4 when version is null (nothing sent); else the status: 0,
 * 101 … 115, or the reader's own status. */
ORVIX32_API int ORVIX32_CALL DEVVER(unsigned char* version);

/** ALARM: drive the reader's signal outputs (command 0x7A).
 *   select  1 … 7;  a, b, c  bytes passed to the reader (low 8 bits sent).
 * Returns 4 when select is outside 1 … 7 (nothing sent); else the status:
 * 0, 101 … 115, or the reader's own status. */
ORVIX32_API int ORVIX32_CALL ALARM(int select, int a, int b, int c);

/* ===== Mifare cards ======================================================== */
/* Every RFMifare_ function is one reader command, sent with the retrying
 * exchange: after a link error the library closes the port, relinks on the
 * same port and sends the same command again (at most 3 relinks). The value
 * commands RFMifare_IncrementValue, RFMifare_DecrementValue, RFMifare_Increment
 * and RFMifare_Decrment are sent again only when the link failed before their
 * whole frame was written (101 … 107: the reader cannot have acted). After a
 * later link error (108 … 115) they relink but are not repeated, and return
 * that error: the reader may have carried the command out, so the value
 * block's state is unknown and must be read back before anything else.
 * Each one returns
 *   0          success
 *   101 … 115  a link error that outlasted the relinks
 *   4          an argument is out of range or a buffer pointer is null;
 *              nothing was sent and no buffer was touched
 *   other      the reader's own status for the command (no card, wrong
 *              serial, authentication refused, access denied, …), passed
 *              through unchanged.
 * Output buffers are filled from the reader's response data whatever the
 * status: after a failure they hold bytes an earlier command left there, so
 * test the status before using them. Bytes are copied by fixed count; the
 * caller provides the room given with each function.
 * A serial is the card's 4-byte serial number, held in an int exactly as
 * RFMifare_AntiColl or RFMifare_GetSnr wrote it into memory, and sent back as
 * those 4 bytes in the same order (least significant byte of the int first).
 * A value is a signed 32-bit amount, sent least significant byte first.
 * Arguments the reader takes as one byte (block, sector, mode, key type, last)
 * are sent as their low 8 bits (block 0x103 is sent as block 3): programs
 * written for these functions rely on it, so it stays. The reader functions
 * of orvix.h refuse such numbers with 4 instead. Keys are 6 bytes. */

/** RFMifare_Mcmno: the reader's module number (command 0xA1).
 *   info  out, 4 bytes: the 2 response bytes, then two zero bytes; read as a
 *         little-endian int, 17 is the TK61 Mifare module. */
ORVIX32_API int ORVIX32_CALL RFMifare_Mcmno(unsigned char* info);

/** RFMifare_TransKey: transfer a key into the reader module for one sector,
 * as key A and key B (command 0xA4).
 *   sector  0 … 15, else 4;  key  in, 6 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_TransKey(int sector, const unsigned char* key);

/** RFMifare_Authmode: set the reader's authentication mode (command 0xA9).
 *   mode  exactly 0 or 1, else 4. */
ORVIX32_API int ORVIX32_CALL RFMifare_Authmode(int mode);

/** RFMifare_GetType: the type code of the card the reader holds (0xAA).
 *   type  out, 4 bytes: the 2 type bytes, then two zero bytes
 *         (as an int: 4 = Mifare 1, 16 = Mifare Light 10). */
ORVIX32_API int ORVIX32_CALL RFMifare_GetType(unsigned char* type);

/** RFMifare_GetSnr: the serial of the card the reader holds (0xAB).
 *   serial  out, 4 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_GetSnr(unsigned char* serial);

/** RFMifare_ReadBlock: one-shot read of a block (0xAC). The reader finds the
 * card by its serial, authenticates the block's sector with the key it holds
 * and reads.
 *   block  Mifare 1: 0 … 63; Mifare Light 10: page 0 … 11.
 *   serial  the card's serial;  data  out, 16 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_ReadBlock(int block, int serial, unsigned char* data);

/** RFMifare_WriteBlock: one-shot write of a block (0xAD).
 *   block, serial  as RFMifare_ReadBlock.
 *   data  in/out, 16 bytes: sent, then overwritten with the 16 bytes the
 *         reader answers (the block as it stands after the write). */
ORVIX32_API int ORVIX32_CALL RFMifare_WriteBlock(int block, int serial, unsigned char* data);

/** RFMifare_WriteKey: one-shot change of a key on the card (0xAE).
 *   sector  Mifare 1: 0 … 15; Mifare Light 10: key type (0 = A, 1 = B).
 *   serial  the card's serial;  key  in, 6 bytes, the new key;
 *   last    one byte passed to the reader (the test bench passes 255). */
ORVIX32_API int ORVIX32_CALL RFMifare_WriteKey(int sector, int serial, const unsigned char* key,
                                               int last);

/** RFMifare_ReadValue: one-shot read of a value block (0xAF).
 *   block, serial  as RFMifare_ReadBlock;  value  out, one int. */
ORVIX32_API int ORVIX32_CALL RFMifare_ReadValue(int block, int serial, int* value);

/** RFMifare_WriteValue: one-shot format of a value block with an amount (0xB0).
 *   block, serial  as RFMifare_ReadBlock.
 *   value  in/out, one int: sent, then overwritten with the reader's answer
 *          (the value as it stands afterwards). */
ORVIX32_API int ORVIX32_CALL RFMifare_WriteValue(int block, int serial, int* value);

/** RFMifare_IncrementValue: one-shot increment of a value block (0xB1).
 * Arguments as RFMifare_WriteValue; value in: the amount to add, out: the
 * new value. */
ORVIX32_API int ORVIX32_CALL RFMifare_IncrementValue(int block, int serial, int* value);

/** RFMifare_DecrementValue: one-shot decrement of a value block (0xB2).
 * Arguments as RFMifare_WriteValue; value in: the amount to subtract, out:
 * the new value. */
ORVIX32_API int ORVIX32_CALL RFMifare_DecrementValue(int block, int serial, int* value);

/** RFMifare_LoadKey: store a key in the reader's key memory (0xB4).
 *   mode    key type × 4: 0 = key A, 4 = key B.
 *   sector  0 … 15 (Mifare Light 10: 0);  key  in, 6 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_LoadKey(int mode, int sector, const unsigned char* key);

/** RFMifare_Request: ask the field for a card (0xB5).
 *   mode  1 = all cards, halted ones too ("ALL"); 0 = idle cards only
 *         ("IDLE").
 *   type  out, 4 bytes: the card's 2 type bytes, then two zero bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_Request(int mode, unsigned char* type);

/** RFMifare_AntiColl: anticollision, the serial of a card that answered the
 * request (0xB6).
 *   serial  out, 4 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_AntiColl(unsigned char* serial);

/** RFMifare_Select: select (activate) the card with this serial (0xB7).
 *   serial  as delivered by RFMifare_AntiColl. */
ORVIX32_API int ORVIX32_CALL RFMifare_Select(int serial);

/** RFMifare_Authentication: authenticate with a key the reader holds (0xB8).
 *   keyType  0 = key A, 1 = key B;  sector  0 … 15 (Mifare Light 10: 0);
 *   block    Mifare 1: the sector's trailer, sector × 4 + 3;
 *            Mifare Light 10: 6 for key A, 8 for key B. */
ORVIX32_API int ORVIX32_CALL RFMifare_Authentication(int keyType, int sector, int block);

/** RFMifare_Read: read a block of the selected, authenticated card (0xB9).
 *   block  as RFMifare_ReadBlock;  data  out, 16 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_Read(int block, unsigned char* data);

/** RFMifare_Write: write a block of the selected, authenticated card (0xBA).
 *   block  as RFMifare_ReadBlock;  data  in, 16 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_Write(int block, const unsigned char* data);

/** RFMifare_Increment: add to a value block of the selected, authenticated
 * card (0xBB).  block  the value block;  value  the amount. */
ORVIX32_API int ORVIX32_CALL RFMifare_Increment(int block, int value);

/** RFMifare_Decrment: subtract from a value block of the selected,
 * authenticated card (0xBC).  block  the value block;  value  the amount. */
ORVIX32_API int ORVIX32_CALL RFMifare_Decrment(int block, int value);

/** RFMifare_Halt: send the selected card to sleep (0xBD). A halted card
 * answers only a request in mode 1 ("ALL"). */
ORVIX32_API int ORVIX32_CALL RFMifare_Halt(void);

/* ===== RF5550 tags ========================================================= */
/* Every RF5550_ function is one reader command, sent with one exchange (no
 * relink). Each one returns
 *   0          success
 *   101 … 115  a link error of the exchange
 *   4          an argument is out of range or a buffer pointer is null;
 *              nothing was sent and no buffer was touched
 *   other      the reader's own status for the command (no tag, wrong
 *              password, block locked, …), passed through unchanged.
 * Output buffers are written only on status 0; on any other result they are
 * left untouched. A password is 4 bytes, sent unchanged, first byte first.
 * A block number travels as one byte (its low 8 bits). The option is the last
 * byte of the write and configuration commands (low 8 bits of the int); the
 * reader and the tag give it its meaning. */

/** RF5550_ReadBlk: read one block of the tag in the field (command 0x64).
 *   block   the block number, sent as its low byte;
 *   buffer  out: the reader's reply, as many bytes as it sent: 4 for a block,
 *           at most 255 from any reader (room for 255 bytes is always safe). */
ORVIX32_API int ORVIX32_CALL RF5550_ReadBlk(int block, unsigned char* buffer);

/** RF5550_WriteBlk: write one block (command 0x65).
 *   block     -1 for block 0 (sent as 0); 0 itself returns 4; any other
 *             value is sent as its low byte;
 *   password  in, 4 bytes;
 *   data      in/out, 4 bytes: the block's new contents; on status 0 the
 *             tag's answer is copied over them (at most 4 bytes, never more);
 *   option    sent as the last byte. */
ORVIX32_API int ORVIX32_CALL RF5550_WriteBlk(int block, const unsigned char* password,
                                             unsigned char* data, int option);

/** RF5550_Init: configure the tag (command 0x66).
 *   config    in, ten ints; only items 0, 3 and 9 are read. They form the
 *             configuration byte: bits 7-5 = item 9 when it is 0 … 7, else 7;
 *             bit 4 = 1 when item 3 is nonzero; bit 3 = 1 when item 0 is
 *             nonzero; bits 2-0 = 1 1 1 (items 0, 3, 9 = 1, 1, 2 give 0x5F);
 *   password  in, 4 bytes;  option  sent as the last byte. */
ORVIX32_API int ORVIX32_CALL RF5550_Init(const int* config, const unsigned char* password,
                                         int option);

/** RF5550_Wake: wake the tag with its password (command 0x67).
 *   password  in, 4 bytes. */
ORVIX32_API int ORVIX32_CALL RF5550_Wake(const unsigned char* password);

/** RF5550_ReadAfterWake: wake the tag with its password, then read a block
 * (command 0x68).
 *   block     sent as its low byte;  password  in, 4 bytes;
 *   buffer    out: as RF5550_ReadBlk (4 bytes for a block, at most 255). */
ORVIX32_API int ORVIX32_CALL RF5550_ReadAfterWake(int block, const unsigned char* password,
                                                  unsigned char* buffer);

/** RF5550_WriteAfterWake: wake the tag with its password, then write a block
 * (command 0x69). Arguments and results as RF5550_WriteBlk (block 0 returns
 * 4, -1 writes block 0, at most 4 reply bytes over data). */
ORVIX32_API int ORVIX32_CALL RF5550_WriteAfterWake(int block, const unsigned char* password,
                                                   unsigned char* data, int option);

/** RF5550_Mcmno: the reader's module number (command 0xA1).
 *   number  out, 4 bytes: on status 0 the 2 reply bytes, then two zero bytes,
 *           whatever the reply's length. */
ORVIX32_API int ORVIX32_CALL RF5550_Mcmno(unsigned char* number);

/* ===== Contact memory cards ================================================ */
/* The contact slot holds one memory card. SelectCard tells the library and
 * the reader which type code the card is; VerifyIC, CheckSecret, ReadSecret,
 * ModifySecret, EraseCard, CheckEraseSecret, CheckZoneSecret and the block
 * transfer (ReadMemCard …) behave by the type selected last (255 = none, the
 * value after every LinkCom; a code nobody knows behaves as "any other").
 *
 * Library result codes of this family (no exchange, or a judged reply):
 *   3   not available for the selected card type, a length precondition
 *       failed, or the erase before a code change did not leave FF bytes
 *   4   an argument is out of range or a pointer is null; nothing was
 *       sent, buffers untouched
 *   19  VerifyIC: the card is not of the selected type
 * Otherwise the result is the status of the last exchange: 0, 101 … 115, or
 * the reader's own status (which stops a multi-piece transfer at once; the
 * pieces before it stay done).
 *
 * Card positions are page * 256 + address and travel as 16 bits, high byte
 * first: a run that reaches position 65536 or beyond is refused with 4.
 * A reply is never copied past the caller's buffer: each piece copies at most
 * the bytes it asked for, and every other copy is bounded as stated. */

/** PowerOn / PowerOff: power the card in the contact slot on or off
 * (commands 0x02 / 0x03). Returns the status. */
ORVIX32_API int ORVIX32_CALL PowerOn(void);
ORVIX32_API int ORVIX32_CALL PowerOff(void);

/** SelectCard: choose the card type (command 0x0A, the low byte of type is
 * sent). On status 0 the library's selected type becomes type (whole, so 300
 * selects 300). Returns the status. */
ORVIX32_API int ORVIX32_CALL SelectCard(int type);

/** VerifyIC: check that the card shows the identity bytes of the selected type
 * (type 0: B7 A0 or 37 A0 at address 0, read twice; types 1 … 4: 81 05, 81 15,
 * 81 03, 81 13 at address 6 of area 18). Types 10 … 17, 19 … 27 and 30 are
 * not checked (0).
 * Returns 0 = the card passes, 19 = it does not (or the type cannot be
 * checked: 5 … 9, 18, 28, 29, 255, any other code), or the nonzero status of
 * a failing read. */
ORVIX32_API int ORVIX32_CALL VerifyIC(void);

/** Inquire: the reader's view of the slot (command 0x0D).
 *   type, second, power  out, one int each: on status 0 the reader's card
 *   type, its second byte and the card's power state; the selected type then
 *   becomes type. Untouched otherwise. Returns the status; 4 when a pointer
 *   is null. */
ORVIX32_API int ORVIX32_CALL Inquire(int* type, int* second, int* power);

/** CheckSecret: present the security code (command 0x0C).
 *   length  number of code bytes, 0 … 255 (types 25, 26: exactly 2)
 *   code    in/out: the code (length bytes are sent). Types 0, 15 … 17:
 *           at least 4 bytes of room; they answer 4 bytes, counter then code,
 *           stored as code[0..1] = code, code[2..3] = counter whatever length
 *           is. Other types: length bytes; the reply is stored back into at
 *           most length bytes.
 * Types 25, 26 store the reply whatever the reader's status (not after a
 * link error). Other types store it on status 0 only.
 * Returns the status; 3 for types 1, 3, 10 … 14, 19 … 24, 30, 255 and for
 * types 25, 26 with length other than 2; 4 for length < 0 or > 255, or a
 * null code. */
ORVIX32_API int ORVIX32_CALL CheckSecret(int length, unsigned char* code);

/** ReadSecret: read the security code and its error counter.
 *   counter  out, 2 bytes
 *   code     out, 8 bytes of room: types 0, 15 … 17 store 2 bytes; types 2,
 *            4, 25, 26 store the reply's code bytes (at most 8).
 * Returns the status (of the read), 3 for any other type, or 4 when a
 * pointer is null. */
ORVIX32_API int ORVIX32_CALL ReadSecret(unsigned char* counter, unsigned char* code);

/** ModifySecret: change the security code.
 *   length  types 2 and 4: the code length, 0 … 254; types 25, 26: exactly
 *           2; types 0, 15 … 17: not used (any value)
 *   code    in/out. Types 0, 15 … 17: at least 4 bytes of room; they erase
 *           the code, write code[0..1] and read the counter back:
 *           code[0..1] = counter, code[2..3] = the write's reply.
 *           Types 2, 4, 25, 26: length bytes; the reply is stored (at most
 *           length bytes) on status 0.
 * Returns the status; 3 for other types, types 25, 26 with length other than
 * 2, or an erase that left a byte other than FF; 4 for a length out of the
 * ranges above or a null code. */
ORVIX32_API int ORVIX32_CALL ModifySecret(int length, unsigned char* code);

/** ReadCard: read length bytes of an area (command 0x14, pieces of 64).
 *   area     low byte sent (18 = the card memory)
 *   page, address  position page * 256 + address, both >= 0
 *   length   > 0
 *   buffer   out, length bytes: each piece's reply appended (at most the
 *            piece's count), advancing by what the reader returned.
 * Returns the status of the first failing piece or of the last; 4 for
 * negative page or address, length <= 0, a run past position 65535, or a
 * null buffer. */
ORVIX32_API int ORVIX32_CALL ReadCard(int area, int page, int address, int length,
                                      unsigned char* buffer);

/** WriteCard: write length bytes (command 0x15, pieces of 64).
 *   buffer  in/out, length bytes: the data; each piece's reply is copied back
 *           over that piece's bytes (at most its count).
 * Other arguments and results as ReadCard. */
ORVIX32_API int ORVIX32_CALL WriteCard(int area, int page, int address, int length,
                                       unsigned char* buffer);

/** EraseCard: erase length bytes. buffer (in/out, length bytes) is filled with
 * FF after the arguments are checked; types 0, 15, 16, 17, 25, 26 send it with
 * the erase command 0x1A and area 18, every other type writes it with 0x15 and
 * the given area. Arguments and results as WriteCard. */
ORVIX32_API int ORVIX32_CALL EraseCard(int area, int page, int address, int length,
                                       unsigned char* buffer);

/** Fuse: blow the card's fuse (command 0x0E, low byte of value). Returns the
 * status. */
ORVIX32_API int ORVIX32_CALL Fuse(int value);

/** CheckEraseSecret: present an erase key (command 0x19, selector low byte
 * first, then the key bytes).
 *   key  in/out: 4 bytes (types 0, 15), 6 bytes (type 16, selector 4), 4
 *        bytes (type 16, selector 5), 2 bytes (types 25, 26). The reply is
 *        stored into at most that many bytes: on status 0, and for types 25,
 *        26 whatever the reader's status (not after a link error).
 * Returns the status; 3 for type 16 with another selector and for every other
 * type; 4 for a null key. */
ORVIX32_API int ORVIX32_CALL CheckEraseSecret(int selector, unsigned char* key);

/** CheckZoneSecret: present a zone's code (command 0x18: zone, code[0],
 * code[1]); types 25 and 26 only.
 *   code  in/out, 2 bytes: the reply is stored into at most 2 bytes whatever
 *         the reader's status (not after a link error).
 * Returns the status, 3 for any other selected type, or 4 for a null code
 * (nothing sent). */
ORVIX32_API int ORVIX32_CALL CheckZoneSecret(int zone, unsigned char* code);

/** SetZoneRWBit: set a zone's access bits (command 0x1B: low bytes of zone and
 * bits). Returns the status. */
ORVIX32_API int ORVIX32_CALL SetZoneRWBit(int zone, int bits);

/** SetStandby: put the card into standby (command 0x1C). Returns the status. */
ORVIX32_API int ORVIX32_CALL SetStandby(void);

/** Block transfer with a large page-organised card. Pages hold 264 bytes when
 * the selected type is 21, else 256. The linear address maps to page address
 * / P and offset address % P; the run is cut at page ends and into pieces of
 * at most 66 bytes (command 0x24 reads, 0x23 writes; page and offset travel
 * high byte first).
 *   address  >= 0;  length > 0;  the last page must be <= 65535
 *   buffer   length bytes. Read: out, each page's share starts at its first
 *            address minus address, replies appended (at most each piece's
 *            count). Write: in/out, replies copied back over the data the same
 *            way. Erase: filled with FF (after the check), then written.
 * Returns 0, 4 (bad address or length, page number above 65535, null buffer;
 * nothing sent, buffer untouched), or the first nonzero status of any piece. */
ORVIX32_API int ORVIX32_CALL ReadMemCard(int address, int length, unsigned char* buffer);
ORVIX32_API int ORVIX32_CALL WriteMemCard(int address, int length, unsigned char* buffer);
ORVIX32_API int ORVIX32_CALL EraseMemCard(int address, int length, unsigned char* buffer);

/* ===== AT1608 secure memory cards ========================================== */
/* AT1608 cards: 8 user zones and the configuration zone 8; addresses 0 … 255
 * within a zone; at most 160 bytes per transfer; 16 passwords (index 0 … 15)
 * of 3 bytes, each with an attempt counter.
 * The attempt counter byte is converted by its leading one bits: 00 -> 0,
 * 80 -> 1, C0 -> 2, E0 -> 3, F0 -> 4, F8 -> 5, FC -> 6, FE -> 7, FF -> 8; any
 * other value is not converted and the receiving byte keeps its value. */

/** AT1608_Write: write a zone (command 0x28: zone, address, length, data).
 *   zone 0 … 8, address 0 … 255, length 0 … 160; data in, length bytes.
 * Returns the status, or 4 for an argument out of range or a null data with
 * length above 0. */
ORVIX32_API int ORVIX32_CALL AT1608_Write(int zone, int address, int length, unsigned char* data);

/** AT1608_Read: read a zone (command 0x29: zone, address, length).
 *   buffer  out, length bytes: on status 0 exactly length bytes of the reply
 *           area (bytes the reader did not send hold earlier data).
 * Arguments and results as AT1608_Write (a null buffer with length above 0
 * returns 4). */
ORVIX32_API int ORVIX32_CALL AT1608_Read(int zone, int address, int length, unsigned char* buffer);

/** AT1608_Psw: verify a password (command 0x2A: index, password[0..2]).
 *   index     0 … 15
 *   password  in/out, 4 bytes. In: the 3 password bytes. Out: password[0] =
 *             the converted attempt counter of the reply (when the reply has
 *             one, whatever the status); password[1..3] = reply bytes 1 … 3
 *             on status 0, else 0.
 * Returns the status, or 4 for an index out of range or a null password. */
ORVIX32_API int ORVIX32_CALL AT1608_Psw(int index, unsigned char* password);

/** AT1608_Authentic: mutual authentication. Reads the card identity (zone 8,
 * address 40, 8 bytes), computes the host answer and the expected card answer
 * from identity, secret and challenge, and sends challenge and host answer
 * (command 0x2B, 16 bytes).
 *   challenge  in: 8 bytes. Out: challenge[0] = the converted attempt
 *              counter, challenge[1] = its digit '0' … '8' (both kept for an
 *              unlisted counter value).
 *   secret     in, 8 bytes.
 * Returns 0 = the card's answer matches; 3 = it differs, or it has more than
 * 8 answer bytes; 4 when a pointer is null (nothing sent); otherwise the
 * identity read's result or the status. */
ORVIX32_API int ORVIX32_CALL AT1608_Authentic(unsigned char* challenge, unsigned char* secret);

/** AT1608_ReadFuse: read the fuse byte (command 0x2C).
 *   fuse  out, 1 byte: set only on status 0 with a 1-byte reply.
 * Returns the status, or 4 for a null fuse. */
ORVIX32_API int ORVIX32_CALL AT1608_ReadFuse(unsigned char* fuse);

/** AT1608_Reset: reset the card (command 0x2D). Returns the status. */
ORVIX32_API int ORVIX32_CALL AT1608_Reset(void);

/* ===== CPU card and SAM slots ============================================== */
/* Slot 0 is the CPU card, slots 1 … 4 the SAMs. A reset reads the answer to
 * reset and sets the protocol for every slot: T=1 when TD1 is present with
 * protocol 1, else T=0 (also when the answer ends before TD1). The protocol
 * is T=1 at load. APDUs go out as a plain T=0 command, or inside a T=1
 * I-block (NAD 00, PCB 00 or 40, LEN, APDU, LRC) whose send sequence bit is
 * shared by all slots: cleared by every reset, flipped by every exchange
 * that gets status 0.
 *
 * Command layouts (Lc at byte 4 must be 0 … 83, else 4 and nothing sent):
 *   fixed  (…Cmd exports), 134 bytes: CLA INS P1 P2 Lc, data from byte 5,
 *          Le at byte 133.
 *   packed (ProCpuCard, ProSamCardN), 6 + Lc bytes in: CLA INS P1 P2 Lc,
 *          data, Le at byte 5 + Lc. Out (after any exchange): the outgoing
 *          length, then the bytes sent (T=0: the APDU, T=1: the block); room
 *          for 10 + Lc bytes (93 at most) is needed.
 * The APDU is CLA INS P1 P2 Lc data when Lc > 0, else CLA INS P1 P2 Le.
 * Response layout, 136 bytes: byte 0 = n, bytes 1 … n = the card's response
 * data without SW1 SW2 (n <= 135; further bytes are dropped; n = 0 after a
 * failed exchange).
 *
 * Exchange results: SW1 * 256 + SW2 (e.g. 36864 = 9000, 27266 = 6A82);
 * a nonzero status (101 … 115 or the reader's own); 4; or
 * ORVIX32_NO_STATUS_WORD (65536) when the reply is too short to hold the
 * status words (under 2 bytes for T=0, under 6 for T=1). */
#define ORVIX32_NO_STATUS_WORD 65536

/** CPUCardProtocolType: 1 when the protocol is T=1, else 0. No exchange. */
ORVIX32_API int ORVIX32_CALL CPUCardProtocolType(void);

/** CpuCardReset / SamCard1Reset … SamCard4Reset: reset the slot's card
 * (commands 0x32, 0x3C, 0x46, 0x50, 0x5A).
 *   answer  out, 256 bytes: answer[0] = length of the answer to reset, then
 *           its bytes; answer[0] = 0 on failure (protocol then unchanged).
 * Returns the status, or 4 for a null answer (nothing sent). */
ORVIX32_API int ORVIX32_CALL CpuCardReset(unsigned char* answer);
ORVIX32_API int ORVIX32_CALL SamCard1Reset(unsigned char* answer);
ORVIX32_API int ORVIX32_CALL SamCard2Reset(unsigned char* answer);
ORVIX32_API int ORVIX32_CALL SamCard3Reset(unsigned char* answer);
ORVIX32_API int ORVIX32_CALL SamCard4Reset(unsigned char* answer);

/** ProCpuCardCmd / ProSamCard1Cmd … ProSamCard4Cmd: one APDU, fixed layout
 * (commands 0x33, 0x3D, 0x47, 0x51, 0x5B).
 *   command   in, 134 bytes;  response  out, 136 bytes.
 * Returns as described above; 4 when either pointer is null. */
ORVIX32_API int ORVIX32_CALL ProCpuCardCmd(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard1Cmd(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard2Cmd(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard3Cmd(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard4Cmd(unsigned char* command, unsigned char* response);

/** ProCpuCard / ProSamCard1 … ProSamCard4: one APDU, packed layout; the
 * command buffer is overwritten with what was sent.
 *   command   in/out, 93 bytes of room (10 + Lc);  response  out, 136 bytes.
 * Returns as described above; 4 when either pointer is null. */
ORVIX32_API int ORVIX32_CALL ProCpuCard(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard1(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard2(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard3(unsigned char* command, unsigned char* response);
ORVIX32_API int ORVIX32_CALL ProSamCard4(unsigned char* command, unsigned char* response);

/* ===== DES data encryption ================================================= */
/* Single DES (FIPS 46-3) in electronic codebook mode, computed on the host:
 * no reader command, the link is not touched. Every 8-byte block is
 * enciphered on its own with the same key; no padding, no chaining.
 *   input   in, length bytes of raw binary data;
 *   key     in, 8 bytes (the low bit of each byte is parity and ignored);
 *   output  out, length bytes; may be the same buffer as input;
 *   length  a multiple of 8.
 * Returns 0 = done (also for length 0 or a negative multiple of 8, which
 * write nothing); 4 = length is not a multiple of 8, or a buffer pointer is
 * null while length is positive; output untouched. */

/** EnDesData: DES encryption of each block. */
ORVIX32_API int ORVIX32_CALL EnDesData(const unsigned char* input, const unsigned char* key,
                                       unsigned char* output, int length);

/** UnDesData: DES decryption of each block (undoes EnDesData with the key). */
ORVIX32_API int ORVIX32_CALL UnDesData(const unsigned char* input, const unsigned char* key,
                                       unsigned char* output, int length);

/* ===== Attendance terminal ================================================= */
/* The KQ_ functions drive an attendance terminal on the same link; each one
 * that talks to it is one command with one exchange (no relink) and returns
 *   0          success
 *   101 … 115  a link error of the exchange
 *   4          an argument is out of range or a buffer pointer is null;
 *              nothing was sent and no buffer was touched
 *   other      the terminal's own status for the command, passed through.
 * Output buffers are written only on status 0.
 * A compact date is 3 bytes: year (counted from year 0, a leap year), month
 * 1 … 12, day 1 … 31. A year y has 366 days when (y mod 256) mod 4 is 0, else
 * 365; day number 1 is 1 January of year 0. The terminal is sent the day
 * number plus 365, in 16 bits, low byte first.
 * A clock record is seven ints, each sent as its low byte, in order; their
 * meaning lies with the terminal (the simulated one: year, month, day, hour,
 * minute, second, weekday 0 = Sunday).
 * A position answer is the int "first" (reply byte 0) and a 4-byte position
 * (reply bytes 1 and 2, then two zero bytes: a little-endian int). */

/** KQ_EndTrans: end of a transfer (command 0x01, no data). */
ORVIX32_API int ORVIX32_CALL KQ_EndTrans(void);

/** KQ_GetTime: read the terminal's clock (command 0xC1).
 *   clock  out, 7 ints: item i = reply byte i. */
ORVIX32_API int ORVIX32_CALL KQ_GetTime(int* clock);

/** KQ_SetTime: set the terminal's clock (command 0xC2).
 *   clock  in, 7 ints, each sent as its low byte. */
ORVIX32_API int ORVIX32_CALL KQ_SetTime(const int* clock);

/** KQ_GetCurrentPos: the terminal's current record position (command 0xC3).
 *   first  out, one int;  position  out, 4 bytes (see position answer). */
ORVIX32_API int ORVIX32_CALL KQ_GetCurrentPos(int* first, unsigned char* position);

/** KQ_GetStartPos: the position of the first record of a date (command 0xC4).
 *   date      in, three ints year, month, day (each reduced to its low byte);
 *             4 when the terminal day number would exceed 65535 (years from
 *             about 178 on), since the terminal could only be sent another day;
 *   first     out, one int;  position  out, 4 bytes. */
ORVIX32_API int ORVIX32_CALL KQ_GetStartPos(const int* date, int* first, unsigned char* position);

/** KQ_GetEndPos: the position of the last record of a date (command 0xC5).
 * Arguments and results as KQ_GetStartPos. */
ORVIX32_API int ORVIX32_CALL KQ_GetEndPos(const int* date, int* first, unsigned char* position);

/** KQ_ReadRecord: read records (command 0xC6).
 *   selector  sent as one byte;  number  the position, sent in 2 bytes, low
 *   byte first;  count  sent as one byte (the simulated terminal: selector 0,
 *   count 1 … 31 records of 8 bytes);
 *   buffer    out: the reply, as many bytes as the terminal sent: at most 255
 *             (8 per record with the simulated terminal). */
ORVIX32_API int ORVIX32_CALL KQ_ReadRecord(int selector, int number, int count,
                                           unsigned char* buffer);

/** KQ_SysInit: system initialisation of the terminal (command 0xC7). */
ORVIX32_API int ORVIX32_CALL KQ_SysInit(void);

/** KQ_Display: show a text on the terminal's display (command 0xC8).
 *   text  in, exactly 16 bytes, sent as they are. */
ORVIX32_API int ORVIX32_CALL KQ_Display(const unsigned char* text);

/** KQ_TransCmd: pass a command through to the terminal (command 0xC9).
 *   code    the first data byte (its low byte);
 *   length  the number of data bytes, 0 … 255: the code, then the first
 *           length - 1 bytes of buffer (0 sends no data at all); outside that
 *           range 4 is returned;
 *   buffer  in/out: in, the bytes after the code; out on status 0, buffer[0] =
 *           the reply's length and buffer[1 …] the reply: at most 1 + 255 =
 *           256 bytes in all. */
ORVIX32_API int ORVIX32_CALL KQ_TransCmd(int code, int length, unsigned char* buffer);

/** KQ_DownloadPSW: load a password into the terminal (command 0xCA).
 *   kind      1: sends 01 and password[0..3] (5 bytes); any other kind: its
 *             low byte and password[0..5] (7 bytes);
 *   password  in, 4 bytes for kind 1, else 6 bytes. */
ORVIX32_API int ORVIX32_CALL KQ_DownloadPSW(int kind, const unsigned char* password);

/** KQ_Daysbyte: the day number of a compact date, computed on the host.
 *   date  in, 3 bytes (year, month, day); month 0 and months above 12 count
 *         one day each.
 * Returns the day number (1 January of year 0 = 1; not plus 365); 0 when
 * date is null. */
ORVIX32_API int ORVIX32_CALL KQ_Daysbyte(const unsigned char* date);

/** KQ_Datebyte: the compact date of a day number, computed on the host.
 *   day   the day number; the last day of a year stays in it (366 = year 0,
 *         12, 31) and 0 gives year 0, month 1, day 0;
 *   date  out, 3 bytes: year, month, day, each its low byte.
 * Returns 0; 4 when date is null. */
ORVIX32_API int ORVIX32_CALL KQ_Datebyte(int day, unsigned char* date);

#ifdef __cplusplus
}
#endif

#endif /* ORVIX32_H */
