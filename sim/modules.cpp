// The reader's device families. Each family adds its module here.
#include "core/simulator.h"

namespace readersim {

std::unique_ptr<Simulator> makeStandardSimulator(Options options) {
  auto sim = std::make_unique<Simulator>(std::move(options));
  return sim;
}

}  // namespace readersim
