#include "UxLinInhibit.h"

#include <unistd.h>

#if TVR_HAVE_SD_BUS
#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#endif

namespace {

#if TVR_HAVE_SD_BUS
constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kLoginObject = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";
// The lid is honoured only by the low-level lid lock; logind ignores the others for it.
constexpr const char* kWhat =
    "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
    "handle-lid-switch";
constexpr const char* kWho = "tvrbios";
constexpr const char* kWhy = "Updating the BIOS of a Tavrin graphics card";
constexpr const char* kMode = "block";
// A logind that does not answer within this is taken for none.
constexpr std::uint64_t kAnswerWithinUs = 3000000;

// The lock's descriptor, or -1 without one. The descriptor is the reply's: the lock keeps
// a copy of its own.
int LockFromReply(sd_bus_message* reply) {
  int descriptor = -1;
  if (sd_bus_message_read(reply, "h", &descriptor) < 0) {
    return -1;
  }
  return fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

int TakeLock() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) {
    return -1;
  }
  sd_bus_set_method_call_timeout(bus, kAnswerWithinUs);
  sd_bus_message* reply = nullptr;
  const int lock = sd_bus_call_method(bus, kLogin, kLoginObject, kLoginManager, "Inhibit",
                                      nullptr, &reply, "ssss", kWhat, kWho, kWhy, kMode) < 0
                       ? -1
                       : LockFromReply(reply);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return lock;
}
#else
// Built without sd-bus: no lock.
int TakeLock() { return -1; }
#endif

}  // namespace

SleepInhibitor::SleepInhibitor() : m_lock(TakeLock()) {}

SleepInhibitor::~SleepInhibitor() {
  if (m_lock >= 0) {
    ::close(m_lock);
  }
}
