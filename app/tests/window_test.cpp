// cardbench's conversions, then its window and dialogs against readersim on a
// pty through the real library: the start, the connection rules, the dialogs,
// then one row per road of presses, with the command bytes the last press
// sent, the lines it left and the state after it, all under the busy pointer.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTextLayout>
#include <QtTest>
#include <mutex>
#include <regex>

#include "conversions.h"
#include "core/simulator.h"
#include "dialogs/callmode_dialog.h"
#include "dialogs/dialog_rules.h"
#include "dialogs/inputdata_dialog.h"
#include "dialogs/mima_dialog.h"
#include "dialogs/ml10input_dialog.h"
#include "dialogs/ml10mima_dialog.h"
#include "main_window.h"

using namespace cardbench;

namespace {

// Script words: "@card=classic|light|none[:serial]", "@type=N", "@purse=N",
// "@stale" (block bytes C0 C1 …), "@fail=CC:SS" (the reader answers command
// CC once with status SS); presses "BUTTON: step | step" (see dialogStep;
// "box" takes an error box) separated by ';'. Sent: "CC data" of the last
// press, ", " between commands, "-" for nothing at all. Lines: '/' between
// lines. State: "name=value" words, '_' for a blank.
// clang-format off
const QString kEarlier = "earlier line", kRetype = " 请重新输入命令！";
const QString kSel = "Command2: CALLMODE; Command1; Command3; ", kML = "@card=light; " + kSel, kBag = "WRITEBAG: inputdata o3 o18 =100; ";
const QString kKey = "=a0A1a2A3a4A5", kKeySent = " A0 A1 A2 A3 A4 A5", kFF = " =FFFFFFFFFFFF", kTo9 = "09 12 34 56 78 ", kTo0 = "00 12 34 56 78 ";
const QString kHex = " 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10", kPage = " 12 34 00 00 00 00 00 00";
const QString kML11 = kML + "@type=0; Command4: ML10MIMA o17" + kFF + "; @stale; WRITEDATA: ml10input o12 =1234";
const QString kBasic = kSel + "WRITEBAG: inputdata o3 o18 =1000; Command3; Command9: mima o3; ";
const QString kData = "=00112233445566778899aabbccddeeff", kDump = " 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
const QStringList kAlways = {"EXIT", "clear", "comm"}, kReader = {"DRIVER", "READNO", "READVER", "WIZAP"};
const QString kLinkFailed = " 通信口联接失败！请检查MF读写器连接是否正常！", kLinked = " 系统与TK61 MIFARE读写器连接成功！";
const QString kRefused = " 系统连接的不是TK61 MIFARE读写器,请重新连接！";
// clang-format on

struct Row {
  QByteArray name;
  QString script, sent, lines, state;
};

std::vector<Row> table() {
  std::vector<Row> rows = {
      // clang-format off
      {"READNO", "READNO", "", " / 读模块号成功！ / 模块号=17", "cmdStatus=0"},
      {"READNO fails", "@fail=A1:05; READNO", "", kEarlier + "// 读模块号失败！", "cmdStatus=5"},
      {"READNO from the keyboard", "^READNO", "A1", " / 读模块号成功！ / 模块号=17", "cmdStatus=0"},
      {"READVER", "READVER", "", " / 读控制软件版本号成功！ / 544B363120322E31", ""},
      {"READVER fails", "@fail=22:05; READVER", "", kEarlier + "// 读控制软件版本号失败！", ""},
      {"DRIVER", "DRIVER", "7A 07 1E 1E 03", " / 灯控操作成功！", ""},
      {"DRIVER fails", "@fail=7A:05; DRIVER", "", kEarlier + "// 灯控操作失败！", "cmdStatus=5"},
      {"clear", "clear", "-", "", "cardno= cardtype="},
      // A card type or serial is taken only from a call that succeeded.
      {"request ALL", "Command2: CALLMODE", "B5 01", "    / 呼叫成功/ 卡类型为：Mifare 1", "cardtype=Mifare_1 cardTypeCode=4"},
      {"request IDLE", "Command2: CALLMODE o2", "B5 00", "    / 呼叫成功/ 卡类型为：Mifare 1", ""},
      {"request Light", "@card=light; Command2: CALLMODE", "B5 01", "    / 呼叫成功/ 卡类型为：Mifare Light 10", "cardtype=Mifare_Light_10 cardTypeCode=16"},
      {"request, no card", "@card=none; READNO; Command2: CALLMODE", "B5 01", "    / 呼叫失败", "cardtype=before cardTypeCode=4"},
      {"request left", "Command2: CALLMODE !", "-", kEarlier + "/" + kRetype, "modeChoice=2 cardtype=before"},
      {"anticollision", "@card=classic:0A0B0C0D; Command2: CALLMODE; Command1", "", " / 读卡片序列号成功！", "cardno=0D0C0B0A cardSerial=0D0C0B0A"},
      {"serial read", "@card=classic:0A0B0C0D; Command2: CALLMODE; readcardno", "", " / 读卡片序列号成功！", "cardno=0D0C0B0A cardSerial=0D0C0B0A"},
      {"serial read, no card", "@card=none; READNO; readcardno", "", " / 读序列号失败！", "cardno=_ cardSerial=78563412"},
      {"select after a failed anticollision", "@card=none; READNO; Command1; Command3", "B7 12 34 56 78", " / 卡激活失败", "cardno=_"},
      {"select", kSel, "B7 12 34 56 78", " / 卡激活成功", "cmdStatus=0"},
      {"halt", kSel + "Command10", "BD", " / 已成功得使卡休眠", ""},
      {"halt twice", kSel + "Command10; Command10", "", " / 休眠操作失败", ""},
      {"type read, Light", "@card=light; Command2: CALLMODE; READCARDTYPE", "", " / 读卡类型成功！ ", "cardtype=Mifare_Light_L10 cardTypeCode=16 ADDBAG=0"},
      {"type read fails", "@card=light; Command2: CALLMODE; READCARDTYPE; READNO; @fail=AA:20; READCARDTYPE", "", kEarlier + "// 读卡类型失败！", "cardtype=Mifare_Light_L10 cardTypeCode=16 ADDBAG=0"},
      {"type read, Mifare 1", "@card=light; Command2: CALLMODE; READCARDTYPE; @card=classic; Command2: CALLMODE; " "READCARDTYPE", "", "/ 读卡类型成功！", "cardtype=Mifare_1 cardTypeCode=4 ADDBAG=1"},
      // Keys.
      {"Command4 M1 key B sector 5", "Command4: mima o6 o18 " + kKey, "B4 04 05" + kKeySent, " / 密码传送成功！", "keySectorNo=5 loopIndex=6"},
      {"Command4 Light key B", "@type=16; Command4: ML10MIMA o18 " + kKey, "B4 04 00" + kKeySent + ", A9 01", " / 密码传送成功！", "loopIndex=6"},
      {"Command4 type 0 key A", "@type=0; Command4: ML10MIMA o17 " + kKey, "B4 00 00" + kKeySent + ", A9 00", " / 密码传送成功！", ""},
      {"LOADKEY M1 sector 3", "LOADKEY: mima o4 " + kKey, "A4 03" + kKeySent, " / 密码传送成功！", "keySectorNo=3 loopIndex=6"},
      {"LOADKEY Light key B", "@type=16; LOADKEY: ML10MIMA o18 " + kKey, "B4 04 00" + kKeySent + ", A9 01", " / 密码传送成功！", ""},
      {"EDITKEY M1 sector 14", "EDITKEY: mima o15 " + kKey, "AE 0E 12 34 56 78" + kKeySent + " FF", "    / 密码传送成功！", "keySectorNo=14"},
      {"EDITKEY Light key B", "@type=16; EDITKEY: ML10MIMA o18 " + kKey, "AE 01 12 34 56 78" + kKeySent + " FF", "    / 密码传送成功！", "keySectorNo=1"},
      {"key load fails", "@fail=B4:22; Command4: mima o2" + kFF, "", " / 密码传送失败！", "cmdStatus=34"},
      {"short key refused", "Command4: mima o10 =0123456789A | box | mima =b", "B4 00 09 01 23 45 67 89 AB", " / 密码传送成功！", "box=错误信息|密码长度必须为6个字节!"},
      {"authenticate sector 15 key A", kSel + "Command4: mima o16" + kFF + "; Command9: mima o16 o17", "B8 00 0F 3F", " / 密码认证通过", "cmdStatus=0 keySectorNo=15"},
      {"authenticate sector 0 key B", kSel + "Command4: mima o1 o18" + kFF + "; Command9: mima o1 o18", "B8 01 00 03", " / 密码认证通过", ""},
      {"authenticate Light key A", kML + "Command4: ML10MIMA o17" + kFF + "; Command9: ML10MIMA o17 =12", "B8 00 00 06", " / 密码认证通过", ""},
      {"authenticate Light key B", kML + "Command4: ML10MIMA o18" + kFF + "; Command9: ML10MIMA o18", "B8 01 00 08", " / 密码认证通过", ""},
      {"authenticate, wrong key", kSel + "Command4: mima o10 =010203040506; Command9: mima o10", "", " / 密码认证未通过", ""},
      {"authenticate keys A and B", "Command9: mima +o19", "-", " 密码输入错误！", ""},
      // Blocks.
      {"basic write", kSel + "Command9: mima o2; Command6: inputdata o2 o18 " + kData, "BA 05" + kDump, " / 数据写入成功", "blockAddr=5 loopIndex=16"},
      {"basic read", kSel + "Command9: mima o2; Command6: inputdata o2 o18 " + kData + "; @stale; Command5: inputdata o2 o18", "B9 05", "  / 读数据块成功！/" + kDump, "loopIndex=16"},
      {"basic read, control block", kSel + "Command9: mima o2; Command5: inputdata o2 o20", "B9 07", "  / 读数据块成功！/ 00 00 00 00 00 00 FF 07 80 69 FF FF FF FF FF FF", "blockAddr=7"},
      {"31 digits refused", "Command6: inputdata o2 o18 =aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa | box | inputdata =b", "BA 05 AA AA AA AA AA AA AA AA AA AA AA AA AA AA AA AB", " / 数据写入失败", "box=错误信息|数据长度必须为16个字节!"},
      {"basic read, no card", "@card=none; Command5: inputdata o1 o18", "", "  / 读数据块失败！", ""},
      {"one-shot read, no card", "@card=none; READDATA: inputdata", "", "  / 读数据块失败！", ""},
      {"basic write, no card", "@card=none; Command6: inputdata " + kData, "", " / 数据写入失败", ""},
      {"one-shot write, no card", "@card=none; WRITEDATA: inputdata " + kData, "", "   / 写数据块失败！", ""},
      {"one-shot write sector 15 block 2", "WRITEDATA: inputdata o16 o19 =0102030405060708090A0B0C0D0E0F10", "AD 3E 12 34 56 78" + kHex, "   / 写数据块成功！/" + kHex, ""},
      {"one-shot read", "WRITEDATA: inputdata o16 o19 =0102030405060708090a0b0c0d0e0f10; @stale; " "READDATA: inputdata o16 o19", "AC 3E 12 34 56 78", "  / 读数据块成功！/" + kHex, ""},
      {"Light basic write", kML + "@type=0; @stale; Command6: ml10input o4 =AABBCCDD", "BA 03 AA BB CC DD C4 C5 C6 C7 C8 C9 CA CB CC CD CE CF", " / 数据写入失败", "blockAddr=3 loopIndex=4"},
      {"short page refused", "@type=16; Command6: ml10input o12 =123456 | box | ml10input =789ABC", "BA 0B 12 34 56 78 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A", " / 数据写入失败", "box=错误信息|数据长度必须为4个字节! blockAddr=11"},
      {"Light one-shot write", kML11, "AD 0B 12 34 56 78" + kPage + " C8 C9 CA CB CC CD CE CF", " / 写数据块成功！/" + kPage, "loopIndex=8"},
      {"Light one-shot read", kML11 + "; @stale; READDATA: ml10input o12", "AC 0B 12 34 56 78", "  / 读数据块成功！/" + kPage, ""},
      {"Light basic read", kML11 + "; READDATA: ml10input o12; @stale; Command5: ml10input o12", "B9 0B", "  / 读数据块成功！/" + kPage, "blockAddr=11"},
      // Purse.
      {"WRITEBAG", kBag, "B0 " + kTo9 + "64 00 00 00", "  / 写电子钱包成功！/ 电子钱包= 100", "blockAddr=9 purseValue=100"},
      {"ADDBAG", kBag + "ADDBAG: inputdata o3 o18 =50", "B1 " + kTo9 + "32 00 00 00", "  / 加电子钱包成功！/ 当前电子钱包= 150", ""},
      {"SUBBAG", kBag + "SUBBAG: inputdata o3 o18 =150", "B2 " + kTo9 + "96 00 00 00", "  / 减电子钱包成功！/ 当前电子钱包=-50", "purseValue=-50"},
      {"READBAG", kBag + "SUBBAG: inputdata o3 o18 =150; @purse=77; READBAG: inputdata o3 o18", "AF 09 12 34 56 78", "  / 读电子钱包成功！/ 当前电子钱包=-50", "purseValue=-50"},
      {"ADDBAG from the keyboard", kBag + "^ADDBAG: inputdata o3 o18 =50", "B1 " + kTo9 + "32 00 00 00", "  / 加电子钱包成功！/ 当前电子钱包= 150", ""},
      {"WRITEBAG fails", "@fail=B0:03; WRITEBAG: inputdata o3 o18 =1", "", "  / 写电子钱包失败！ 3", ""},
      {"READBAG fails", "@fail=AF:01; READBAG: inputdata o3 o18", "", "  / 读电子钱包失败！ 1", ""},
      {"ADDBAG fails", "@fail=B1:24; ADDBAG: inputdata o3 o18 =1", "", "  / 加电子钱包失败！ 36", ""},
      {"SUBBAG fails", "@fail=B2:24; SUBBAG: inputdata o3 o18 =1", "", "  / 减电子钱包失败！ 36", ""},
      {"READBAG type 0", "@type=0; READBAG", "AF 00 12 34 56 78", "  / 读电子钱包失败！ 37", ""},
      {"WRITEBAG type 0", "@type=0; WRITEBAG: ml10input o6 =7", "B0 " + kTo0 + "07 00 00 00", " / 写电子钱包失败！ 36", ""},
      {"SUBBAG type 0", "@type=0; SUBBAG: ml10input o7 =8", "B2 " + kTo0 + "08 00 00 00", "  / 减电子钱包失败！ 36", ""},
      {"Command8 type 0", "@type=0; Command8: ml10input o8 =9", "BC 00 09 00 00 00", " / 减操作失败", "blockAddr=0"},
      {"ADDBAG type 0", "@type=0; ADDBAG: inputdata o3 o18 =1", "B1 " + kTo9 + "01 00 00 00", "  / 加电子钱包失败！ 37", ""},
      {"Command7 type 0", "@type=0; Command7: inputdata o4 o19 =2", "BB 0E 02 00 00 00", " / 加钱包操作失败", "blockAddr=14"},
      {"Command7 Light", "@type=16; Command7", "-", " / ML10卡不支持加操作", ""},
      {"Command7", kBasic + "Command7: inputdata o3 o18 =25", "BB 09 19 00 00 00", " / 加钱包操作成功", ""},
      {"Command8, pasted sign", kBasic + "Command8: inputdata o3 o18 =- paste=-5", "BC 09 FB FF FF FF", " / 减操作成功", ""},
      {"Command7 fails", "@fail=BB:23; Command7: inputdata o3 o18 =1", "", " / 加钱包操作失败", ""},
      {"Command8 fails", "@fail=BC:23; Command8: inputdata o3 o18 =1", "", " / 减操作失败", ""},
      // clang-format on
  };
  // Leaving any dialog sends nothing, appends the retype line under the
  // earlier lines and leaves the block buffer and the purse value.
  // clang-format off
  const char* left[][3] = {{"Command4", "mima", "ML10MIMA"}, {"Command9", "mima", "ML10MIMA"}, {"LOADKEY", "mima", "ML10MIMA"},
      {"EDITKEY", "mima", "ML10MIMA"}, {"Command5", "inputdata", "ml10input"}, {"Command6", "inputdata", "ml10input"},
      {"READDATA", "inputdata", "ml10input"}, {"WRITEDATA", "inputdata", "ml10input"}, {"WRITEBAG", "inputdata", "ml10input"},
      {"SUBBAG", "inputdata", "ml10input"}, {"Command8", "inputdata", "ml10input"}, {"ADDBAG", "inputdata", "inputdata"},
      {"READBAG", "inputdata", nullptr}, {"Command7", "inputdata", nullptr}};
  // clang-format on
  for (const auto& [button, mifare1, other] : left)
    for (int type : {4, 16})
      if (const char* dialog = type == 4 ? mifare1 : other)
        rows.push_back({QByteArray(button) + " left, type " + QByteArray::number(type),
                        QStringLiteral("@type=%1; %2: %3 !").arg(type).arg(button, dialog), "-",
                        kEarlier + "/" + kRetype, "purseValue=77 data0=90"});
  // An amount that is empty, not a whole decimal number, or does not fit 32
  // bits, is refused in the dialog; leaving it then sends nothing.
  // clang-format off
  const QString amounts[][2] = {{"", kAmountNotWholeMessage}, {"12ab", kAmountNotWholeMessage}, {"ff", kAmountNotWholeMessage},
                                {"1e3", kAmountNotWholeMessage}, {"99999999999", kAmountRangeMessage}, {"2147483648", kAmountRangeMessage}};
  auto refuse = [&rows](const QString& button, const QString& dialog, int type, const QString (&amount)[2]) {
    rows.push_back({(button + " " + dialog + " refuses '" + amount[0] + "'").toUtf8(), QStringLiteral("@type=%1; %2: %3 =%4 | box | %3 !").arg(type).arg(button, dialog, amount[0]),
                    "-", kEarlier + "/" + kRetype, "purseValue=77 box=错误信息|" + QString(amount[1]).replace(u' ', u'_')});
  };
  int i = 0;
  for (const char* button : {"WRITEBAG", "ADDBAG", "SUBBAG", "Command7", "Command8"})
    for (int k = 0; k < 3; ++k) refuse(button, "inputdata", 4, amounts[k == 0 ? 0 : 1 + i++ % 5]);
  for (const char* button : {"WRITEBAG", "SUBBAG", "Command8"}) refuse(button, "ml10input", 16, amounts[0]);
  // clang-format on
  return rows;
}

using Step = std::function<void(QWidget*)>;

void clickLater(QWidget* w, const QString& name) {
  if (auto* b = w->findChild<QAbstractButton*>(name))
    QTimer::singleShot(0, b, &QAbstractButton::click);
}

// What an error box showed: "title|text", with the icon and the button count
// checked on the way (anything else gives "bad box").
Step acceptMessage(QString* seen) {
  return [seen](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return;
    const bool plain = box->icon() == QMessageBox::Critical && box->buttons().size() == 1;
    *seen = plain ? box->windowTitle() + u'|' + box->text() : QStringLiteral("bad box");
    QTimer::singleShot(0, box->button(QMessageBox::Ok), &QAbstractButton::click);
  };
}

// A dialog step written as words: "oN" clicks OptionN, "+oN" enables it
// first, "=text" types text as the keyboard would ("\b" is backspace),
// "^V" types Ctrl+V, "paste=text" inserts text, "blur" takes the focus away;
// then "!" leaves by the exit button, "close" by the close box, "esc" by
// Escape, and otherwise the dialog is confirmed. Its name goes to `opened`.
Step dialogStep(const QString& words, QStringList* opened = nullptr) {
  return [words, opened](QWidget* d) {
    if (opened) *opened << d->objectName();
    const bool data = d->objectName().contains(QLatin1String("input"), Qt::CaseInsensitive);
    auto* box = d->findChild<QLineEdit*>(data ? QStringLiteral("dataa") : QStringLiteral("mima"));
    QString end = QStringLiteral("cmdadd");
    for (const QString& w : words.split(u' ', Qt::SkipEmptyParts)) {
      if (w == u'!' || w == QLatin1String("close") || w == QLatin1String("esc")) end = w;
      if (w.startsWith(u'o') || w.startsWith(QLatin1String("+o"))) {
        auto* b =
            d->findChild<QRadioButton*>(QStringLiteral("Option") + w.mid(w.indexOf(u'o') + 1));
        if (b && w.startsWith(u'+')) b->setEnabled(true);
        if (b) b->click();
      }
      if (w.startsWith(u'=') && box) QTest::keyClicks(box, w.mid(1));
      if (w.startsWith(QLatin1String("paste=")) && box) box->insert(w.mid(6));
      if (w == QLatin1String("^V") && box) QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
      if (w == QLatin1String("blur") && box)
        QCoreApplication::sendEvent(box, std::make_unique<QFocusEvent>(QEvent::FocusOut).get());
    }
    if (end == QLatin1String("close")) return QTimer::singleShot(0, d, &QWidget::close);
    if (end == QLatin1String("esc")) return QTest::keyClick(d, Qt::Key_Escape);
    clickLater(d, end == u'!' ? QStringLiteral("cmdEXIT") : end);
  };
}

// Opens something modal and runs one step for each modal window that then
// comes on top (a click that opens another modal window is queued, never run
// inside the timer); one that comes when no step is left is closed and fails.
bool runModal(const std::function<void()>& open, std::vector<Step> steps) {
  std::size_t next = 0;
  int unexpected = 0;
  QPointer<QWidget> last;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* top = QApplication::activeModalWidget();
    if (!top || !top->isVisible() || top == last.data()) return;
    last = top;
    if (next < steps.size()) return steps[next++](top);
    ++unexpected;
    if (auto* d = qobject_cast<QDialog*>(top)) QTimer::singleShot(0, d, &QDialog::reject);
  });
  timer.start(5);
  open();
  return next == steps.size() && unexpected == 0;
}

