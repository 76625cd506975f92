// The IFD handler entry points pcscd calls, and the links behind them.
//
// pcscd calls IFDHCreateChannelByName per reader.conf.d entry with
// Lun = reader << 16 (slot 0), and again for each further slot of that
// reader (Lun = reader << 16 | slot); every slot of a reader shares the one
// channel, which ends when each has been closed. Every call takes the
// link's lock for its whole run, so the driver is thread safe and its slots
// may be used from several threads at once. A reader that stops answering
// (unplugged, silent, its server gone) is closed; its slots then read empty
// and every call fails at once, while presence polls try to link again at
// most once a second, so a replugged reader comes back by itself. No call
// waits longer than the library's exchange allowances.
extern "C" {
#include <ifdhandler.h>
#include <reader.h>
}

#include <chrono>
#include <cstring>
#include <map>

#include "ifd.h"

namespace orvix::ifd {

namespace {

constexpr DWORD kMaxReaders = 16;
constexpr long long kRelinkPauseMs = 1000;

const char* const kSlotWords[kKinds] = {"cpu", "sam1", "sam2", "sam3", "sam4", "contactless"};

struct Channel {
  std::shared_ptr<Link> link;
  std::vector<Kind> slots;  // PC/SC slot number -> the reader's slot
  std::string name;         // DEVICENAME as pcscd gave it
  int opens = 1;            // slots opened and not closed
};

std::mutex registryMu;
std::map<DWORD, Channel>& channels() {
  static std::map<DWORD, Channel> c;
  return c;
}
std::map<std::string, std::weak_ptr<Link>>& links() {
  static std::map<std::string, std::weak_ptr<Link>> l;
  return l;
}

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// "PORT" or "SLOT:PORT" (SLOT a slot word, or "all"): the port and the
// slots the entry serves.
bool parseDevice(const std::string& name, std::string& port, std::vector<Kind>& slots) {
  port = name;
  slots.clear();
  const auto colon = name.find(':');
  const std::string word = colon == std::string::npos ? "" : name.substr(0, colon);
  for (int k = 0; k < kKinds; ++k)
    if (word == kSlotWords[k] || word == "all") slots.push_back(static_cast<Kind>(k));
  if (!slots.empty())
    port = name.substr(colon + 1);
  else
    for (int k = 0; k < kKinds; ++k) slots.push_back(static_cast<Kind>(k));
  return !port.empty();
}

// The channel of a Lun and the slot it names; false when there is none.
bool find(DWORD lun, std::shared_ptr<Link>& link, Kind& kind, std::size_t* count = nullptr) {
  std::lock_guard<std::mutex> lk(registryMu);
  const auto it = channels().find(lun >> 16);
  if (it == channels().end()) return false;
  const DWORD slot = lun & 0xFFFF;
  if (slot >= it->second.slots.size()) return false;
  link = it->second.link;
  kind = it->second.slots[slot];
  if (count) *count = it->second.slots.size();
  return true;
}

bool isLinkFailure(int code) { return (code >= 101 && code <= 115) || code == ORVIX_CANCELLED; }

}  // namespace

Link::~Link() { orvix_close(reader); }

void Link::cancel() {
  std::lock_guard<std::mutex> lk(cancelMu);
  if (reader) orvix_cancel(reader);
}

void Link::setReader(orvix_reader* r) {
  std::lock_guard<std::mutex> lk(cancelMu);
  orvix_close(reader);
  reader = r;
}

bool linked(Link& link) {
  if (link.reader) return true;
  const long long now = nowMs();
  if (now < link.nextRelinkMs) return false;
  link.nextRelinkMs = now + kRelinkPauseMs;
  orvix_reader* r = nullptr;
  if (orvix_open(link.device.c_str(), nullptr, &r) != 0) return false;
  link.setReader(r);
  link.slots = {};
  return true;
}

bool dropOnLinkError(Link& link, int code) {
  if (!isLinkFailure(code)) return false;
  link.setReader(nullptr);
  link.nextRelinkMs = nowMs() + kRelinkPauseMs;
  link.slots = {};
  return true;
}

}  // namespace orvix::ifd

