// A run on a terminal of its own, as a user at a shell has it: a run put in the background
// with `stty tostop` that has something to say while it holds the card, and a stop (Ctrl-Z)
// in the middle of an update.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BuildsEmulator.h"
#include "ScenarioSupport.h"

namespace scenario {
namespace {

// What the test's shell writes on the terminal when the run has stopped.
constexpr const char* kStoppedMark = "[stopped]\n";
// Bytes through the part in a run of /i new.bin on the sample card: the card report reads
// 128 KiB, then programming writes about 120 KiB.
constexpr const char* kStopMidProgramming = ",fault=signal=TSTP:190000";
// A run that has not ended by then is killed by the test's shell.
constexpr unsigned kRunSeconds = 60;

struct TerminalRun {
  std::string screen;
  std::string shellSays;  // "status N" or "signal N", after "stopped " when it stopped
};

pid_t s_run = -1;
extern "C" void KillRun(int) { kill(s_run, SIGKILL); }

class Terminal : public CardTest {
 protected:
  void SetUp() override {
    CardTest::SetUp();
    if (testbuild::kThroughAnEmulator) {
      GTEST_SKIP() << "job control of the program itself, not of a processor emulator around it";
    }
  }

  // tvrbios-emu on the sample card (with `keys`) on a new terminal with `tostop`, started
  // by a shell of the test's own in the foreground or the background; standard error goes
  // to the terminal, standard output too unless `outFile` is named.
  TerminalRun OnTerminal(const std::string& keys, const std::vector<std::string>& args,
                         bool background, const std::string& outFile = "") {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    const std::string terminal = ptsname(master);
    std::vector<std::string> all{TVRBIOS_EMU_PATH, "--date", kDate, "--card",
                                 "100,image=card.bin" + keys};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t shell = fork();
    if (shell == 0) {
      Shell(terminal, all, background, outFile);
    }
    TerminalRun run;
    std::array<char, 4096> buffer{};
    pollfd screen{master, POLLIN, 0};
    while (poll(&screen, 1, (kRunSeconds + 5) * 1000) > 0) {
      const ssize_t length = read(master, buffer.data(), buffer.size());
      if (length <= 0) {
        break;  // the terminal is closed on every side
      }
      run.screen.append(buffer.data(), static_cast<std::size_t>(length));
    }
    close(master);
    waitpid(shell, nullptr, 0);
    run.shellSays = FileText(m_root + "/shell.txt");
    return run;
  }

 private:
  // The session leader that owns the terminal. It reports how the run ended in shell.txt,
  // continues a run that stopped (after marking the screen), and kills one that outlives
  // its time.
  [[noreturn]] void Shell(const std::string& terminal, const std::vector<std::string>& args,
                          bool background, const std::string& outFile) {
    setsid();
    const int tty = open(terminal.c_str(), O_RDWR);  // becomes the controlling terminal
    termios mode{};
    tcgetattr(tty, &mode);
    mode.c_lflag |= TOSTOP | ISIG;
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(tty, TCSANOW, &mode);
    std::signal(SIGTTOU, SIG_IGN);
    s_run = fork();
    if (s_run == 0) {
      setpgid(0, 0);
      std::signal(SIGTTOU, SIG_DFL);
      const int out =
          outFile.empty() ? tty : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const std::vector<char*> argv = Argv(args);
      if (chdir(m_work.c_str()) == 0 && dup2(out, STDOUT_FILENO) >= 0 &&
          dup2(tty, STDERR_FILENO) >= 0) {
        execv(argv[0], argv.data());
      }
      _exit(127);
    }
    setpgid(s_run, s_run);
    if (!background) {
      tcsetpgrp(tty, s_run);
    }
    std::signal(SIGALRM, KillRun);
    alarm(kRunSeconds);
    std::string says;
    int status = 0;
    while (waitpid(s_run, &status, WUNTRACED) == s_run && WIFSTOPPED(status)) {
      says += "stopped ";
      (void)!write(tty, kStoppedMark, std::strlen(kStoppedMark));
      kill(s_run, SIGCONT);
    }
    says += WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                : "status " + std::to_string(WEXITSTATUS(status));
    std::ofstream(m_root + "/shell.txt") << says;
    _exit(0);
  }
};

// With `stty tostop`, a run in the background that has an error to show while it holds
// the card shows it and ends (one that loops is killed by the shell); nothing answers an
// interruption that nobody caused. A stop in the middle of an update is answered on a line of its
// own, after the dots so far, the update finishes, and then the run stops; continued, it ends as a
// finished update does.
TEST_F(Terminal, JobControlNeverLoopsAndCtrlZStopsOnceTheCardIsSafe) {
  Write("bad.bin", Bytes(0x10000, 0));
  const TerminalRun erring =
      OnTerminal("", {"/o", "backup.bin", "/i", "bad.bin"}, true, Path("log.txt"));
  EXPECT_EQ(erring.screen, "ERROR! An invalid Tavrin BIOS file has been encountered.\n\n");
  EXPECT_EQ(erring.shellSays, "status 0");
  EXPECT_EQ(ReadText("log.txt"), Report() + FileCreated("backup.bin"));

  const TerminalRun stopped = OnTerminal(kStopMidProgramming, {"/i", "new.bin"}, false);
  EXPECT_EQ(stopped.shellSays, "stopped status 1");
  // The answer comes on a line of its own after a dot; without it the screen is an update's.
  std::string screen = stopped.screen;
  const std::size_t answer = screen.find(std::string(".\n") + kStopping);
  ASSERT_NE(answer, std::string::npos) << screen;
  screen.erase(answer + 1, 1 + std::strlen(kStopping));
  EXPECT_EQ(screen, Report() + m_newReport + Programmed() + kStoppedMark);
  EXPECT_EQ(Read("card.bin").size(), emu::kSampleImageSize);
  EXPECT_FALSE(Read("card.bin") == m_card) << "the update finished";
}

}  // namespace
}  // namespace scenario
