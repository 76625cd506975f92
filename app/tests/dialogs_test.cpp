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
const QString kTitle = QStringLiteral("TK61系列MIFARE模块应用程序");

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void callModeChoices_data();
  void callModeChoices();
  void mimaDefaultsPerMode_data();
  void mimaDefaultsPerMode();
  void keyFilterAndLength_data();
  void keyFilterAndLength();
  void mimaRefusesShortKeyThenTakesIt();
  void mimaAuthenticateTakesNoKey();
  void mimaLeavesWithResets_data();
  void mimaLeavesWithResets();
  void ml10MimaLengthOnlyInMode2_data();
  void ml10MimaLengthOnlyInMode2();
  void ml10MimaUpperCaseOnLeaving();
  void ml10MimaExitResets();
  void inputDataDefaultsPerMode_data();
  void inputDataDefaultsPerMode();
  void inputDataWriteLength();
  void inputDataReadKeepsText();
  void inputDataExitKeepsOutputs();
  void amountRange_data();
  void amountRange();
  void ml10InputPagesAndLength();
  void ml10InputLayout();
};

// ---- CALLMODE ----------------------------------------------------------------

void DialogsTest::callModeChoices_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<int>("dialogOk");
  QTest::addColumn<int>("modeChoice");
  QTest::newRow("ALL") << "all" << 1 << 1;
  QTest::newRow("IDLE") << "idle" << 1 << 0;
  QTest::newRow("exit button") << "exit" << 0 << 2;
  QTest::newRow("close box") << "close" << 0 << 2;
  QTest::newRow("escape") << "escape" << 0 << 2;
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
  ModalDriver driver({[&](QWidget* w) {
    allAtStart = checked(w, "Option1") && !checked(w, "Option2");
    if (action == "idle") choose(w, "Option2");
    if (action == "all" || action == "idle") clickLater(w, "cmdadd");
    if (action == "exit") clickLater(w, "cmdEXIT");
    if (action == "close") QTimer::singleShot(0, w, &QWidget::close);
    if (action == "escape") QTest::keyClick(w, Qt::Key_Escape);
  }});
  dialog.exec();
  QVERIFY(driver.finished());
  QVERIFY(allAtStart);
  QCOMPARE(int(m.dialogOk), dialogOk);
  QCOMPARE(m.modeChoice, modeChoice);
}

// ---- mima --------------------------------------------------------------------

void DialogsTest::mimaDefaultsPerMode_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<bool>("keyFrame");
  QTest::addColumn<QString>("selectedKey");
  QTest::addColumn<bool>("a");
  QTest::addColumn<bool>("b");
  QTest::addColumn<bool>("ab");
  QTest::newRow("0 authenticate") << 0 << false << "Option17" << true << true << false;
  QTest::newRow("1 load") << 1 << true << "Option17" << true << true << false;
  QTest::newRow("2 transfer") << 2 << true << "Option19" << false << false << true;
  QTest::newRow("other") << 5 << true << "Option17" << true << true << true;
}