using namespace orvix::ifd;

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) {
  if (!DeviceName) return IFD_COMMUNICATION_ERROR;
  try {
    std::string port;
    std::vector<Kind> slots;
    if (!parseDevice(DeviceName, port, slots)) return IFD_COMMUNICATION_ERROR;
    std::shared_ptr<Link> link;
    {
      std::lock_guard<std::mutex> lk(registryMu);
      // pcscd opens each further slot of a reader with the same name.
      if (const auto it = channels().find(Lun >> 16); it != channels().end()) {
        if (it->second.name != DeviceName || (Lun & 0xFFFF) >= it->second.slots.size())
          return IFD_COMMUNICATION_ERROR;
        ++it->second.opens;
        return IFD_SUCCESS;
      }
      link = links()[port].lock();
      if (!link) {
        link = std::make_shared<Link>(port);
        links()[port] = link;
      }
      channels()[Lun >> 16] = Channel{link, slots, DeviceName};
    }
    // A reader that does not answer yet is no reason to refuse the entry:
    // its slots read empty until it does.
    std::lock_guard<std::mutex> lk(link->mu);
    linked(*link);
    return IFD_SUCCESS;
  } catch (...) {
    return IFD_COMMUNICATION_ERROR;
  }
}

// Entries without DEVICENAME (a CHANNELID alone) name no port this driver
// can open.
RESPONSECODE IFDHCreateChannel(DWORD, DWORD) { return IFD_COMMUNICATION_ERROR; }

RESPONSECODE IFDHCloseChannel(DWORD Lun) {
  std::shared_ptr<Link> link;
  {
    std::lock_guard<std::mutex> lk(registryMu);
    const auto it = channels().find(Lun >> 16);
    if (it == channels().end()) return IFD_SUCCESS;
    if (--it->second.opens > 0) return IFD_SUCCESS;
    link = it->second.link;
    channels().erase(it);
  }
  // A call still running on the link is cancelled; the last channel of the
  // port closes it.
  link->cancel();
  std::lock_guard<std::mutex> lk(registryMu);
  if (link.use_count() == 1) links().erase(link->device);
  return IFD_SUCCESS;
}

RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
  if (!Length || !Value) return IFD_ERROR_TAG;
  std::shared_ptr<Link> link;
  Kind kind{};
  std::size_t slots = 0;
  if (!find(Lun, link, kind, &slots)) return IFD_COMMUNICATION_ERROR;
  auto one = [&](UCHAR v) {
    if (*Length < 1) return static_cast<RESPONSECODE>(IFD_ERROR_INSUFFICIENT_BUFFER);
    *Length = 1;
    *Value = v;
    return static_cast<RESPONSECODE>(IFD_SUCCESS);
  };
  switch (Tag) {
    case TAG_IFD_ATR:
    case SCARD_ATTR_ATR_STRING: {
      std::lock_guard<std::mutex> lk(link->mu);
      const Slot& s = link->slots[static_cast<int>(kind)];
      if (!s.powered) {
        *Length = 0;
        return IFD_SUCCESS;
      }
      if (*Length < s.atr.size()) return IFD_ERROR_INSUFFICIENT_BUFFER;
      std::memcpy(Value, s.atr.data(), s.atr.size());
      *Length = static_cast<DWORD>(s.atr.size());
      return IFD_SUCCESS;
    }
    case TAG_IFD_SLOTS_NUMBER:
      return one(static_cast<UCHAR>(slots));
    case TAG_IFD_SIMULTANEOUS_ACCESS:
      return one(static_cast<UCHAR>(kMaxReaders));
    case TAG_IFD_THREAD_SAFE:
    case TAG_IFD_SLOT_THREAD_SAFE:
      return one(1);
    default:
      return IFD_ERROR_TAG;
  }
}

RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_NOT_SUPPORTED; }

