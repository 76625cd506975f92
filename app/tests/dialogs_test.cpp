// The five dialogs on their own: defaults per mode, the key filter and the
// byte count, the checks of the confirm button, and every way out.
#include <QGroupBox>
#include <QLabel>
#include <QtTest>

#include "dialogs/callmode_dialog.h"
#include "dialogs/inputdata_dialog.h"
#include "dialogs/mima_dialog.h"
#include "dialogs/ml10input_dialog.h"
#include "dialogs/ml10mima_dialog.h"
#include "modal_driver.h"

using namespace cardbench;
using namespace cbtest;
using Steps = std::vector<ModalDriver::Step>;

namespace {

bool checked(QWidget* d, const QString& name) {
  auto* b = child<QRadioButton>(d, name);
  return b && b->isChecked();
}
bool enabled(QWidget* d, const QString& name) {
  auto* w = child<QWidget>(d, name);
  return w && w->isEnabled();
}
QString text(QWidget* d, const QString& name) {
  auto* e = child<QLineEdit>(d, name);
  return e ? e->text() : QStringLiteral("<missing>");
}
std::unique_ptr<QDialog> makeDialog(const QString& name, Module1& m, bool amount = false) {
  if (name == "mima") return std::make_unique<MimaDialog>(m);
  if (name == "ML10MIMA") return std::make_unique<Ml10MimaDialog>(m);
  if (name == "inputdata") return std::make_unique<InputDataDialog>(m, amount);
  return std::make_unique<Ml10InputDialog>(m, amount);
}
// Runs the dialog with the steps; true when every step ran.
bool run(QDialog& d, Steps steps) {
  ModalDriver driver(std::move(steps));
  d.exec();
  return driver.finished() && driver.unexpected() == 0;
}
// Leaves the dialog by the exit button, the close box or Escape.
ModalDriver::Step leaveBy(const QString& how, std::function<void(QWidget*)> before = {}) {
  return [how, before](QWidget* w) {
    if (before) before(w);
    if (how == "exit") clickLater(w, "cmdEXIT");
    if (how == "close") QTimer::singleShot(0, w, &QWidget::close);
    if (how == "escape") QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Escape);
  };
}
void expectError(const MessageSeen& box, const QString& text) {
  QVERIFY(box.seen);
  QCOMPARE(box.title, QStringLiteral("错误信息"));
  QCOMPARE(box.text, text);
  QCOMPARE(box.icon, QMessageBox::Critical);
  QCOMPARE(box.buttons, 1);
}
const QString kTitle = QStringLiteral("TK61系列MIFARE模块应用程序");
const QString kKeyLength = QStringLiteral("密码长度必须为6个字节!");

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void callModeChoices_data();
  void callModeChoices();
  void mimaDefaultsPerMode_data();
  void mimaDefaultsPerMode();
  void ml10MimaDefaultsAndUpperCase();
  void inputDataDefaultsPerMode_data();
  void inputDataDefaultsPerMode();
  void keyFilterAndLength_data();
  void keyFilterAndLength();
  void lengthChecks_data();
  void lengthChecks();
  void keyDialogsLeaveWithResets_data();
  void keyDialogsLeaveWithResets();
  void inputDataCloseKeepsOutputs();
  void amountRange();
};

void DialogsTest::callModeChoices_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<int>("dialogOk");
  QTest::addColumn<int>("modeChoice");
  for (const auto& [action, ok, mode] :
       {std::tuple{"all", 1, 1}, {"idle", 1, 0}, {"exit", 0, 2}, {"close", 0, 2}, {"escape", 0, 2}})
    QTest::newRow(action) << QString(action) << ok << mode;
}

void DialogsTest::callModeChoices() {
  QFETCH(QString, action);
  QFETCH(int, dialogOk);
  QFETCH(int, modeChoice);
  Module1 m;
  m.dialogOk = 7;
  m.modeChoice = 9;
  CallModeDialog dialog(m);
  QCOMPARE(dialog.windowTitle(), kTitle);
  bool allAtStart = false;
  QVERIFY(run(dialog, {leaveBy(action, [&](QWidget* w) {
                allAtStart = checked(w, "Option1") && !checked(w, "Option2");
                if (action == "idle") choose(w, "Option2");
                if (action == "all" || action == "idle") clickLater(w, "cmdadd");
              })}));
  QVERIFY(allAtStart);
  QCOMPARE(int(m.dialogOk), dialogOk);
  QCOMPARE(m.modeChoice, modeChoice);
}

