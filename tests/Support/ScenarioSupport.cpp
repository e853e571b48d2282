#include "ScenarioSupport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "BuildsEmulator.h"

namespace scenario {

Said SaidBy(const RunResult& run) { return {run.out, run.err, run.status}; }

void PrintTo(const Said& said, std::ostream* out) {
  *out << "out " << ::testing::PrintToString(said.out) << ", err "
       << ::testing::PrintToString(said.err) << ", status " << said.status;
}

std::string CardReport::Text() const {
  std::ostringstream text;
  text << "Graphics card information\n"
       << "\tModel:\t\t" << model << "\n"
       << "\tSerial Number:\t" << serial << "\n"
       << "\tPCI location:\tBus: " << bus << " Device: " << device << " Function: 0\n"
       << "\tGraphics BIOS:\tVersion: " << version << "\n"
       << "\t\t\tProduct ID: " << productId << "\n"
       << "\tSerial EEPROM:\tType: " << part << "\n"
       << "\t\t\tSize: 128 KBytes\n\n";
  return text.str();
}

std::string FileReport(const std::string& version, const std::string& productId) {
  return "Tavrin BIOS file information\tVersion:\n\tVersion:\t" + version + "\n\tProduct ID:\t" +
         productId + "\n\n";
}

std::string Dots(std::size_t count) { return std::string(count, '.') + "\n\n"; }

std::string Programmed(std::size_t dots) { return kWarning + Dots(dots) + kUpdated; }

std::string FileCreated(const std::string& name) {
  return "SUCCESS! The following file has been successfully created: " + name + "\n\n";
}

emu::SampleBiosOptions NewBiosOptions() {
  emu::SampleBiosOptions options = emu::NewerSampleBios();
  options.productId = "TNV";
  options.serialNumber = "FILESERIAL01";
  options.pinsCounter = 9;
  options.subsystem = 0x77771F2E;
  options.biosBlocks = 0x50;
  options.pinsOffset = 0x7800;
  options.withMcs = false;
  return options;
}

Bytes NewBiosFile() { return Slice(emu::BuildSampleBios(NewBiosOptions()), 0, 0x10000); }

std::uint32_t BiosSize(const Bytes& image) { return image.at(2) * 512u; }

std::uint32_t PinsOffset(const Bytes& image) { return Le(image, emu::kSamplePinsPointerOffset, 2); }

Bytes Pins(const Bytes& image) { return Slice(image, PinsOffset(image), emu::kSamplePinsSize); }

std::string PinsSerial(const Bytes& pins) {
  const char* serial = reinterpret_cast<const char*>(pins.data() + 12);
  return std::string(serial, strnlen(serial, 16));
}

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<char*> Argv(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& word : command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

std::string CommandOutput(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  std::string text;
  std::array<char, 256> buffer{};
  while (pipe != nullptr && fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
    text += buffer.data();
  }
  return pipe != nullptr && pclose(pipe) == 0 ? text : "";
}

void ScenarioTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tvr-scenario-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  m_root = pattern;
  m_work = m_root + "/work";
  std::filesystem::create_directory(m_work);
}

void ScenarioTest::TearDown() { std::filesystem::remove_all(m_root); }

void CardTest::SetUp() {
  ScenarioTest::SetUp();
  Write("card.bin", m_card);
  Write("new.bin", m_file);
}

RunResult CardTest::OnCard(const std::string& keys, std::vector<std::string> args,
                           const RunLimits& limits) {
  args.insert(args.begin(), {"--card", "100,image=card.bin" + keys});
  return Emu(args, limits);
}

std::string CardTest::Report() { return kBanner + CardReport{}.Text(); }

RunResult ScenarioTest::Emu(const std::vector<std::string>& args, const RunLimits& limits) {
  std::vector<std::string> all{"--date", kDate};
  all.insert(all.end(), args.begin(), args.end());
  return Run(TVRBIOS_EMU_PATH, all, limits);
}

namespace {

std::vector<int> AllSignals() {
  std::vector<int> signals;
  for (int signal = 1; signal <= SIGRTMAX; ++signal) {
    signals.push_back(signal);
  }
  return signals;
}

// Through the system call: the C library refuses the numbers it keeps for itself. SIGKILL
// and SIGSTOP refuse any change, and keep their default.
void SetKernelDispositions(__sighandler_t handler, const std::vector<int>& signals) {
  struct {
    __sighandler_t handler;
    unsigned long flags;
    void (*restorer)();
    std::uint64_t mask;
  } action{handler, 0, nullptr, 0};
  for (const int signal : signals) {
    syscall(SYS_rt_sigaction, signal, &action, nullptr, sizeof(action.mask));
  }
}

using testbuild::kBuildsEmulator;
using testbuild::kThroughAnEmulator;

// Through an emulator, the variables of a run go to the program, not to the emulator, which
// would otherwise try to preload a library of the other word size into itself.
std::vector<std::string> ThroughTheBuildsEmulator(const std::string& program,
                                                  const std::vector<std::string>& environment) {
  if (!kThroughAnEmulator) {
    return {program};
  }
  std::vector<std::string> command{kBuildsEmulator};
  for (const std::string& variable : environment) {
    command.insert(command.end(), {"-E", variable});
  }
  command.push_back(program);
  return command;
}

// An emulated program that a signal ends with a core dump gets a line of the emulator's own
// after its last word; the program did not write it.
void DropTheEmulatorsWords(std::string& err) {
  static constexpr const char kCoreLine[] = "qemu: uncaught target signal ";
  const std::size_t line = err.rfind(kCoreLine);
  if (kThroughAnEmulator && line != std::string::npos && (line == 0 || err[line - 1] == '\n')) {
    err.erase(line);
  }
}

// Reads the pipe into `got` until `text` has come, or to its end when `text` is empty.
void ReadUntil(int fd, const std::string& text, std::string& got) {
  std::array<char, 4096> buffer{};
  while (text.empty() || got.find(text) == std::string::npos) {
    const ssize_t length = read(fd, buffer.data(), buffer.size());
    if (length <= 0) {
      break;
    }
    got.append(buffer.data(), static_cast<std::size_t>(length));
  }
}

// What the test reads from the run's output pipe, and does to the run meanwhile.
std::string ReadOutput(int fd, pid_t child, const RunLimits& limits) {
  std::string got;
  if (limits.act) {
    ReadUntil(fd, limits.actAfter, got);
    limits.act(child);
    ReadUntil(fd, "", got);
  } else {
    ReadUntil(fd, limits.closeOutputAfter, got);
  }
  close(fd);
  return got;
}

// Kills the run when it outlives its time: a process of its own, holding none of the run's
// pipes, ended once the run is.
pid_t Watchdog(pid_t run, int seconds) {
  const pid_t watchdog = seconds > 0 && run > 0 ? fork() : -1;
  if (watchdog == 0) {
    closefrom(STDERR_FILENO + 1);
    sleep(static_cast<unsigned>(seconds));
    kill(run, SIGKILL);
    _exit(0);
  }
  return watchdog;
}

}  // namespace

RunResult ScenarioTest::Run(const std::string& program, const std::vector<std::string>& args,
                            const RunLimits& limits) {
  const std::string outPath = m_root + "/stdout";
  const std::string errPath = m_root + "/stderr";
  const bool piped = !limits.closeOutputAfter.empty() || limits.outputClosed || limits.act;
  std::array<int, 2> pipeEnds{-1, -1};
  if (piped && pipe(pipeEnds.data()) != 0) {
    ADD_FAILURE() << "no pipe";
    return {};
  }
  if (limits.outputClosed) {
    close(pipeEnds[0]);
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const auto bytes = static_cast<rlim_t>(limits.fileSizeLimit);
    const rlimit size{bytes, bytes};
    const int out = piped ? pipeEnds[1] : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || chdir(m_work.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        (limits.fileSizeLimit != 0 && setrlimit(RLIMIT_FSIZE, &size) != 0) ||
        (limits.userId >= 0 && (setgid(static_cast<gid_t>(limits.userId)) != 0 ||
                                setuid(static_cast<uid_t>(limits.userId)) != 0))) {
      _exit(127);
    }
    if (piped && !limits.outputClosed) {
      close(pipeEnds[0]);
    }
    std::vector<std::string> command = ThroughTheBuildsEmulator(program, limits.environment);
    if (!kThroughAnEmulator) {
      for (const std::string& variable : limits.environment) {
        putenv(const_cast<char*>(variable.c_str()));
      }
    }
    // As started from a terminal: whatever ignores or holds signals here (a shell that put
    // the tests in the background, make, which ignores 32 and 33) is not the user's; then
    // what the case ignores.
    SetKernelDispositions(SIG_DFL, AllSignals());
    SetKernelDispositions(SIG_IGN, limits.ignoredSignals);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    command.insert(command.end(), args.begin(), args.end());
    const std::vector<char*> argv = Argv(command);
    execv(argv[0], argv.data());
    _exit(127);
  }
  RunResult result;
  if (piped) {
    close(pipeEnds[1]);
  }
  const pid_t watchdog = Watchdog(child, limits.killAfterSeconds);
  if (piped && !limits.outputClosed) {
    result.out = ReadOutput(pipeEnds[0], child, limits);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  if (watchdog > 0) {
    kill(watchdog, SIGKILL);
    waitpid(watchdog, nullptr, 0);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!piped) {
    result.out = FileText(outPath);
  }
  result.err = FileText(errPath);
  DropTheEmulatorsWords(result.err);
  return result;
}

std::string ScenarioTest::Path(const std::string& name) const { return m_work + "/" + name; }

void ScenarioTest::Write(const std::string& name, const Bytes& bytes) {
  std::ofstream file(Path(name), std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good());
}

void ScenarioTest::WriteText(const std::string& name, const std::string& text) {
  Write(name, Bytes(text.begin(), text.end()));
}

Bytes ScenarioTest::Read(const std::string& name) const {
  const std::string text = ReadText(name);
  return Bytes(text.begin(), text.end());
}

std::string ScenarioTest::ReadText(const std::string& name) const { return FileText(Path(name)); }

bool ScenarioTest::Exists(const std::string& name) const {
  return std::filesystem::exists(std::filesystem::symlink_status(Path(name)));
}

}  // namespace scenario
