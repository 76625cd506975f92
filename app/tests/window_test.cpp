// The main window against a simulated reader, through the real library, one
// table row per road: presses (with their dialog steps), then the command
// bytes the last press sent, the lines it left and the state after it.
// Every row also checks that each exchange ran under the busy pointer.
#include <QLineEdit>

#include "bench_fixture.h"
#include "dialogs/dialog_rules.h"

using namespace cardbench;
using namespace cbtest;

namespace {

const QString kEarlier = QStringLiteral("earlier line"),
              kRetype = QStringLiteral(" 请重新输入命令！");
// Script words: "@card=classic|light|none[:serial]", "@type=N", "@purse=N",
// "@stale" (block bytes C0 C1 …), "@fail=CC:SS" (the reader answers command
// CC once with status SS); presses "BUTTON: step | step" (see dialogStep;
// "box" takes an error box) separated by ';'. Sent: "CC data" of the last
// press, ", " between commands, "-" for nothing at all. Lines: '/' between
// lines. State: "name=value" words, '_' for a blank.
const QString kSel = "Command2: CALLMODE; Command1; Command3; ", kML = "@card=light; " + kSel;
const QString kKey = "=a0A1a2A3a4A5", kKeySent = " A0 A1 A2 A3 A4 A5", kFF = " =FFFFFFFFFFFF";
const QString kTo9 = "09 12 34 56 78 ", kTo0 = "00 12 34 56 78 ",
              kBag = "WRITEBAG: inputdata o3 o18 =100; ";
const QString kHex = " 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10",
              kPage = " 12 34 00 00 00 00 00 00";
const QString kML11 =
    kML + "@type=0; Command4: ML10MIMA o17" + kFF + "; @stale; WRITEDATA: ml10input o12 =1234";
const QString kBasic = kSel + "WRITEBAG: inputdata o3 o18 =1000; Command3; Command9: mima o3; ";
const QString kData = "=00112233445566778899aabbccddeeff",
              kDump = " 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";

struct Row {
  QByteArray name;
  QString script, sent, lines, state;
};

std::vector<Row> table() {
  std::vector<Row> rows = {
      {"READNO", "READNO", "", " / 读模块号成功！ / 模块号=17", "cmdStatus=0"},
      {"READNO fails", "@fail=A1:05; READNO", "", kEarlier + "// 读模块号失败！", "cmdStatus=5"},
      {"READVER", "READVER", "", " / 读控制软件版本号成功！ / 544B363120322E31", ""},
      {"READVER fails", "@fail=22:05; READVER", "", kEarlier + "// 读控制软件版本号失败！", ""},
      {"DRIVER", "DRIVER", "7A 07 1E 1E 03", " / 灯控操作成功！", ""},
      {"DRIVER fails", "@fail=7A:05; DRIVER", "", kEarlier + "// 灯控操作失败！", "cmdStatus=5"},
      {"clear", "clear", "-", "", "cardno= cardtype="},
      // A card type or serial is taken only from a call that succeeded.
      {"request ALL", "Command2: CALLMODE", "B5 01", "    / 呼叫成功/ 卡类型为：Mifare 1",
       "cardtype=Mifare_1 cardTypeCode=4"},
      {"request IDLE", "Command2: CALLMODE o2", "B5 00", "    / 呼叫成功/ 卡类型为：Mifare 1", ""},
      {"request Light", "@card=light; Command2: CALLMODE", "B5 01",
       "    / 呼叫成功/ 卡类型为：Mifare Light 10", "cardtype=Mifare_Light_10 cardTypeCode=16"},
      {"request, no card", "@card=none; READNO; Command2: CALLMODE", "B5 01", "    / 呼叫失败",
       "cardtype=before cardTypeCode=4"},
      {"request left", "Command2: CALLMODE !", "-", kEarlier + "/" + kRetype,
       "modeChoice=2 cardtype=before"},
      {"anticollision", "@card=classic:0A0B0C0D; Command2: CALLMODE; Command1", "",
       " / 读卡片序列号成功！", "cardno=0D0C0B0A cardSerial=0D0C0B0A"},
      {"serial read", "@card=classic:0A0B0C0D; Command2: CALLMODE; readcardno", "",
       " / 读卡片序列号成功！", "cardno=0D0C0B0A cardSerial=0D0C0B0A"},
      {"serial read, no card", "@card=none; READNO; readcardno", "", " / 读序列号失败！",
       "cardno=_ cardSerial=78563412"},
      {"select after a failed anticollision", "@card=none; READNO; Command1; Command3",
       "B7 12 34 56 78", " / 卡激活失败", "cardno=_"},
      {"select", kSel, "B7 12 34 56 78", " / 卡激活成功", "cmdStatus=0"},
      {"halt", kSel + "Command10", "BD", " / 已成功得使卡休眠", ""},
      {"halt twice", kSel + "Command10; Command10", "", " / 休眠操作失败", ""},
      {"select a halted card", kSel + "Command10; Command3", "", " / 卡激活失败", ""},
      {"type read, Light", "@card=light; Command2: CALLMODE; READCARDTYPE", "",
       " / 读卡类型成功！ ", "cardtype=Mifare_Light_L10 cardTypeCode=16 ADDBAG=0"},
      {"type read fails",
       "@card=light; Command2: CALLMODE; READCARDTYPE; READNO; @fail=AA:20; READCARDTYPE", "",
       kEarlier + "// 读卡类型失败！", "cardtype=Mifare_Light_L10 cardTypeCode=16 ADDBAG=0"},
      {"type read, Mifare 1",
       "@card=light; Command2: CALLMODE; READCARDTYPE; @card=classic; Command2: CALLMODE; "
       "READCARDTYPE",
       "", "/ 读卡类型成功！", "cardtype=Mifare_1 cardTypeCode=4 ADDBAG=1"},
      // Keys.
      {"Command4 M1 key B sector 5", "Command4: mima o6 o18 " + kKey, "B4 04 05" + kKeySent,
       " / 密码传送成功！", "keySectorNo=5 loopIndex=6"},
      {"Command4 Light key B", "@type=16; Command4: ML10MIMA o18 " + kKey,
       "B4 04 00" + kKeySent + ", A9 01", " / 密码传送成功！", "loopIndex=6"},
      {"Command4 type 0 key A", "@type=0; Command4: ML10MIMA o17 " + kKey,
       "B4 00 00" + kKeySent + ", A9 00", " / 密码传送成功！", ""},
      {"LOADKEY M1 sector 3", "LOADKEY: mima o4 " + kKey, "A4 03" + kKeySent, " / 密码传送成功！",
       "keySectorNo=3 loopIndex=6"},
      {"LOADKEY Light key B", "@type=16; LOADKEY: ML10MIMA o18 " + kKey,
       "B4 04 00" + kKeySent + ", A9 01", " / 密码传送成功！", ""},
      {"EDITKEY M1 sector 14", "EDITKEY: mima o15 " + kKey, "AE 0E 12 34 56 78" + kKeySent + " FF",
       "    / 密码传送成功！", "keySectorNo=14"},
      {"EDITKEY Light key B", "@type=16; EDITKEY: ML10MIMA o18 " + kKey,
       "AE 01 12 34 56 78" + kKeySent + " FF", "    / 密码传送成功！", "keySectorNo=1"},
      {"key load fails", "@fail=B4:22; Command4: mima o2" + kFF, "", " / 密码传送失败！",
       "cmdStatus=34"},
      {"short key refused", "Command4: mima o10 =0123456789A | box | mima =b",
       "B4 00 09 01 23 45 67 89 AB", " / 密码传送成功！", "box=错误信息|密码长度必须为6个字节!"},
      {"authenticate sector 15 key A",
       kSel + "Command4: mima o16" + kFF + "; Command9: mima o16 o17", "B8 00 0F 3F",
       " / 密码认证通过", "cmdStatus=0 keySectorNo=15"},
      {"authenticate sector 0 key B",
       kSel + "Command4: mima o1 o18" + kFF + "; Command9: mima o1 o18", "B8 01 00 03",
       " / 密码认证通过", ""},
      {"authenticate Light key A",
       kML + "Command4: ML10MIMA o17" + kFF + "; Command9: ML10MIMA o17 =12", "B8 00 00 06",
       " / 密码认证通过", ""},
      {"authenticate Light key B",
       kML + "Command4: ML10MIMA o18" + kFF + "; Command9: ML10MIMA o18", "B8 01 00 08",
       " / 密码认证通过", ""},
      {"authenticate, wrong key", kSel + "Command4: mima o10 =010203040506; Command9: mima o10", "",
       " / 密码认证未通过", ""},
      {"authenticate keys A and B", "Command9: mima +o19", "-", " 密码输入错误！", ""},
      // Blocks.
      {"basic write", kSel + "Command9: mima o2; Command6: inputdata o2 o18 " + kData,
       "BA 05" + kDump, " / 数据写入成功", "blockAddr=5 loopIndex=16"},
      {"basic read",
       kSel + "Command9: mima o2; Command6: inputdata o2 o18 " + kData +
           "; @stale; Command5: inputdata o2 o18",
       "B9 05", "  / 读数据块成功！/" + kDump, "loopIndex=16"},
      {"basic read, control block", kSel + "Command9: mima o2; Command5: inputdata o2 o20", "B9 07",
       "  / 读数据块成功！/ 00 00 00 00 00 00 FF 07 80 69 FF FF FF FF FF FF", "blockAddr=7"},
      {"31 digits refused",
       "Command6: inputdata o2 o18 =aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa | box | inputdata =b",
       "BA 05 AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AB", " / 数据写入失败",
       "box=错误信息|数据长度必须为16个字节!"},
      {"basic read, no card", "@card=none; Command5: inputdata o1 o18", "", "  / 读数据块失败！",
       ""},
      {"one-shot read, no card", "@card=none; READDATA: inputdata", "", "  / 读数据块失败！", ""},
      {"basic write, no card", "@card=none; Command6: inputdata " + kData, "", " / 数据写入失败",
       ""},
      {"one-shot write, no card", "@card=none; WRITEDATA: inputdata " + kData, "",
       "   / 写数据块失败！", ""},
      {"one-shot write sector 15 block 2",
       "WRITEDATA: inputdata o16 o19 =0102030405060708090A0B0C0D0E0F10", "AD 3E 12 34 56 78" + kHex,
       "   / 写数据块成功！/" + kHex, ""},
      {"one-shot read",
       "WRITEDATA: inputdata o16 o19 =0102030405060708090a0b0c0d0e0f10; @stale; "
       "READDATA: inputdata o16 o19",
       "AC 3E 12 34 56 78", "  / 读数据块成功！/" + kHex, ""},
      {"one-shot write, maker's block",
       "WRITEDATA: inputdata o1 o17 =ffffffffffffffffffffffffffffffff",
       "AD 00 12 34 56 78 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF", "   / 写数据块失败！",
       ""},
      {"Light basic write", kML + "@type=0; @stale; Command6: ml10input o4 =AABBCCDD",
       "BA 03 AA BB CC DD C4 C5 C6 C7 C8 C9 CA CB CC CD CE CF", " / 数据写入失败",
       "blockAddr=3 loopIndex=4"},
      {"short page refused", "@type=16; Command6: ml10input o12 =123456 | box | ml10input =789ABC",
       "BA 0B 12 34 56 78 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A", " / 数据写入失败",
       "box=错误信息|数据长度必须为4个字节! blockAddr=11"},
      {"Light one-shot write", kML11, "AD 0B 12 34 56 78" + kPage + " C8 C9 CA CB CC CD CE CF",
       " / 写数据块成功！/" + kPage, "loopIndex=8"},
      {"Light one-shot read", kML11 + "; @stale; READDATA: ml10input o12", "AC 0B 12 34 56 78",
       "  / 读数据块成功！/" + kPage, ""},
      {"Light basic read", kML11 + "; READDATA: ml10input o12; @stale; Command5: ml10input o12",
       "B9 0B", "  / 读数据块成功！/" + kPage, "blockAddr=11"},
      // Purse.
      {"WRITEBAG", kBag, "B0 " + kTo9 + "64 00 00 00", "  / 写电子钱包成功！/ 电子钱包= 100",
       "blockAddr=9 purseValue=100"},
      {"ADDBAG", kBag + "ADDBAG: inputdata o3 o18 =50", "B1 " + kTo9 + "32 00 00 00",
       "  / 加电子钱包成功！/ 当前电子钱包= 150", ""},
      {"SUBBAG", kBag + "SUBBAG: inputdata o3 o18 =150", "B2 " + kTo9 + "96 00 00 00",
       "  / 减电子钱包成功！/ 当前电子钱包=-50", "purseValue=-50"},
      {"READBAG", kBag + "SUBBAG: inputdata o3 o18 =150; @purse=77; READBAG: inputdata o3 o18",
       "AF 09 12 34 56 78", "  / 读电子钱包成功！/ 当前电子钱包=-50", "purseValue=-50"},
      {"empty amount", kBag + "ADDBAG: inputdata o3 o18", "B1 " + kTo9 + "00 00 00 00",
       "  / 加电子钱包成功！/ 当前电子钱包= 100", ""},
      {"WRITEBAG fails", "@fail=B0:03; WRITEBAG: inputdata o3 o18 =1", "", "  / 写电子钱包失败！ 3",
       ""},
      {"READBAG fails", "@fail=AF:01; READBAG: inputdata o3 o18", "", "  / 读电子钱包失败！ 1", ""},
      {"ADDBAG fails", "@fail=B1:24; ADDBAG: inputdata o3 o18 =1", "", "  / 加电子钱包失败！ 36",
       ""},
      {"SUBBAG fails", "@fail=B2:24; SUBBAG: inputdata o3 o18 =1", "", "  / 减电子钱包失败！ 36",
       ""},
      {"READBAG type 0", "@type=0; READBAG", "AF 00 12 34 56 78", "  / 读电子钱包失败！ 37", ""},
      {"WRITEBAG type 0", "@type=0; WRITEBAG: ml10input o6 =7", "B0 " + kTo0 + "07 00 00 00",
       " / 写电子钱包失败！ 36", ""},
      {"SUBBAG type 0", "@type=0; SUBBAG: ml10input o7 =8", "B2 " + kTo0 + "08 00 00 00",
       "  / 减电子钱包失败！ 36", ""},
      {"Command8 type 0", "@type=0; Command8: ml10input o8 =9", "BC 00 09 00 00 00",
       " / 减操作失败", "blockAddr=0"},
      {"ADDBAG type 0", "@type=0; ADDBAG: inputdata o3 o18 =1", "B1 " + kTo9 + "01 00 00 00",
       "  / 加电子钱包失败！ 37", ""},
      {"Command7 type 0", "@type=0; Command7: inputdata o4 o19 =2", "BB 0E 02 00 00 00",
       " / 加钱包操作失败", "blockAddr=14"},
      {"Command7 Light", "@type=16; Command7", "-", " / ML10卡不支持加操作", ""},
      {"Command7", kBasic + "Command7: inputdata o3 o18 =25", "BB 09 19 00 00 00",
       " / 加钱包操作成功", ""},
      {"Command8, pasted sign", kBasic + "Command8: inputdata o3 o18 =- paste=-5",
       "BC 09 FB FF FF FF", " / 减操作成功", ""},
      {"Command7 fails", "@fail=BB:23; Command7: inputdata o3 o18 =1", "", " / 加钱包操作失败", ""},
      {"Command8 fails", "@fail=BC:23; Command8: inputdata o3 o18 =1", "", " / 减操作失败", ""},
  };
  // Leaving any dialog sends nothing, appends the retype line under the
  // earlier lines and leaves the block buffer and the purse value.
  const char* left[][3] = {
      {"Command4", "mima", "ML10MIMA"},       {"Command9", "mima", "ML10MIMA"},
      {"LOADKEY", "mima", "ML10MIMA"},        {"EDITKEY", "mima", "ML10MIMA"},
      {"Command5", "inputdata", "ml10input"}, {"Command6", "inputdata", "ml10input"},
      {"READDATA", "inputdata", "ml10input"}, {"WRITEDATA", "inputdata", "ml10input"},
      {"WRITEBAG", "inputdata", "ml10input"}, {"SUBBAG", "inputdata", "ml10input"},
      {"Command8", "inputdata", "ml10input"}, {"ADDBAG", "inputdata", "inputdata"},
      {"READBAG", "inputdata", nullptr},      {"Command7", "inputdata", nullptr}};
  for (const auto& [button, mifare1, other] : left)
    for (int type : {4, 16})
      if (const char* dialog = type == 4 ? mifare1 : other)
        rows.push_back({QByteArray(button) + " left, type " + QByteArray::number(type),
                        QStringLiteral("@type=%1; %2: %3 !").arg(type).arg(button, dialog), "-",
                        kEarlier + "/" + kRetype, "purseValue=77 data0=90"});
  // An amount that is not a whole decimal number, or does not fit 32 bits,
  // is refused in the dialog; leaving it then sends nothing.
  const QString amounts[][2] = {{"12ab", kAmountNotWholeMessage},
                                {"ff", kAmountNotWholeMessage},
                                {"1e3", kAmountNotWholeMessage},
                                {"99999999999", kAmountRangeMessage},
                                {"2147483648", kAmountRangeMessage}};
  int i = 0;
  for (const char* button : {"WRITEBAG", "ADDBAG", "SUBBAG", "Command7", "Command8"})
    for (int k = 0; k < 2; ++k, ++i)
      rows.push_back(
          {QByteArray(button) + " refuses " + amounts[i % 5][0].toUtf8(),
           QStringLiteral("%1: inputdata =%2 | box | inputdata !").arg(button, amounts[i % 5][0]),
           "-", kEarlier + "/" + kRetype,
           "purseValue=77 box=错误信息|" + QString(amounts[i % 5][1]).replace(u' ', u'_')});
  return rows;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase();
  void init();
  void roads_data();
  void roads();
  void screenshot();
  void cleanupTestCase();

 private:
  void setUp(const QString& word);
  QString actual(const QString& name);

  std::unique_ptr<Reader> reader_;
  std::unique_ptr<MainWindow> w_;
  QStringList opened_;
  QString box_;
  std::atomic<int> idle_{0};  // exchanges under the normal pointer
};

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
  QWidget* window = w_.get();
  reader_->onExchange = [this, window](const std::string&) {
    if (!window->testAttribute(Qt::WA_SetCursor) || window->cursor().shape() != Qt::WaitCursor)
      ++idle_;
  };
}