void DialogsTest::mimaDefaultsPerMode_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<bool>("keyFrame");
  QTest::addColumn<QString>("selectedKey");
  QTest::addColumn<QString>("enabledKeys");  // of Option17, Option18, Option19
  for (const auto& [mode, frame, selected, keys] : {std::tuple{0, false, "Option17", "AB-"},
                                                    {1, true, "Option17", "AB-"},
                                                    {2, true, "Option19", "--C"},
                                                    {5, true, "Option17", "ABC"}})
    QTest::addRow("mode %d", mode) << mode << frame << QString(selected) << QString(keys);
}

void DialogsTest::mimaDefaultsPerMode() {
  QFETCH(int, mode);
  QFETCH(bool, keyFrame);
  QFETCH(QString, selectedKey);
  QFETCH(QString, enabledKeys);
  Module1 m;
  m.keyDialogMode = static_cast<std::int16_t>(mode);
  MimaDialog d(m);
  QCOMPARE(d.windowTitle(), kTitle);
  QCOMPARE(child<QLabel>(&d, "Label2")->text(), QStringLiteral("卡片密码设置"));
  QCOMPARE(enabled(&d, "Frame3"), keyFrame);
  QVERIFY(checked(&d, selectedKey));
  QVERIFY(checked(&d, "Option1"));
  for (int i = 0; i < 3; ++i)
    QCOMPARE(enabled(&d, QStringLiteral("Option%1").arg(17 + i)), enabledKeys[i] != u'-');
  QCOMPARE(text(&d, "mima"), QString());
  QCOMPARE(text(&d, "mimalength"), QStringLiteral("0"));
  QVERIFY(child<QLineEdit>(&d, "mimalength")->isReadOnly());
  QCOMPARE(child<QLineEdit>(&d, "mima")->maxLength(), 12);
  QCOMPARE(child<QRadioButton>(&d, "Option16")->text(), QStringLiteral("扇区15"));
  QCOMPARE(child<QRadioButton>(&d, "Option19")->text(), QStringLiteral("密码A、B"));
}

void DialogsTest::ml10MimaDefaultsAndUpperCase() {
  Module1 m;
  m.keyDialogMode = kKeyTransfer;
  Ml10MimaDialog d(m);
  QVERIFY(checked(&d, "Option17"));
  QCOMPARE(child<QRadioButton>(&d, "Option18")->text(), QStringLiteral("密码B"));
  QVERIFY(!child<QWidget>(&d, "fra_Cdate"));  // no sector choice
  // The key turns upper case when the box loses the focus.
  d.show();
  QVERIFY(QTest::qWaitForWindowExposed(&d));
  auto* edit = child<QLineEdit>(&d, "mima");
  edit->setFocus();
  QTest::keyClicks(edit, QStringLiteral("abcdef012345"));
  QCOMPARE(edit->text(), QStringLiteral("abcdef012345"));
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(edit, &out);
  QCOMPARE(edit->text(), QStringLiteral("ABCDEF012345"));
}

void DialogsTest::inputDataDefaultsPerMode_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<bool>("dataFrame");
  QTest::newRow("0 write") << 0 << true;
  QTest::newRow("1 read") << 1 << false;
  QTest::newRow("2 text") << 2 << true;
}

void DialogsTest::inputDataDefaultsPerMode() {
  QFETCH(int, mode);
  QFETCH(bool, dataFrame);
  for (bool ml10 : {false, true}) {
    Module1 m;
    m.dataDialogMode = static_cast<std::int16_t>(mode);
    std::unique_ptr<QDialog> d = makeDialog(ml10 ? "ml10input" : "inputdata", m);
    QCOMPARE(d->windowTitle(), kTitle);
    QCOMPARE(enabled(d.get(), "Frame3"), dataFrame);
    QVERIFY(checked(d.get(), "Option1"));
    QCOMPARE(checked(d.get(), "Option17"), !ml10);
    QCOMPARE(text(d.get(), "dataa"), QString());
    QCOMPARE(text(d.get(), "length"), QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>(d.get(), "dataa")->maxLength(), ml10 ? 8 : 32);
    QCOMPARE(child<QGroupBox>(d.get(), "fra_Cdate")->title(),
             ml10 ? QStringLiteral(" 页 号 ") : QStringLiteral(" 扇区号 "));
    // ml10input: twelve pages and no block frame.
    QCOMPARE(child<QRadioButton>(d.get(), "Option12")->text(),
             ml10 ? QStringLiteral("页号11") : QStringLiteral("扇区11"));
    QCOMPARE(!child<QWidget>(d.get(), "Frame1"), ml10);
    QCOMPARE(!child<QWidget>(d.get(), "Option13"), ml10);
  }
}