void mapPorts(const std::string& com1, const std::string& com2 = {}) {
  for (int i = 1; i <= 10; ++i) {
    const std::string& mapped = i == 1 ? com1 : com2;
    const std::string value =
        i <= 2 && !mapped.empty() ? mapped : "/nonexistent/cardbench-com" + std::to_string(i);
    setenv(("ORVIX32_COM" + std::to_string(i)).c_str(), value.c_str(), 1);
  }
}

// A simulated reader; COM1 maps to it. It notes the command and data bytes
// of every exchange ("B4 04 05 FF …") before its answer goes out, while the
// host is still inside the library call.
class Reader {
 public:
  explicit Reader(readersim::Options options = {}) {
    options.log = [this](const std::string& line) {
      static const std::regex exchange(R"( cmd (\w\w) \[([^\]]*)\])");
      std::smatch m;
      if (!std::regex_search(line, m, exchange)) return;
      std::lock_guard lock(mutex_);
      sent_ << QString::fromStdString(m[1].str() + " " + m[2].str()).trimmed();
      if (onExchange) onExchange();
    };
    sim = readersim::makeStandardSimulator(std::move(options));
    started = sim->start();
  }
  ~Reader() { sim->stop(); }
  QStringList sent() {  // since the last clear
    std::lock_guard lock(mutex_);
    return sent_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    sent_.clear();
  }
  std::unique_ptr<readersim::Simulator> sim;
  bool started = false;
  std::function<void()> onExchange;  // set while no exchange runs

