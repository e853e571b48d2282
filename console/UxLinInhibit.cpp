#include "UxLinInhibit.h"

#include <unistd.h>

#if TVR_HAVE_SD_BUS
#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
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
// Connecting, being let on the bus and logind's answer together take at most this, from
// the start of the request; a bus or a logind that takes longer is taken for none.
constexpr std::uint64_t kAnswerWithinUs = 3000000;

std::uint64_t NowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// The lock's descriptor, or -1 without one. The descriptor is the reply's: the lock keeps
// a copy of its own.
int LockFromReply(sd_bus_message* reply) {
  int descriptor = -1;
  if (sd_bus_message_is_method_error(reply, nullptr) ||
      sd_bus_message_read(reply, "h", &descriptor) < 0) {
    return -1;
  }
  return fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

struct Request {
  bool answered = false;
  int lock = -1;
};

int OnAnswer(sd_bus_message* reply, void* pvRequest, sd_bus_error*) {
  auto& request = *static_cast<Request*>(pvRequest);
  request.answered = true;
  request.lock = LockFromReply(reply);
  return 0;
}

// Works the bus until logind has answered or the deadline has come. A signal cuts a wait
// short and the work goes on, within the same deadline.
void AwaitAnswer(sd_bus* bus, const Request& request, std::uint64_t deadline) {
  for (std::uint64_t now = NowUs(); !request.answered && now < deadline; now = NowUs()) {
    const int progress = sd_bus_process(bus, nullptr);
    if (progress < 0) {
      return;
    }
    const int waited = progress > 0 ? 0 : sd_bus_wait(bus, deadline - now);
    if (waited < 0 && waited != -EINTR) {
      return;
    }
  }
}

// The bus is closed without being flushed: a flush waits for a bus that never let us on.
int TakeLock() {
  const std::uint64_t deadline = NowUs() + kAnswerWithinUs;
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) {
    return -1;
  }
  Request request;
  sd_bus_slot* call = nullptr;
  if (sd_bus_call_method_async(bus, &call, kLogin, kLoginObject, kLoginManager, "Inhibit", OnAnswer,
                               &request, "ssss", kWhat, kWho, kWhy, kMode) >= 0) {
    AwaitAnswer(bus, request, deadline);
  }
  sd_bus_slot_unref(call);
  sd_bus_close_unref(bus);
  return request.lock;
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
