// The main window against a simulated reader, through the real library: the
// lines every handler writes on success, on failure and after a cancelled
// dialog, the exact command bytes it sends, and the state it leaves.
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>

#include "bench_fixture.h"

using namespace cardbench;
using namespace cbtest;
using Step = ModalDriver::Step;

namespace {

const QString kRetype = QStringLiteral(" 请重新输入命令！");
const QStringList kEarlier = {QStringLiteral("earlier line")};
const QString kSerial = QStringLiteral("12 34 56 78");

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void cleanupTestCase();

  void systemCommands_data();
  void systemCommands();
  void busyPointerDuringCalls();
  void clearEmptiesListAndBoxes();

  void request_data();
  void request();
  void serialReads_data();
  void serialReads();
  void selectAndHalt();
  void readCardType();

  void keyCommands_data();
  void keyCommands();
  void authenticate_data();
  void authenticate();
  void keyCommandFailsAndCancels();

  void basicBlocks();
  void blockFailuresAndCancels();
  void oneShotBlocks();
  void lightBlocksUseStaleBytes();

  void oneShotPurse();
  void purseFailuresAndRefusals();
  void purseOnOtherCardTypes();
  void basicPurse();

  void screenshot();

 private:
  // Dialog steps; each notes the dialog it met in opened_.
  Step callMode(bool all);
  Step mima(int sector, int keyOption, const QString& key);
  Step ml10Mima(int keyOption, const QString& key);
  Step inputData(int sector, int block, const QString& data);
  Step ml10Input(int page, const QString& data);
  Step leave();
  // Request, anticollision, select and authentication of a sector with key A.
  void bringUp(int sector);

  std::unique_ptr<Reader> reader_;
  std::unique_ptr<MainWindow> w_;
  QStringList opened_;
};

Step WindowTest::callMode(bool all) {
  return confirmWith([this, all](QWidget* d) {
    opened_ << d->objectName();
    choose(d, all ? "Option1" : "Option2");
  });
}

Step WindowTest::mima(int sector, int keyOption, const QString& key) {
  return confirmWith([=, this](QWidget* d) {
    opened_ << d->objectName();
    choose(d, QStringLiteral("Option%1").arg(sector + 1));
    if (keyOption) choose(d, QStringLiteral("Option%1").arg(keyOption));
    typeInto(d, "mima", key);
  });
}

Step WindowTest::ml10Mima(int keyOption, const QString& key) {
  return confirmWith([=, this](QWidget* d) {
    opened_ << d->objectName();
    choose(d, QStringLiteral("Option%1").arg(keyOption));
    typeInto(d, "mima", key);
  });
}

Step WindowTest::inputData(int sector, int block, const QString& data) {
  return confirmWith([=, this](QWidget* d) {
    opened_ << d->objectName();
    choose(d, QStringLiteral("Option%1").arg(sector + 1));
    choose(d, QStringLiteral("Option%1").arg(17 + block));
    typeInto(d, "dataa", data);
  });
}

Step WindowTest::ml10Input(int page, const QString& data) {
  return confirmWith([=, this](QWidget* d) {
    opened_ << d->objectName();
    choose(d, QStringLiteral("Option%1").arg(page + 1));
    typeInto(d, "dataa", data);
  });
}

Step WindowTest::leave() {
  return [this](QWidget* d) {
    opened_ << d->objectName();
    clickLater(d, "cmdEXIT");
  };
}

