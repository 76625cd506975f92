/*
 * ORVIX32 reader driver: the flat C interface.
 *
 * The library owns one serial link to a desktop card reader/writer. Every
 * function below is one (or a few) command/response exchanges with the reader
 * over that link, made on the caller's thread; calls must come one at a time.
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
 *   4          an argument is out of range; nothing was sent
 *   other      the reader's own status for the command, passed through
 *
 * Buffers belong to the caller; sizes are given with each function. The
 * library never keeps a pointer after returning.
 *
 * Ports: index 0 is "COM1" … 9 is "COM10". On POSIX systems port index i
 * opens the device named by the environment variable ORVIX32_COM<i+1> when it
 * is set, else /dev/ttyS<i>. The active system console is never opened.
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

/* LinkCom: link to the reader on one port.
 *   port  0 = COM1 … 9 = COM10.
 * Closes any open port first (with its 1000 ms pause), then opens the port at
 * 57600 bit/s and probes the reader; failing that, at 9600 bit/s.
 * Returns 0 = the reader answered the probe (link up), 1 = no link. */
ORVIX32_API int ORVIX32_CALL LinkCom(int port);

/* AutoLinkCom: link on COM1 or COM2, whichever answers first.
 *   port  in/out, one int. In: 1 = try COM2 first, any other value = COM1
 *         first. Out: the index that linked (0 or 1); unchanged when neither.
 * Returns 0 = link up; otherwise the nonzero status of the last probe
 * (101 … 115), or 1 when neither port could be opened at either speed. */
ORVIX32_API int ORVIX32_CALL AutoLinkCom(int* port);

/* UnLinkCom: close the port.
 * Returns 0 = the open port was closed (then pauses 1000 ms);
 *         1 = nothing was closed (no port open, or closing failed). */
ORVIX32_API int ORVIX32_CALL UnLinkCom(void);

/* ===== Reader identity and signalling ====================================== */

/* ComBaudRate: the line speed of the last successful link.
 * Returns 57600 or 9600; 0 at load and after a failed LinkCom. UnLinkCom
 * leaves it unchanged. Never touches the port. */
ORVIX32_API int ORVIX32_CALL ComBaudRate(void);

/* DLLVER: the library's version number. Returns 7321. */
ORVIX32_API int ORVIX32_CALL DLLVER(void);

/* GetDeviceNumber: the reader's device number (command 0x20).
 *   number  out, 8 bytes: zeroed first, filled only on status 0.
 * Returns the status: 0, 101 … 115, or the reader's own status. */
ORVIX32_API int ORVIX32_CALL GetDeviceNumber(unsigned char* number);

/* DEVVER: the reader's firmware version (command 0x22).
 *   version  out, 8 bytes: filled only on status 0, else left untouched.
 * Returns the status: 0, 101 … 115, or the reader's own status. */
ORVIX32_API int ORVIX32_CALL DEVVER(unsigned char* version);

/* ALARM: drive the reader's signal outputs (command 0x7A).
 *   select  1 … 7;  a, b, c  bytes passed to the reader (low 8 bits sent).
 * Returns 4 when select is outside 1 … 7 (nothing sent); else the status:
 * 0, 101 … 115, or the reader's own status. */
ORVIX32_API int ORVIX32_CALL ALARM(int select, int a, int b, int c);

/* ===== Mifare cards ======================================================== */
/* Every RFMifare_ function is one reader command, sent with the retrying
 * exchange: after a link error the library closes the port, relinks on the
 * same port and sends the same command again (at most 3 relinks). Each one
 * returns
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
 * are sent as their low 8 bits. Keys are 6 bytes. */

/* RFMifare_Mcmno: the reader's module number (command 0xA1).
 *   info  out, 4 bytes: the 2 response bytes, then two zero bytes; read as a
 *         little-endian int, 17 is the TK61 Mifare module. */
ORVIX32_API int ORVIX32_CALL RFMifare_Mcmno(unsigned char* info);

/* RFMifare_TransKey: transfer a key into the reader module for one sector,
 * as key A and key B (command 0xA4).
 *   sector  0 … 15, else 4;  key  in, 6 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_TransKey(int sector, const unsigned char* key);

/* RFMifare_Authmode: set the reader's authentication mode (command 0xA9).
 *   mode  exactly 0 or 1, else 4. */
ORVIX32_API int ORVIX32_CALL RFMifare_Authmode(int mode);

/* RFMifare_GetType: the type code of the card the reader holds (0xAA).
 *   type  out, 4 bytes: the 2 type bytes, then two zero bytes
 *         (as an int: 4 = Mifare 1, 16 = Mifare Light 10). */
ORVIX32_API int ORVIX32_CALL RFMifare_GetType(unsigned char* type);

/* RFMifare_GetSnr: the serial of the card the reader holds (0xAB).
 *   serial  out, 4 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_GetSnr(unsigned char* serial);

/* RFMifare_ReadBlock: one-shot read of a block (0xAC). The reader finds the
 * card by its serial, authenticates the block's sector with the key it holds
 * and reads.
 *   block  Mifare 1: 0 … 63; Mifare Light 10: page 0 … 11.
 *   serial  the card's serial;  data  out, 16 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_ReadBlock(int block, int serial, unsigned char* data);

/* RFMifare_WriteBlock: one-shot write of a block (0xAD).
 *   block, serial  as RFMifare_ReadBlock.
 *   data  in/out, 16 bytes: sent, then overwritten with the 16 bytes the
 *         reader answers (the block as it stands after the write). */
