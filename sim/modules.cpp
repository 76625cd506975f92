// The reader's device families. Each family adds its module here.
#include "attendance/terminal.h"
#include "contact/contact_module.h"
#include "core/simulator.h"
#include "mifare/mifare_module.h"
#include "rf5550/rf5550_module.h"

namespace readersim {

std::unique_ptr<Simulator> makeStandardSimulator(Options options) {
  auto sim = std::make_unique<Simulator>(std::move(options));
  // One Mifare 1 card in the field, transport configuration, serial 12 34 56 78.
  auto mifare = std::make_unique<MifareModule>();
  mifare->insertClassic({0x12, 0x34, 0x56, 0x78});
  sim->addModule(std::move(mifare));
  sim->addModule(std::make_unique<rf5550::Rf5550Module>());
  sim->addModule(std::make_unique<attendance::TerminalModule>(
      [s = sim.get()](const std::string& line) { s->logLine(line); }));
  // Contact slot as a card rack (every memory card type, AT1608, CPU card T=0);
  // SAM 1 answers T=0, SAM 2 T=1, SAM slots 3 and 4 empty.
  sim->addModule(std::make_unique<contact::ContactModule>());
  return sim;
}

}  // namespace readersim