void WindowTest::bringUp(int sector) {
  reader_->onlyCard("classic");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(press(*w_, "Command3"));
  QVERIFY(press(*w_, "Command9", {mima(sector, 17, {})}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 密码认证通过"}));
}

void WindowTest::initTestCase() {
  reader_ = std::make_unique<Reader>();
  QVERIFY(reader_->started);
  mapPorts(reader_->sim->path());
  w_ = std::make_unique<MainWindow>();
  w_->show();
  QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  QCOMPARE(w_->binding().loadedFrom(), QString());  // bound on the first call only
  QVERIFY(press(*w_, "comm"));
  QCOMPARE(listLines(*w_), QStringList({"    ", " 系统与TK61 MIFARE读写器连接成功！"}));
  // The library beside the program comes first.
  QCOMPARE(QFileInfo(w_->binding().loadedFrom()).absolutePath(),
           QCoreApplication::applicationDirPath());
  for (QPushButton* b : w_->findChildren<QPushButton*>())
    QVERIFY2(b->isEnabled(), qPrintable(b->objectName()));
}

void WindowTest::init() {
  opened_.clear();
  reader_->sim->clearFaults();
  reader_->onlyCard("classic");
  w_->state().cardTypeCode = kMifare1;
  setList(*w_, kEarlier);
  reader_->mark();
}

void WindowTest::cleanupTestCase() {
  // EXIT unlinks (with its pause) and closes the window.
  QVERIFY(press(*w_, "EXIT"));
  QVERIFY(!w_->isVisible());
  QCOMPARE(w_->fields().cmdStatus, 0);
}

// ---- System commands -----------------------------------------------------------

void WindowTest::systemCommands_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<int>("failWith");  // command byte answered with status 5, or -1
  QTest::addColumn<QStringList>("lines");
  QTest::newRow("READNO") << "READNO" << -1 << QStringList({" ", " 读模块号成功！ ", " 模块号=17"});
  QTest::newRow("READNO fails") << "READNO" << 0xA1
                                << QStringList({"earlier line", "", " 读模块号失败！"});
  QTest::newRow("READVER") << "READVER" << -1
                           << QStringList({" ", " 读控制软件版本号成功！ ",
                                           " 544B363120322E31"});  // "TK61 2.1"
  QTest::newRow("READVER fails") << "READVER" << 0x22
                                 << QStringList({"earlier line", "", " 读控制软件版本号失败！"});
  QTest::newRow("DRIVER") << "DRIVER" << -1 << QStringList({" ", " 灯控操作成功！"});
  QTest::newRow("DRIVER fails") << "DRIVER" << 0x7A
                                << QStringList({"earlier line", "", " 灯控操作失败！"});
}

void WindowTest::systemCommands() {
  QFETCH(QString, button);
  QFETCH(int, failWith);
  QFETCH(QStringList, lines);
  if (failWith >= 0) reader_->failNext(static_cast<std::uint8_t>(failWith), 5);
  QVERIFY(press(*w_, button));
  QCOMPARE(listLines(*w_), lines);
  QCOMPARE(w_->fields().cmdStatus, failWith >= 0 ? 5 : 0);
  if (button == "DRIVER") QCOMPARE(reader_->lastSent(0x7A), QStringLiteral("07 1E 1E 03"));
}

void WindowTest::busyPointerDuringCalls() {
  std::atomic<int> busy{0};
  std::atomic<int> calls{0};
  QWidget* window = w_.get();
  reader_->onExchange([&](const std::string& line) {
    // The window's thread is blocked in the library while the reader answers.
    if (line.find(" cmd ") == std::string::npos) return;
    ++calls;
    if (window->testAttribute(Qt::WA_SetCursor) && window->cursor().shape() == Qt::WaitCursor)
      ++busy;
  });
  for (const char* b : {"READNO", "READVER", "DRIVER", "Command1", "readcardno", "READCARDTYPE"})
    QVERIFY(press(*w_, b));
  reader_->onExchange({});
  QCOMPARE(calls.load(), 6);
  QCOMPARE(busy.load(), 6);
  QCOMPARE(w_->cursor().shape(), Qt::ArrowCursor);  // the default pointer again
}

void WindowTest::clearEmptiesListAndBoxes() {
  w_->setCardNo("01020304");
  w_->setCardType("Mifare 1");
  QVERIFY(press(*w_, "clear"));
  QVERIFY(listLines(*w_).isEmpty());
  QCOMPARE(w_->findChild<QLineEdit*>("cardno")->text(), QString());
  QCOMPARE(w_->findChild<QLineEdit*>("cardtype")->text(), QString());
  QCOMPARE(reader_->exchangesSinceMark(), 0);
}

// ---- Card selection ------------------------------------------------------------

void WindowTest::request_data() {
  QTest::addColumn<QString>("card");    // classic, light or none
  QTest::addColumn<QString>("action");  // all, idle or exit
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<QString>("sent");
  QTest::addColumn<QString>("cardType");
  QTest::newRow("ALL, Mifare 1") << "classic"
                                 << "all"
                                 << QStringList({"    ", " 呼叫成功", " 卡类型为：Mifare 1"})
                                 << "01"
                                 << "Mifare 1";
  QTest::newRow("IDLE, Mifare 1") << "classic"
                                  << "idle"
                                  << QStringList({"    ", " 呼叫成功", " 卡类型为：Mifare 1"})
                                  << "00"
                                  << "Mifare 1";
  QTest::newRow("ALL, Mifare Light")
      << "light"
      << "all" << QStringList({"    ", " 呼叫成功", " 卡类型为：Mifare Light 10"}) << "01"
      << "Mifare Light 10";
  QTest::newRow("no card") << "none"
                           << "all" << QStringList({"    ", " 呼叫失败"}) << "01"
                           << "before";
  QTest::newRow("cancelled") << "classic"
                             << "exit" << QStringList({"earlier line", kRetype}) << "<none>"
                             << "before";
}

void WindowTest::request() {
  QFETCH(QString, card);
  QFETCH(QString, action);
  QFETCH(QStringList, lines);
  QFETCH(QString, sent);
  QFETCH(QString, cardType);
  if (card == "none")
    reader_->noCard();
  else
    reader_->onlyCard(card.toStdString());
  w_->setCardType("before");
  QVERIFY(press(*w_, "Command2", {action == "exit" ? leave() : callMode(action == "all")}));
  QCOMPARE(opened_, QStringList({"CALLMODE"}));
  QCOMPARE(listLines(*w_), lines);
  QCOMPARE(reader_->lastSent(0xB5), sent);
  QCOMPARE(w_->findChild<QLineEdit*>("cardtype")->text(), cardType);
  if (card == "light") QCOMPARE(w_->state().cardTypeCode, 16);
  if (action == "exit") QCOMPARE(w_->state().modeChoice, 2);
}

void WindowTest::serialReads_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<bool>("card");
  QTest::newRow("Command1") << "Command1" << true;
  QTest::newRow("Command1 no card") << "Command1" << false;
  QTest::newRow("readcardno") << "readcardno" << true;
  QTest::newRow("readcardno no card") << "readcardno" << false;
}

