// Mifare 1: the road of a card session with the basic commands. Request all
// cards, read the serial, select the card, load key A of sector 1 and
// authenticate the sector, read and write block 5, format block 6 as a value
// block and add to it, read the value back with a one-shot command, halt.
#include <cstring>
#include <string>

#include "orvix32.h"
#include "print.h"
#include "sections.h"

namespace {

// A value block: value, its inverse, the value, then the address byte four
// times, alternately inverted; the value least significant byte first.
void valueBlock(unsigned char* b, int value, unsigned char address) {
  const auto v = static_cast<unsigned>(value);
  for (int i = 0; i < 4; ++i) {
    const auto byte = static_cast<unsigned char>(v >> (8 * i));
    b[i] = byte;
    b[4 + i] = static_cast<unsigned char>(~byte);
    b[8 + i] = byte;
  }
  b[12] = b[14] = address;
  b[13] = b[15] = static_cast<unsigned char>(~address);
}

}  // namespace

int demoMifare() {
  heading("Mifare 1 card");
  int failed = 0;

  unsigned char info[4] = {};
  failed += show("RFMifare_Mcmno(info)", RFMifare_Mcmno(info), info, 4);

  unsigned char type[4] = {};
  failed += show("RFMifare_Request(1 = ALL, type)", RFMifare_Request(1, type), type, 4);

  unsigned char serialBytes[4] = {};
  failed += show("RFMifare_AntiColl(serial)", RFMifare_AntiColl(serialBytes), serialBytes, 4);
  int serial = 0;
  std::memcpy(&serial, serialBytes, 4);  // held as an int, bytes as delivered
  failed += show("RFMifare_Select(serial)", RFMifare_Select(serial));

  const unsigned char keyA[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  failed += show("RFMifare_LoadKey(0 = key A, 1, FFFFFFFFFFFF)", RFMifare_LoadKey(0, 1, keyA));
  failed += show("RFMifare_Authentication(0 = A, 1, 7)", RFMifare_Authentication(0, 1, 7));

  unsigned char data[16] = {};
  failed += show("RFMifare_Read(5, data)", RFMifare_Read(5, data), data, 16);
  const unsigned char text[16] = {'O', 'R', 'V', 'I', 'X', '3', '2', ' ',
                                  'b', 'l', 'o', 'c', 'k', ' ', '5', '.'};
  failed += show("RFMifare_Write(5, \"ORVIX32 block 5.\")", RFMifare_Write(5, text));
  failed += show("RFMifare_Read(5, data)", RFMifare_Read(5, data), data, 16);

  unsigned char purse[16];
  valueBlock(purse, 100, 6);
  failed += show("RFMifare_Write(6, value block 100)", RFMifare_Write(6, purse), purse, 16);
  failed += show("RFMifare_Increment(6, 25)", RFMifare_Increment(6, 25));
  int value = 0;
  const int st = RFMifare_ReadValue(6, serial, &value);
  failed += show("RFMifare_ReadValue(6, serial, &value)  value=" + std::to_string(value), st,
                 reinterpret_cast<unsigned char*>(&value), 4);

  failed += show("RFMifare_Halt()", RFMifare_Halt());
  return failed;
}
