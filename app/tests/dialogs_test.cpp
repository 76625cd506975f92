// The five dialogs on their own: what each showing starts with by mode, the
// key filter and the byte count, the checks of the confirm button, and every
// way out with what it leaves in the program's variables.
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>

#include "bench_fixture.h"
#include "dialogs/callmode_dialog.h"
#include "dialogs/dialog_rules.h"
#include "dialogs/inputdata_dialog.h"
#include "dialogs/mima_dialog.h"
#include "dialogs/ml10input_dialog.h"
#include "dialogs/ml10mima_dialog.h"

using namespace cardbench;
using namespace cbtest;

namespace {

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

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
 private slots:
  void startByMode_data();
  void startByMode();
  void filterAndCount();
  void confirmAndLeave_data();
  void confirmAndLeave();
};

void DialogsTest::startByMode_data() {
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<int>("mode");
  QTest::addColumn<QString>("controls");
  const char* const rows[][3] = {
      {"CALLMODE", "0", "Option1"},
      {"mima", "0", "Option1 Option17 !Option19 !Frame3 mima= mimalength=0"},
      {"mima", "1", "Option1 Option17 !Option19 Frame3 mima= mimalength=0"},
      {"mima", "2", "Option1 !Option17 !Option18 Option19 Frame3 mima= mimalength=0"},
      {"mima", "5", "Option1 Option17 Frame3 mima= mimalength=0"},
      {"ML10MIMA", "1", "Option17 Frame3 mima= mimalength=0"},
      {"inputdata", "0", "Option1 Option17 Frame3 dataa= length=0"},
      {"inputdata", "1", "Option1 Option17 !Frame3 dataa= length=0"},
      {"inputdata", "2", "Option1 Option17 Frame3 dataa= length=0"},
      {"ml10input", "1", "Option1 !Frame3 dataa= length=0"}};
  for (const auto& [dialog, mode, words] : rows)
    QTest::addRow("%s mode %s", dialog, mode)
        << QString(dialog) << QString(mode).toInt() << QString(words);
}

void DialogsTest::startByMode() {
  QFETCH(QString, dialog);
  QFETCH(int, mode);
  QFETCH(QString, controls);
  Module1 m;
  m.keyDialogMode = m.dataDialogMode = static_cast<std::int16_t>(mode);
  std::unique_ptr<QDialog> d = makeDialog(dialog, m);
  QCOMPARE(d->objectName(), dialog);
  QCOMPARE(d->windowTitle(), QStringLiteral("TK61系列MIFARE模块应用程序"));
  QCOMPARE(::controls(*d), controls);
  // The forms: option captions, box widths, read-only byte counts.
  const QHash<QString, QStringList> form = {
      {"mima", {"Option16=扇区15", "Option19=密码A、B", "mima<12", "Label2=卡片密码设置"}},
      {"ML10MIMA", {"Option18=密码B", "!fra_Cdate", "mima<12", "Label2=卡片密码设置"}},
      {"inputdata",
       {"Option12=扇区11", "Option20=控制块", "Option16=扇区15", "dataa<32",
        "Label2=卡片数据区数据输入"}},
      {"ml10input", {"Option12=页号11", "!Option13", "!Frame1", "dataa<8", "fra_Cdate= 页 号 "}},
      {"CALLMODE", {"Option2=IDLE", "fra_Cdate= 呼叫方式 "}}};
  for (const QString& item : form[dialog]) {
    if (item.startsWith(u'!')) {  // no such control
      QVERIFY2(!d->findChild<QObject*>(item.mid(1)), qPrintable(item));
      continue;
    }
    const QString name = item.section(QRegularExpression("[=<]"), 0, 0),
                  value = item.mid(name.size() + 1);
    QObject* o = d->findChild<QObject*>(name);
    QVERIFY2(o, qPrintable(item));
    if (auto* e = qobject_cast<QLineEdit*>(o)) QCOMPARE(QString::number(e->maxLength()), value);
    if (auto* g = qobject_cast<QGroupBox*>(o)) QCOMPARE(g->title(), value);
    if (auto* b = qobject_cast<QAbstractButton*>(o)) QCOMPARE(b->text(), value);
    if (auto* l = qobject_cast<QLabel*>(o)) QCOMPARE(l->text(), value);
  }
  for (QLineEdit* count : d->findChildren<QLineEdit*>(QRegularExpression("length$")))
    QVERIFY(count->isReadOnly());
}

void DialogsTest::filterAndCount() {
  for (const char* dialog : {"mima", "ML10MIMA", "inputdata", "ml10input"}) {
    Module1 m;
    m.keyDialogMode = kKeyTransfer;
    m.dataDialogMode = kDataWrite;
    std::unique_ptr<QDialog> d = makeDialog(dialog, m);
    d->show();
    const bool key = QString(dialog).contains("mima", Qt::CaseInsensitive);
    auto* edit = child<QLineEdit>(d.get(), key ? "mima" : "dataa");
    auto* count = child<QLineEdit>(d.get(), key ? "mimalength" : "length");
    QTest::keyClicks(edit, QStringLiteral("1g-& 2aB"));
    QCOMPARE(edit->text() + count->text(), QStringLiteral("12aB2"));  // lower case stays as typed
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text() + count->text(), QStringLiteral("12a1"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);  // control keys are kept out
    QTest::keyClicks(edit, QStringLiteral("F"));
    QCOMPARE(edit->text() + count->text(), QStringLiteral("12aF2"));
    if (QString(dialog) == "ML10MIMA") {  // upper case once the box loses the focus
      QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
      QCoreApplication::sendEvent(edit, &out);
      QCOMPARE(edit->text(), QStringLiteral("12AF"));
    }
  }
}

