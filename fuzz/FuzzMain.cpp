// The libFuzzer entry of one target; the build names the target. A broken promise is
// printed and ends the run as a crash, so that libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "FuzzRig.h"
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    return fuzz::TVR_FUZZ_TARGET(data, size);
  } catch (const fuzz::Finding& finding) {
    std::fprintf(stderr, "finding: %s\n", finding.what());
    std::abort();
  }
}