void WindowTest::init() {
  reader_->sim->clearFaults();
  setUp("card=classic");
  Module1& m = w_->state();
  m.cardTypeCode = kMifare1;
  m.cardSerial = 0x78563412;  // the card's 12 34 56 78
  m.purseValue = 77;
  w_->fields().dataBytes.fill(0x5A);
  w_->setCardNo("before");
  w_->setCardType("before");
  w_->setButtonEnabled("ADDBAG", true);
  opened_.clear();
  box_.clear();
  idle_ = 0;
}

void WindowTest::setUp(const QString& word) {
  const QString key = word.section(u'=', 0, 0), value = word.section(u'=', 1);
  if (key == "card") {
    reader_->control({"mifare", "remove"});
    const QStringList card = value.split(u':');
    if (card[0] != "none")
      reader_->control(
          {"mifare", "insert", card[0].toStdString(), card.value(1, "12345678").toStdString()});
  } else if (key == "type") {
    w_->state().cardTypeCode = value.toInt();
  } else if (key == "purse") {
    w_->state().purseValue = value.toInt();
  } else if (key == "stale") {  // what an earlier block command left
    for (std::size_t i = 0; i < 16; ++i)
      w_->fields().dataBytes[i] = static_cast<std::uint8_t>(0xC0 + i);
  } else if (key == "fail") {
    reader_->failNext(static_cast<std::uint8_t>(value.left(2).toInt(nullptr, 16)),
                      static_cast<std::uint8_t>(value.mid(3).toInt(nullptr, 16)));
  } else {
    QFAIL(qPrintable("unknown set-up " + word));
  }
}

