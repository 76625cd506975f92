#include "bench_commands.h"

#include <array>

#include "conversions.h"
#include "orvix_binding.h"

namespace cardbench {

const QStringList kCardButtons = {
    QStringLiteral("Command2"),     QStringLiteral("Command3"),   QStringLiteral("Command4"),
    QStringLiteral("Command5"),     QStringLiteral("Command6"),   QStringLiteral("Command7"),
    QStringLiteral("Command8"),     QStringLiteral("Command9"),   QStringLiteral("Command10"),
    QStringLiteral("READCARDTYPE"), QStringLiteral("readcardno"), QStringLiteral("LOADKEY"),
    QStringLiteral("READDATA"),     QStringLiteral("WRITEDATA"),  QStringLiteral("EDITKEY"),
    QStringLiteral("READBAG"),      QStringLiteral("WRITEBAG"),   QStringLiteral("ADDBAG"),
    QStringLiteral("SUBBAG")};
const QStringList kReaderButtons = {QStringLiteral("READNO"), QStringLiteral("READVER"),
                                    QStringLiteral("DRIVER"), QStringLiteral("WIZAP")};

namespace {

const QString kCommand1 = QStringLiteral("Command1");
const QString kRetype = QStringLiteral(" 请重新输入命令！");

// The busy pointer for the length of a handler, also when it ends early.
class Busy {
 public:
  explicit Busy(BenchView& view) : view_(view) { view_.setBusy(true); }
  ~Busy() { view_.setBusy(false); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  BenchView& view_;
};

}  // namespace

BenchCommands::BenchCommands(Module1& state, WindowState& window, OrvixBinding& library,
                             BenchView& view, BenchDialogs& dialogs)
    : state_(state), window_(window), lib_(library), view_(view), dialogs_(dialogs) {}

void BenchCommands::setCardButtons(bool enabled) {
  for (const QString& name : kCardButtons) view_.setButtonEnabled(name, enabled);
}

void BenchCommands::retypeLine() { view_.addLine(kRetype); }

// ---- Window and reader connection --------------------------------------------

void BenchCommands::load() {
  view_.setButtonEnabled(kCommand1, false);
  setCardButtons(false);
  for (const QString& name : kReaderButtons) view_.setButtonEnabled(name, false);
}

void BenchCommands::clear() {
  Busy busy(view_);
  view_.clearList();
  view_.setCardNo(QString());
  view_.setCardType(QString());
}

void BenchCommands::comm() {
  Busy busy(view_);
  lianjie();
}

void BenchCommands::lianjie() {
  std::int32_t port = 0;  // COM1 first, then COM2
  window_.cmdStatus = lib_.AutoLinkCom(&port);
  view_.addLine(QStringLiteral("    "));
  if (window_.cmdStatus != 0) {
    setCardButtons(false);
    view_.addLine(QStringLiteral(" 通信口联接失败！请检查MF读写器连接是否正常！"));
    // A port that opened but found no reader is let go as well.
    lib_.UnLinkCom();
    return;
  }
  std::int32_t module = 0;
  window_.cmdStatus = lib_.RFMifare_Mcmno(&module);
  if (module == 17) {
    view_.addLine(QStringLiteral(" 系统与TK61 MIFARE读写器连接成功！"));
    view_.setButtonEnabled(kCommand1, true);
    for (const QString& name : kReaderButtons) view_.setButtonEnabled(name, true);
    setCardButtons(true);
  } else {
    setCardButtons(false);
    view_.addLine(QStringLiteral(" 系统连接的不是TK61 MIFARE读写器,请重新连接！"));
    // Not our reader: let the port go, since 断开联接 may be disabled and
    // nothing else would release it. cmdStatus keeps the module read's status.
    lib_.UnLinkCom();
  }
}

void BenchCommands::failureLines(const QString& failure) {
  view_.addLine(QString());
  view_.addLine(failure);
}

bool BenchCommands::readerLines(const QString& success, const QString& failure) {
  if (window_.cmdStatus != 0) {
    failureLines(failure);
    return false;
  }
  view_.clearList();
  view_.addLine(QStringLiteral(" "));
  view_.addLine(success);
  return true;
}

void BenchCommands::readNo() {
  Busy busy(view_);
  std::int32_t module = 0;
  window_.cmdStatus = lib_.RFMifare_Mcmno(&module);
  if (readerLines(QStringLiteral(" 读模块号成功！ "), QStringLiteral(" 读模块号失败！")))
    view_.addLine(QStringLiteral(" 模块号=") + QString::number(module));
}

void BenchCommands::readVer() {
  Busy busy(view_);
  std::array<std::uint8_t, 21> version{};
  window_.cmdStatus = lib_.DEVVER(version.data());
  if (readerLines(QStringLiteral(" 读控制软件版本号成功！ "),
                  QStringLiteral(" 读控制软件版本号失败！")))
    view_.addLine(versionLine(version));
}

void BenchCommands::driver() {
  Busy busy(view_);
  window_.cmdStatus = lib_.ALARM(7, 30, 30, 3);
  readerLines(QStringLiteral(" 灯控操作成功！"), QStringLiteral(" 灯控操作失败！"));
}

void BenchCommands::wizap() {
  Busy busy(view_);
  window_.cmdStatus = lib_.UnLinkCom();
  view_.clearList();
  view_.addLine(QStringLiteral(" "));
  if (window_.cmdStatus == 0) {
    view_.addLine(QStringLiteral(" 断开联接成功！"));
    view_.setButtonEnabled(kCommand1, false);
    setCardButtons(false);
  } else {
    view_.addLine(QStringLiteral(" 断开联接失败！"));
  }
}

void BenchCommands::exit() {
  {
    Busy busy(view_);
    // Errors here do not keep the program from ending.
    try {
      window_.cmdStatus = lib_.UnLinkCom();
    } catch (const BindingError&) {
    }
  }
  view_.closeWindow();
}

// ---- Card selection ----------------------------------------------------------

void BenchCommands::command2() {
  dialogs_.callMode();
  if (state_.dialogOk == 0) return retypeLine();
  if (state_.modeChoice == 2) {
    view_.clearList();
    view_.addLine(QStringLiteral(" 呼叫操作取消"));
    return;
  }
  Busy busy(view_);
  // The library copies its reply whatever the status; only a card's answer
  // is a card type.
  std::int32_t type = state_.cardTypeCode;
  window_.cmdStatus = lib_.RFMifare_Request(state_.modeChoice, &type);
  view_.clearList();
  view_.addLine(QStringLiteral("    "));
  if (window_.cmdStatus != 0) {
    view_.addLine(QStringLiteral(" 呼叫失败"));
    return;
  }
  state_.cardTypeCode = type;
  view_.addLine(QStringLiteral(" 呼叫成功"));
  if (state_.cardTypeCode == kMifare1) {
    view_.addLine(QStringLiteral(" 卡类型为：Mifare 1"));
    view_.setCardType(QStringLiteral("Mifare 1"));
  } else {
    view_.addLine(QStringLiteral(" 卡类型为：Mifare Light 10"));
    view_.setCardType(QStringLiteral("Mifare Light 10"));
  }
}

void BenchCommands::readSerial(int (OrvixBinding::*read)(std::int32_t*)) {
  Busy busy(view_);
  view_.clearList();
  view_.addLine(QStringLiteral(" "));
  // A failed read keeps the serial the card gave before.
  std::int32_t serial = state_.cardSerial;
  window_.cmdStatus = (lib_.*read)(&serial);
  if (window_.cmdStatus != 0) {
    view_.addLine(QStringLiteral(" 读序列号失败！"));
    view_.setCardNo(QStringLiteral(" "));
  } else {
    state_.cardSerial = serial;
    view_.addLine(QStringLiteral(" 读卡片序列号成功！"));
    view_.setCardNo(zeroPaddedHex(state_.cardSerial));
  }
}

void BenchCommands::command1() { readSerial(&OrvixBinding::RFMifare_AntiColl); }

void BenchCommands::readCardNo() { readSerial(&OrvixBinding::RFMifare_GetSnr); }

void BenchCommands::outcomeLines(const QString& blankLine, const QString& success,
                                 const QString& failure) {
  view_.clearList();
  view_.addLine(blankLine);
  view_.addLine(window_.cmdStatus != 0 ? failure : success);
}

void BenchCommands::command3() {
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_Select(state_.cardSerial);
  outcomeLines(QStringLiteral(" "), QStringLiteral(" 卡激活成功"), QStringLiteral(" 卡激活失败"));
}

void BenchCommands::command10() {
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_Halt();
  outcomeLines(QStringLiteral(" "), QStringLiteral(" 已成功得使卡休眠"),
               QStringLiteral(" 休眠操作失败"));
}

void BenchCommands::readCardType() {
  Busy busy(view_);
  std::int32_t type = state_.cardTypeCode;
  window_.cmdStatus = lib_.RFMifare_GetType(&type);
  if (window_.cmdStatus != 0) {
    failureLines(QStringLiteral(" 读卡类型失败！"));
    return;
  }
  state_.cardTypeCode = type;
  if (state_.cardTypeCode == kMifareLight10) {
    view_.setCardType(QStringLiteral("Mifare Light L10"));
    view_.clearList();
    view_.addLine(QStringLiteral(" "));
    view_.addLine(QStringLiteral(" 读卡类型成功！ "));
    view_.setButtonEnabled(QStringLiteral("ADDBAG"), false);
  } else {
    view_.setButtonEnabled(QStringLiteral("ADDBAG"), true);
    view_.setCardType(QStringLiteral("Mifare 1"));
    view_.clearList();
    view_.addLine(QString());
    view_.addLine(QStringLiteral(" 读卡类型成功！"));
  }
}

// ---- Keys --------------------------------------------------------------------

std::array<std::uint8_t, 7> BenchCommands::keyBytesFromText() {
  std::array<std::uint8_t, 7> keyBytes{};
  hexTextToBytes(state_.keyText.text(), keyBytes, 6, window_.loopIndex);
  return keyBytes;
}

void BenchCommands::keyResultLines(const QString& blankLine) {
  outcomeLines(blankLine, QStringLiteral(" 密码传送成功！"), QStringLiteral(" 密码传送失败！"));
}

bool BenchCommands::askKey(std::int16_t mode, bool mifare1) {
  state_.keyDialogMode = mode;
  if (mifare1)
    dialogs_.mima();
  else
    dialogs_.ml10Mima();
  if (state_.dialogOk == 0) {
    retypeLine();
    return false;
  }
  return true;
}

void BenchCommands::ml10LoadKey() {
  const int keyType = state_.sectorNo;  // 0 = A, 1 = B
  auto keyBytes = keyBytesFromText();
  // Sets the reader's key mode to the chosen key; its status is replaced by
  // the key load's below.
  window_.cmdStatus = lib_.RFMifare_Authmode(keyType);
  window_.cmdStatus = lib_.RFMifare_LoadKey(keyType * 4, 0, keyBytes.data());
}

void BenchCommands::command4() {
  const bool mifare1 = isMifare1();
  if (!askKey(mifare1 ? kKeyLoad : kKeyTransfer, mifare1)) return;
  Busy busy(view_);
  if (mifare1) {
    state_.keySectorNo = state_.sectorNo;
    const int keyMode = state_.keyChoice * 4;
    auto keyBytes = keyBytesFromText();
    window_.cmdStatus = lib_.RFMifare_LoadKey(keyMode, state_.keySectorNo, keyBytes.data());
  } else {
    ml10LoadKey();
  }
  keyResultLines(QStringLiteral(" "));
}

void BenchCommands::loadKey() {
  const bool mifare1 = isMifare1();
  if (!askKey(kKeyTransfer, mifare1)) return;
  Busy busy(view_);
  if (mifare1) {
    state_.keySectorNo = state_.sectorNo;
    auto keyBytes = keyBytesFromText();
    window_.cmdStatus = lib_.RFMifare_TransKey(state_.keySectorNo, keyBytes.data());
  } else {
    ml10LoadKey();
  }
  keyResultLines(QStringLiteral(" "));
}

void BenchCommands::editKey() {
  if (!askKey(kKeyTransfer, isMifare1())) return;
  Busy busy(view_);
  state_.keySectorNo = state_.sectorNo;
  auto keyBytes = keyBytesFromText();
  window_.cmdStatus =
      lib_.RFMifare_WriteKey(state_.keySectorNo, state_.cardSerial, keyBytes.data(), 255);
  keyResultLines(QStringLiteral("    "));
}

void BenchCommands::command9() {
  const bool mifare1 = isMifare1();
  if (!askKey(mifare1 ? kKeyAuthenticate : kKeyLoad, mifare1)) return;
  if (mifare1) {
    state_.keySectorNo = state_.sectorNo;
    if (state_.keyChoice == 2) {
      view_.clearList();
      view_.addLine(QStringLiteral(" 密码输入错误！"));
      return;
    }
  }
  Busy busy(view_);
  if (mifare1) {
    window_.cmdStatus =
        lib_.RFMifare_Authentication(state_.keyChoice, state_.sectorNo, state_.sectorNo * 4 + 3);
  } else {
    const int keyType = state_.sectorNo;  // 0 = A, 1 = B
    window_.cmdStatus = lib_.RFMifare_Authentication(keyType, 0, keyType == 0 ? 6 : 8);
  }
  outcomeLines(QStringLiteral(" "), QStringLiteral(" 密码认证通过"),
               QStringLiteral(" 密码认证未通过"));
}

// ---- Blocks ------------------------------------------------------------------

void BenchCommands::dataBytesFromText(int n) {
  hexTextToBytes(state_.dataText.text(), window_.dataBytes, n, window_.loopIndex);
}

QString BenchCommands::dumpLine(int n) {
  return hexDumpLine(window_.dataBytes, n, window_.loopIndex);
}

bool BenchCommands::askData(std::int16_t mode, bool mifare1, bool amountEntry) {
  state_.dataDialogMode = mode;
  if (mifare1)
    dialogs_.inputData(amountEntry);
  else
    dialogs_.ml10Input(amountEntry);
  if (state_.dialogOk == 0) {
    retypeLine();
    return false;
  }
  return true;
}

bool BenchCommands::askBlock(std::int16_t mode, int& address) {
  if (!askData(mode, isMifare1(), false)) return false;
  address = isMifare1() ? mifare1Address() : state_.sectorNo;
  return true;
}

void BenchCommands::blockReadLines() {
  view_.clearList();
  view_.addLine(QStringLiteral("  "));
  if (window_.cmdStatus != 0) {
    view_.addLine(QStringLiteral(" 读数据块失败！"));
    return;
  }
  view_.addLine(QStringLiteral(" 读数据块成功！"));
  view_.addLine(dumpLine(isMifare1() ? 16 : 8));
}

void BenchCommands::command5() {
  int address = 0;
  if (!askBlock(kDataRead, address)) return;
  Busy busy(view_);
  state_.blockAddr = address;
  window_.cmdStatus = lib_.RFMifare_Read(address, window_.dataBytes.data());
  blockReadLines();
}

void BenchCommands::readData() {
  int address = 0;
  if (!askBlock(kDataRead, address)) return;
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_ReadBlock(address, state_.cardSerial, window_.dataBytes.data());
  blockReadLines();
}

void BenchCommands::command6() {
  int address = 0;
  if (!askBlock(kDataWrite, address)) return;
  Busy busy(view_);
  state_.blockAddr = address;
  // A Mifare Light 10 page takes 4 bytes; bytes 4 … 15 go out as the last
  // block command left them.
  dataBytesFromText(isMifare1() ? 16 : 4);
  window_.cmdStatus = lib_.RFMifare_Write(address, window_.dataBytes.data());
  outcomeLines(QStringLiteral(" "), QStringLiteral(" 数据写入成功"),
               QStringLiteral(" 数据写入失败"));
}

void BenchCommands::writeData() {
  const bool mifare1 = isMifare1();
  int address = 0;
  // Mifare Light text goes as it stands: that dialog mode checks no length.
  if (!askBlock(mifare1 ? kDataWrite : kDataText, address)) return;
  Busy busy(view_);
  const int width = mifare1 ? 16 : 8;
  dataBytesFromText(width);
  window_.cmdStatus =
      lib_.RFMifare_WriteBlock(address, state_.cardSerial, window_.dataBytes.data());
  view_.clearList();
  view_.addLine(mifare1 ? QStringLiteral("   ") : QStringLiteral(" "));
  if (window_.cmdStatus != 0) {
    view_.addLine(QStringLiteral(" 写数据块失败！"));
    return;
  }
  view_.addLine(QStringLiteral(" 写数据块成功！"));
  view_.addLine(dumpLine(width));
}

// ---- Purse -------------------------------------------------------------------

bool BenchCommands::takeAmount() {
  // The dialogs refuse amounts that are not whole decimal numbers or do not
  // fit; this guards the handlers.
  const auto amount = wholeAmount(state_.dataText.text());
  if (!amount) {
    retypeLine();
    return false;
  }
  state_.purseValue = *amount;
  return true;
}

bool BenchCommands::askAmount(bool mifare1) {
  if (!askData(kDataText, mifare1, true)) return false;
  if (mifare1) state_.blockAddr = mifare1Address();
  return takeAmount();
}

void BenchCommands::purseResultLines(const QString& blankLine, const QString& success,
                                     const QString& failure, const QString& amountPrefix) {
  view_.clearList();
  view_.addLine(blankLine);
  if (window_.cmdStatus != 0) {
    view_.addLine(failure + amountText(window_.cmdStatus));
    return;
  }
  view_.addLine(success);
  view_.addLine(amountPrefix + amountText(state_.purseValue));
}

void BenchCommands::command7() {
  if (state_.cardTypeCode == kMifareLight10) {
    view_.clearList();
    view_.addLine(QStringLiteral(" "));
    view_.addLine(QStringLiteral(" ML10卡不支持加操作"));
    return;
  }
  if (!askAmount(true)) return;
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_Increment(state_.blockAddr, state_.purseValue);
  outcomeLines(QStringLiteral(" "), QStringLiteral(" 加钱包操作成功"),
               QStringLiteral(" 加钱包操作失败"));
}

void BenchCommands::command8() {
  const bool mifare1 = isMifare1();
  if (!askData(kDataText, mifare1, true)) return;
  state_.blockAddr = mifare1 ? mifare1Address() : 0;
  if (!takeAmount()) return;
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_Decrment(state_.blockAddr, state_.purseValue);
  outcomeLines(QStringLiteral(" "), QStringLiteral(" 减操作成功"), QStringLiteral(" 减操作失败"));
}

void BenchCommands::readBag() {
  const bool mifare1 = isMifare1();
  // Other card types keep their purse at address 0 and are asked nothing.
  if (mifare1) {
    if (!askData(kDataRead, true, false)) return;
    state_.blockAddr = mifare1Address();
  }
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_ReadValue(mifare1 ? state_.blockAddr : 0, state_.cardSerial,
                                              &state_.purseValue);
  purseResultLines(QStringLiteral("  "), QStringLiteral(" 读电子钱包成功！"),
                   QStringLiteral(" 读电子钱包失败！"), QStringLiteral(" 当前电子钱包="));
}

void BenchCommands::writeBag() {
  const bool mifare1 = isMifare1();
  if (!askAmount(mifare1)) return;
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_WriteValue(mifare1 ? state_.blockAddr : 0, state_.cardSerial,
                                               &state_.purseValue);
  purseResultLines(mifare1 ? QStringLiteral("  ") : QStringLiteral(" "),
                   QStringLiteral(" 写电子钱包成功！"), QStringLiteral(" 写电子钱包失败！"),
                   QStringLiteral(" 电子钱包="));
}

void BenchCommands::addBag() {
  if (!askAmount(true)) return;
  Busy busy(view_);
  window_.cmdStatus =
      lib_.RFMifare_IncrementValue(state_.blockAddr, state_.cardSerial, &state_.purseValue);
  purseResultLines(QStringLiteral("  "), QStringLiteral(" 加电子钱包成功！"),
                   QStringLiteral(" 加电子钱包失败！"), QStringLiteral(" 当前电子钱包="));
}

void BenchCommands::subBag() {
  const bool mifare1 = isMifare1();
  if (!askAmount(mifare1)) return;
  Busy busy(view_);
  window_.cmdStatus = lib_.RFMifare_DecrementValue(mifare1 ? state_.blockAddr : 0,
                                                   state_.cardSerial, &state_.purseValue);
  purseResultLines(QStringLiteral("  "), QStringLiteral(" 减电子钱包成功！"),
                   QStringLiteral(" 减电子钱包失败！"), QStringLiteral(" 当前电子钱包="));
}

}  // namespace cardbench