void WindowTest::serialReads() {
  QFETCH(QString, button);
  QFETCH(bool, card);
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  if (!card) reader_->noCard();
  w_->setCardNo("before");
  QVERIFY(press(*w_, button));
  if (card) {
    QCOMPARE(listLines(*w_), QStringList({" ", " 读卡片序列号成功！"}));
    // Serial bytes 12 34 56 78 as delivered: byte 3 first on the screen.
    QCOMPARE(w_->findChild<QLineEdit*>("cardno")->text(), QStringLiteral("78563412"));
    QCOMPARE(w_->state().cardSerial, 0x78563412);
  } else {
    QCOMPARE(listLines(*w_), QStringList({" ", " 读序列号失败！"}));
    QCOMPARE(w_->findChild<QLineEdit*>("cardno")->text(), QStringLiteral(" "));
  }
}

void WindowTest::selectAndHalt() {
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(press(*w_, "Command3"));
  QCOMPARE(reader_->lastSent(0xB7), kSerial);
  QCOMPARE(listLines(*w_), QStringList({" ", " 卡激活成功"}));
  QVERIFY(press(*w_, "Command10"));
  QCOMPARE(listLines(*w_), QStringList({" ", " 已成功得使卡休眠"}));
  QCOMPARE(reader_->lastSent(0xBD), QString());
  QVERIFY(press(*w_, "Command10"));  // nothing selected any more
  QCOMPARE(listLines(*w_), QStringList({" ", " 休眠操作失败"}));
  QVERIFY(press(*w_, "Command3"));  // the halted card does not answer
  QCOMPARE(listLines(*w_), QStringList({" ", " 卡激活失败"}));
  QVERIFY(w_->fields().cmdStatus != 0);
}

void WindowTest::readCardType() {
  QPushButton* addBag = w_->button("ADDBAG");
  // Mifare Light: "Mifare Light L10", ADDBAG disabled.
  reader_->onlyCard("light");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "READCARDTYPE"));
  QCOMPARE(listLines(*w_), QStringList({" ", " 读卡类型成功！ "}));
  QCOMPARE(w_->findChild<QLineEdit*>("cardtype")->text(), QStringLiteral("Mifare Light L10"));
  QVERIFY(!addBag->isEnabled());
  // A failed read leaves the list and the box, and appends its lines.
  setList(*w_, kEarlier);
  reader_->failNext(0xAA, 0x20);
  QVERIFY(press(*w_, "READCARDTYPE"));
  QCOMPARE(listLines(*w_), QStringList({"earlier line", "", " 读卡类型失败！"}));
  QCOMPARE(w_->findChild<QLineEdit*>("cardtype")->text(), QStringLiteral("Mifare Light L10"));
  QVERIFY(!addBag->isEnabled());
  // Mifare 1: "Mifare 1", ADDBAG enabled again.
  reader_->onlyCard("classic");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "READCARDTYPE"));
  QCOMPARE(listLines(*w_), QStringList({"", " 读卡类型成功！"}));
  QCOMPARE(w_->findChild<QLineEdit*>("cardtype")->text(), QStringLiteral("Mifare 1"));
  QCOMPARE(w_->state().cardTypeCode, 4);
  QVERIFY(addBag->isEnabled());
}

// ---- Keys ----------------------------------------------------------------------