// Each row: the dialog in a mode, the steps (see dialogStep; "box" notes an
// error box, "close" and "escape" leave by the close box or Escape), and
// dialogOk, sectorNo, keyChoice, blockNo, modeChoice and the text taken
// (from 9s and "old" before) with the box seen.
void DialogsTest::confirmAndLeave_data() {
  QTest::addColumn<QString>("dialog");
  QTest::addColumn<int>("mode");
  QTest::addColumn<QString>("steps");
  QTest::addColumn<QString>("after");
  const QString key = kKeyLengthMessage, data = QStringLiteral("数据长度必须为%1个字节!");
  const QString range = kAmountRangeMessage, whole = kAmountNotWholeMessage;
  const QString rows[][4] = {
      {"CALLMODE", "0", "", "1 9 9 9 1 old|"},
      {"CALLMODE", "0", "o2", "1 9 9 9 0 old|"},
      {"CALLMODE", "0", "!", "0 9 9 9 2 old|"},
      {"CALLMODE", "0", "close", "0 9 9 9 2 old|"},
      {"mima", "1", "o6 o18 =0123456789a | box | =b", "1 5 1 9 9 0123456789ab|" + key},
      {"mima", "2", "o6 =0123456789A | box | =B", "1 5 2 9 9 0123456789AB|" + key},
      {"mima", "0", "o6 o18", "1 5 1 9 9 |"},
      {"mima", "1", "o6 =FFFF !", "0 0 0 9 9 |"},
      {"mima", "1", "o6 =FFFF close", "0 0 0 9 9 |"},
      {"mima", "1", "o6 =FFFF escape", "0 0 0 9 9 |"},
      {"ML10MIMA", "2", "o18 =0123456789A | box | =B", "1 1 9 9 9 0123456789AB|" + key},
      {"ML10MIMA", "1", "o18 =0123456789A", "1 1 9 9 9 0123456789A|"},
      {"ML10MIMA", "0", "o18 =12", "1 1 9 9 9 12|"},
      {"ML10MIMA", "2", "=FFFF !", "0 0 0 9 9 |"},
      {"inputdata", "0", "o6 o20 =aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa | box | =b",
       "1 5 9 3 9 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab|" + data.arg(16)},
      {"inputdata", "1", "o6 o19", "1 5 9 2 9 old|"},
      {"inputdata", "0", "o9 =FF close", "0 9 9 9 9 old|"},
      {"ml10input", "0", "o12 =123456 | box | =789ABC", "1 11 9 9 9 12345678|" + data.arg(4)},
      {"ml10input", "2", "o12 =12ab", "1 11 9 9 9 12ab|"},  // a page's data, not an amount
      {"inputdata", "102", "=2147483647", "1 0 9 0 9 2147483647|"},
      {"inputdata", "102", "=12ab | box | !", "0 9 9 9 9 old|" + whole},
      {"ml10input", "102", "=9e9 | box | !", "0 9 9 9 9 old|" + whole},
      {"inputdata", "102", "=99999999999 | box | !", "0 9 9 9 9 old|" + range}};
  for (const auto& r : rows)
    QTest::addRow("%s %s: %s", qPrintable(r[0]), qPrintable(r[1]), qPrintable(r[2]))
        << r[0] << r[1].toInt() << r[2] << r[3];
}

void DialogsTest::confirmAndLeave() {
  QFETCH(QString, dialog);
  QFETCH(int, mode);
  QFETCH(QString, steps);
  QFETCH(QString, after);
  Module1 m;
  m.keyDialogMode = m.dataDialogMode = static_cast<std::int16_t>(mode % 100);  // 1xx: an amount
  m.sectorNo = m.keyChoice = m.blockNo = m.modeChoice = 9;
  m.keyText = QStringLiteral("old");
  m.dataText = QStringLiteral("old");
  m.dialogOk = 7;
  std::unique_ptr<QDialog> d = makeDialog(dialog, m, mode >= 100);
  QString box;
  std::vector<Step> run;
  for (QString s : steps.split(u'|')) {
    s = s.trimmed();
    if (s == "box") {
      run.push_back(acceptMessage(&box));
    } else if (s.endsWith("close") || s.endsWith("escape")) {
      run.push_back([s](QWidget* w) {
        applyWords(w, s);
        if (s.endsWith("close"))
          QTimer::singleShot(0, w, &QWidget::close);
        else
          QTest::keyClick(w, Qt::Key_Escape);
      });
    } else {
      run.push_back(dialogStep(s, nullptr));
    }
  }
  QVERIFY(runModal([&] { d->exec(); }, run));
  const bool key = dialog.contains("mima", Qt::CaseInsensitive);
  const QString text = (key ? m.keyText.text() : m.dataText.text()).trimmed();
  QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6|%7")
               .arg(m.dialogOk)
               .arg(m.sectorNo)
               .arg(m.keyChoice)
               .arg(m.blockNo)
               .arg(m.modeChoice)
               .arg(text, box.section(u'|', 1)),
           after);
  if (!box.isEmpty()) QVERIFY(box.startsWith(kErrorTitle + u'|'));
  QCOMPARE(d->result(), int(m.dialogOk ? QDialog::Accepted : QDialog::Rejected));
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
