// The command handlers of cardbench's main window, one method per button.
// They talk to the reader through the ORVIX32 binding, keep their results in
// Module1 and the window's fields, and report only through lines of the
// message list, the two card boxes and the enabling of buttons (BenchView).
// Dialogs are opened through BenchDialogs and hand their outputs back in
// Module1.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "module1.h"

namespace cardbench {

class OrvixBinding;

class BenchView {
 public:
  virtual ~BenchView() = default;
  virtual void clearList() = 0;
  virtual void addLine(const QString& line) = 0;
  virtual void setCardNo(const QString& text) = 0;
  virtual void setCardType(const QString& text) = 0;
  virtual void setButtonEnabled(const QString& name, bool enabled) = 0;
  // The window's busy pointer, on or off.
  virtual void setBusy(bool busy) = 0;
  virtual void closeWindow() = 0;
};

class BenchDialogs {
 public:
  virtual ~BenchDialogs() = default;
  // Each shows its dialog modally and returns once it has closed.
  virtual void callMode() = 0;
  virtual void mima() = 0;
  virtual void ml10Mima() = 0;
  // amountEntry: the text is a purse amount (checked for the 32-bit range).
  virtual void inputData(bool amountEntry) = 0;
  virtual void ml10Input(bool amountEntry) = 0;
};

// Button groups of the enabling rules.
extern const QStringList kCardButtons;    // Command2 … Command10 and the ten of Frame5
extern const QStringList kReaderButtons;  // READNO, READVER, DRIVER, WIZAP

class BenchCommands {
 public:
  BenchCommands(Module1& state, WindowState& window, OrvixBinding& library, BenchView& view,
                BenchDialogs& dialogs);

  // Window load: only clear, comm and EXIT stay enabled.
  void load();

  // System commands.
  void clear();
  void comm();
  void readNo();
  void readVer();
  void driver();
  void wizap();
  void exit();

  // Card selection.
  void command2();   // request
  void command1();   // anticollision
  void command3();   // select
  void command10();  // halt
  void readCardType();
  void readCardNo();

  // Keys.
  void command4();  // load key
  void command9();  // authenticate
  void loadKey();   // transfer key
  void editKey();   // change key

  // Blocks.
  void command5();  // read
  void command6();  // write
  void readData();
  void writeData();

  // Purse.
  void command7();  // increment
  void command8();  // decrement
  void readBag();
  void writeBag();
  void addBag();
  void subBag();

 private:
  void lianjie();
  void setCardButtons(bool enabled);
  void retypeLine();
  bool isMifare1() const { return state_.cardTypeCode == kMifare1; }
  int mifare1Address() const { return state_.sectorNo * 4 + state_.blockNo; }
  // Status line pairs: an empty line and the failure when the command failed,
  // otherwise a cleared list, " " and the success; true on success.
  void failureLines(const QString& failure);
  bool readerLines(const QString& success, const QString& failure);
  // The card serial read by `read` into the serial box.
  void readSerial(int (OrvixBinding::*read)(std::int32_t*));
  // A cleared list, `blankLine` and the success or failure line of the status.
  void outcomeLines(const QString& blankLine, const QString& success, const QString& failure);
  std::array<std::uint8_t, 7> keyBytesFromText();
  void keyResultLines(const QString& blankLine);
  // Shows the key dialog of the card's family in the given mode; false (after
  // the retype line) when it was left.
  bool askKey(std::int16_t mode, bool mifare1);
  // A Mifare Light 10 key of the dialog's type into the reader.
  void ml10LoadKey();
  void dataBytesFromText(int n);
  QString dumpLine(int n);
  // Shows the data dialog of the given family in the given mode; false (after
  // the retype line) when it was left.
  bool askData(std::int16_t mode, bool mifare1, bool amountEntry);
  // Shows the block dialog of the card's family in the given mode and gives
  // the block address; false (after the retype line) when it was left.
  bool askBlock(std::int16_t mode, int& address);
  void blockReadLines();
  // The purse amount typed in the dialog; false (after the retype line) when
  // it cannot be held in 32 bits.
  bool takeAmount();
  // The amount dialog of the given family and its amount; a Mifare 1 block
  // address goes to blockAddr. False (after the retype line) when it was left
  // or the amount does not fit.
  bool askAmount(bool mifare1);
  void purseResultLines(const QString& blankLine, const QString& success, const QString& failure,
                        const QString& amountPrefix);

  Module1& state_;
  WindowState& window_;
  OrvixBinding& lib_;
  BenchView& view_;
  BenchDialogs& dialogs_;
};

}  // namespace cardbench