ORVIX32_API int ORVIX32_CALL RFMifare_WriteBlock(int block, int serial, unsigned char* data);

/* RFMifare_WriteKey: one-shot change of a key on the card (0xAE).
 *   sector  Mifare 1: 0 … 15; Mifare Light 10: key type (0 = A, 1 = B).
 *   serial  the card's serial;  key  in, 6 bytes, the new key;
 *   last    one byte passed to the reader (the test bench passes 255). */
ORVIX32_API int ORVIX32_CALL RFMifare_WriteKey(int sector, int serial, const unsigned char* key,
                                               int last);

/* RFMifare_ReadValue: one-shot read of a value block (0xAF).
 *   block, serial  as RFMifare_ReadBlock;  value  out, one int. */
ORVIX32_API int ORVIX32_CALL RFMifare_ReadValue(int block, int serial, int* value);

/* RFMifare_WriteValue: one-shot format of a value block with an amount (0xB0).
 *   block, serial  as RFMifare_ReadBlock.
 *   value  in/out, one int: sent, then overwritten with the reader's answer
 *          (the value as it stands afterwards). */
ORVIX32_API int ORVIX32_CALL RFMifare_WriteValue(int block, int serial, int* value);

/* RFMifare_IncrementValue: one-shot increment of a value block (0xB1).
 * Arguments as RFMifare_WriteValue; value in: the amount to add, out: the
 * new value. */
ORVIX32_API int ORVIX32_CALL RFMifare_IncrementValue(int block, int serial, int* value);

/* RFMifare_DecrementValue: one-shot decrement of a value block (0xB2).
 * Arguments as RFMifare_WriteValue; value in: the amount to subtract, out:
 * the new value. */
ORVIX32_API int ORVIX32_CALL RFMifare_DecrementValue(int block, int serial, int* value);

/* RFMifare_LoadKey: store a key in the reader's key memory (0xB4).
 *   mode    key type × 4: 0 = key A, 4 = key B.
 *   sector  0 … 15 (Mifare Light 10: 0);  key  in, 6 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_LoadKey(int mode, int sector, const unsigned char* key);

/* RFMifare_Request: ask the field for a card (0xB5).
 *   mode  1 = all cards, halted ones too ("ALL"); 0 = idle cards only
 *         ("IDLE").
 *   type  out, 4 bytes: the card's 2 type bytes, then two zero bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_Request(int mode, unsigned char* type);

/* RFMifare_AntiColl: anticollision, the serial of a card that answered the
 * request (0xB6).
 *   serial  out, 4 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_AntiColl(unsigned char* serial);

/* RFMifare_Select: select (activate) the card with this serial (0xB7).
 *   serial  as delivered by RFMifare_AntiColl. */
ORVIX32_API int ORVIX32_CALL RFMifare_Select(int serial);

/* RFMifare_Authentication: authenticate with a key the reader holds (0xB8).
 *   keyType  0 = key A, 1 = key B;  sector  0 … 15 (Mifare Light 10: 0);
 *   block    Mifare 1: the sector's trailer, sector × 4 + 3;
 *            Mifare Light 10: 6 for key A, 8 for key B. */
ORVIX32_API int ORVIX32_CALL RFMifare_Authentication(int keyType, int sector, int block);

/* RFMifare_Read: read a block of the selected, authenticated card (0xB9).
 *   block  as RFMifare_ReadBlock;  data  out, 16 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_Read(int block, unsigned char* data);

/* RFMifare_Write: write a block of the selected, authenticated card (0xBA).
 *   block  as RFMifare_ReadBlock;  data  in, 16 bytes. */
ORVIX32_API int ORVIX32_CALL RFMifare_Write(int block, const unsigned char* data);

/* RFMifare_Increment: add to a value block of the selected, authenticated
 * card (0xBB).  block  the value block;  value  the amount. */
ORVIX32_API int ORVIX32_CALL RFMifare_Increment(int block, int value);

/* RFMifare_Decrment: subtract from a value block of the selected,
 * authenticated card (0xBC).  block  the value block;  value  the amount. */
ORVIX32_API int ORVIX32_CALL RFMifare_Decrment(int block, int value);

/* RFMifare_Halt: send the selected card to sleep (0xBD). A halted card
 * answers only a request in mode 1 ("ALL"). */
ORVIX32_API int ORVIX32_CALL RFMifare_Halt(void);

/* ===== RF5550 tags ========================================================= */
/* (RF5550 family goes here.) */

/* ===== Contact memory cards ================================================ */
/* (Memory card family and block transfer go here.) */

/* ===== AT1608 secure memory cards ========================================== */
/* (AT1608 family goes here.) */

/* ===== CPU card and SAM slots ============================================== */
/* (CPU card and SAM family goes here.) */

/* ===== DES data encryption ================================================= */
/* (DES family goes here.) */

/* ===== Attendance terminal ================================================= */
/* (Attendance terminal family goes here.) */

#ifdef __cplusplus
}
#endif

#endif /* ORVIX32_H */
