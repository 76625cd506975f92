#include "inputdata_dialog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "dialog_rules.h"

namespace cardbench {

InputDataDialog::InputDataDialog(Module1& state, bool amountEntry, QWidget* parent)
    : DataDialog(state, QStringLiteral("inputdata"), 600, 330, amountEntry, parent) {
  QGroupBox* sectorFrame =
      frame(this, QStringLiteral("fra_Cdate"), QStringLiteral(" 扇区号 "), 16, 52, 400, 136);
  sectorOptions(sectorFrame, 24, 94, sectors_);

  QGroupBox* blockFrame =
      frame(this, QStringLiteral("Frame1"), QStringLiteral(" 数据块号 "), 424, 52, 160, 136);
  const QString blockCaptions[4] = {QStringLiteral("数据块0"), QStringLiteral("数据块1"),
                                    QStringLiteral("数据块2"), QStringLiteral("控制块")};
  optionColumn(blockFrame, 17, blockCaptions, 36, 24, 26, 100, blocks_);

  dataEntry(196, 568, 300, 32);

  placeButtons(272);

  // Each showing starts from sector 0, block 0 and empty data; reads ask for
  // the location only.
  startEntry();
  sectors_[0]->setChecked(true);
  blocks_[0]->setChecked(true);
  data_->clear();
}

bool InputDataDialog::confirm() {
  if (!dataAccepted(16)) return false;
  for (int i = 0; i < 16; ++i)
    if (sectors_[static_cast<std::size_t>(i)]->isChecked()) state_.sectorNo = i;
  for (int i = 0; i < 4; ++i)
    if (blocks_[static_cast<std::size_t>(i)]->isChecked()) state_.blockNo = i;
  takeDataText();
  return true;
}

}  // namespace cardbench
