// The window's connection rules against simulated readers (a TK61 module, a
// module that reports 18, a silent reader), its start state, a missing
// library or function, and the rendering of its Chinese captions.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTextLayout>
#include <QtTest>

#include "bench_fixture.h"
#include "dialogs/callmode_dialog.h"
#include "dialogs/inputdata_dialog.h"
#include "dialogs/mima_dialog.h"
#include "dialogs/ml10input_dialog.h"
#include "dialogs/ml10mima_dialog.h"

using namespace cardbench;
using namespace cbtest;

namespace {

const QStringList kAlways = {"clear", "comm", "EXIT"};
const QStringList kReader = {"READNO", "READVER", "DRIVER", "WIZAP"};

QStringList enabledButtons(MainWindow& w) {
  QStringList names;
  for (QPushButton* b : w.findChildren<QPushButton*>())
    if (b->isEnabled()) names << b->objectName();
  names.sort();
  return names;
}

QStringList sorted(QStringList l) {
  l.sort();
  return l;
}

QStringList allButtons() {
  return sorted(kAlways + kReader + kCardButtons + QStringList{"Command1"});
}

// Every glyph the font machinery picks for the text is a real one (index 0
// is the font's "missing glyph" box).
bool drawsRealGlyphs(const QString& text, const QFont& font, QString* missing) {
  QTextLayout layout(text, font);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  for (const QGlyphRun& run : layout.glyphRuns())
    for (quint32 index : run.glyphIndexes())
      if (index == 0) {
        *missing = text;
        return false;
      }
  return true;
}

// The texts a widget shows, with the font it shows them in.
void collectTexts(QWidget* root, QList<QPair<QString, QFont>>& out) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets << root;
  for (QWidget* w : widgets) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) out.append({b->text(), b->font()});
    if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty())
      out.append({l->text(), l->font()});
    if (auto* g = qobject_cast<QGroupBox*>(w)) out.append({g->title(), g->font()});
    if (w->isWindow()) out.append({w->windowTitle(), w->font()});
  }
}

}  // namespace

class ConnectTest : public QObject {
  Q_OBJECT
 private slots:
  void startState();
  void captionsDrawAsGlyphs();
  void missingLibraryOrFunction();
  void noReaderAnswers();
  void refusedModuleNumber();
  void connectDisconnect();
};

void ConnectTest::startState() {
  mapPorts({});
  MainWindow w;
  QCOMPARE(w.objectName(), QStringLiteral("cardbench"));
  QCOMPARE(w.windowTitle(), QStringLiteral("TK61系列MIFARE读写应用程序"));
  QCOMPARE(w.findChildren<QPushButton*>().size(), 27);
  QCOMPARE(enabledButtons(w), sorted(kAlways));
  QVERIFY(listLines(w).isEmpty());
  // Captions as the operator sees them, blanks included.
  for (const auto& [name, caption] : {std::pair{"clear", "清  屏"},
                                      {"EXIT", "退    出"},
                                      {"Command2", "呼 叫 卡"},
                                      {"READCARDTYPE", "读卡类型"}})
    QCOMPARE(w.button(name)->text(), QString::fromUtf8(caption));
  QCOMPARE(w.findChild<QGroupBox*>("Frame5")->title(), QStringLiteral(" 高级指令集 "));
  QCOMPARE(w.findChild<QLabel*>("Label2")->text(), QStringLiteral("RC500 MIFARE读写应用程序"));
  QCOMPARE(w.button("Command9")->parentWidget()->objectName(), QStringLiteral("Frame1"));
  QCOMPARE(w.button("SUBBAG")->parentWidget()->objectName(), QStringLiteral("Frame5"));
}

void ConnectTest::captionsDrawAsGlyphs() {
  MainWindow w;
  Module1 m;
  CallModeDialog callMode(m);
  MimaDialog mima(m);
  Ml10MimaDialog ml10Mima(m);
  InputDataDialog inputData(m, false);
  Ml10InputDialog ml10Input(m, false);
  QList<QPair<QString, QFont>> texts;
  for (QWidget* root :
       std::initializer_list<QWidget*>{&w, &callMode, &mima, &ml10Mima, &inputData, &ml10Input})
    collectTexts(root, texts);
  texts.append({QStringLiteral(" 通信口联接失败！请检查MF读写器连接是否正常！"), w.font()});
  texts.append({QStringLiteral("密码长度必须为6个字节!"), w.font()});
  QVERIFY(texts.size() > 80);
  for (const auto& [text, font] : texts) {
    QString missing;
    QVERIFY2(drawsRealGlyphs(text, font, &missing), qPrintable("no glyph in: " + missing));
  }
  // And the heading really puts ink on the window.
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  auto* heading = w.findChild<QLabel*>("Label2");
  const QImage image = heading->grab().toImage();
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 100) ++dark;
  QVERIFY2(dark > 150, qPrintable(QString::number(dark)));
}

