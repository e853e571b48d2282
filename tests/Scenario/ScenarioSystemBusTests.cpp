// The machine's own actors: while an update holds the card, logind holds off sleep and
// shutdown for it. A private message bus of the test's own stands for the system bus, with
// the mock logind of python3-dbusmock on it.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ScenarioSupport.h"

namespace scenario {
namespace {

constexpr const char* kBusConfig = R"(<busconfig>
  <listen>unix:path=@BUS@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

// A logind that takes two seconds to answer for a lock, as a busy one may.
constexpr const char* kLateLogind = R"(from dbusmock.templates.logind import *
from dbusmock.templates import logind as _logind
import time


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h')
def Inhibit(self, what, who, why, mode):
    time.sleep(2)
    return _logind.Inhibit(self, what, who, why, mode)
)";

// Starts a helper program with the variables on top of the test's, its complaints in the file
// `log`, and its output on `out`, or in `log` too when `out` is -1.
pid_t Spawn(const std::vector<std::string>& command, const std::vector<std::string>& environment,
            const std::string& log, int out = -1) {
  const pid_t child = fork();
  if (child == 0) {
    for (const std::string& variable : environment) {
      putenv(const_cast<char*>(variable.c_str()));
    }
    const std::vector<char*> argv = Argv(command);
    const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err < 0 || dup2(out < 0 ? err : out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) {
      _exit(127);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

void Stop(pid_t& helper) {
  if (helper > 0) {
    kill(helper, SIGTERM);
    waitpid(helper, nullptr, 0);
    helper = -1;
  }
}

std::size_t Count(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

// The first text field of the first lock in a ListInhibitors reply: what it holds off.
std::string WhatIsHeldOff(const std::string& reply) {
  const std::string field = "string \"";
  const std::size_t begin = reply.find(field, reply.find("struct {"));
  if (begin == std::string::npos) {
    return "";
  }
  const std::size_t from = begin + field.size();
  return reply.substr(from, reply.find('"', from) - from);
}

// The variable that points a run at a system bus listening on `path`.
std::string BusAt(const std::string& path) { return "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + path; }

class SystemBus : public CardTest {
 protected:
  void SetUp() override {
    CardTest::SetUp();
    std::string config = kBusConfig;
    config.replace(config.find("@BUS@"), 5, m_root + "/bus");
    std::ofstream(m_root + "/bus.conf") << config;
    StartBus();
    StartLogind();
  }
  void TearDown() override {
    Stop(m_logind);
    Stop(m_bus);
    CardTest::TearDown();
  }

  // The bus is up once it has printed its address.
  void StartBus() {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    m_bus = Spawn(
        {"dbus-daemon", "--config-file=" + m_root + "/bus.conf", "--nofork", "--print-address"}, {},
        m_root + "/bus.log", ends[1]);
    close(ends[1]);
    char c = 0;
    while (read(ends[0], &c, 1) == 1 && c != '\n') {
    }
    close(ends[0]);
    ASSERT_EQ(c, '\n') << "dbus-daemon did not start";
  }

  // logind is up once it answers.
  void StartLogind(const std::string& logindTemplate = "logind") {
    m_logind = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--template", logindTemplate},
                     {BusVariable(), "PYTHONDONTWRITEBYTECODE=1"}, m_root + "/logind.log");
    for (int attempt = 0; attempt < 200 && Inhibitors().empty(); ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(Inhibitors().empty()) << "the mock logind did not start";
  }

  std::string BusVariable() const { return BusAt(m_root + "/bus"); }

  // logind's list of locks as dbus-send prints it; empty when logind does not answer.
  std::string Inhibitors() const {
    return CommandOutput("env " + BusVariable() +
                         " dbus-send --system --print-reply --dest=org.freedesktop.login1"
                         " /org/freedesktop/login1"
                         " org.freedesktop.login1.Manager.ListInhibitors 2>/dev/null");
  }

  bool EventuallyNoLock() const {
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (Count(Inhibitors(), "struct {") == 0) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // /i new.bin on a fresh sample card, with the card's `keys`.
  RunResult Update(RunLimits limits, const std::string& keys = "") {
    Write("card.bin", m_card);
    limits.killAfterSeconds = 120;
    return OnCard(keys, {"/i", "new.bin"}, limits);
  }

  pid_t m_bus = -1;
  pid_t m_logind = -1;
};

// A socket that takes connections and never answers: a bus daemon that hangs.
int MuteSocket(const std::string& path) {
  const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listening, 8) != 0) {
    close(listening);
    return -1;
  }
  return listening;
}

// An update holds off sleep and shutdown while it runs, and runs the same without a bus,
// without logind, or with a bus that lets the run connect and never lets it on: that costs
// the run at most the bound of three seconds. A logind that answers late, with Ctrl-C in
// between, still gives the lock within the bound, and the lock holds while the card is
// held; the run then ends before the card is written.
TEST_F(SystemBus, AnUpdateHoldsOffSleepAndShutdownAndNoBusHoldsItBeyondItsBound) {
#if !TVR_HAVE_SD_BUS
  GTEST_SKIP() << "built without sd-bus: no lock to see";
#endif
  std::string during;
  const auto look = [this, &during](pid_t run) {
    kill(run, SIGSTOP);
    during = Inhibitors();
    kill(run, SIGCONT);
  };
  const RunResult locked = Update(
      {.actAfter = std::string(kWarning) + ".", .act = look, .environment = {BusVariable()}});
  EXPECT_EQ(locked.err, "");
  EXPECT_EQ(locked.status, 1);
  EXPECT_EQ(Count(during, "struct {"), 1u) << during;
  EXPECT_NE(during.find("string \"tvrbios\""), std::string::npos) << during;
  EXPECT_NE(during.find("string \"block\""), std::string::npos) << during;
  const std::string what = ":" + WhatIsHeldOff(during) + ":";
  for (const std::string kind : {"shutdown", "sleep", "handle-lid-switch"}) {
    EXPECT_NE(what.find(":" + kind + ":"), std::string::npos) << kind << " in " << what;
  }
  EXPECT_TRUE(EventuallyNoLock()) << "the lock outlived the run";

  const RunResult withoutBus = Update({.environment = {BusAt(m_root + "/nowhere")}});
  const int mute = MuteSocket(m_root + "/mute");
  ASSERT_GE(mute, 0);
  const RunResult mutedRun = Update({.environment = {BusAt(m_root + "/mute")}});
  close(mute);
  // Three seconds of bound, and room for a busy machine; a bus's own limit is 90 s.
  EXPECT_LT(mutedRun.seconds, 2 * withoutBus.seconds + 10);
  Stop(m_logind);
  const RunResult withoutLogind = Update({.environment = {BusVariable()}});
  for (const RunResult* run : {&withoutBus, &mutedRun, &withoutLogind}) {
    EXPECT_EQ(SaidBy(*run), SaidBy(locked));
  }

  std::ofstream(m_root + "/late_logind.py") << kLateLogind;
  StartLogind(m_root + "/late_logind.py");
  during.clear();
  const auto stopAndLook = [this, &during](pid_t run) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(run, SIGINT);
    int status = 0;
    // The run stops itself once it reads the card, after the lock request.
    if (waitpid(run, &status, WUNTRACED) == run && WIFSTOPPED(status)) {
      during = Inhibitors();
      kill(run, SIGCONT);
    }
  };
  const RunResult lateRun =
      Update({.actAfter = kBanner, .act = stopAndLook, .environment = {BusVariable()}},
             ",fault=signal=STOP:1000");
  EXPECT_EQ(Count(during, "struct {"), 1u) << during;
  EXPECT_LT(lateRun.seconds, 2 * withoutBus.seconds + 10);
  EXPECT_EQ(lateRun.err, kInterrupted);
  EXPECT_EQ(lateRun.signal, SIGINT);
  EXPECT_EQ(lateRun.out, Report() + m_newReport);
  EXPECT_TRUE(Read("card.bin") == m_card) << "the card was written";
  EXPECT_TRUE(EventuallyNoLock()) << "the lock outlived the run";
}

}  // namespace
}  // namespace scenario