void DialogsTest::mimaDefaultsPerMode() {
  QFETCH(int, mode);
  QFETCH(bool, keyFrame);
  QFETCH(QString, selectedKey);
  QFETCH(bool, a);
  QFETCH(bool, b);
  QFETCH(bool, ab);
  Module1 m;
  m.keyDialogMode = static_cast<std::int16_t>(mode);
  MimaDialog d(m);
  QCOMPARE(d.windowTitle(), kTitle);
  QCOMPARE(child<QLabel>(&d, "Label2")->text(), QStringLiteral("卡片密码设置"));
  QCOMPARE(enabled(&d, "Frame3"), keyFrame);
  QVERIFY(checked(&d, selectedKey));
  QVERIFY(checked(&d, "Option1"));
  QCOMPARE(enabled(&d, "Option17"), a);
  QCOMPARE(enabled(&d, "Option18"), b);
  QCOMPARE(enabled(&d, "Option19"), ab);
  QCOMPARE(text(&d, "mima"), QString());
  QCOMPARE(text(&d, "mimalength"), QStringLiteral("0"));
  QVERIFY(child<QLineEdit>(&d, "mimalength")->isReadOnly());
  QCOMPARE(child<QLineEdit>(&d, "mima")->maxLength(), 12);
  // Sixteen sectors in four columns of four: 0-3 down the first column.
  for (int i = 0; i < 16; ++i) {
    auto* o = child<QRadioButton>(&d, QStringLiteral("Option%1").arg(i + 1));
    QVERIFY(o);
    QCOMPARE(o->text(), QStringLiteral("扇区%1").arg(i));
    auto* first = child<QRadioButton>(&d, QStringLiteral("Option%1").arg((i / 4) * 4 + 1));
    QCOMPARE(o->x(), first->x());
    if (i % 4) QVERIFY(o->y() > child<QRadioButton>(&d, QStringLiteral("Option%1").arg(i))->y());
  }
  QCOMPARE(child<QRadioButton>(&d, "Option19")->text(), QStringLiteral("密码A、B"));
}

void DialogsTest::keyFilterAndLength_data() {
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<QString>("box");
  QTest::addColumn<QString>("length");
  QTest::newRow("mima") << "mima"
                        << "mima"
                        << "mimalength";
  QTest::newRow("ML10MIMA") << "ML10MIMA"
                            << "mima"
                            << "mimalength";
  QTest::newRow("inputdata") << "inputdata"
                             << "dataa"
                             << "length";
  QTest::newRow("ml10input") << "ml10input"
                             << "dataa"
                             << "length";
}

void DialogsTest::keyFilterAndLength() {
  QFETCH(QString, dialog);
  QFETCH(QString, box);
  QFETCH(QString, length);
  Module1 m;
  m.keyDialogMode = kKeyTransfer;
  m.dataDialogMode = kDataWrite;
  std::unique_ptr<QDialog> d;
  if (dialog == "mima") d = std::make_unique<MimaDialog>(m);
  if (dialog == "ML10MIMA") d = std::make_unique<Ml10MimaDialog>(m);
  if (dialog == "inputdata") d = std::make_unique<InputDataDialog>(m, false);
  if (dialog == "ml10input") d = std::make_unique<Ml10InputDialog>(m, false);
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

void DialogsTest::mimaRefusesShortKeyThenTakesIt() {
  for (int mode : {1, 2}) {
    Module1 m;
    m.keyDialogMode = static_cast<std::int16_t>(mode);
    m.sectorNo = 9;
    m.keyChoice = 9;
    MimaDialog d(m);
    MessageSeen box;
    bool stillOpen = false;
    ModalDriver driver({confirmWith([](QWidget* w) {
                          choose(w, "Option6");  // sector 5
                          if (checked(w, "Option17")) choose(w, "Option18");
                          typeInto(w, "mima", "0123456789a");  // 11 digits
                        }),
                        acceptMessage(&box), confirmWith([&](QWidget* w) {
                          stillOpen =
                              w == &d && m.sectorNo == 9 && m.keyChoice == 9 && m.dialogOk == 0;
                          typeInto(w, "mima", "b");
                        })});
    QCOMPARE(d.exec(), int(QDialog::Accepted));
    QVERIFY(driver.finished());
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("错误信息"));
    QCOMPARE(box.text, QStringLiteral("密码长度必须为6个字节!"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, 1);
    QVERIFY(stillOpen);
    QCOMPARE(int(m.dialogOk), 1);
    QCOMPARE(m.keyText.text(), QStringLiteral("0123456789ab"));
    QCOMPARE(m.sectorNo, 5);
    QCOMPARE(m.keyChoice, mode == 1 ? 1 : 2);
  }
}

void DialogsTest::mimaAuthenticateTakesNoKey() {
  Module1 m;
  m.keyDialogMode = kKeyAuthenticate;
  MimaDialog d(m);
  ModalDriver driver({confirmWith([](QWidget* w) {
    typeInto(w, "mima", "12");  // the key frame is disabled: nothing arrives
    choose(w, "Option16");
    choose(w, "Option18");
  })});
  d.exec();
  QVERIFY(driver.finished());
  QCOMPARE(driver.unexpected(), 0);
  QCOMPARE(int(m.dialogOk), 1);
  QCOMPARE(m.sectorNo, 15);
  QCOMPARE(m.keyChoice, 1);
  QCOMPARE(m.keyText.text(), QString(12, u' '));
}

void DialogsTest::mimaLeavesWithResets_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("exit button") << "exit";
  QTest::newRow("close box") << "close";
  QTest::newRow("escape") << "escape";
}