void ConnectTest::missingLibraryOrFunction() {
  // No library at all, then a library that loads but lacks the reader's functions.
  for (const auto& [path, named] :
       {std::pair{"/nonexistent/libORVIX32.so", "ORVIX32"}, {"libm.so.6", "AutoLinkCom"}}) {
    MainWindow w(std::make_unique<OrvixBinding>(path));
    w.show();
    MessageSeen box;
    QVERIFY(press(w, "comm", {acceptMessage(&box)}));
    QCOMPARE(box.title, QStringLiteral("错误信息"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY2(box.text.contains(named), qPrintable(box.text));
    QCOMPARE(enabledButtons(w), sorted(kAlways));  // still running, nothing changed
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(press(w, "comm", {acceptMessage(&box)}));  // and again
    // EXIT ignores the error and closes the window.
    QVERIFY(press(w, "EXIT"));
    QVERIFY(!w.isVisible());
  }
}

void ConnectTest::noReaderAnswers() {
  // COM1 holds a reader that never answers; COM2 does not exist.
  Reader silent;
  QVERIFY(silent.started);
  silent.sim->inject(readersim::Fault{readersim::FaultKind::SilentOnSync, std::nullopt, -1});
  mapPorts(silent.sim->path());
  MainWindow w;
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", " 通信口联接失败！请检查MF读写器连接是否正常！"}));
  QCOMPARE(enabledButtons(w), sorted(kAlways));
  QVERIFY(w.fields().cmdStatus != 0);
  // With neither port present the result is the same.
  mapPorts({});
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w).size(), 4);
  QCOMPARE(listLines(w).last(), QStringLiteral(" 通信口联接失败！请检查MF读写器连接是否正常！"));
  QCOMPARE(enabledButtons(w), sorted(kAlways));
}

void ConnectTest::refusedModuleNumber() {
  readersim::Options other;
  other.moduleNumber = 18;
  Reader wrong(other);
  Reader right;
  QVERIFY(wrong.started && right.started);
  MainWindow w;
  const QString refused = QStringLiteral(" 系统连接的不是TK61 MIFARE读写器,请重新连接！");
  // First connect to the wrong module: only clear, comm and EXIT.
  mapPorts(wrong.sim->path());
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", refused}));
  QCOMPARE(enabledButtons(w), sorted(kAlways));
  // A good connect enables all 27.
  mapPorts(right.sim->path());
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w),
           QStringList({"    ", refused, "    ", " 系统与TK61 MIFARE读写器连接成功！"}));
  QCOMPARE(enabledButtons(w), allButtons());
  // The wrong module again: card buttons off, Command1 and the reader buttons
  // as they were.
  mapPorts(wrong.sim->path());
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w).size(), 6);
  QCOMPARE(listLines(w).last(), refused);
  QCOMPARE(enabledButtons(w), sorted(kAlways + kReader + QStringList{"Command1"}));
  QVERIFY(press(w, "WIZAP"));
}

void ConnectTest::connectDisconnect() {
  Reader reader;
  QVERIFY(reader.started);
  mapPorts(reader.sim->path());
  MainWindow w;
  QVERIFY(press(w, "comm"));
  QCOMPARE(enabledButtons(w), allButtons());
  // A second connect relinks and says so again, without clearing the list.
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", " 系统与TK61 MIFARE读写器连接成功！", "    ",
                                      " 系统与TK61 MIFARE读写器连接成功！"}));
  QCOMPARE(enabledButtons(w), allButtons());
  QElapsedTimer timer;
  timer.start();
  QVERIFY(press(w, "WIZAP"));
  QVERIFY(timer.elapsed() >= 900);  // the library's pause after closing
  QCOMPARE(listLines(w), QStringList({" ", " 断开联接成功！"}));
  QCOMPARE(enabledButtons(w), sorted(kAlways + kReader));
  QVERIFY(press(w, "WIZAP"));
  QCOMPARE(listLines(w), QStringList({" ", " 断开联接失败！"}));
  QCOMPARE(enabledButtons(w), sorted(kAlways + kReader));
  // The reader buttons stay usable; READNO relinks by itself.
  QVERIFY(press(w, "READNO"));
  QCOMPARE(listLines(w).value(2), QStringLiteral(" 模块号=17"));
  QVERIFY(press(w, "WIZAP"));
}

QTEST_MAIN(ConnectTest)
#include "connect_test.moc"
