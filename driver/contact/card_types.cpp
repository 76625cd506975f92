// What the memory-card family does differently for each selected card type:
// one table, one row per run of type codes.
#include <array>

#include "contact/contact_common.h"

namespace orvix::contact {

namespace {

using enum IdentityCheck;
using enum SecretCheck;
using enum SecretAccess;
using enum EraseKeyForm;

struct Row {
  int first;
  int last;
  CardBehaviour behaviour;
};

// One row per run of type codes. Columns: identity check, its second byte,
// CheckSecret, ReadSecret, ModifySecret, code address, ReadSecret count,
// erase command, erase key, zone keys, block-transfer page size.
// clang-format off
constexpr std::array kRows = {
    Row{0, 0,      {Address0, 0,    Reordered,    InMemory,      InMemory,      8,  6, true,  FourByte,   false, 256}},
    Row{1, 1,      {Address6, 0x05, CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{2, 2,      {Address6, 0x15, General,      SecurityArea,  SecurityArea,  0,  0, false, KeyRefused, false, 256}},
    Row{3, 3,      {Address6, 0x03, CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{4, 4,      {Address6, 0x13, General,      SecurityArea,  SecurityArea,  0,  0, false, KeyRefused, false, 256}},
    Row{5, 9,      {Fails,    0,    General,      AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{10, 14,    {Skipped,  0,    CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{15, 15,    {Skipped,  0,    Reordered,    InMemory,      InMemory,      10, 4, true,  FourByte,   false, 256}},
    Row{16, 16,    {Skipped,  0,    Reordered,    InMemory,      InMemory,      10, 4, true,  BySelector, false, 256}},
    Row{17, 17,    {Skipped,  0,    Reordered,    InMemory,      InMemory,      10, 4, true,  KeyRefused, false, 256}},
    Row{18, 18,    {Fails,    0,    General,      AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{19, 20,    {Skipped,  0,    CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{21, 21,    {Skipped,  0,    CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 264}},
    Row{22, 24,    {Skipped,  0,    CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{25, 26,    {Skipped,  0,    TwoByte,      SecurityArea,  SecurityArea2, 0,  0, true,  TwoByteKey, true,  256}},
    Row{27, 27,    {Skipped,  0,    General,      AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{28, 29,    {Fails,    0,    General,      AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{30, 30,    {Skipped,  0,    CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
    Row{255, 255,  {Fails,    0,    CheckRefused, AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256}},
};

// Any code not in the table.
constexpr CardBehaviour kOther{Fails,    0,    General,      AccessRefused, AccessRefused, 0,  0, false, KeyRefused, false, 256};
// clang-format on

}  // namespace

const CardBehaviour& behaviourOf(int type) {
  for (const Row& row : kRows)
    if (type >= row.first && type <= row.last) return row.behaviour;
  return kOther;
}

}  // namespace orvix::contact
