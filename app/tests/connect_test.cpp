// The window's start, its connection rules against simulated readers (a TK61
// module, a module that reports 18, a silent reader), a missing library or
// function, and the drawing of its Chinese texts.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QGroupBox>
#include <QLabel>
#include <QTextLayout>

#include "bench_fixture.h"
#include "dialogs/callmode_dialog.h"
#include "dialogs/inputdata_dialog.h"
#include "dialogs/mima_dialog.h"
#include "dialogs/ml10input_dialog.h"
#include "dialogs/ml10mima_dialog.h"

using namespace cardbench;
using namespace cbtest;

namespace {

const QStringList kAlways = {"EXIT", "clear", "comm"};
const QStringList kReader = {"DRIVER", "READNO", "READVER", "WIZAP"};
const QString kLinkFailed = QStringLiteral(" 通信口联接失败！请检查MF读写器连接是否正常！");
const QString kRefused = QStringLiteral(" 系统连接的不是TK61 MIFARE读写器,请重新连接！");
const QString kLinked = QStringLiteral(" 系统与TK61 MIFARE读写器连接成功！");

QStringList enabled(MainWindow& w) {
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
QStringList all() { return sorted(kAlways + kReader + kCardButtons + QStringList{"Command1"}); }

// Whether no process holds the port: the library locks the line it opens.
bool portFree(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  const bool free = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) ::close(fd);
  return free;
}

}  // namespace

class ConnectTest : public QObject {
  Q_OBJECT
 private slots:
  void startStateAndTexts();
  void missingLibraryOrFunction();
  void noReaderAnswers();
  void refusedModuleReleasesThePort();
  void connectDisconnect();
};

void ConnectTest::startStateAndTexts() {
  mapPorts({});
  MainWindow w;
  QCOMPARE(w.windowTitle(), QStringLiteral("TK61系列MIFARE读写应用程序"));
  QCOMPARE(w.findChildren<QPushButton*>().size(), 27);
  QCOMPARE(enabled(w), kAlways);
  QVERIFY(listLines(w).isEmpty());
  for (const auto& [name, caption, frame] : {std::tuple{"clear", "清  屏", "FRAME3"},
                                             {"EXIT", "退    出", "FRAME3"},
                                             {"Command2", "呼 叫 卡", "Frame1"},
                                             {"Command9", "密码认证", "Frame1"},
                                             {"READCARDTYPE", "读卡类型", "Frame5"},
                                             {"SUBBAG", "减 钱 包", "Frame5"}}) {
    QCOMPARE(w.button(name)->text(), QString::fromUtf8(caption));
    QCOMPARE(w.button(name)->parentWidget()->objectName(), QString(frame));
  }
  QCOMPARE(w.findChild<QGroupBox*>("Frame5")->title(), QStringLiteral(" 高级指令集 "));
  QCOMPARE(w.findChild<QLabel*>("Label2")->text(), QStringLiteral("RC500 MIFARE读写应用程序"));

  // Every text of the window and the dialogs draws with real glyphs (index 0
  // is the font's "missing glyph" box).
  Module1 m;
  CallModeDialog callMode(m);
  MimaDialog mima(m);
  Ml10MimaDialog ml10Mima(m);
  InputDataDialog inputData(m, false);
  Ml10InputDialog ml10Input(m, false);
  QList<QPair<QString, QFont>> texts = {{kLinkFailed, w.font()}};
  for (QWidget* root :
       std::initializer_list<QWidget*>{&w, &callMode, &mima, &ml10Mima, &inputData, &ml10Input})
    for (QWidget* c : root->findChildren<QWidget*>() + QList<QWidget*>{root}) {
      if (auto* b = qobject_cast<QAbstractButton*>(c)) texts.append({b->text(), b->font()});
      if (auto* l = qobject_cast<QLabel*>(c)) texts.append({l->text(), l->font()});
      if (auto* g = qobject_cast<QGroupBox*>(c)) texts.append({g->title(), g->font()});
      if (c->isWindow()) texts.append({c->windowTitle(), c->font()});
    }
  QVERIFY(texts.size() > 80);
  for (const auto& [text, font] : texts) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
      QVERIFY2(!run.glyphIndexes().contains(0), qPrintable("no glyph in: " + text));
  }
  // And the heading puts ink on the window.
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  const QImage image = w.findChild<QLabel*>("Label2")->grab().toImage();
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 100;
  QVERIFY2(dark > 150, qPrintable(QString::number(dark)));
}

void ConnectTest::missingLibraryOrFunction() {
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
      QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    }
    QVERIFY(press(w, "EXIT"));  // ignores the error and closes the window
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
  QCOMPARE(listLines(w), QStringList({"    ", kLinkFailed}));
  QCOMPARE(enabled(w), kAlways);
  QVERIFY(w.fields().cmdStatus != 0);
  QVERIFY(portFree(silent.sim->path()));  // the port that found no reader is let go
  mapPorts({});                           // neither port present: the same
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", kLinkFailed, "    ", kLinkFailed}));
  QCOMPARE(enabled(w), kAlways);
}

void ConnectTest::refusedModuleReleasesThePort() {
  readersim::Options other;
  other.moduleNumber = 18;
  Reader wrong(other), right;
  QVERIFY(wrong.started && right.started);
  MainWindow w;
  // First connect to the wrong module: only clear, comm and EXIT, and the
  // port is released although 断开联接 cannot be pressed.
  mapPorts(wrong.sim->path());
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", kRefused}));
  QCOMPARE(enabled(w), kAlways);
  QVERIFY(portFree(wrong.sim->path()));
  // A good connect enables all 27 and keeps its port.
  mapPorts(right.sim->path());
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", kRefused, "    ", kLinked}));
  QCOMPARE(enabled(w), all());
  QVERIFY(!portFree(right.sim->path()));
  // The wrong module again: card buttons off, Command1 and the reader
  // buttons as they were.
  mapPorts(wrong.sim->path());
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w).mid(4), QStringList({"    ", kRefused}));
  QCOMPARE(enabled(w), sorted(kAlways + kReader + QStringList{"Command1"}));
  QVERIFY(portFree(wrong.sim->path()) && portFree(right.sim->path()));
}

void ConnectTest::connectDisconnect() {
  Reader reader;
  QVERIFY(reader.started);
  mapPorts(reader.sim->path());
  MainWindow w;
  // A second connect relinks and says so again, without clearing the list.
  QVERIFY(press(w, "comm"));
  QVERIFY(press(w, "comm"));
  QCOMPARE(listLines(w), QStringList({"    ", kLinked, "    ", kLinked}));
  QCOMPARE(enabled(w), all());
  QElapsedTimer timer;
  timer.start();
  QVERIFY(press(w, "WIZAP"));
  QVERIFY(timer.elapsed() >= 900);  // the library's pause after closing
  QCOMPARE(listLines(w), QStringList({" ", " 断开联接成功！"}));
  QCOMPARE(enabled(w), sorted(kAlways + kReader));
  QVERIFY(press(w, "WIZAP"));
  QCOMPARE(listLines(w), QStringList({" ", " 断开联接失败！"}));
  QCOMPARE(enabled(w), sorted(kAlways + kReader));
  // The reader buttons stay usable; READNO relinks by itself.
  QVERIFY(press(w, "READNO"));
  QCOMPARE(listLines(w).value(2), QStringLiteral(" 模块号=17"));
  QVERIFY(press(w, "WIZAP"));
}

QTEST_MAIN(ConnectTest)
#include "connect_test.moc"
