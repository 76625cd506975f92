// Known answers of the AT1608 authentication cipher, in hexadecimal: card
// identity, secret, challenge, then the card's answer E and the host's
// answer H. Computed once by a separate implementation written from the
// cipher's description (it also reproduces the register values of the
// feed and output steps checked in crypto_test), not by the code under test.
#pragma once

struct At1608Vector {
  const char *identity, *secret, *challenge, *expected, *host;
};

inline constexpr At1608Vector kAt1608Vectors[] = {
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "0000000000000000",
     "0000000000000000"},
    {"1608202612060001", "0123456789ABCDEF", "0102030405060708", "C3D4D886F0C42993",
     "7A2E4AB688A1151A"},
    {"3B21600812345678", "A0B1C2D3E4F50617", "0102030405060708", "D87F94B0D0E93E5C",
     "D5A877ABF8B3A2DD"},
    {"1020304050607080", "0102030405060708", "A0A1A2A3A4A5A6A7", "7EC332B2769B08F2",
     "C5AE1A6396F95B67"},
    {"1020304050607080", "0102030405060708", "A0A1A2A3A4A5A6A6", "7ECD3CF37E733036",
     "C19E8A6C81AA5B5B"},
};