void DialogsTest::mimaLeavesWithResets() {
  QFETCH(QString, how);
  Module1 m;
  m.keyDialogMode = kKeyLoad;
  m.dialogOk = 1;
  m.keyChoice = 1;
  m.sectorNo = 7;
  m.keyText = QStringLiteral("A0A1A2A3A4A5");
  MimaDialog d(m);
  ModalDriver driver({[&](QWidget* w) {
    typeInto(w, "mima", "FFFF");
    if (how == "exit") clickLater(w, "cmdEXIT");
    if (how == "close") QTimer::singleShot(0, w, &QWidget::close);
    if (how == "escape") QTest::keyClick(child<QLineEdit>(w, "mima"), Qt::Key_Escape);
  }});
  QCOMPARE(d.exec(), int(QDialog::Rejected));
  QVERIFY(driver.finished());
  QCOMPARE(int(m.dialogOk), 0);
  QCOMPARE(m.keyChoice, 0);
  QCOMPARE(m.sectorNo, 0);
  QCOMPARE(m.keyText.text(), QString(12, u' '));
}

// ---- ML10MIMA ----------------------------------------------------------------

void DialogsTest::ml10MimaLengthOnlyInMode2_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<bool>("refused");
  QTest::newRow("2 checks") << 2 << true;
  QTest::newRow("1 does not") << 1 << false;
  QTest::newRow("0 does not") << 0 << false;
}

void DialogsTest::ml10MimaLengthOnlyInMode2() {
  QFETCH(int, mode);
  QFETCH(bool, refused);
  Module1 m;
  m.keyDialogMode = static_cast<std::int16_t>(mode);
  m.keyChoice = 2;
  Ml10MimaDialog d(m);
  QVERIFY(checked(&d, "Option17"));
  QCOMPARE(child<QRadioButton>(&d, "Option18")->text(), QStringLiteral("密码B"));
  QVERIFY(!child<QWidget>(&d, "fra_Cdate"));  // no sector choice
  MessageSeen box;
  std::vector<ModalDriver::Step> steps{confirmWith([](QWidget* w) {
    choose(w, "Option18");
    typeInto(w, "mima", "0123456789A");
  })};
  if (refused) {
    steps.push_back(acceptMessage(&box));
    steps.push_back(confirmWith([](QWidget* w) { typeInto(w, "mima", "B"); }));
  }
  ModalDriver driver(steps);
  d.exec();
  QVERIFY(driver.finished());
  QCOMPARE(box.seen, refused);
  if (refused) QCOMPARE(box.text, QStringLiteral("密码长度必须为6个字节!"));
  QCOMPARE(int(m.dialogOk), 1);
  QCOMPARE(m.sectorNo, 1);   // key B
  QCOMPARE(m.keyChoice, 2);  // not written by this dialog
  QCOMPARE(m.keyText.text().trimmed(),
           refused ? QStringLiteral("0123456789AB") : QStringLiteral("0123456789A"));
}