QString WindowTest::actual(const QString& name) {
  const Module1& m = w_->state();
  const QHash<QString, qint64> numbers = {
      {"cardTypeCode", m.cardTypeCode},      {"blockAddr", m.blockAddr},
      {"purseValue", m.purseValue},          {"keySectorNo", m.keySectorNo},
      {"modeChoice", m.modeChoice},          {"cmdStatus", w_->fields().cmdStatus},
      {"loopIndex", w_->fields().loopIndex}, {"ADDBAG", w_->button("ADDBAG")->isEnabled()},
      {"data0", w_->fields().dataBytes[0]}};
  if (numbers.contains(name)) return QString::number(numbers[name]);
  if (name == "cardSerial")
    return QStringLiteral("%1").arg(quint32(m.cardSerial), 8, 16, QLatin1Char('0')).toUpper();
  if (name == "box") return box_;
  return w_->findChild<QLineEdit*>(name) ? w_->findChild<QLineEdit*>(name)->text()
                                         : "<no " + name + ">";
}

void WindowTest::roads_data() {
  QTest::addColumn<int>("row");
  for (int i = 0; i < int(table().size()); ++i) QTest::newRow(table()[std::size_t(i)].name) << i;
}

void WindowTest::roads() {
  QFETCH(int, row);
  const Row r = table()[std::size_t(row)];
  QStringList items = r.script.split(u';');
  for (QString& item : items) item = item.trimmed();
  items.removeAll(QString());
  QStringList expectedDialogs;
  for (int i = 0; i < items.size(); ++i) {
    const QString& item = items[i];
    if (item.startsWith(u'@')) {
      setUp(item.mid(1));
      continue;
    }
    if (i == items.size() - 1) {
      w_->clearList();
      w_->addLine(kEarlier);
      reader_->mark();
    }
    std::vector<Step> steps;
    for (const QString& s : item.section(u':', 1).split(u'|', Qt::SkipEmptyParts)) {
      if (s.trimmed() == "box") {
        steps.push_back(acceptMessage(&box_));
        continue;
      }
      expectedDialogs << s.trimmed().section(u' ', 0, 0);
      steps.push_back(dialogStep(s, &opened_));
    }
    QVERIFY2(press(*w_, item.section(u':', 0, 0).trimmed(), steps), qPrintable(item));
  }
  QCOMPARE(opened_, expectedDialogs);
  for (const QString& s : r.sent.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
    if (s == "-")
      QCOMPARE(reader_->sinceMark(), std::size_t(0));
    else
      QCOMPARE(reader_->lastSent(s.left(2).toInt(nullptr, 16)), s.mid(3));
  }
  QCOMPARE(listLines(*w_), r.lines.isEmpty() ? QStringList() : r.lines.split(u'/'));
  for (const QString& word : r.state.split(u' ', Qt::SkipEmptyParts)) {
    const QString name = word.section(u'=', 0, 0),
                  value = word.section(u'=', 1).replace(u'_', u' ');
    QCOMPARE(name + "=" + actual(name), name + "=" + value);
  }
  QCOMPARE(idle_.load(), 0);
  QCOMPARE(w_->cursor().shape(), Qt::ArrowCursor);  // the normal pointer again
}

// Leaves a picture of the window after a connect and a block read when
// CARDBENCH_SCREENSHOT names a file.
void WindowTest::screenshot() {
  const QByteArray path = qgetenv("CARDBENCH_SCREENSHOT");
  if (path.isEmpty()) QSKIP("CARDBENCH_SCREENSHOT not set");
  QVERIFY(press(*w_, "clear"));
  QVERIFY(press(*w_, "Command2", {dialogStep("", nullptr)}));
  QVERIFY(press(*w_, "Command1"));
  QVERIFY(
      press(*w_, "WRITEDATA", {dialogStep("o2 o19 =0123456789ABCDEF0123456789ABCDEF", nullptr)}));
  QVERIFY(press(*w_, "READDATA", {dialogStep("o2 o19", nullptr)}));
  QVERIFY(w_->grab().save(QString::fromLocal8Bit(path)));
}

void WindowTest::cleanupTestCase() {
  reader_->onExchange = {};
  QVERIFY(press(*w_, "EXIT"));  // unlinks, with its pause, and closes the window
  QVERIFY(!w_->isVisible());
  QCOMPARE(w_->fields().cmdStatus, 0);
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