void DialogsTest::keyFilterAndLength_data() {
  QTest::addColumn<QString>("dialog");
  for (const char* dialog : {"mima", "ML10MIMA", "inputdata", "ml10input"})
    QTest::newRow(dialog) << QString(dialog);
}

void DialogsTest::keyFilterAndLength() {
  QFETCH(QString, dialog);
  const bool key = dialog.contains("mima", Qt::CaseInsensitive);
  const QString box = key ? "mima" : "dataa", length = key ? "mimalength" : "length";
  Module1 m;
  m.keyDialogMode = kKeyTransfer;
  m.dataDialogMode = kDataWrite;
  std::unique_ptr<QDialog> d = makeDialog(dialog, m);
  d->show();
  auto* edit = child<QLineEdit>(d.get(), box);
  QVERIFY(edit);
  QTest::keyClicks(edit, QStringLiteral("1g-& 2aB"));
  QCOMPARE(edit->text(), QStringLiteral("12aB"));  // lower case stays as typed
  QCOMPARE(text(d.get(), length), QStringLiteral("2"));
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(edit->text(), QStringLiteral("12a"));
  QCOMPARE(text(d.get(), length), QStringLiteral("1"));
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);  // typed control keys are kept out
  QCOMPARE(edit->text(), QStringLiteral("12a"));
  QTest::keyClicks(edit, QStringLiteral("F"));
  QCOMPARE(text(d.get(), length), QStringLiteral("2"));
}

// The confirm button checks the length of the key or data; after the message
// the dialog stays open with its outputs untouched, and takes the longer text.
void DialogsTest::lengthChecks_data() {
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<int>("mode");
  QTest::addColumn<QStringList>("clicks");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("message");     // empty: taken at once
  QTest::addColumn<QString>("more");        // typed after the message
  QTest::addColumn<QList<int>>("outputs");  // sectorNo, keyChoice, blockNo
  QTest::addColumn<QString>("taken");
  const QString key = "0123456789A", data = "数据长度必须为%1个字节!";
  QTest::newRow("mima load") << "mima" << 1 << QStringList{"Option6", "Option18"} << key.toLower()
                             << kKeyLength << "b" << QList<int>{5, 1, 9} << "0123456789ab";
  QTest::newRow("mima transfer") << "mima" << 2 << QStringList{"Option6"} << key << kKeyLength
                                 << "B" << QList<int>{5, 2, 9} << "0123456789AB";
  // ML10MIMA writes key B as sector 1 and checks the length in mode 2 only.
  QTest::newRow("ML10MIMA transfer") << "ML10MIMA" << 2 << QStringList{"Option18"} << key
                                     << kKeyLength << "B" << QList<int>{1, 9, 9} << key + "B";
  QTest::newRow("ML10MIMA load") << "ML10MIMA" << 1 << QStringList{"Option18"} << key << ""
                                 << "" << QList<int>{1, 9, 9} << key;
  QTest::newRow("ML10MIMA authenticate") << "ML10MIMA" << 0 << QStringList{"Option18"} << key << ""
                                         << "" << QList<int>{1, 9, 9} << key;
  QTest::newRow("inputdata control block")
      << "inputdata" << int(kDataWrite) << QStringList{"Option6", "Option20"} << QString(31, u'a')
      << data.arg(16) << "b" << QList<int>{5, 9, 3} << QString(31, u'a') + u'b';
  // At most 8 digits; the block number is left alone.
  QTest::newRow("ml10input page 11")
      << "ml10input" << int(kDataWrite) << QStringList{"Option12"} << "123456" << data.arg(4)
      << "789ABC" << QList<int>{11, 9, 9} << "12345678";
}

