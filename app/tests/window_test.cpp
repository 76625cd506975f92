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
const QString kFF = QStringLiteral("FFFFFFFFFFFF");

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
  void serialReads();
  void selectAndHalt();
  void readCardType();

  void keyCommands_data();
  void keyCommands();
  void authenticate_data();
  void authenticate();
  void keyCommandFailures();
  void cancelledDialogs();

  void basicBlocks();
  void blockFailures();
  void oneShotBlocks();
  void lightBlocksUseStaleBytes();

  void oneShotPurse();
  void purseFailuresAndRefusals();
  void purseOnOtherCardTypes();
  void basicPurse();

  void screenshot();

 private:
  // A dialog step: notes the dialog in opened_, clicks the options (0 for
  // none), types the text into the box and confirms.
  Step pick(std::vector<int> options, const QString& box = {}, const QString& text = {});
  Step callMode(bool all) { return pick({all ? 1 : 2}); }
  Step mima(int sector, int keyOption, const QString& key) {
    return pick({sector + 1, keyOption}, "mima", key);
  }
  Step ml10Mima(int keyOption, const QString& key) { return pick({keyOption}, "mima", key); }
  Step inputData(int sector, int block, const QString& data) {
    return pick({sector + 1, 17 + block}, "dataa", data);
  }
  Step ml10Input(int page, const QString& data) { return pick({page + 1}, "dataa", data); }
  Step leave();
  // Request, anticollision and select of a card.
  void select(const std::string& kind);
  QString cardType() { return w_->findChild<QLineEdit*>("cardtype")->text(); }
  // Presses the button with the steps, then checks the data bytes of the last
  // exchange of cmd (unless cmd < 0) and the list.
  void exchange(const char* button, std::vector<Step> steps, int cmd, const QString& sent,
                const QStringList& lines);

  std::unique_ptr<Reader> reader_;
  std::unique_ptr<MainWindow> w_;
  QStringList opened_;
};

Step WindowTest::pick(std::vector<int> options, const QString& box, const QString& text) {
  return confirmWith([=, this](QWidget* d) {
    opened_ << d->objectName();
    for (int o : options)
      if (o) choose(d, QStringLiteral("Option%1").arg(o));
    if (!box.isEmpty()) typeInto(d, box, text);
  });
}

Step WindowTest::leave() {
  return [this](QWidget* d) {
    opened_ << d->objectName();
    clickLater(d, "cmdEXIT");
  };
}

void WindowTest::select(const std::string& kind) {
  reader_->onlyCard(kind);
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(press(*w_, "Command3"));
}

void WindowTest::exchange(const char* button, std::vector<Step> steps, int cmd, const QString& sent,
                          const QStringList& lines) {
  QVERIFY2(press(*w_, button, std::move(steps)), button);
  if (cmd >= 0) QCOMPARE(reader_->lastSent(static_cast<std::uint8_t>(cmd)), sent);
  QCOMPARE(listLines(*w_), lines);
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
}

void WindowTest::init() {
  opened_.clear();
  reader_->sim->clearFaults();
  reader_->onlyCard("classic");
  w_->state().cardTypeCode = kMifare1;
  w_->state().cardSerial = 0x78563412;
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
  const QString earlier = kEarlier[0];
  QTest::newRow("READNO") << "READNO" << -1 << QStringList{" ", " 读模块号成功！ ", " 模块号=17"};
  QTest::newRow("READNO fails") << "READNO" << 0xA1 << QStringList{earlier, "", " 读模块号失败！"};
  QTest::newRow("READVER") << "READVER" << -1
                           << QStringList{" ", " 读控制软件版本号成功！ ",
                                          " 544B363120322E31"};  // "TK61 2.1"
  QTest::newRow("READVER fails") << "READVER" << 0x22
                                 << QStringList{earlier, "", " 读控制软件版本号失败！"};
  QTest::newRow("DRIVER") << "DRIVER" << -1 << QStringList{" ", " 灯控操作成功！"};
  QTest::newRow("DRIVER fails") << "DRIVER" << 0x7A << QStringList{earlier, "", " 灯控操作失败！"};
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
  QCOMPARE(cardType(), QString());
  QCOMPARE(reader_->exchangesSinceMark(), 0);
}

// ---- Card selection ------------------------------------------------------------

