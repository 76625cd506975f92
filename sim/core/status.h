// Reader status bytes: the first byte of every response frame. 0 = success;
// anything else is the reader's error for the command, passed to the caller
// of the library unchanged.
//
// One table for the whole simulated reader, so that values stay distinct.
// Ranges:
//   0x01 … 0x0F   the core (line protocol, core commands, injected faults)
//   0x10 … 0x64   the device families: add yours below, in a block of your own,
//                 with a one-line meaning each
//   0x65 … 0x73   (101 … 115) never sent by the reader on purpose: the host
//                 takes these for its own link errors and the Mifare family
//                 relinks on them (the fault "status status=N" can still send
//                 one, to test exactly that)
//   0x74 … 0xFF   free
//
// Avoid 3, 4 and 19 as reader statuses where a caller could confuse them with
// the small codes the library returns by itself without any exchange
// (3 = not available for the card type, 4 = argument out of range,
// 19 = VerifyIC not the selected type).
#pragma once

#include <cstdint>

namespace readersim::status {

inline constexpr std::uint8_t kOk = 0x00;

// ---- core: 0x01 … 0x0F ------------------------------------------------------
// No core command and no module handles the command byte.
inline constexpr std::uint8_t kUnknownCommand = 0x01;
// The command frame's checksum did not match: the reader acknowledges the
// frame (0x67) but carries nothing out and answers this status, no data.
inline constexpr std::uint8_t kFrameChecksum = 0x02;
// The command carries a wrong number of data bytes (e.g. 0x7A without 4).
inline constexpr std::uint8_t kWrongLength = 0x05;
// A data byte is out of the range the command accepts.
inline constexpr std::uint8_t kBadParameter = 0x06;
// A module failed unexpectedly while carrying the command out.
inline constexpr std::uint8_t kModuleFailure = 0x0E;
// Default status of an injected "status" fault when none is given.
inline constexpr std::uint8_t kInjected = 0x0F;

// ---- device families: 0x10 … 0x64 --------------------------------------------
// (each family adds its block here)

// Mifare cards (sim/mifare): 0x20 … 0x2F.
// No card answers: the field is empty, the card is halted (and the request
// was "IDLE"), or no card is selected for a command that needs one.
inline constexpr std::uint8_t kMifareNoCard = 0x20;
// Cards are in the field, but none has the serial the command names.
inline constexpr std::uint8_t kMifareWrongSerial = 0x21;
// Authentication refused: the reader's stored key does not match the card's.
inline constexpr std::uint8_t kMifareAuthRefused = 0x22;
// The command needs the block's sector (the page's key) authenticated first.
inline constexpr std::uint8_t kMifareNotAuthenticated = 0x23;
// The card's access conditions forbid the operation with the key in use
// (also: the manufacturer block, read-only pages, increment on Mifare Light).
inline constexpr std::uint8_t kMifareAccessDenied = 0x24;
// The block is not in value format, or the result would leave the value range.
inline constexpr std::uint8_t kMifareBadValue = 0x25;
// Block, page or sector number out of range for the card.
inline constexpr std::uint8_t kMifareBadAddress = 0x26;
// The sector's access bytes do not match their inverted copies: the sector
// (the Mifare Light key) is unusable.
inline constexpr std::uint8_t kMifareSectorLocked = 0x27;

// Contact slot and SAM slots (sim/contact): 0x30 … 0x3F.
// No card in the contact slot, or no SAM in the addressed SAM slot.
inline constexpr std::uint8_t kContactNoCard = 0x30;
// The memory card is not powered (PowerOn first), or the CPU card / SAM has
// not been reset since it was inserted.
inline constexpr std::uint8_t kContactNotPowered = 0x31;
// The command belongs to another kind of card than the one in the slot
// (memory card, AT1608, CPU card), or no memory-card type is selected.
inline constexpr std::uint8_t kContactWrongCard = 0x32;
// SelectCard with a type code the reader does not know (it knows 0 … 30).
inline constexpr std::uint8_t kContactUnknownType = 0x33;
// Area, address, zone, page, offset or count outside the card (or a block
// transfer piece that crosses its page).
inline constexpr std::uint8_t kContactBadAddress = 0x34;
// Security code, password, erase key or zone key wrong: one attempt used up.
inline constexpr std::uint8_t kContactWrongCode = 0x35;
// The attempt counter is used up: the card (or that key) is locked for good.
inline constexpr std::uint8_t kContactLocked = 0x36;
// Writing, erasing or changing the code needs the code (password) verified.
inline constexpr std::uint8_t kContactNotVerified = 0x37;
// The bytes are read only (identity bytes).
inline constexpr std::uint8_t kContactReadOnly = 0x38;
// The card has no security code, or no key of that selector or zone.
inline constexpr std::uint8_t kContactNoSuchCode = 0x39;
// AT1608 authentication: the host's answer does not match the card's.
inline constexpr std::uint8_t kContactAuthFailed = 0x3A;

// RF5550 tags (sim/rf5550): 0x40 … 0x47.
// No tag answers: the field is empty, or the tag waits for a wake command
// (wake mode) and has not been woken since it entered the field.
inline constexpr std::uint8_t kRf5550NoTag = 0x40;
// Block number outside 0 … 7, or above the tag's highest readable block.
inline constexpr std::uint8_t kRf5550BadBlock = 0x41;
// The password sent does not match the tag's password block.
inline constexpr std::uint8_t kRf5550WrongPassword = 0x42;
// The block is locked against writing.
inline constexpr std::uint8_t kRf5550Locked = 0x43;
// The password block cannot be read without the password (password mode).
inline constexpr std::uint8_t kRf5550ReadProtected = 0x44;

// Attendance terminal (sim/attendance): 0x48 … 0x4F.
// The clock record holds an impossible date or time.
inline constexpr std::uint8_t kKqBadClock = 0x48;
// Record selector, count or pass-through code the terminal does not know.
inline constexpr std::uint8_t kKqBadRequest = 0x49;
// The record position lies beyond the records stored.
inline constexpr std::uint8_t kKqNoSuchRecord = 0x4A;

}  // namespace readersim::status