void DialogsTest::ml10MimaUpperCaseOnLeaving() {
  Module1 m;
  m.keyDialogMode = kKeyTransfer;
  Ml10MimaDialog d(m);
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

void DialogsTest::ml10MimaExitResets() {
  Module1 m;
  m.keyChoice = 2;
  m.sectorNo = 1;
  m.keyText = QStringLiteral("112233445566");
  Ml10MimaDialog d(m);
  ModalDriver driver({leaveWithExit()});
  d.exec();
  QCOMPARE(int(m.dialogOk), 0);
  QCOMPARE(m.keyChoice, 0);
  QCOMPARE(m.sectorNo, 0);
  QCOMPARE(m.keyText.text(), QString(12, u' '));
}

// ---- inputdata and ml10input -------------------------------------------------

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
    std::unique_ptr<QDialog> d;
    if (ml10)
      d = std::make_unique<Ml10InputDialog>(m, false);
    else
      d = std::make_unique<InputDataDialog>(m, false);
    QCOMPARE(d->windowTitle(), kTitle);
    QCOMPARE(enabled(d.get(), "Frame3"), dataFrame);
    QVERIFY(checked(d.get(), "Option1"));
    if (!ml10) QVERIFY(checked(d.get(), "Option17"));
    QCOMPARE(text(d.get(), "dataa"), QString());
    QCOMPARE(text(d.get(), "length"), QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>(d.get(), "dataa")->maxLength(), ml10 ? 8 : 32);
    QCOMPARE(child<QGroupBox>(d.get(), "fra_Cdate")->title(),
             ml10 ? QStringLiteral(" 页 号 ") : QStringLiteral(" 扇区号 "));
  }
}

void DialogsTest::inputDataWriteLength() {
  Module1 m;
  m.dataDialogMode = kDataWrite;
  InputDataDialog d(m, false);
  QCOMPARE(child<QRadioButton>(&d, "Option20")->text(), QStringLiteral("控制块"));
  MessageSeen box;
  QString shownLength;
  ModalDriver driver({confirmWith([&](QWidget* w) {
                        choose(w, "Option6");   // sector 5
                        choose(w, "Option20");  // control block
                        typeInto(w, "dataa", QString(31, u'a'));
                        shownLength = text(w, "length");
                      }),
                      acceptMessage(&box),
                      confirmWith([](QWidget* w) { typeInto(w, "dataa", "b"); })});
  d.exec();
  QVERIFY(driver.finished());
  QCOMPARE(shownLength, QStringLiteral("15"));
  QCOMPARE(box.title, QStringLiteral("错误信息"));
  QCOMPARE(box.text, QStringLiteral("数据长度必须为16个字节!"));
  QCOMPARE(box.icon, QMessageBox::Critical);
  QCOMPARE(int(m.dialogOk), 1);
  QCOMPARE(m.sectorNo, 5);
  QCOMPARE(m.blockNo, 3);
  QCOMPARE(m.dataText.text(), QString(31, u'a') + u'b');
}

void DialogsTest::inputDataReadKeepsText() {
  Module1 m;
  m.dataDialogMode = kDataRead;
  m.dataText = QStringLiteral("1234");
  InputDataDialog d(m, false);
  ModalDriver driver({confirmWith([](QWidget* w) {
    choose(w, "Option16");
    choose(w, "Option19");
  })});
  d.exec();
  QCOMPARE(int(m.dialogOk), 1);
  QCOMPARE(m.sectorNo, 15);
  QCOMPARE(m.blockNo, 2);  // sector 15, block 2: address 62
  QCOMPARE(m.dataText.text().trimmed(), QStringLiteral("1234"));
}

void DialogsTest::inputDataExitKeepsOutputs() {
  Module1 m;
  m.dataDialogMode = kDataWrite;
  m.sectorNo = 4;
  m.blockNo = 2;
  m.dataText = QStringLiteral("AB");
  m.dialogOk = 1;
  InputDataDialog d(m, false);
  ModalDriver driver({[](QWidget* w) {
    choose(w, "Option9");
    typeInto(w, "dataa", "FF");
    QTimer::singleShot(0, w, &QWidget::close);  // the close box
  }});
  d.exec();
  QCOMPARE(int(m.dialogOk), 0);
  QCOMPARE(m.sectorNo, 4);
  QCOMPARE(m.blockNo, 2);
  QCOMPARE(m.dataText.text().trimmed(), QStringLiteral("AB"));
}

