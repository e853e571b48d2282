#include "Interruptions.h"

namespace emu {
namespace {
Interruptions* s_hook = nullptr;
}  // namespace

void SetInterruptions(Interruptions* hook) { s_hook = hook; }

void ReportPowerCut() {
  if (s_hook != nullptr) {
    s_hook->PowerCut();
  }
}

void ReportSignalDue(int signal) {
  if (s_hook != nullptr) {
    s_hook->SignalDue(signal);
  }
}

}  // namespace emu