 private:
  std::mutex mutex_;
  QStringList sent_;
};

QStringList listLines(MainWindow& w) {
  QStringList lines;
  auto* list = w.findChild<QListWidget*>(QStringLiteral("List1"));
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// Clicks a window button; the steps handle the dialogs it opens.
// "^BUTTON" presses it from the keyboard (focus, then the space bar).
bool press(MainWindow& w, const QString& button, std::vector<Step> steps = {}) {
  const bool keyboard = button.startsWith(u'^');
  QPushButton* b = w.button(keyboard ? button.mid(1) : button);
  return b && runModal(
                  [b, keyboard] {
                    if (!keyboard) return b->click();
                    b->setFocus();
                    QTest::keyClick(b, Qt::Key_Space);
                  },
                  std::move(steps));
}
// The pointer shown over the serial box, which has an I-beam of its own.
Qt::CursorShape pointerOverSerialBox(MainWindow& w) {
  if (const QCursor* c = QGuiApplication::overrideCursor()) return c->shape();
  return w.findChild<QLineEdit*>(QStringLiteral("cardno"))->cursor().shape();
}
std::unique_ptr<QDialog> makeDialog(const QString& name, Module1& m, bool amount = false) {
  if (name == "CALLMODE") return std::make_unique<CallModeDialog>(m);
  if (name == "mima") return std::make_unique<MimaDialog>(m);
  if (name == "ML10MIMA") return std::make_unique<Ml10MimaDialog>(m);
  if (name == "inputdata") return std::make_unique<InputDataDialog>(m, amount);
  return std::make_unique<Ml10InputDialog>(m, amount);
}

// The state of a dialog's controls as words: "name" for a checked option or
// an enabled frame, "name=text" for an entry box, "!name" for a disabled
// option or frame.
QString controls(QDialog& d) {
  QStringList words;
  for (QRadioButton* b : d.findChildren<QRadioButton*>()) {
    if (b->isChecked()) words << b->objectName();
    if (!b->isEnabled()) words << "!" + b->objectName();
  }
  for (QGroupBox* g : d.findChildren<QGroupBox*>())
    if (g->objectName() == "Frame3") words << (g->isEnabled() ? "" : "!") + g->objectName();
  for (QLineEdit* e : d.findChildren<QLineEdit*>()) words << e->objectName() + "=" + e->text();
  return words.join(u' ');
}

QStringList sorted(QStringList l) { return l.sort(), l; }
QStringList enabled(MainWindow& w) {
  QStringList names;
  for (QPushButton* b : w.findChildren<QPushButton*>())
    if (b->isEnabled()) names << b->objectName();
  return sorted(names);
}

QStringList all() { return sorted(kAlways + kReader + kCardButtons + QStringList{"Command1"}); }

// Whether no process holds the port: the library locks the line it opens.
bool portFree(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) ::close(fd);
  return free;
}

}  // namespace