void DialogsTest::lengthChecks() {
  QFETCH(QString, dialog);
  QFETCH(int, mode);
  QFETCH(QStringList, clicks);
  QFETCH(QString, typed);
  QFETCH(QString, message);
  QFETCH(QString, more);
  QFETCH(QList<int>, outputs);
  QFETCH(QString, taken);
  Module1 m;
  m.keyDialogMode = m.dataDialogMode = static_cast<std::int16_t>(mode);
  m.sectorNo = m.keyChoice = m.blockNo = 9;
  std::unique_ptr<QDialog> d = makeDialog(dialog, m);
  const QString box = dialog.contains("mima", Qt::CaseInsensitive) ? "mima" : "dataa";
  MessageSeen seen;
  bool untouched = false;
  Steps steps{confirmWith([&](QWidget* w) {
    for (const QString& c : clicks) choose(w, c);
    typeInto(w, box, typed);
  })};
  if (!message.isEmpty()) {
    steps.push_back(acceptMessage(&seen));
    steps.push_back(confirmWith([&](QWidget* w) {
      untouched = w == d.get() && m.sectorNo == 9 && m.dialogOk == 0;
      typeInto(w, box, more);
    }));
  }
  QVERIFY(run(*d, steps));
  if (!message.isEmpty()) {
    expectError(seen, message);
    QVERIFY(untouched);
  }
  QCOMPARE(seen.seen, !message.isEmpty());
  QCOMPARE(d->result(), int(QDialog::Accepted));
  QCOMPARE(int(m.dialogOk), 1);
  QCOMPARE(QList<int>({m.sectorNo, m.keyChoice, m.blockNo}), outputs);
  QCOMPARE((box == "mima" ? m.keyText.text() : m.dataText.text()).trimmed(), taken);
}

void DialogsTest::keyDialogsLeaveWithResets_data() {
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<QString>("how");
  for (const auto& [dialog, how] :
       {std::pair{"mima", "exit"}, {"mima", "close"}, {"mima", "escape"}, {"ML10MIMA", "exit"}})
    QTest::addRow("%s %s", dialog, how) << QString(dialog) << QString(how);
}

void DialogsTest::keyDialogsLeaveWithResets() {
  QFETCH(QString, dialog);
  QFETCH(QString, how);
  Module1 m;
  m.keyDialogMode = kKeyLoad;
  m.dialogOk = 1;
  m.keyChoice = 1;
  m.sectorNo = 7;
  m.keyText = QStringLiteral("A0A1A2A3A4A5");
  std::unique_ptr<QDialog> d = makeDialog(dialog, m);
  QVERIFY(run(*d, {leaveBy(how, [](QWidget* w) {
    typeInto(w, "mima", "FFFF");
    child<QLineEdit>(w, "mima")->setFocus();
  })}));
  QCOMPARE(d->result(), int(QDialog::Rejected));
  QCOMPARE(int(m.dialogOk), 0);
  QCOMPARE(m.keyChoice, 0);
  QCOMPARE(m.sectorNo, 0);
  QCOMPARE(m.keyText.text(), QString(12, u' '));
}

void DialogsTest::inputDataCloseKeepsOutputs() {
  Module1 m;
  m.dataDialogMode = kDataWrite;
  m.sectorNo = 4;
  m.blockNo = 2;
  m.dataText = QStringLiteral("AB");
  m.dialogOk = 1;
  InputDataDialog d(m, false);
  QVERIFY(run(d, {leaveBy("close", [](QWidget* w) {
                choose(w, "Option9");
                typeInto(w, "dataa", "FF");
              })}));
  QCOMPARE(int(m.dialogOk), 0);
  QCOMPARE(m.sectorNo, 4);
  QCOMPARE(m.blockNo, 2);
  QCOMPARE(m.dataText.text().trimmed(), QStringLiteral("AB"));
}

void DialogsTest::amountRange() {
  // An amount that does not fit 32 bits is refused where the dialog asks for
  // one; leaving then reports nothing taken.
  for (const auto& [dialog, amountEntry, typed, refused] :
       {std::tuple{"inputdata", true, "99999999999", true},
        {"inputdata", true, "2147483647", false},
        {"ml10input", true, "9e9", true},
        {"ml10input", false, "9e9", false}}) {
    Module1 m;
    m.dataDialogMode = kDataText;
    std::unique_ptr<QDialog> d = makeDialog(dialog, m, amountEntry);
    MessageSeen box;
    Steps steps{confirmWith([&](QWidget* w) { typeInto(w, "dataa", typed); })};
    if (refused) steps.insert(steps.end(), {acceptMessage(&box), leaveBy("exit")});
    QVERIFY(run(*d, steps));
    QCOMPARE(box.seen, refused);
    if (refused) {
      QCOMPARE(box.title, QStringLiteral("错误信息"));
      QVERIFY(box.text.contains(QStringLiteral("金额超出范围")));
      QCOMPARE(box.icon, QMessageBox::Critical);
    } else {
      QCOMPARE(m.dataText.text().trimmed(), QString(typed));
    }
    QCOMPARE(int(m.dialogOk), refused ? 0 : 1);
  }
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