void WindowTest::request_data() {
  QTest::addColumn<QString>("card");    // classic, light or none
  QTest::addColumn<QString>("action");  // all, idle or exit
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<QString>("sent");
  QTest::addColumn<QString>("cardType");
  const QStringList called = {"    ", " 呼叫成功", " 卡类型为："};
  const struct {
    const char *name, *card, *action;
    QStringList lines;
    const char *sent, *cardType;
  } rows[] = {{"ALL, Mifare 1", "classic", "all", called, "01", "Mifare 1"},
              {"IDLE, Mifare 1", "classic", "idle", called, "00", "Mifare 1"},
              {"ALL, Mifare Light", "light", "all", called, "01", "Mifare Light 10"},
              {"no card", "none", "all", {"    ", " 呼叫失败"}, "01", "before"},
              {"cancelled", "classic", "exit", {kEarlier[0], kRetype}, "<none>", "before"}};
  for (const auto& r : rows)
    QTest::newRow(r.name) << QString(r.card) << QString(r.action) << r.lines << QString(r.sent)
                          << QString(r.cardType);
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
  if (lines.size() == 3) lines[2] += cardType;
  QCOMPARE(listLines(*w_), lines);
  QCOMPARE(reader_->lastSent(0xB5), sent);
  QCOMPARE(this->cardType(), cardType);
  if (card == "light") QCOMPARE(w_->state().cardTypeCode, 16);
  if (action == "exit") QCOMPARE(w_->state().modeChoice, 2);
}

void WindowTest::serialReads() {
  for (const char* button : {"Command1", "readcardno"}) {
    for (bool card : {true, false}) {
      reader_->onlyCard("classic");
      QVERIFY(press(*w_, "Command2", {callMode(true)}));
      if (!card) reader_->noCard();
      w_->setCardNo("before");
      w_->state().cardSerial = 0;
      QVERIFY(press(*w_, button));
      QCOMPARE(listLines(*w_),
               QStringList({" ", card ? " 读卡片序列号成功！" : " 读序列号失败！"}));
      // Serial bytes 12 34 56 78 as delivered: byte 3 first on the screen.
      QCOMPARE(w_->findChild<QLineEdit*>("cardno")->text(),
               card ? QStringLiteral("78563412") : QStringLiteral(" "));
      if (card) QCOMPARE(w_->state().cardSerial, 0x78563412);
    }
  }
}

void WindowTest::selectAndHalt() {
  select("classic");
  QCOMPARE(reader_->lastSent(0xB7), kSerial);
  QCOMPARE(listLines(*w_), QStringList({" ", " 卡激活成功"}));
  exchange("Command10", {}, 0xBD, "", {" ", " 已成功得使卡休眠"});
  exchange("Command10", {}, -1, {}, {" ", " 休眠操作失败"});  // nothing selected any more
  exchange("Command3", {}, -1, {}, {" ", " 卡激活失败"});     // the halted card does not answer
  QVERIFY(w_->fields().cmdStatus != 0);
}

void WindowTest::readCardType() {
  QPushButton* addBag = w_->button("ADDBAG");
  // Mifare Light: "Mifare Light L10", ADDBAG disabled.
  reader_->onlyCard("light");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "READCARDTYPE"));
  QCOMPARE(listLines(*w_), QStringList({" ", " 读卡类型成功！ "}));
  QCOMPARE(cardType(), QStringLiteral("Mifare Light L10"));
  QVERIFY(!addBag->isEnabled());
  // A failed read leaves the list and the box, and appends its lines.
  setList(*w_, kEarlier);
  reader_->failNext(0xAA, 0x20);
  QVERIFY(press(*w_, "READCARDTYPE"));
  QCOMPARE(listLines(*w_), QStringList({"earlier line", "", " 读卡类型失败！"}));
  QCOMPARE(cardType(), QStringLiteral("Mifare Light L10"));
  QVERIFY(!addBag->isEnabled());
  // Mifare 1: "Mifare 1", ADDBAG enabled again.
  reader_->onlyCard("classic");
  QVERIFY(press(*w_, "Command2", {callMode(true)}));
  QVERIFY(press(*w_, "READCARDTYPE"));
  QCOMPARE(listLines(*w_), QStringList({"", " 读卡类型成功！"}));
  QCOMPARE(cardType(), QStringLiteral("Mifare 1"));
  QCOMPARE(w_->state().cardTypeCode, 4);
  QVERIFY(addBag->isEnabled());
}

// ---- Keys ----------------------------------------------------------------------

