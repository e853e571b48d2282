#include "ProcessEnd.h"

#include <csignal>
#include <cstdlib>

#include "FrontEndNumbers.h"
#include "Interruptions.h"

namespace emu {
namespace {

class ProcessEnd final : public Interruptions {
 public:
  void PowerCut() override { std::_Exit(kPowerCutExitCode); }
  void SignalDue(int signal) override { ::raise(signal); }
};

ProcessEnd s_processEnd;

}  // namespace

void InstallProcessEnd() { SetInterruptions(&s_processEnd); }

}  // namespace emu