void WindowTest::keyCommands_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<int>("typeCode");
  QTest::addColumn<int>("keyOption");  // 17 = A, 18 = B, 0 = as the dialog offers
  QTest::addColumn<int>("sector");
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<int>("cmd");
  QTest::addColumn<QString>("sent");
  QTest::addColumn<QString>("blank");
  const QString key = QStringLiteral("A0 A1 A2 A3 A4 A5");
  QTest::newRow("Command4 Mifare 1 key B sector 5")
      << "Command4" << 4 << 18 << 5 << "mima" << 0xB4 << "04 05 " + key << " ";
  QTest::newRow("Command4 Mifare 1 key A sector 5")
      << "Command4" << 4 << 17 << 5 << "mima" << 0xB4 << "00 05 " + key << " ";
  QTest::newRow("Command4 Mifare Light key B")
      << "Command4" << 16 << 18 << 0 << "ML10MIMA" << 0xB4 << "04 00 " + key << " ";
  QTest::newRow("Command4 before any request (code 0) key A")
      << "Command4" << 0 << 17 << 0 << "ML10MIMA" << 0xB4 << "00 00 " + key << " ";
  QTest::newRow("LOADKEY Mifare 1 sector 3")
      << "LOADKEY" << 4 << 0 << 3 << "mima" << 0xA4 << "03 " + key << " ";
  QTest::newRow("LOADKEY Mifare Light key B")
      << "LOADKEY" << 16 << 18 << 0 << "ML10MIMA" << 0xB4 << "04 00 " + key << " ";
  QTest::newRow("EDITKEY Mifare 1 sector 14")
      << "EDITKEY" << 4 << 0 << 14 << "mima" << 0xAE << "0E " + kSerial + " " + key + " FF"
      << "    ";
  QTest::newRow("EDITKEY Mifare Light key B")
      << "EDITKEY" << 16 << 18 << 0 << "ML10MIMA" << 0xAE << "01 " + kSerial + " " + key + " FF"
      << "    ";
}

void WindowTest::keyCommands() {
  QFETCH(QString, button);
  QFETCH(int, typeCode);
  QFETCH(int, keyOption);
  QFETCH(int, sector);
  QFETCH(QString, dialog);
  QFETCH(int, cmd);
  QFETCH(QString, sent);
  QFETCH(QString, blank);
  w_->state().cardTypeCode = typeCode;
  w_->state().cardSerial = 0x78563412;
  const QString key = QStringLiteral("a0A1a2A3a4A5");  // lower case gives the same bytes
  QVERIFY(press(*w_, button,
                {dialog == "mima" ? mima(sector, keyOption, key) : ml10Mima(keyOption, key)}));
  QCOMPARE(opened_, QStringList({dialog}));
  QCOMPARE(reader_->lastSent(static_cast<std::uint8_t>(cmd)), sent);
  // The reader's status decides the line; the one-shot key change may be
  // refused by the card (Mifare Light has no sector 1 key area).
  const bool ok = w_->fields().cmdStatus == 0;
  QCOMPARE(listLines(*w_), QStringList({blank, ok ? " 密码传送成功！" : " 密码传送失败！"}));
  if (!(button == "EDITKEY" && typeCode == 16)) QVERIFY(ok);
  if (dialog == "ML10MIMA" && button != "EDITKEY")
    QCOMPARE(reader_->lastSent(0xA9),
             keyOption == 18 ? QStringLiteral("01") : QStringLiteral("00"));
  if (dialog == "mima") QCOMPARE(w_->state().keySectorNo, sector);
  QCOMPARE(w_->fields().loopIndex, 6);
}

void WindowTest::authenticate_data() {
  QTest::addColumn<int>("typeCode");
  QTest::addColumn<int>("keyOption");
  QTest::addColumn<int>("sector");
  QTest::addColumn<QString>("sent");
  QTest::addColumn<bool>("passes");
  QTest::newRow("Mifare 1 sector 15 key A") << 4 << 17 << 15 << "00 0F 3F" << true;
  QTest::newRow("Mifare 1 sector 0 key A") << 4 << 17 << 0 << "00 00 03" << true;
  QTest::newRow("Mifare 1 sector 0 key B") << 4 << 18 << 0 << "01 00 03" << true;
  QTest::newRow("Mifare Light key A") << 16 << 17 << 0 << "00 00 06" << true;
  QTest::newRow("Mifare Light key B") << 16 << 18 << 0 << "01 00 08" << true;
}