void WindowTest::keyCommands_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<int>("typeCode");
  QTest::addColumn<int>("keyOption");  // 17 = A, 18 = B, 0 = as the dialog offers
  QTest::addColumn<int>("sector");
  QTest::addColumn<int>("cmd");
  QTest::addColumn<QString>("sent");
  const QString key = QStringLiteral(" A0 A1 A2 A3 A4 A5");
  const QString edit = QStringLiteral(" ") + kSerial + key + " FF";
  const struct {
    const char *name, *button;
    int typeCode, keyOption, sector, cmd;
    QString sent;
  } rows[] = {{"Command4 Mifare 1 key B sector 5", "Command4", 4, 18, 5, 0xB4, "04 05" + key},
              {"Command4 Mifare Light key B", "Command4", 16, 18, 0, 0xB4, "04 00" + key},
              {"Command4 code 0 key A", "Command4", 0, 17, 0, 0xB4, "00 00" + key},
              {"LOADKEY Mifare 1 sector 3", "LOADKEY", 4, 0, 3, 0xA4, "03" + key},
              {"LOADKEY Mifare Light key B", "LOADKEY", 16, 18, 0, 0xB4, "04 00" + key},
              {"EDITKEY Mifare 1 sector 14", "EDITKEY", 4, 0, 14, 0xAE, "0E" + edit},
              {"EDITKEY Mifare Light key B", "EDITKEY", 16, 18, 0, 0xAE, "01" + edit}};
  for (const auto& r : rows)
    QTest::newRow(r.name) << QString(r.button) << r.typeCode << r.keyOption << r.sector << r.cmd
                          << r.sent;
}

void WindowTest::keyCommands() {
  QFETCH(QString, button);
  QFETCH(int, typeCode);
  QFETCH(int, keyOption);
  QFETCH(int, sector);
  QFETCH(int, cmd);
  QFETCH(QString, sent);
  w_->state().cardTypeCode = typeCode;
  const QString key = QStringLiteral("a0A1a2A3a4A5");  // lower case gives the same bytes
  const bool mifare1 = typeCode == 4;
  QVERIFY(press(*w_, button, {mifare1 ? mima(sector, keyOption, key) : ml10Mima(keyOption, key)}));
  QCOMPARE(opened_, QStringList({mifare1 ? "mima" : "ML10MIMA"}));
  QCOMPARE(reader_->lastSent(static_cast<std::uint8_t>(cmd)), sent);
  // The reader's status decides the line; the one-shot key change may be
  // refused by the card (Mifare Light has no sector 1 key area).
  const bool ok = w_->fields().cmdStatus == 0;
  QCOMPARE(listLines(*w_), QStringList({button == "EDITKEY" ? "    " : " ",
                                        ok ? " 密码传送成功！" : " 密码传送失败！"}));
  if (!(button == "EDITKEY" && typeCode == 16)) QVERIFY(ok);
  if (!mifare1 && button != "EDITKEY")
    QCOMPARE(reader_->lastSent(0xA9),
             keyOption == 18 ? QStringLiteral("01") : QStringLiteral("00"));
  if (mifare1) QCOMPARE(w_->state().keySectorNo, sector);
  QCOMPARE(w_->fields().loopIndex, 6);
}

void WindowTest::authenticate_data() {
  QTest::addColumn<int>("typeCode");
  QTest::addColumn<int>("keyOption");
  QTest::addColumn<int>("sector");
  QTest::addColumn<QString>("sent");
  QTest::newRow("Mifare 1 sector 15 key A") << 4 << 17 << 15 << "00 0F 3F";
  QTest::newRow("Mifare 1 sector 0 key B") << 4 << 18 << 0 << "01 00 03";
  QTest::newRow("Mifare Light key A") << 16 << 17 << 0 << "00 00 06";
  QTest::newRow("Mifare Light key B") << 16 << 18 << 0 << "01 00 08";
}

void WindowTest::authenticate() {
  QFETCH(int, typeCode);
  QFETCH(int, keyOption);
  QFETCH(int, sector);
  QFETCH(QString, sent);
  select(typeCode == 4 ? "classic" : "light");
  w_->state().cardTypeCode = typeCode;
  // The card's keys into the reader's key memory first.
  const bool mifare1 = typeCode == 4;
  QVERIFY(
      press(*w_, "Command4", {mifare1 ? mima(sector, keyOption, kFF) : ml10Mima(keyOption, kFF)}));
  QVERIFY(press(*w_, "Command9",
                {mifare1 ? mima(sector, keyOption, "ignored") : ml10Mima(keyOption, "12")}));
  QCOMPARE(reader_->lastSent(0xB8), sent);
  QCOMPARE(w_->fields().cmdStatus, 0);
  QCOMPARE(listLines(*w_), QStringList({" ", " 密码认证通过"}));
}