void DialogsTest::amountRange_data() {
  QTest::addColumn<bool>("ml10");
  QTest::addColumn<bool>("amountEntry");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("refused");
  QTest::newRow("inputdata eleven digits") << false << true << "99999999999" << true;
  QTest::newRow("inputdata largest") << false << true << "2147483647" << false;
  QTest::newRow("inputdata one past largest") << false << true << "2147483648" << true;
  QTest::newRow("ml10input exponent") << true << true << "9e9" << true;
  QTest::newRow("ml10input fits") << true << true << "9e8" << false;
  QTest::newRow("ml10input block data, not an amount") << true << false << "9e9" << false;
}

void DialogsTest::amountRange() {
  QFETCH(bool, ml10);
  QFETCH(bool, amountEntry);
  QFETCH(QString, typed);
  QFETCH(bool, refused);
  Module1 m;
  m.dataDialogMode = kDataText;
  std::unique_ptr<QDialog> d;
  if (ml10)
    d = std::make_unique<Ml10InputDialog>(m, amountEntry);
  else
    d = std::make_unique<InputDataDialog>(m, amountEntry);
  MessageSeen box;
  std::vector<ModalDriver::Step> steps{
      confirmWith([&](QWidget* w) { typeInto(w, "dataa", typed); })};
  if (refused) {
    steps.push_back(acceptMessage(&box));
    steps.push_back(leaveWithExit());
  }
  ModalDriver driver(steps);
  d->exec();
  QVERIFY(driver.finished());
  QCOMPARE(box.seen, refused);
  if (refused) {
    QCOMPARE(box.title, QStringLiteral("错误信息"));
    QVERIFY(box.text.contains(QStringLiteral("金额超出范围")));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(int(m.dialogOk), 0);
  } else {
    QCOMPARE(int(m.dialogOk), 1);
    QCOMPARE(m.dataText.text().trimmed(), typed);
  }
}

void DialogsTest::ml10InputPagesAndLength() {
  Module1 m;
  m.dataDialogMode = kDataWrite;
  m.blockNo = 3;
  Ml10InputDialog d(m, false);
  MessageSeen box;
  ModalDriver driver({confirmWith([](QWidget* w) {
                        choose(w, "Option12");  // page 11
                        typeInto(w, "dataa", "123456");
                      }),
                      acceptMessage(&box),
                      confirmWith([](QWidget* w) { typeInto(w, "dataa", "789ABC"); })});
  d.exec();
  QVERIFY(driver.finished());
  QCOMPARE(box.text, QStringLiteral("数据长度必须为4个字节!"));
  QCOMPARE(int(m.dialogOk), 1);
  QCOMPARE(m.sectorNo, 11);
  QCOMPARE(m.blockNo, 3);                                             // left alone
  QCOMPARE(m.dataText.text().trimmed(), QStringLiteral("12345678"));  // at most 8 digits
}

void DialogsTest::ml10InputLayout() {
  Module1 m;
  Ml10InputDialog d(m, false);
  QVERIFY(!child<QWidget>(&d, "Frame1"));  // no block frame
  QVERIFY(!child<QWidget>(&d, "Option13"));
  // Three rows of four: pages 0-3 in the first row.
  for (int i = 0; i < 12; ++i) {
    auto* o = child<QRadioButton>(&d, QStringLiteral("Option%1").arg(i + 1));
    QCOMPARE(o->text(), QStringLiteral("页号%1").arg(i));
    auto* rowStart = child<QRadioButton>(&d, QStringLiteral("Option%1").arg((i / 4) * 4 + 1));
    QCOMPARE(o->y(), rowStart->y());
    if (i % 4) QVERIFY(o->x() > child<QRadioButton>(&d, QStringLiteral("Option%1").arg(i))->x());
  }
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