class BenchTest : public QObject {
  Q_OBJECT
 private slots:
  void hexToBytes();
  void bytesAndAmountsAsText();
  void amountTexts();
  void startAndTexts();
  void missingLibraryOrFunction();
  void connectRules();
  void dialogStarts();
  void dialogsConfirmAndLeave();
  void sharedWindow();
  void init();
  void roads_data();
  void roads();
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

void BenchTest::hexToBytes() {
  // clang-format off
  const std::tuple<QString, int, const char*> rows[] = {
      {"A0A1A2A3A4A5", 6, "A0A1A2A3A4A5"}, {"a0a1A2a3a4Ff", 6, "A0A1A2A3A4FF"}, {"1122334455", 6, "112233445500"},
      {"11223344556", 6, "112233445506"} /* lone last digit */, {"   FFEE  ", 3, "FFEE00"}, {"1 23", 2, "0123"},
      {"\tFF\n", 2, "000F"}, {"\r\nAB", 2, "00AB"} /* only blanks are trimmed */, {"1G", 1, "01"}, {"G1FF", 2, "00FF"},
      {"", 4, "00000000"}, {QString(12, QChar(u'\0')), 6, "000000000000"}};
  // clang-format on
  for (const auto& [text, n, hex] : rows) {
    std::array<std::uint8_t, 17> out;
    out.fill(0x5A);
    std::int32_t counter = -7;
    hexTextToBytes(text, out, n, counter);
    const QByteArray bytes(reinterpret_cast<const char*>(out.data()), n + 1);
    QCOMPARE(bytes.toHex().toUpper() + " " + QByteArray::number(counter),
             hex + QByteArray("5A ") + QByteArray::number(n));
  }
  // The key text starts as twelve NULs; fixed texts pad with blanks and cut.
  Module1 m;
  QCOMPARE(m.keyText.text(), QString(12, QChar(u'\0')));
  m.keyText = QStringLiteral("ABC");
  QCOMPARE(m.keyText.text(), QStringLiteral("ABC         "));
  m.keyText = QStringLiteral("0123456789ABCDEF");
  QCOMPARE(m.keyText.text(), QStringLiteral("0123456789AB"));
}

void BenchTest::bytesAndAmountsAsText() {
  for (const auto& [value, text] : {std::pair{5, "00000005"},
                                    {-1, "FFFFFFFF"},
                                    {INT32_MIN, "80000000"},
                                    {0x04030201, "04030201"}})
    QCOMPARE(zeroPaddedHex(value), QString(text));  // serial 01 02 03 04: byte 3 first
  for (const auto& [text, count] : {std::pair{"", "0"}, {"A", "0"}, {"0123456789A", "5"}})
    QCOMPARE(byteCountText(text), QString(count));
  const std::array<std::uint8_t, 8> bytes{0x01, 0x02, 0x00, 0x0F, 0x10, 0xFF, 0x00, 0x00};
  std::int32_t counter = 0;
  const QString dump = hexDumpLine(bytes, 6, counter);
  QCOMPARE(dump + QString::number(counter), QStringLiteral(" 01 02 00 0F 10 FF6"));
  QCOMPARE(versionLine(bytes), QStringLiteral(" 120F10FF00"));
  for (const auto& [value, text] :
       {std::pair{0, " 0"}, {250, " 250"}, {-5, "-5"}, {INT32_MIN, "-2147483648"}})
    QCOMPARE(amountText(value), QString(text));
}

// The literal reading of a decimal text, and what the purse dialogs take:
// only whole decimal numbers that fit 32 bits ("-" = nothing).
void BenchTest::amountTexts() {
  // clang-format off
  const char* const rows[][3] = {
      {"250", "250", "250"}, {"12ab", "12", "-"}, {"2e3", "2000", "-"}, {"3D1", "30", "-"}, {"ff", "0", "-"},
      {"", "0", "-"}, {"  ", "0", "-"}, {" 1 2 3  ", "123", "123"}, {"12e", "12", "-"}, {"5eF", "5", "-"}, {"-42", "-42", "-42"},
      {"+7", "7", "7"}, {"2.5", "2", "-"}, {"3.5", "4", "-"}, {"-2.5", "-2", "-"}, {"2.51", "3", "-"},
      {"25e-1", "2", "-"}, {"-", "0", "-"}, {"1-2", "1", "-"}, {"\t7", "7", "-"}, {"2147483647", "2147483647", "2147483647"},
      {"-2147483648", "-2147483648", "-2147483648"}, {"2147483648", "-", "-"}, {"2147483647.5", "-", "-"},
      {"-2147483649", "-", "-"}, {"1e400", "-", "-"}};
  // clang-format on
  auto text = [](std::optional<std::int32_t> v) {
    return v ? QString::number(*v) : QStringLiteral("-");
  };
  for (const auto& [typed, literal, whole] : rows)
    QCOMPARE(
        QString(typed) + " " + text(decimalTextToAmount(typed)) + " " + text(wholeAmount(typed)),
        QString(typed) + " " + literal + " " + whole);
}

void BenchTest::startAndTexts() {
  mapPorts({});
  MainWindow w;
  QCOMPARE(w.windowTitle(), QStringLiteral("TK61系列MIFARE读写应用程序"));
  QCOMPARE(w.findChildren<QPushButton*>().size(), 27);
  QCOMPARE(enabled(w), kAlways);
  QVERIFY(listLines(w).isEmpty());
  // clang-format off
  for (const auto& [name, text] : {std::pair{"FRAME3/clear", "清  屏"}, {"FRAME3/EXIT", "退    出"}, {"Frame1/Command2", "呼 叫 卡"},
                                   {"Frame1/Command9", "密码认证"}, {"Frame5/READCARDTYPE", "读卡类型"}, {"Frame5/SUBBAG", "减 钱 包"}})
    QCOMPARE(w.findChild<QWidget*>(QString(name).section(u'/', 0, 0))->findChild<QPushButton*>(QString(name).section(u'/', 1))->text(), QString(text));
  // clang-format on
  QCOMPARE(w.findChild<QGroupBox*>("Frame5")->title(), QStringLiteral(" 高级指令集 "));
  QCOMPARE(w.findChild<QLabel*>("Label2")->text(), QStringLiteral("RC500 MIFARE读写应用程序"));
  // Every text draws with real glyphs (index 0 is the "missing glyph" box).
  QStringList texts = {kLinkFailed, w.windowTitle()};
  for (QAbstractButton* b : w.findChildren<QAbstractButton*>()) texts << b->text();
  for (QGroupBox* g : w.findChildren<QGroupBox*>()) texts << g->title();
  for (const QString& text : texts) {
    QTextLayout layout(text, w.font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
      QVERIFY2(!run.glyphIndexes().contains(0), qPrintable("no glyph in: " + text));
  }
}

void BenchTest::missingLibraryOrFunction() {
  // No library at all, then a library that loads but lacks the reader's functions.
  for (const auto& [path, named] :
       {std::pair{"/nonexistent/libORVIX32.so", "ORVIX32"}, {"libm.so.6", "AutoLinkCom"}}) {
    MainWindow w(std::make_unique<OrvixBinding>(path));
    w.show();
    for (int i = 0; i < 2; ++i) {  // and again: the window goes on
      QString box;
      QVERIFY(press(w, "comm", {acceptMessage(&box)}));
      QVERIFY2(box.startsWith(QStringLiteral("错误信息|")) && box.contains(named), qPrintable(box));
      QCOMPARE(enabled(w), kAlways);
      QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }
    QVERIFY(press(w, "EXIT"));  // ignores the error and closes the window
    QVERIFY(!w.isVisible());
  }
}

// Connects to a silent reader, to nothing, to a module that reports 18 and
// to a TK61 module: what each shows and enables, and which port it keeps.
void BenchTest::connectRules() {
  readersim::Options other;
  other.moduleNumber = 18;
  Reader silent, wrong(other), right;
  QVERIFY(silent.started && wrong.started && right.started);
  silent.sim->inject(readersim::Fault{readersim::FaultKind::SilentOnSync, std::nullopt, -1});
  MainWindow w;
  const auto link = [&](Reader* r, const QString& line, const QStringList& enabledAfter,
                        bool onCom2 = false) {
    mapPorts(r && !onCom2 ? r->sim->path() : std::string(),
             r && onCom2 ? r->sim->path() : std::string());
    QVERIFY(press(w, "comm"));
    QCOMPARE(listLines(w).mid(listLines(w).size() - 2), QStringList({"    ", line}));
    QCOMPARE(enabled(w), enabledAfter);
  };
  link(&silent, kLinkFailed, kAlways, true);  // COM1 missing, COM2 silent
  QVERIFY(w.fields().cmdStatus != 0);
  QVERIFY(portFree(silent.sim->path()));  // a port that found no reader is let go
  link(nullptr, kLinkFailed, kAlways);
  link(&wrong, kRefused, kAlways);
  QVERIFY(portFree(wrong.sim->path()));  // although 断开联接 cannot be pressed
  link(&right, kLinked, all());
  QVERIFY(!portFree(right.sim->path()));
  link(&right, kLinked, all());  // relinks; the list is never cleared
  QCOMPARE(listLines(w).size(), 10);
  link(&wrong, kRefused, sorted(kAlways + kReader + QStringList{"Command1"}));  // those as before
  QVERIFY(portFree(wrong.sim->path()) && portFree(right.sim->path()));
  link(&right, kLinked, all());
  QElapsedTimer timer;
  timer.start();
  QVERIFY(press(w, "WIZAP"));
  QVERIFY(timer.elapsed() >= 900);  // the library's pause after closing
  QCOMPARE(listLines(w), QStringList({" ", " 断开联接成功！"}));
  QCOMPARE(enabled(w), sorted(kAlways + kReader));
  QVERIFY(press(w, "WIZAP"));
  QCOMPARE(listLines(w), QStringList({" ", " 断开联接失败！"}));
  QCOMPARE(enabled(w), sorted(kAlways + kReader));
  QVERIFY(press(w, "READNO"));  // the reader buttons stay usable; READNO relinks by itself
  QCOMPARE(listLines(w).value(2), QStringLiteral(" 模块号=17"));
  QVERIFY(press(w, "WIZAP"));
}

void BenchTest::dialogStarts() {
  // clang-format off
  const char* const rows[][4] = {
      {"CALLMODE", "0", "Option1", "Option2=IDLE fra_Cdate=_呼叫方式_"},
      {"mima", "0", "Option1 Option17 !Option19 !Frame3 mima= mimalength=0", "Option16=扇区15 Option19=密码A、B mima<12 Label2=卡片密码设置"},
      {"mima", "1", "Option1 Option17 !Option19 Frame3 mima= mimalength=0", ""},
      {"mima", "2", "Option1 !Option17 !Option18 Option19 Frame3 mima= mimalength=0", ""},
      {"mima", "5", "Option1 Option17 Frame3 mima= mimalength=0", ""},
      {"ML10MIMA", "1", "Option17 Frame3 mima= mimalength=0", "Option18=密码B !fra_Cdate mima<12"},
      {"inputdata", "0", "Option1 Option17 Frame3 dataa= length=0", "Option12=扇区11 Option16=扇区15 Option20=控制块 dataa<32 Label2=卡片数据区数据输入"},
      {"inputdata", "1", "Option1 Option17 !Frame3 dataa= length=0", ""},
      {"inputdata", "2", "Option1 Option17 Frame3 dataa= length=0", ""},
      {"ml10input", "1", "Option1 !Frame3 dataa= length=0", "Option12=页号11 !Option13 !Frame1 dataa<8 fra_Cdate=_页_号_"}};
  // clang-format on
  for (const auto& [dialog, mode, state, form] : rows) {
    Module1 m;
    m.keyDialogMode = m.dataDialogMode = static_cast<std::int16_t>(QString(mode).toInt());
    std::unique_ptr<QDialog> d = makeDialog(dialog, m);
    QCOMPARE(d->objectName() + " " + d->windowTitle(),
             QString(dialog) + " TK61系列MIFARE模块应用程序");
    QCOMPARE(::controls(*d), QString(state));
    for (const QString& item : QString(form).split(u' ', Qt::SkipEmptyParts)) {
      const QString name = item.section(QRegularExpression("[=<]"), 0, 0).remove(u'!');
      const QString value =
          item.mid(item.indexOf(QRegularExpression("[=<]")) + 1).replace(u'_', u' ');
      QObject* o = d->findChild<QObject*>(name);
      QVERIFY2(item.startsWith(u'!') ? !o : o != nullptr, qPrintable(item));
      if (auto* e = qobject_cast<QLineEdit*>(o)) QCOMPARE(QString::number(e->maxLength()), value);
      if (auto* g = qobject_cast<QGroupBox*>(o)) QCOMPARE(g->title(), value);
      if (auto* b = qobject_cast<QAbstractButton*>(o)) QCOMPARE(b->text(), value);
      if (auto* l = qobject_cast<QLabel*>(o)) QCOMPARE(l->text(), value);
    }
    for (QLineEdit* count : d->findChildren<QLineEdit*>(QRegularExpression("length$")))
      QVERIFY(count->isReadOnly());
  }
}

void BenchTest::dialogsConfirmAndLeave() {
  const QString key = kKeyLengthMessage, data = QStringLiteral("数据长度必须为%1个字节!");
  // clang-format off
  const QString rows[][4] = {
      {"CALLMODE", "0", "", "1 9 9 9 1 old|"}, {"CALLMODE", "0", "o2", "1 9 9 9 0 old|"},
      {"CALLMODE", "0", "!", "0 9 9 9 2 old|"}, {"CALLMODE", "0", "close", "0 9 9 9 2 old|"},
      {"mima", "2", "o6 =0123456789A | box | =B", "1 5 2 9 9 0123456789AB|" + key},
      {"mima", "0", "o6 o18", "1 5 1 9 9 |"}, {"mima", "1", "o6 =FFFF !", "0 0 0 9 9 |"},
      {"mima", "1", "o6 =FFFF close", "0 0 0 9 9 |"}, {"mima", "1", "o6 =FFFF esc", "0 0 0 9 9 |"},
      {"ML10MIMA", "2", "o18 =0123456789A | box | =B", "1 1 9 9 9 0123456789AB|" + key},
      {"ML10MIMA", "1", "o18 =0123456789A", "1 1 9 9 9 0123456789A|"}, {"ML10MIMA", "0", "o18 =12", "1 1 9 9 9 12|"},
      {"ML10MIMA", "2", "=FFFF !", "0 0 0 9 9 |"}, {"ML10MIMA", "1", "=1g-&2aB\b ^V =F blur", "1 0 9 9 9 12AF|"},
      {"inputdata", "2", "=1g-&2aB\b ^V =F", "1 0 9 0 9 12aF|"},
      {"inputdata", "0", "o6 o20 =aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa | box | =b", "1 5 9 3 9 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab|" + data.arg(16)},
      {"inputdata", "1", "o6 o19", "1 5 9 2 9 old|"}, {"inputdata", "0", "o9 =FF close", "0 9 9 9 9 old|"},
      {"ml10input", "0", "o12 =123456 | box | =789ABC", "1 11 9 9 9 12345678|" + data.arg(4)},
      {"ml10input", "2", "o12 =12ab", "1 11 9 9 9 12ab|"},  // a page's data, not an amount
      {"inputdata", "102", "=2147483647", "1 0 9 0 9 2147483647|"},
      {"inputdata", "102", "=12ab | box | !", "0 9 9 9 9 old|" + kAmountNotWholeMessage},
      {"ml10input", "102", "=9e9 | box | !", "0 9 9 9 9 old|" + kAmountNotWholeMessage},
      {"inputdata", "102", "=99999999999 | box | !", "0 9 9 9 9 old|" + kAmountRangeMessage}};
  // clang-format on
  for (const auto& [dialog, mode, steps, after] : rows) {
    Module1 m;
    m.keyDialogMode = m.dataDialogMode = static_cast<std::int16_t>(mode.toInt() % 100);
    m.sectorNo = m.keyChoice = m.blockNo = m.modeChoice = 9;
    m.keyText = QStringLiteral("old");
    m.dataText = QStringLiteral("old");
    std::unique_ptr<QDialog> d = makeDialog(dialog, m, mode.toInt() >= 100);
    QString box;
    std::vector<Step> run;
    for (const QString& s : steps.split(u'|'))
      run.push_back(s.trimmed() == "box" ? acceptMessage(&box) : dialogStep(s));
    QVERIFY(runModal([&] { d->exec(); }, run));
    const QString text =
        (dialog.contains("mima", Qt::CaseInsensitive) ? m.keyText.text() : m.dataText.text());
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6|%7")
                 .arg(m.dialogOk)
                 .arg(m.sectorNo)
                 .arg(m.keyChoice)
                 .arg(m.blockNo)
                 .arg(m.modeChoice)
                 .arg(text.trimmed(), box.section(u'|', 1)),
             after);
    QVERIFY(box.isEmpty() || box.startsWith(kErrorTitle + u'|'));
    QCOMPARE(d->result(), int(m.dialogOk ? QDialog::Accepted : QDialog::Rejected));
  }
}

// The window for the roads: bound on its first call, from the library
// beside the program, and connected to the reader.
void BenchTest::sharedWindow() {
  reader_ = std::make_unique<Reader>();
  QVERIFY(reader_->started);
  mapPorts(reader_->sim->path());
  w_ = std::make_unique<MainWindow>();
  w_->show();
  QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  QCOMPARE(w_->binding().loadedFrom(), QString());
  QVERIFY(press(*w_, "comm"));
  QCOMPARE(listLines(*w_), QStringList({"    ", kLinked}));
  QCOMPARE(QFileInfo(w_->binding().loadedFrom()).absolutePath(),
           QCoreApplication::applicationDirPath());
  MainWindow* window = w_.get();
  reader_->onExchange = [this, window] {
    idle_ += pointerOverSerialBox(*window) != Qt::WaitCursor;
  };
}

void BenchTest::init() {
  if (!w_) return;  // the roads only
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

void BenchTest::setUp(const QString& word) {
  const QString key = word.section(u'=', 0, 0), value = word.section(u'=', 1);
  const QStringList card = value.split(u':');
  std::string out;
  // clang-format off
  if (key == "card" && reader_->sim->control({"mifare", "remove"}, out) && card[0] != "none")
    reader_->sim->control({"mifare", "insert", card[0].toStdString(), card.value(1, "12345678").toStdString()}, out);
  if (key == "type") w_->state().cardTypeCode = value.toInt();
  if (key == "purse") w_->state().purseValue = value.toInt();
  if (key == "stale")  // what an earlier block command left
    for (std::size_t i = 0; i < 16; ++i) w_->fields().dataBytes[i] = static_cast<std::uint8_t>(0xC0 + i);
  if (key == "fail")
    reader_->sim->inject(readersim::Fault{readersim::FaultKind::Status, std::uint8_t(value.left(2).toUInt(nullptr, 16)), 1, 0,
                                          std::uint8_t(value.mid(3).toUInt(nullptr, 16))});
  // clang-format on
  QVERIFY2(QStringList({"card", "type", "purse", "stale", "fail"}).contains(key), qPrintable(word));
}

QString BenchTest::actual(const QString& name) {
  const Module1& m = w_->state();
  // clang-format off
  const QHash<QString, qint64> numbers = {{"cardTypeCode", m.cardTypeCode}, {"blockAddr", m.blockAddr}, {"purseValue", m.purseValue},
      {"keySectorNo", m.keySectorNo}, {"modeChoice", m.modeChoice}, {"cmdStatus", w_->fields().cmdStatus},
      {"loopIndex", w_->fields().loopIndex}, {"ADDBAG", w_->button("ADDBAG")->isEnabled()}, {"data0", w_->fields().dataBytes[0]}};
  // clang-format on
  if (numbers.contains(name)) return QString::number(numbers[name]);
  if (name == "cardSerial")
    return QStringLiteral("%1").arg(quint32(m.cardSerial), 8, 16, QLatin1Char('0')).toUpper();
  if (name == "box") return box_;
  return w_->findChild<QLineEdit*>(name) ? w_->findChild<QLineEdit*>(name)->text()
                                         : "<no " + name + ">";
}

void BenchTest::roads_data() {
  QTest::addColumn<int>("row");
  for (int i = 0; i < int(table().size()); ++i) QTest::newRow(table()[std::size_t(i)].name) << i;
}

void BenchTest::roads() {
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
      reader_->clear();
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
  const QStringList sent = reader_->sent();
  for (const QString& s : r.sent.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
    QString last = s == "-" ? QString::number(sent.size()) + " sent" : QStringLiteral("<none>");
    for (const QString& x : sent)
      if (s != "-" && x.left(2) == s.left(2)) last = x;
    QCOMPARE(last, s == "-" ? QStringLiteral("0 sent") : s);
  }
  QCOMPARE(listLines(*w_), r.lines.isEmpty() ? QStringList() : r.lines.split(u'/'));
  for (const QString& word : r.state.split(u' ', Qt::SkipEmptyParts)) {
    const QString name = word.section(u'=', 0, 0),
                  value = word.section(u'=', 1).replace(u'_', u' ');
    QCOMPARE(name + "=" + actual(name), name + "=" + value);
  }
  QCOMPARE(idle_.load(), 0);
  QCOMPARE(QGuiApplication::overrideCursor(), nullptr);  // the normal pointers again
}

void BenchTest::cleanupTestCase() {
  if (!w_) return;
  reader_->onExchange = {};
  QVERIFY(press(*w_, "EXIT"));  // unlinks, with its pause, and closes the window
  QVERIFY(!w_->isVisible());
  QCOMPARE(w_->fields().cmdStatus, 0);
}

QTEST_MAIN(BenchTest)
#include "window_test.moc"