void WindowTest::authenticate() {
  QFETCH(int, typeCode);
  QFETCH(int, keyOption);
  QFETCH(int, sector);
  QFETCH(QString, sent);
  QFETCH(bool, passes);
  reader_->onlyCard(typeCode == 4 ? "classic" : "light");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(press(*w_, "Command3"));
  w_->state().cardTypeCode = typeCode;
  // The card's keys into the reader's key memory first.
  const QString ff = QStringLiteral("FFFFFFFFFFFF");
  QVERIFY(press(*w_, "Command4",
                {typeCode == 4 ? mima(sector, keyOption, ff) : ml10Mima(keyOption, ff)}));
  QVERIFY(press(*w_, "Command9",
                {typeCode == 4 ? mima(sector, keyOption, "ignored") : ml10Mima(keyOption, "12")}));
  QCOMPARE(reader_->lastSent(0xB8), sent);
  QCOMPARE(w_->fields().cmdStatus == 0, passes);
  QCOMPARE(listLines(*w_), QStringList({" ", passes ? " 密码认证通过" : " 密码认证未通过"}));
}

void WindowTest::keyCommandFailsAndCancels() {
  const QString key = QStringLiteral("FFFFFFFFFFFF");
  // A reader status makes the failure line.
  reader_->failNext(0xB4, 0x22);
  QVERIFY(press(*w_, "Command4", {mima(1, 17, key)}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 密码传送失败！"}));

  // A wrong key in the reader: authentication does not pass.
  reader_->onlyCard("classic");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(press(*w_, "Command3"));
  QVERIFY(press(*w_, "Command4", {mima(1, 17, "010203040506")}));
  QVERIFY(press(*w_, "Command9", {mima(1, 17, {})}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 密码认证未通过"}));
  QVERIFY(press(*w_, "Command4", {mima(1, 17, key)}));  // the transport key again

  // "密码A、B" for an authentication is refused before anything is sent.
  reader_->mark();
  QVERIFY(press(*w_, "Command9", {confirmWith([](QWidget* d) {
    auto* both = child<QRadioButton>(d, "Option19");
    both->setEnabled(true);
    both->click();
  })}));
  QCOMPARE(listLines(*w_), QStringList({" 密码输入错误！"}));
  QCOMPARE(reader_->exchangesSinceMark(), 0);

  // Cancelling any key dialog sends nothing and appends the retype line.
  for (const char* b : {"Command4", "Command9", "LOADKEY", "EDITKEY"}) {
    for (int typeCode : {4, 16}) {
      w_->state().cardTypeCode = typeCode;
      setList(*w_, kEarlier);
      opened_.clear();
      reader_->mark();
      QVERIFY(press(*w_, b, {leave()}));
      QCOMPARE(opened_, QStringList({typeCode == 4 ? "mima" : "ML10MIMA"}));
      QCOMPARE(listLines(*w_), QStringList({"earlier line", kRetype}));
      QCOMPARE(reader_->exchangesSinceMark(), 0);
    }
  }
  // The next showing of mima starts again from sector 0 and an empty key.
  w_->state().cardTypeCode = 4;
  QString keyAtStart = "?";
  bool sector0 = false;
  QVERIFY(press(*w_, "Command4", {[&](QWidget* d) {
    keyAtStart = child<QLineEdit>(d, "mima")->text();
    sector0 = child<QRadioButton>(d, "Option1")->isChecked();
    clickLater(d, "cmdEXIT");
  }}));
  QCOMPARE(keyAtStart, QString());
  QVERIFY(sector0);
}

// ---- Blocks --------------------------------------------------------------------

void WindowTest::basicBlocks() {
  bringUp(1);
  const QString data = QStringLiteral("00112233445566778899aabbccddeeff");
  QVERIFY(press(*w_, "Command6", {inputData(1, 1, data)}));
  QCOMPARE(opened_.last(), QStringLiteral("inputdata"));
  QCOMPARE(reader_->lastSent(0xBA),
           QStringLiteral("05 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"));
  QCOMPARE(listLines(*w_), QStringList({" ", " 数据写入成功"}));
  QCOMPARE(w_->state().blockAddr, 5);

  w_->fields().dataBytes.fill(0xEE);
  QVERIFY(press(*w_, "Command5", {inputData(1, 1, {})}));
  QCOMPARE(reader_->lastSent(0xB9), QStringLiteral("05"));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 读数据块成功！",
                                        " 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"}));
  QCOMPARE(w_->fields().loopIndex, 16);

  // Sector 1 with "控制块" addresses block 7: the trailer, key A read as zeros.
  QVERIFY(press(*w_, "Command5", {inputData(1, 3, {})}));
  QCOMPARE(reader_->lastSent(0xB9), QStringLiteral("07"));
  QCOMPARE(w_->state().blockAddr, 7);
  QCOMPARE(listLines(*w_).value(2).left(18), QStringLiteral(" 00 00 00 00 00 00"));
}

void WindowTest::blockFailuresAndCancels() {
  // A failed read writes exactly two lines.
  reader_->noCard();
  QVERIFY(press(*w_, "Command5", {inputData(0, 1, {})}));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 读数据块失败！"}));
  QVERIFY(press(*w_, "READDATA", {inputData(0, 1, {})}));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 读数据块失败！"}));
  QVERIFY(press(*w_, "Command6", {inputData(0, 1, QString(32, u'1'))}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 数据写入失败"}));
  QVERIFY(press(*w_, "WRITEDATA", {inputData(0, 1, QString(32, u'1'))}));
  QCOMPARE(listLines(*w_), QStringList({"   ", " 写数据块失败！"}));

  // Cancelled: the retype line under the earlier lines, nothing sent, the
  // block buffer untouched.
  for (const char* b : {"Command5", "Command6", "READDATA", "WRITEDATA"}) {
    for (int typeCode : {4, 16}) {
      w_->state().cardTypeCode = typeCode;
      w_->fields().dataBytes.fill(0x5A);
      setList(*w_, kEarlier);
      opened_.clear();
      reader_->mark();
      QVERIFY(press(*w_, b, {leave()}));
      QCOMPARE(opened_, QStringList({typeCode == 4 ? "inputdata" : "ml10input"}));
      QCOMPARE(listLines(*w_), QStringList({"earlier line", kRetype}));
      QCOMPARE(reader_->exchangesSinceMark(), 0);
      QCOMPARE(w_->fields().dataBytes[0], 0x5A);
    }
  }
}

void WindowTest::oneShotBlocks() {
  w_->state().cardSerial = 0x78563412;
  const QString data = QStringLiteral("0102030405060708090A0B0C0D0E0F10");
  // Sector 15, block 2: address 62.
  QVERIFY(press(*w_, "WRITEDATA", {inputData(15, 2, data)}));
  QCOMPARE(reader_->lastSent(0xAD),
           "3E " + kSerial + " 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
  QCOMPARE(listLines(*w_), QStringList({"   ", " 写数据块成功！",
                                        " 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"}));
  QVERIFY(press(*w_, "READDATA", {inputData(15, 2, {})}));
  QCOMPARE(reader_->lastSent(0xAC), "3E " + kSerial);
  QCOMPARE(listLines(*w_), QStringList({"  ", " 读数据块成功！",
                                        " 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"}));
  // A write the card answers differently: the dump shows the reader's bytes.
  // (Block 0 of the card is the manufacturer block and is not written.)
  QVERIFY(press(*w_, "WRITEDATA", {inputData(0, 0, QString(32, u'f'))}));
  QCOMPARE(reader_->lastSent(0xAD).left(14), "00 " + kSerial);
  QVERIFY(w_->fields().cmdStatus != 0);
  QCOMPARE(listLines(*w_), QStringList({"   ", " 写数据块失败！"}));
}

void WindowTest::lightBlocksUseStaleBytes() {
  // The block buffer as an earlier command left it.
  for (std::size_t i = 0; i < 16; ++i)
    w_->fields().dataBytes[i] = static_cast<std::uint8_t>(0xC0 + i);
  reader_->onlyCard("light");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(press(*w_, "Command3"));
  w_->state().cardTypeCode = 0;  // any code but 4 takes the Mifare Light dialogs
  // Basic write of page 3: bytes 0-3 from the text, 4-15 stale.
  QVERIFY(press(*w_, "Command6", {ml10Input(3, "AABBCCDD")}));
  QCOMPARE(opened_.last(), QStringLiteral("ml10input"));
  QCOMPARE(reader_->lastSent(0xBA),
           QStringLiteral("03 AA BB CC DD C4 C5 C6 C7 C8 C9 CA CB CC CD CE CF"));
  QCOMPARE(w_->state().blockAddr, 3);
  QCOMPARE(w_->fields().loopIndex, 4);
  // One-shot write of page 11 with "1234": bytes 0-7 converted, 8-15 stale.
  w_->state().cardSerial = 0x78563412;
  QVERIFY(press(*w_, "Command4", {ml10Mima(17, "FFFFFFFFFFFF")}));  // the card's key A
  QVERIFY(press(*w_, "WRITEDATA", {ml10Input(11, "1234")}));
  QCOMPARE(reader_->lastSent(0xAD),
           "0B " + kSerial + " 12 34 00 00 00 00 00 00 C8 C9 CA CB CC CD CE CF");
  QCOMPARE(listLines(*w_).mid(0, 2), QStringList({" ", " 写数据块成功！"}));
  QVERIFY(listLines(*w_).value(2).startsWith(" 12 34 00 00 "));
  QCOMPARE(listLines(*w_).value(2).size(), 8 * 3);  // an 8-byte dump
  // Reads of a Mifare Light page show 8 bytes.
  QVERIFY(press(*w_, "READDATA", {ml10Input(11, {})}));
  QCOMPARE(reader_->lastSent(0xAC), "0B " + kSerial);
  QCOMPARE(listLines(*w_).mid(0, 2), QStringList({"  ", " 读数据块成功！"}));
  QVERIFY(listLines(*w_).value(2).startsWith(" 12 34 00 00 "));
  QCOMPARE(listLines(*w_).value(2).size(), 8 * 3);
  QVERIFY(press(*w_, "Command5", {ml10Input(11, {})}));
  QCOMPARE(reader_->lastSent(0xB9), QStringLiteral("0B"));
  QCOMPARE(listLines(*w_).value(2).size(), 8 * 3);
}

// ---- Purse ---------------------------------------------------------------------

void WindowTest::oneShotPurse() {
  w_->state().cardSerial = 0x78563412;
  // Sector 2, "数据块1": address 9.
  QVERIFY(press(*w_, "WRITEBAG", {inputData(2, 1, "100")}));
  QCOMPARE(reader_->lastSent(0xB0), "09 " + kSerial + " 64 00 00 00");
  QCOMPARE(listLines(*w_), QStringList({"  ", " 写电子钱包成功！", " 电子钱包= 100"}));
  QCOMPARE(w_->state().blockAddr, 9);

  QVERIFY(press(*w_, "ADDBAG", {inputData(2, 1, "5e1")}));
  QCOMPARE(reader_->lastSent(0xB1), "09 " + kSerial + " 32 00 00 00");
  QCOMPARE(listLines(*w_), QStringList({"  ", " 加电子钱包成功！", " 当前电子钱包= 150"}));

  QVERIFY(press(*w_, "SUBBAG", {inputData(2, 1, "200")}));
  QCOMPARE(reader_->lastSent(0xB2), "09 " + kSerial + " C8 00 00 00");
  QCOMPARE(listLines(*w_), QStringList({"  ", " 减电子钱包成功！", " 当前电子钱包=-50"}));

  QVERIFY(press(*w_, "READBAG", {inputData(2, 1, {})}));
  QCOMPARE(reader_->lastSent(0xAF), "09 " + kSerial);
  QCOMPARE(listLines(*w_), QStringList({"  ", " 读电子钱包成功！", " 当前电子钱包=-50"}));
  QCOMPARE(w_->state().purseValue, -50);

  // An empty amount sends 0.
  QVERIFY(press(*w_, "ADDBAG", {inputData(2, 1, {})}));
  QCOMPARE(reader_->lastSent(0xB1), "09 " + kSerial + " 00 00 00 00");
  QCOMPARE(listLines(*w_).value(2), QStringLiteral(" 当前电子钱包=-50"));
}

void WindowTest::purseFailuresAndRefusals() {
  w_->state().cardSerial = 0x78563412;
  reader_->failNext(0xB0, 3);
  QVERIFY(press(*w_, "WRITEBAG", {inputData(2, 1, "1")}));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 写电子钱包失败！ 3"}));
  reader_->failNext(0xAF, 1);
  QVERIFY(press(*w_, "READBAG", {inputData(2, 1, {})}));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 读电子钱包失败！ 1"}));
  reader_->failNext(0xB1, 0x24);
  QVERIFY(press(*w_, "ADDBAG", {inputData(2, 1, "1")}));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 加电子钱包失败！ 36"}));
  reader_->failNext(0xB2, 0x24);
  QVERIFY(press(*w_, "SUBBAG", {inputData(2, 1, "1")}));
  QCOMPARE(listLines(*w_), QStringList({"  ", " 减电子钱包失败！ 36"}));

  // An amount that does not fit 32 bits is refused in the dialog; leaving it
  // then sends nothing.
  for (const char* b : {"WRITEBAG", "ADDBAG", "SUBBAG", "Command7", "Command8"}) {
    setList(*w_, kEarlier);
    reader_->mark();
    const qint32 before = w_->state().purseValue;
    MessageSeen box;
    QVERIFY(press(*w_, b, {inputData(2, 1, "99999999999"), acceptMessage(&box), leave()}));
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("错误信息"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(listLines(*w_), QStringList({"earlier line", kRetype}));
    QCOMPARE(reader_->exchangesSinceMark(), 0);
    QCOMPARE(w_->state().purseValue, before);
  }

  // Cancelled purse dialogs.
  for (const char* b : {"READBAG", "WRITEBAG", "ADDBAG", "SUBBAG", "Command7", "Command8"}) {
    setList(*w_, kEarlier);
    reader_->mark();
    QVERIFY(press(*w_, b, {leave()}));
    QCOMPARE(listLines(*w_), QStringList({"earlier line", kRetype}));
    QCOMPARE(reader_->exchangesSinceMark(), 0);
  }
}

void WindowTest::purseOnOtherCardTypes() {
  w_->state().cardSerial = 0x78563412;
  w_->state().cardTypeCode = 0;
  // READBAG: no dialog, address 0.
  QVERIFY(press(*w_, "READBAG"));
  QCOMPARE(opened_, QStringList());
  QCOMPARE(reader_->lastSent(0xAF), "00 " + kSerial);
  QCOMPARE(listLines(*w_).value(0), QStringLiteral("  "));
  // WRITEBAG, SUBBAG and Command8 take ml10input's amount and send address 0
  // whatever page was chosen.
  QVERIFY(press(*w_, "WRITEBAG", {ml10Input(5, "7")}));
  QCOMPARE(reader_->lastSent(0xB0), "00 " + kSerial + " 07 00 00 00");
  QCOMPARE(listLines(*w_).value(0), QStringLiteral(" "));
  QVERIFY(press(*w_, "SUBBAG", {ml10Input(6, "8")}));
  QCOMPARE(reader_->lastSent(0xB2), "00 " + kSerial + " 08 00 00 00");
  QVERIFY(press(*w_, "Command8", {ml10Input(7, "9")}));
  QCOMPARE(reader_->lastSent(0xBC), QStringLiteral("00 09 00 00 00"));
  QCOMPARE(w_->state().blockAddr, 0);
  // ADDBAG and Command7 ask with inputdata for every card type but 16.
  QVERIFY(press(*w_, "ADDBAG", {inputData(2, 1, "1")}));
  QCOMPARE(reader_->lastSent(0xB1), "09 " + kSerial + " 01 00 00 00");
  QVERIFY(press(*w_, "Command7", {inputData(3, 2, "2")}));
  QCOMPARE(reader_->lastSent(0xBB), QStringLiteral("0E 02 00 00 00"));
  QCOMPARE(opened_, QStringList({"ml10input", "ml10input", "ml10input", "inputdata", "inputdata"}));
  // Command7 refuses a Mifare Light card before any dialog.
  w_->state().cardTypeCode = 16;
  reader_->mark();
  QVERIFY(press(*w_, "Command7"));
  QCOMPARE(listLines(*w_), QStringList({" ", " ML10卡不支持加操作"}));
  QCOMPARE(reader_->exchangesSinceMark(), 0);
}

void WindowTest::basicPurse() {
  bringUp(2);
  w_->state().cardSerial = 0x78563412;
  QVERIFY(press(*w_, "WRITEBAG", {inputData(2, 1, "1000")}));
  QVERIFY(press(*w_, "Command3"));  // the one-shot command re-selected the card
  QVERIFY(press(*w_, "Command9", {mima(2, 17, {})}));
  QVERIFY(press(*w_, "Command7", {inputData(2, 1, "25")}));
  QCOMPARE(reader_->lastSent(0xBB), QStringLiteral("09 19 00 00 00"));
  QCOMPARE(listLines(*w_), QStringList({" ", " 加钱包操作成功"}));
  // A pasted amount may carry a sign, which typing keeps out.
  QVERIFY(press(*w_, "Command8", {confirmWith([](QWidget* d) {
    child<QRadioButton>(d, "Option3")->click();
    child<QRadioButton>(d, "Option18")->click();
    typeInto(d, "dataa", "-");
    child<QLineEdit>(d, "dataa")->insert("-5");
  })}));
  QCOMPARE(reader_->lastSent(0xBC), QStringLiteral("09 FB FF FF FF"));
  QCOMPARE(listLines(*w_), QStringList({" ", " 减操作成功"}));
  reader_->failNext(0xBB, 0x23);
  QVERIFY(press(*w_, "Command7", {inputData(2, 1, "1")}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 加钱包操作失败"}));
  reader_->failNext(0xBC, 0x23);
  QVERIFY(press(*w_, "Command8", {inputData(2, 1, "1")}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 减操作失败"}));
}

// Leaves a picture of the window after a connect and a block read when
// CARDBENCH_SCREENSHOT names a file.
void WindowTest::screenshot() {
  const QByteArray path = qgetenv("CARDBENCH_SCREENSHOT");
  if (path.isEmpty()) QSKIP("CARDBENCH_SCREENSHOT not set");
  reader_->onlyCard("classic");
  QVERIFY(press(*w_, "clear"));
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  w_->setCardType("Mifare 1");
  QVERIFY(press(*w_, "WRITEDATA", {inputData(1, 2, "0123456789ABCDEF0123456789ABCDEF")}));
  QVERIFY(press(*w_, "READDATA", {inputData(1, 2, {})}));
  QCOMPARE(listLines(*w_).value(1), QStringLiteral(" 读数据块成功！"));
  QVERIFY(w_->grab().save(QString::fromLocal8Bit(path)));
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