RESPONSECODE IFDHSetProtocolParameters(DWORD Lun, DWORD Protocol, UCHAR, UCHAR, UCHAR, UCHAR) {
  std::shared_ptr<Link> link;
  Kind kind{};
  if (!find(Lun, link, kind)) return IFD_COMMUNICATION_ERROR;
  if (kind == Kind::Contactless)
    return Protocol == SCARD_PROTOCOL_T0 || Protocol == SCARD_PROTOCOL_T1
               ? IFD_SUCCESS
               : IFD_PROTOCOL_NOT_SUPPORTED;
  std::lock_guard<std::mutex> lk(link->mu);
  const Slot& s = link->slots[static_cast<int>(kind)];
  const DWORD own = s.protocol == 1 ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
  return s.powered && Protocol == own ? IFD_SUCCESS : IFD_PROTOCOL_NOT_SUPPORTED;
}

RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  std::shared_ptr<Link> link;
  Kind kind{};
  if (!find(Lun, link, kind) || !AtrLength) return IFD_COMMUNICATION_ERROR;
  const DWORD room = *AtrLength;
  *AtrLength = 0;
  if (Action != IFD_POWER_UP && Action != IFD_POWER_DOWN && Action != IFD_RESET)
    return IFD_NOT_SUPPORTED;
  try {
    std::lock_guard<std::mutex> lk(link->mu);
    const bool up = Action != IFD_POWER_DOWN;
    if (!linked(*link)) return up ? IFD_COMMUNICATION_ERROR : IFD_SUCCESS;
    Bytes atr;
    const long rc =
        kind == Kind::Contactless ? fieldPower(*link, up, atr) : contactPower(*link, kind, up, atr);
    if (rc != IFD_SUCCESS || !up) return rc;
    if (!Atr || room < atr.size()) return IFD_ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(Atr, atr.data(), atr.size());
    *AtrLength = static_cast<DWORD>(atr.size());
    return IFD_SUCCESS;
  } catch (...) {
    return IFD_COMMUNICATION_ERROR;
  }
}

RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER, PUCHAR TxBuffer, DWORD TxLength,
                               PUCHAR RxBuffer, PDWORD RxLength, PSCARD_IO_HEADER RecvPci) {
  std::shared_ptr<Link> link;
  Kind kind{};
  if (!find(Lun, link, kind) || !TxBuffer || !RxBuffer || !RxLength) return IFD_COMMUNICATION_ERROR;
  std::size_t length = *RxLength;
  *RxLength = 0;
  try {
    std::lock_guard<std::mutex> lk(link->mu);
    if (!link->reader) return IFD_ICC_NOT_PRESENT;
    const long rc = kind == Kind::Contactless
                        ? fieldTransmit(*link, TxBuffer, TxLength, RxBuffer, length)
                        : contactTransmit(*link, kind, TxBuffer, TxLength, RxBuffer, length);
    *RxLength = static_cast<DWORD>(length);
    if (RecvPci) {
      const int p = link->slots[static_cast<int>(kind)].protocol;
      RecvPci->Protocol = p == 1 ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
      RecvPci->Length = sizeof *RecvPci;
    }
    return rc;
  } catch (...) {
    return IFD_COMMUNICATION_ERROR;
  }
}

RESPONSECODE IFDHControl(DWORD Lun, DWORD dwControlCode, PUCHAR, DWORD, PUCHAR, DWORD,
                         LPDWORD pdwBytesReturned) {
  std::shared_ptr<Link> link;
  Kind kind{};
  if (pdwBytesReturned) *pdwBytesReturned = 0;
  if (!find(Lun, link, kind)) return IFD_COMMUNICATION_ERROR;
  // The reader offers no PC/SC part 10 features (PIN pad, display): the
  // feature list asked for with GET_FEATURE_REQUEST is empty.
  if (dwControlCode == CM_IOCTL_GET_FEATURE_REQUEST) return IFD_SUCCESS;
  return IFD_ERROR_NOT_SUPPORTED;
}

RESPONSECODE IFDHICCPresence(DWORD Lun) {
  std::shared_ptr<Link> link;
  Kind kind{};
  if (!find(Lun, link, kind)) return IFD_COMMUNICATION_ERROR;
  try {
    std::lock_guard<std::mutex> lk(link->mu);
    if (!linked(*link)) return IFD_ICC_NOT_PRESENT;
    return kind == Kind::Contactless ? fieldPresence(*link) : contactPresence(*link, kind);
  } catch (...) {
    return IFD_COMMUNICATION_ERROR;
  }
}

}  // extern "C"