void WindowTest::keyCommandFailures() {
  // A reader status makes the failure line.
  reader_->failNext(0xB4, 0x22);
  QVERIFY(press(*w_, "Command4", {mima(1, 17, kFF)}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 密码传送失败！"}));

  // A wrong key in the reader: authentication does not pass.
  select("classic");
  QVERIFY(press(*w_, "Command4", {mima(1, 17, "010203040506")}));
  QVERIFY(press(*w_, "Command9", {mima(1, 17, {})}));
  QCOMPARE(listLines(*w_), QStringList({" ", " 密码认证未通过"}));
  QVERIFY(press(*w_, "Command4", {mima(1, 17, kFF)}));  // the transport key again

  // "密码A、B" for an authentication is refused before anything is sent.
  reader_->mark();
  QVERIFY(press(*w_, "Command9", {confirmWith([](QWidget* d) {
    auto* both = child<QRadioButton>(d, "Option19");
    both->setEnabled(true);
    both->click();
  })}));
  QCOMPARE(listLines(*w_), QStringList({" 密码输入错误！"}));
  QCOMPARE(reader_->exchangesSinceMark(), 0);
}

// Leaving any dialog sends nothing, appends the retype line under the earlier
// lines and leaves the block buffer and the purse value.
void WindowTest::cancelledDialogs() {
  const struct {
    const char* button;
    const char* mifare1;  // the dialog for card type 4
    const char* other;    // the dialog for type 16, or none
  } rows[] = {{"Command4", "mima", "ML10MIMA"},       {"Command9", "mima", "ML10MIMA"},
              {"LOADKEY", "mima", "ML10MIMA"},        {"EDITKEY", "mima", "ML10MIMA"},
              {"Command5", "inputdata", "ml10input"}, {"Command6", "inputdata", "ml10input"},
              {"READDATA", "inputdata", "ml10input"}, {"WRITEDATA", "inputdata", "ml10input"},
              {"WRITEBAG", "inputdata", "ml10input"}, {"SUBBAG", "inputdata", "ml10input"},
              {"Command8", "inputdata", "ml10input"}, {"ADDBAG", "inputdata", "inputdata"},
              {"READBAG", "inputdata", nullptr},      {"Command7", "inputdata", nullptr}};
  w_->state().purseValue = 77;
  for (const auto& r : rows) {
    for (int typeCode : {4, 16}) {
      const char* dialog = typeCode == 4 ? r.mifare1 : r.other;
      if (!dialog) continue;
      w_->state().cardTypeCode = typeCode;
      w_->fields().dataBytes.fill(0x5A);
      setList(*w_, kEarlier);
      opened_.clear();
      reader_->mark();
      QVERIFY2(press(*w_, r.button, {leave()}), r.button);
      QCOMPARE(opened_, QStringList({dialog}));
      QCOMPARE(listLines(*w_), QStringList({"earlier line", kRetype}));
      QCOMPARE(reader_->exchangesSinceMark(), 0);
      QCOMPARE(w_->fields().dataBytes[0], 0x5A);
      QCOMPARE(w_->state().purseValue, 77);
    }
  }
}

// ---- Blocks --------------------------------------------------------------------

void WindowTest::basicBlocks() {
  select("classic");
  exchange("Command9", {mima(1, 17, {})}, 0xB8, "00 01 07", {" ", " 密码认证通过"});
  exchange("Command6", {inputData(1, 1, "00112233445566778899aabbccddeeff")}, 0xBA,
           "05 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF", {" ", " 数据写入成功"});
  QCOMPARE(opened_.last(), QStringLiteral("inputdata"));
  QCOMPARE(w_->state().blockAddr, 5);
  w_->fields().dataBytes.fill(0xEE);
  exchange("Command5", {inputData(1, 1, {})}, 0xB9, "05",
           {"  ", " 读数据块成功！", " 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"});
  QCOMPARE(w_->fields().loopIndex, 16);
  // Sector 1 with "控制块" addresses block 7: the trailer, key A read as zeros.
  QVERIFY(press(*w_, "Command5", {inputData(1, 3, {})}));
  QCOMPARE(reader_->lastSent(0xB9), QStringLiteral("07"));
  QCOMPARE(w_->state().blockAddr, 7);
  QCOMPARE(listLines(*w_).value(2).left(18), QStringLiteral(" 00 00 00 00 00 00"));
}

void WindowTest::blockFailures() {
  // With no card each handler writes exactly two lines.
  reader_->noCard();
  const QList<QPair<const char*, QStringList>> rows = {{"Command5", {"  ", " 读数据块失败！"}},
                                                       {"READDATA", {"  ", " 读数据块失败！"}},
                                                       {"Command6", {" ", " 数据写入失败"}},
                                                       {"WRITEDATA", {"   ", " 写数据块失败！"}}};
  for (const auto& [button, lines] : rows) {
    QVERIFY(press(*w_, button, {inputData(0, 1, QString(32, u'1'))}));
    QCOMPARE(listLines(*w_), lines);
  }
}

void WindowTest::oneShotBlocks() {
  const QString bytes = QStringLiteral(" 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
  // Sector 15, block 2: address 62.
  exchange("WRITEDATA", {inputData(15, 2, "0102030405060708090A0B0C0D0E0F10")}, 0xAD,
           "3E " + kSerial + bytes, {"   ", " 写数据块成功！", bytes});
  exchange("READDATA", {inputData(15, 2, {})}, 0xAC, "3E " + kSerial,
           {"  ", " 读数据块成功！", bytes});
  // A write the card answers differently (block 0 is the manufacturer block).
  exchange("WRITEDATA", {inputData(0, 0, QString(32, u'f'))}, -1, {}, {"   ", " 写数据块失败！"});
  QCOMPARE(reader_->lastSent(0xAD).left(14), "00 " + kSerial);
  QVERIFY(w_->fields().cmdStatus != 0);
}

void WindowTest::lightBlocksUseStaleBytes() {
  // The block buffer as an earlier command left it.
  for (std::size_t i = 0; i < 16; ++i)
    w_->fields().dataBytes[i] = static_cast<std::uint8_t>(0xC0 + i);
  select("light");
  w_->state().cardTypeCode = 0;  // any code but 4 takes the Mifare Light dialogs
  // Basic write of page 3: bytes 0-3 from the text, 4-15 stale.
  // (Not authenticated: the card refuses, but the bytes go out.)
  exchange("Command6", {ml10Input(3, "AABBCCDD")}, 0xBA,
           "03 AA BB CC DD C4 C5 C6 C7 C8 C9 CA CB CC CD CE CF", {" ", " 数据写入失败"});
  QCOMPARE(opened_.last(), QStringLiteral("ml10input"));
  QCOMPARE(w_->state().blockAddr, 3);
  QCOMPARE(w_->fields().loopIndex, 4);
  // One-shot write of page 11 with "1234": bytes 0-7 converted, 8-15 stale;
  // the dump and the reads show 8 bytes.
  const QString page = QStringLiteral(" 12 34 00 00 00 00 00 00");
  QVERIFY(press(*w_, "Command4", {ml10Mima(17, kFF)}));  // the card's key A
  exchange("WRITEDATA", {ml10Input(11, "1234")}, 0xAD,
           "0B " + kSerial + " 12 34 00 00 00 00 00 00 C8 C9 CA CB CC CD CE CF",
           {" ", " 写数据块成功！", page});
  exchange("READDATA", {ml10Input(11, {})}, 0xAC, "0B " + kSerial, {"  ", " 读数据块成功！", page});
  exchange("Command5", {ml10Input(11, {})}, 0xB9, "0B", {"  ", " 读数据块成功！", page});
}

// ---- Purse ---------------------------------------------------------------------

void WindowTest::oneShotPurse() {
  // Sector 2, "数据块1": address 9.
  const QString to9 = "09 " + kSerial;
  exchange("WRITEBAG", {inputData(2, 1, "100")}, 0xB0, to9 + " 64 00 00 00",
           {"  ", " 写电子钱包成功！", " 电子钱包= 100"});
  QCOMPARE(w_->state().blockAddr, 9);
  exchange("ADDBAG", {inputData(2, 1, "5e1")}, 0xB1, to9 + " 32 00 00 00",
           {"  ", " 加电子钱包成功！", " 当前电子钱包= 150"});
  exchange("SUBBAG", {inputData(2, 1, "200")}, 0xB2, to9 + " C8 00 00 00",
           {"  ", " 减电子钱包成功！", " 当前电子钱包=-50"});
  exchange("READBAG", {inputData(2, 1, {})}, 0xAF, to9,
           {"  ", " 读电子钱包成功！", " 当前电子钱包=-50"});
  QCOMPARE(w_->state().purseValue, -50);
  // An empty amount sends 0.
  exchange("ADDBAG", {inputData(2, 1, {})}, 0xB1, to9 + " 00 00 00 00",
           {"  ", " 加电子钱包成功！", " 当前电子钱包=-50"});
}

void WindowTest::purseFailuresAndRefusals() {
  const struct {
    const char* button;
    std::uint8_t cmd, status;
    const char* line;
  } failures[] = {{"WRITEBAG", 0xB0, 3, " 写电子钱包失败！ 3"},
                  {"READBAG", 0xAF, 1, " 读电子钱包失败！ 1"},
                  {"ADDBAG", 0xB1, 0x24, " 加电子钱包失败！ 36"},
                  {"SUBBAG", 0xB2, 0x24, " 减电子钱包失败！ 36"}};
  for (const auto& f : failures) {
    reader_->failNext(f.cmd, f.status);
    QVERIFY(press(*w_, f.button, {inputData(2, 1, "1")}));
    QCOMPARE(listLines(*w_), QStringList({"  ", f.line}));
  }

  // An amount that does not fit 32 bits is refused in the dialog; leaving it
  // then sends nothing.
  for (const char* b : {"WRITEBAG", "ADDBAG", "SUBBAG", "Command7", "Command8"}) {
    setList(*w_, kEarlier);
    reader_->mark();
    const qint32 before = w_->state().purseValue;
    MessageSeen box;
    QVERIFY(press(*w_, b, {inputData(2, 1, "99999999999"), acceptMessage(&box), leave()}));
    QVERIFY(box.text.contains(QStringLiteral("金额超出范围")));
    QCOMPARE(listLines(*w_), QStringList({"earlier line", kRetype}));
    QCOMPARE(reader_->exchangesSinceMark(), 0);
    QCOMPARE(w_->state().purseValue, before);
  }
}

void WindowTest::purseOnOtherCardTypes() {
  w_->state().cardTypeCode = 0;
  // READBAG: no dialog, address 0. WRITEBAG, SUBBAG and Command8 take
  // ml10input's amount and send address 0 whatever page was chosen (block 0
  // of the Mifare 1 card in the field holds no value: it refuses them).
  const QString to0 = "00 " + kSerial;
  exchange("READBAG", {}, 0xAF, to0, {"  ", " 读电子钱包失败！ 37"});
  exchange("WRITEBAG", {ml10Input(5, "7")}, 0xB0, to0 + " 07 00 00 00",
           {" ", " 写电子钱包失败！ 36"});
  exchange("SUBBAG", {ml10Input(6, "8")}, 0xB2, to0 + " 08 00 00 00",
           {"  ", " 减电子钱包失败！ 36"});
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
  exchange("Command7", {}, -1, {}, {" ", " ML10卡不支持加操作"});
  QCOMPARE(reader_->exchangesSinceMark(), 0);
}

void WindowTest::basicPurse() {
  select("classic");
  QVERIFY(press(*w_, "WRITEBAG", {inputData(2, 1, "1000")}));
  QVERIFY(press(*w_, "Command3"));  // the one-shot command re-selected the card
  QVERIFY(press(*w_, "Command9", {mima(2, 17, {})}));
  exchange("Command7", {inputData(2, 1, "25")}, 0xBB, "09 19 00 00 00", {" ", " 加钱包操作成功"});
  // A pasted amount may carry a sign, which typing keeps out.
  exchange("Command8", {confirmWith([](QWidget* d) {
             choose(d, "Option3");
             choose(d, "Option18");
             typeInto(d, "dataa", "-");
             child<QLineEdit>(d, "dataa")->insert("-5");
           })},
           0xBC, "09 FB FF FF FF", {" ", " 减操作成功"});
  reader_->failNext(0xBB, 0x23);
  exchange("Command7", {inputData(2, 1, "1")}, -1, {}, {" ", " 加钱包操作失败"});
  reader_->failNext(0xBC, 0x23);
  exchange("Command8", {inputData(2, 1, "1")}, -1, {}, {" ", " 减操作失败"});
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
