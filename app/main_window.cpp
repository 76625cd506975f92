#include "main_window.h"

#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include "dialogs/callmode_dialog.h"
#include "dialogs/dialog_rules.h"
#include "dialogs/inputdata_dialog.h"
#include "dialogs/mima_dialog.h"
#include "dialogs/ml10input_dialog.h"
#include "dialogs/ml10mima_dialog.h"
#include "ui_style.h"

namespace cardbench {

namespace {
// Sizes of the form in twips, 15 twips a pixel.
constexpr int kButtonWidth = tw(1215);
constexpr int kButtonHeight = tw(375);
constexpr int kBoxHeight = 24;  // text boxes: room for the CJK face's line height
// The command frames' captions sit above their first row of buttons: each of
// the two frames is this much taller, its buttons this much lower.
constexpr int kCaptionRoom = 8;
}  // namespace

MainWindow::MainWindow(QWidget* parent) : MainWindow(std::make_unique<OrvixBinding>(), parent) {}

MainWindow::MainWindow(std::unique_ptr<OrvixBinding> binding, QWidget* parent)
    : QWidget(parent), binding_(std::move(binding)) {
  commands_ = std::make_unique<BenchCommands>(state_, fields_, *binding_, *this, *this);
  build();
  commands_->load();
}

MainWindow::~MainWindow() = default;

void MainWindow::build() {
  setObjectName(QStringLiteral("cardbench"));
  setWindowTitle(QStringLiteral("TK61系列MIFARE读写应用程序"));
  setFont(controlFont());
  const int statusTop = tw(7665) + 2 * kCaptionRoom;
  setFixedSize(tw(9600), statusTop + 20);

  auto* readmachine = new QFrame(this);
  readmachine->setObjectName(QStringLiteral("readmachine"));
  readmachine->setFrameShape(QFrame::StyledPanel);
  readmachine->setFrameShadow(QFrame::Sunken);
  readmachine->setGeometry(tw(120), tw(120), tw(9405), tw(7395) + 2 * kCaptionRoom);

  auto* image = new QLabel(readmachine);
  image->setObjectName(QStringLiteral("Image1"));
  image->setPixmap(cardPicture(32));
  image->setGeometry(tw(2520) - 44, 4, 32, 32);

  auto* heading = new QLabel(QStringLiteral("RC500 MIFARE读写应用程序"), readmachine);
  heading->setObjectName(QStringLiteral("Label2"));
  heading->setFont(headingFont());
  heading->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  heading->setGeometry(tw(2520), 6, tw(4335) + 24, tw(495) - 6);

  auto* rule = new QFrame(readmachine);
  rule->setObjectName(QStringLiteral("Line1"));
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(tw(2520), 33, tw(6120) - tw(2520), 3);

  auto* statusBar = new QFrame(this);
  statusBar->setObjectName(QStringLiteral("StatusBar1"));
  statusBar->setFrameShape(QFrame::Panel);
  statusBar->setFrameShadow(QFrame::Sunken);
  statusBar->setGeometry(0, statusTop, tw(9600), 20);

  // Card contents: the card type and serial number, and the message list.
  auto* frame4 = new QGroupBox(QStringLiteral(" 卡片内容 "), readmachine);
  frame4->setObjectName(QStringLiteral("Frame4"));
  frame4->setGeometry(tw(120), tw(600), tw(6975), tw(3975));

  auto* label4 = new QLabel(QStringLiteral("卡片类型"), frame4);
  label4->setObjectName(QStringLiteral("Label4"));
  label4->setGeometry(tw(840), 22, tw(1800) - tw(840), kBoxHeight);
  cardtype_ = new QLineEdit(frame4);
  cardtype_->setObjectName(QStringLiteral("cardtype"));
  cardtype_->setGeometry(tw(1800), 22, tw(2055), kBoxHeight);

  auto* label5 = new QLabel(QStringLiteral("卡片序列号"), frame4);
  label5->setObjectName(QStringLiteral("Label5"));
  label5->setGeometry(tw(4080), 22, tw(5280) - tw(4080), kBoxHeight);
  cardno_ = new QLineEdit(frame4);
  cardno_->setObjectName(QStringLiteral("cardno"));
  cardno_->setGeometry(tw(5280), 22, tw(1215) + 16, kBoxHeight);

  auto* datatable = new QFrame(frame4);
  datatable->setObjectName(QStringLiteral("datatable"));
  datatable->setFrameShape(QFrame::StyledPanel);
  datatable->setFrameShadow(QFrame::Sunken);
  datatable->setGeometry(tw(120), tw(840), tw(6735), tw(3015));

  list_ = new QListWidget(datatable);
  list_->setObjectName(QStringLiteral("List1"));
  list_->setGeometry(tw(120), tw(120), tw(6495), tw(2790));

  // System commands.
  auto* frame3 = new QGroupBox(QStringLiteral(" 系统命令 "), readmachine);
  frame3->setObjectName(QStringLiteral("FRAME3"));
  frame3->setGeometry(tw(7200), tw(600), tw(1935), tw(3975));
  addButton(frame3, QStringLiteral("clear"), QStringLiteral("清  屏"), 360, 480,
            &BenchCommands::clear);
  addButton(frame3, QStringLiteral("comm"), QStringLiteral("联  接"), 360, 960,
            &BenchCommands::comm);
  addButton(frame3, QStringLiteral("READNO"), QStringLiteral("读模块号"), 360, 1440,
            &BenchCommands::readNo);
  addButton(frame3, QStringLiteral("READVER"), QStringLiteral("读版本号"), 360, 1920,
            &BenchCommands::readVer);
  addButton(frame3, QStringLiteral("DRIVER"), QStringLiteral("灯  控"), 360, 2400,
            &BenchCommands::driver);
  addButton(frame3, QStringLiteral("WIZAP"), QStringLiteral("断开联接"), 360, 2880,
            &BenchCommands::wizap);
  addButton(frame3, QStringLiteral("EXIT"), QStringLiteral("退    出"), 360, 3360,
            &BenchCommands::exit);

  // Basic commands.
  auto* frame1 = new QGroupBox(QStringLiteral(" 基础指令集 "), readmachine);
  frame1->setObjectName(QStringLiteral("Frame1"));
  frame1->setGeometry(tw(120), tw(4680), tw(9015), tw(1215) + kCaptionRoom);
  addButton(frame1, QStringLiteral("Command2"), QStringLiteral("呼 叫 卡"), 840, 240,
            &BenchCommands::command2);
  addButton(frame1, QStringLiteral("Command1"), QStringLiteral("读 卡 号"), 2520, 240,
            &BenchCommands::command1);
  addButton(frame1, QStringLiteral("Command3"), QStringLiteral("激 活 卡"), 4200, 240,
            &BenchCommands::command3);
  addButton(frame1, QStringLiteral("Command4"), QStringLiteral("下载密码"), 5880, 240,
            &BenchCommands::command4);
  addButton(frame1, QStringLiteral("Command9"), QStringLiteral("密码认证"), 7560, 240,
            &BenchCommands::command9);
  addButton(frame1, QStringLiteral("Command5"), QStringLiteral("读 数 据"), 840, 720,
            &BenchCommands::command5);
  addButton(frame1, QStringLiteral("Command6"), QStringLiteral("写 数 据"), 2520, 720,
            &BenchCommands::command6);
  addButton(frame1, QStringLiteral("Command7"), QStringLiteral("加 钱 包"), 4200, 720,
            &BenchCommands::command7);
  addButton(frame1, QStringLiteral("Command8"), QStringLiteral("减 钱 包"), 5880, 720,
            &BenchCommands::command8);
  addButton(frame1, QStringLiteral("Command10"), QStringLiteral("卡 休 眠"), 7560, 720,
            &BenchCommands::command10);

  // Advanced commands.
  auto* frame5 = new QGroupBox(QStringLiteral(" 高级指令集 "), readmachine);
  frame5->setObjectName(QStringLiteral("Frame5"));
  frame5->setGeometry(tw(120), tw(6000) + kCaptionRoom, tw(9015), tw(1215) + kCaptionRoom);
  addButton(frame5, QStringLiteral("READCARDTYPE"), QStringLiteral("读卡类型"), 840, 240,
            &BenchCommands::readCardType);
  addButton(frame5, QStringLiteral("readcardno"), QStringLiteral("读 卡 号"), 2520, 240,
            &BenchCommands::readCardNo);
  addButton(frame5, QStringLiteral("LOADKEY"), QStringLiteral("下载密码"), 4200, 240,
            &BenchCommands::loadKey);
  addButton(frame5, QStringLiteral("READDATA"), QStringLiteral("读数据块"), 5880, 240,
            &BenchCommands::readData);
  addButton(frame5, QStringLiteral("WRITEDATA"), QStringLiteral("写数据块"), 7560, 240,
            &BenchCommands::writeData);
  addButton(frame5, QStringLiteral("EDITKEY"), QStringLiteral("修改密码"), 840, 720,
            &BenchCommands::editKey);
  addButton(frame5, QStringLiteral("READBAG"), QStringLiteral("读 钱 包"), 2520, 720,
            &BenchCommands::readBag);
  addButton(frame5, QStringLiteral("WRITEBAG"), QStringLiteral("写 钱 包"), 4200, 720,
            &BenchCommands::writeBag);
  addButton(frame5, QStringLiteral("ADDBAG"), QStringLiteral("加 钱 包"), 5880, 720,
            &BenchCommands::addBag);
  addButton(frame5, QStringLiteral("SUBBAG"), QStringLiteral("减 钱 包"), 7560, 720,
            &BenchCommands::subBag);
}

QPushButton* MainWindow::addButton(QWidget* frame, const QString& name, const QString& caption,
                                   int left, int top, void (BenchCommands::*handler)()) {
  auto* button = new QPushButton(caption, frame);
  button->setObjectName(name);
  const bool commandFrame = frame->objectName() != QLatin1String("FRAME3");
  button->setGeometry(tw(left), tw(top) + (commandFrame ? kCaptionRoom : 0), kButtonWidth,
                      kButtonHeight);
  connect(button, &QPushButton::clicked, this, [this, handler] { run(handler); });
  buttons_.insert(name, button);
  return button;
}

void MainWindow::run(void (BenchCommands::*handler)()) {
  try {
    ((*commands_).*handler)();
  } catch (const BindingError& error) {
    QMessageBox box(QMessageBox::Critical, kErrorTitle, error.message(), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("errorBox"));
    box.exec();
  }
}

// ---- BenchView -----------------------------------------------------------------

void MainWindow::clearList() { list_->clear(); }

void MainWindow::addLine(const QString& line) {
  list_->addItem(line);
  list_->scrollToBottom();
}

void MainWindow::setCardNo(const QString& text) { cardno_->setText(text); }
void MainWindow::setCardType(const QString& text) { cardtype_->setText(text); }

void MainWindow::setButtonEnabled(const QString& name, bool enabled) {
  if (QPushButton* b = buttons_.value(name)) b->setEnabled(enabled);
}

void MainWindow::setBusy(bool busy) {
  if (busy) {
    // Application-wide, so the wait shows wherever the pointer rests, also
    // over a box that has a pointer of its own (the serial box's I-beam).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Let the pointer and the pressed button show before the reader call
    // blocks the window; operator input waits.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void MainWindow::closeWindow() { close(); }

// ---- BenchDialogs --------------------------------------------------------------
// Each showing builds the dialog afresh, so it starts from its defaults.

void MainWindow::callMode() {
  CallModeDialog dialog(state_, this);
  dialog.exec();
}

void MainWindow::mima() {
  MimaDialog dialog(state_, this);
  dialog.exec();
}

void MainWindow::ml10Mima() {
  Ml10MimaDialog dialog(state_, this);
  dialog.exec();
}

void MainWindow::inputData(bool amountEntry) {
  InputDataDialog dialog(state_, amountEntry, this);
  dialog.exec();
}

void MainWindow::ml10Input(bool amountEntry) {
  Ml10InputDialog dialog(state_, amountEntry, this);
  dialog.exec();
}

}  // namespace cardbench
