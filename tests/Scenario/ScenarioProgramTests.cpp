// Programming runs and backups: /i, /k and /o as a technician runs them, what they print,
// their exit status, and what the card's flash file holds afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Card.h"
#include "CaseNames.h"
#include "FileStores.h"
#include "FrontEndNumbers.h"
#include "ScenarioSupport.h"

namespace scenario {
namespace {

// The image a programming run must leave on the card: the file, with the card's PInS (or
// the file's, for /k) stamped with the run's date and the counter + 1, the card's
// calibration block right behind the new BIOS, the card's subsystem word, both checksums.
Bytes ExpectedAfterUpdate(const Bytes& card, const Bytes& file, bool keepCardPins) {
  const Bytes pins = keepCardPins ? Pins(card) : Pins(file);
  const auto counter = static_cast<std::uint16_t>(Le(pins, kPinsCounter, 2) + 1);
  return testbytes::UpdatedImage(file, static_cast<std::uint32_t>(file.size()),
                                 testbytes::StampedPins(pins, kDateWord, counter), PinsOffset(file),
                                 Slice(card, BiosSize(card), emu::SampleBiosOptions{}.mcsSize),
                                 Le(card, emu::kSampleSubsystemOffset, 4));
}

class Programming : public CardTest {
 protected:
  const Bytes m_updated = ExpectedAfterUpdate(m_card, m_file, true);
};

// On each part, with its typical busy times, then its worst case on a device bus twice as
// fast as the default: every wait of the driver must still hold.
TEST_F(Programming, OnEachPartKeepsTheCardsPinsCalibrationAndSubsystem) {
  const struct {
    const char* flash;
    const char* name;
    std::size_t dots;
  } parts[] = {{"m25p10", "ST M25P10", 48},
               {"at25f1024", "ATMEL AT25F1024", 46},
               {"sst25vf010", "SST SST25VF010", 46}};
  for (const auto& part : parts) {
    const std::string keys = std::string(",flash=") + part.flash;
    const std::string report = kBanner + CardReport{.part = part.name}.Text() + m_newReport;
    for (const bool worstCase : {false, true}) {
      SCOPED_TRACE(std::string(part.flash) + (worstCase ? ", worst case" : ", typical"));
      Write("card.bin", m_card);
      const RunResult run =
          worstCase ? OnCard(keys + ",timing=max", {"--bus-costs", "1000,250,50", "/i", "new.bin"})
                    : OnCard(keys, {"/i", "new.bin"});
      EXPECT_EQ(SaidBy(run), (Said{report + Programmed(part.dots), "", 1}));
      EXPECT_EQ(Read("card.bin"), m_updated);
    }
  }
}

constexpr const char* kInvalidFile = "ERROR! An invalid Tavrin BIOS file has been encountered.\n\n";

// Each refused after the card's report (a file too long after its own report too).
TEST_F(Programming, RefusedFilesLeaveTheCardUntouched) {
  Bytes big = m_card;
  big.push_back(0xFF);
  Write("big.bin", big);
  Write("other.bin", emu::BuildSampleBios({.deviceId = DEVID_LUMIVANE_B}));
  Write("broken.bin", emu::BuildSampleBios({.breakSignature = true}));
  Write("short.bin", Bytes(0x7FFD, 0x55));
  const std::vector<std::pair<std::string, Said>> refused{
      {"other.bin",
       {Report(), "ERROR! The selected BIOS file doesn't match your Tavrin graphics hardware.\n\n",
        0}},
      {"broken.bin", {Report(), kInvalidFile, 0}},
      {"big.bin", {Report() + FileReport("2.1 - 5 LV7", "TLV"), kInvalidFile, 0}},
      {"short.bin", {Report(), kInvalidFile, 0}},
      {"missing.bin",
       {Report(), "ERROR! The following file couldn't be opened: missing.bin\n\n", 0}}};
  for (const auto& [name, said] : refused) {
    EXPECT_EQ(SaidBy(OnCard("", {"/i", name})), said) << name;
  }
  EXPECT_EQ(Read("card.bin"), m_card);
}

TEST_F(Programming, CardWithUnrecognizablePinsTakesOnlyTheFilesPins) {
  const Bytes card = emu::BuildSampleBios({.breakPinsChecksum = true});
  Write("card.bin", card);
  const std::string report = kBanner + CardReport{.serial = "Unknown"}.Text() + m_newReport;

  EXPECT_EQ(SaidBy(OnCard("", {"/i", "new.bin"})), (Said{report, kPinsUnrecognizable, 0}));
  EXPECT_EQ(Read("card.bin"), card);
  EXPECT_EQ(SaidBy(OnCard("", {"/k", "new.bin"})), (Said{report + Programmed(), "", 1}));
  EXPECT_EQ(Read("card.bin"), ExpectedAfterUpdate(card, m_file, false));
}

// A backup holds the card as it was, whatever comes before or after it, and stays when a
// later switch fails; its name is shown as it is.
TEST_F(Programming, BackupSavesTheWholeEepromAsItWas) {
  const std::string name = "a%s%n.bin";
  const std::string created = FileCreated(name);
  const struct {
    std::vector<std::string> args;
    std::string out;
    int status;
    const Bytes& card;
  } cases[] = {{{"/o", name}, created, 1, m_card},
               {{"/o", name, "/i", "new.bin"}, created + m_newReport + Programmed(), 1, m_updated},
               {{"/i", "new.bin", "/o", name}, m_newReport + created + Programmed(), 1, m_updated},
               {{"/o", name, "/i", "missing.bin"}, created, 0, m_card}};
  for (const auto& c : cases) {
    Write("card.bin", m_card);
    std::filesystem::remove(Path(name));
    const RunResult run = OnCard("", c.args);
    const std::string line = ::testing::PrintToString(c.args);
    EXPECT_EQ(run.out, Report() + c.out) << line;
    EXPECT_EQ(run.status, c.status) << line;
    EXPECT_TRUE(Read(name) == m_card) << line;
    EXPECT_TRUE(Read("card.bin") == c.card) << line;
  }
}

// What lstat says of `path`.
struct stat Status(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info;
}

constexpr const char* kNotCreated = "ERROR! The following file couldn't be created: ";

// What a run says that could not create `name`: nothing after the card's report.
Said NotCreated(const std::string& name) {
  return {kBanner + CardReport{}.Text(), kNotCreated + name + "\n\n", 0};
}

// A file that cannot be written whole is never reported as created, the update does not
// run, and nothing that was there is lost: not a link, the device behind it or a folder.
TEST_F(Programming, FailedFilesLeaveWhatWasThere) {
  ASSERT_EQ(symlink("/dev/full", Path("full.bin").c_str()), 0);
  ASSERT_EQ(mkdir(Path("folder.bin").c_str(), 0755), 0);
  const std::vector<std::pair<const char*, const char*>> cases{
      {"/o", "full.bin"}, {"/d", "nowhere/pins.txt"}, {"/dmcs", "folder.bin"}};
  for (const auto& [sw, name] : cases) {
    EXPECT_EQ(SaidBy(OnCard("", {sw, name, "/i", "new.bin"})), NotCreated(name));
  }
  EXPECT_EQ(Read("card.bin"), m_card);
  EXPECT_EQ(std::filesystem::read_symlink(Path("full.bin")).string(), "/dev/full");
  EXPECT_TRUE(S_ISCHR(Status("/dev/full").st_mode));
  EXPECT_EQ(std::filesystem::directory_iterator(Path("folder.bin")),
            std::filesystem::directory_iterator());
}

// The files the utility writes, as root in shared folders.
constexpr uid_t kNobody = 65534;
constexpr uid_t kUser = 1000;
constexpr const char* kRootOnly = "root's own secret";

// What another user does in `folder`: in a child that has taken that user's ID, through a
// descriptor, as the test's folders are closed to other users.
void InFolderAs(uid_t user, const std::string& folder, const std::function<bool(int)>& act,
                const std::string& what) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  const pid_t child = fork();
  if (child == 0) {
    _exit(setgid(user) == 0 && setuid(user) == 0 && act(dir) ? 0 : 1);
  }
  int status = -1;
  waitpid(child, &status, 0);
  close(dir);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what;
}

void LinkAs(uid_t user, const std::string& text, const std::string& folder,
            const std::string& name) {
  InFolderAs(
      user, folder, [&](int dir) { return symlinkat(text.c_str(), dir, name.c_str()) == 0; },
      "link " + name);
}

// A run whose call on the files named old.bin fails (see FailingCalls.cpp).
RunLimits FailingCall(const std::string& call) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  // The sanitizer's library wants to come first; the preloaded one then comes before it.
  const std::string sanitizer = std::string("ASAN_OPTIONS=") +
                                (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
  return {.environment = {std::string("LD_PRELOAD=") + TVR_FAILING_CALLS_PATH,
                          "TVR_FAIL_CALL=" + call, "TVR_FAIL_FILE=old.bin", sanitizer}};
}

class Files : public Programming {
 protected:
  void SetUp() override {
    Programming::SetUp();
    if (geteuid() != 0) {
      GTEST_SKIP() << "needs root, as the utility runs";
    }
  }
  // Every link in the working folder and below, with its text.
  std::map<std::string, std::string> Links() const {
    std::map<std::string, std::string> links;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_work)) {
      if (entry.is_symlink()) {
        links[entry.path().string()] = std::filesystem::read_symlink(entry.path()).string();
      }
    }
    return links;
  }
  // A folder made as root, then given to `owner` and `group` with its `mode`.
  void Folder(const std::string& name, mode_t mode, uid_t owner = 0, gid_t group = 0) const {
    ASSERT_EQ(mkdir(Path(name).c_str(), 0), 0);
    ASSERT_EQ(chown(Path(name).c_str(), owner, group), 0);
    ASSERT_EQ(chmod(Path(name).c_str(), mode), 0);
  }
  // A chain of `count` links, name0 -> name1 -> ... -> the target.
  void Chain(const std::string& name, int count, const std::string& target) const {
    for (int i = 0; i < count; ++i) {
      const std::string next = i + 1 < count ? name + std::to_string(i + 1) : target;
      ASSERT_EQ(symlink(next.c_str(), Path(name + std::to_string(i)).c_str()), 0);
    }
  }
  // No hidden temporary file stays anywhere.
  void ExpectNoTemporaryFile() const {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_work)) {
      EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
  }
};

// Links are followed where the system's protection of sticky world-writable folders lets
// them lead, whatever the machine's setting of it: here it may well be off.
TEST_F(Files, FollowOnlyTheLinksTheSystemWouldFollow) {
  Folder("shared", 01777);
  Folder("theirs", 01777, kNobody, kNobody);
  Folder("secret", 0700);
  Folder("real", 0755);
  WriteText("secret/victim.conf", kRootOnly);
  ASSERT_EQ(chmod(Path("secret/victim.conf").c_str(), 0600), 0);
  WriteText("real/rel.bin", "an earlier backup");

  LinkAs(kNobody, Path("secret/victim.conf"), Path("shared"), "planted.bin");
  LinkAs(kNobody, Path("real/theirs.bin"), Path("theirs"), "folders-owner.bin");
  ASSERT_EQ(symlink(Path("real/mine.bin").c_str(), Path("theirs/mine.bin").c_str()), 0);
  ASSERT_EQ(symlink(Path("real/own.bin").c_str(), Path("shared/own.bin").c_str()), 0);
  ASSERT_EQ(symlink("real/rel.bin", Path("rel.bin").c_str()), 0);
  ASSERT_EQ(symlink("real", Path("linked").c_str()), 0);
  ASSERT_EQ(symlink("real/dangling.bin", Path("dangling.bin").c_str()), 0);
  ASSERT_EQ(symlink("shared/planted.bin", Path("via.bin").c_str()), 0);
  Chain("loop", 3, "loop0");
  Chain("forty", 40, "real/forty.bin");
  Chain("long", 41, "real/long.bin");
  const std::map<std::string, std::string> links = Links();

  const std::vector<std::pair<std::string, std::string>> reached{
      {"shared/own.bin", "real/own.bin"},
      {"theirs/folders-owner.bin", "real/theirs.bin"},
      {"theirs/mine.bin", "real/mine.bin"},
      {"rel.bin", "real/rel.bin"},
      {"linked/through.bin", "real/through.bin"},
      {"dangling.bin", "real/dangling.bin"},
      {"forty0", "real/forty.bin"}};
  for (const auto& [name, target] : reached) {
    EXPECT_EQ(SaidBy(OnCard("", {"/o", name})), Created(name));
    EXPECT_TRUE(Read(target) == m_card) << name;
  }
  for (const char* name : {"shared/planted.bin", "via.bin", "loop0", "long0"}) {
    EXPECT_EQ(SaidBy(OnCard("", {"/o", name, "/i", "new.bin"})), NotCreated(name));
  }
  EXPECT_EQ(ReadText("secret/victim.conf"), kRootOnly);
  EXPECT_EQ(Status(Path("secret/victim.conf")).st_mode & 07777, 0600u);
  EXPECT_FALSE(Exists("real/long.bin"));
  EXPECT_TRUE(Read("card.bin") == m_card);
  EXPECT_EQ(Links(), links) << "every link is still the same link";
  ExpectNoTemporaryFile();
}

// A regular file or FIFO that another user left in a sticky folder others may write to
// (everyone, or the folder's group) is refused and left as it is, whatever the machine's
// setting: its owner could read or change the backup. The user's own, and the folder
// owner's, are written.
TEST_F(Files, FilesPlantedByAnotherUserInSharedFoldersAreRefused) {
  Folder("shared", 01777);
  Folder("group", 01770, 0, kUser);
  Folder("theirs", 01777, kNobody, kNobody);
  const std::string planted = "planted by another user";
  const auto plant = [&](uid_t user, const char* folder, const char* name, bool fifo) {
    InFolderAs(
        user, Path(folder),
        [&](int dir) {
          if (fifo) {
            return mkfifoat(dir, name, 0) == 0 && fchmodat(dir, name, 0666, 0) == 0;
          }
          const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_EXCL, 0);
          const bool written =
              fd >= 0 && fchmod(fd, 0666) == 0 &&
              write(fd, planted.data(), planted.size()) == static_cast<ssize_t>(planted.size());
          return close(fd) == 0 && written;
        },
        name);
  };
  plant(kNobody, "shared", "backup.bin", false);
  plant(kNobody, "shared", "fifo.bin", true);
  plant(kUser, "group", "backup.bin", false);
  plant(kNobody, "theirs", "backup.bin", false);
  WriteText("shared/own.bin", "root's earlier backup");
  const int reader = open(Path("shared/fifo.bin").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);

  const RunLimits bounded{.killAfterSeconds = 20};
  for (const char* name : {"shared/backup.bin", "shared/fifo.bin", "group/backup.bin"}) {
    EXPECT_EQ(SaidBy(OnCard("", {"/o", name, "/i", "new.bin"}, bounded)), NotCreated(name));
    const struct stat info = Status(Path(name));
    EXPECT_NE(info.st_uid, 0u) << name;
    EXPECT_EQ(info.st_mode & 07777, 0666u) << name;
  }
  std::array<char, 16> got{};
  EXPECT_LE(read(reader, got.data(), got.size()), 0) << "the FIFO's reader got nothing";
  close(reader);
  EXPECT_TRUE(ReadText("shared/backup.bin") == planted);
  EXPECT_TRUE(ReadText("group/backup.bin") == planted);
  EXPECT_TRUE(Read("card.bin") == m_card);

  for (const char* name : {"theirs/backup.bin", "shared/own.bin"}) {
    EXPECT_EQ(SaidBy(OnCard("", {"/o", name}, bounded)), Created(name));
    EXPECT_TRUE(Read(name) == m_card) << name;
  }
  EXPECT_EQ(Status(Path("theirs/backup.bin")).st_uid, kNobody);
  ExpectNoTemporaryFile();
}

// What getfacl says of a file, its name aside.
std::string AccessList(const std::string& path) {
  return CommandOutput("getfacl -cpn '" + path + "' 2>&1");
}

void GrantRead(const std::string& path) {
  ASSERT_EQ(std::system(("setfacl -m u:" + std::to_string(kNobody) + ":r '" + path + "'").c_str()),
            0);
}

constexpr const char* kNote = "user.note";

std::string Note(const std::string& path) {
  std::array<char, 64> value{};
  const ssize_t length = getxattr(path.c_str(), kNote, value.data(), value.size());
  return length < 0 ? std::string() : std::string(value.data(), static_cast<std::size_t>(length));
}

// A replaced file is still its owner's, with its mode, its access control list and its
// other attributes; never with set-id bits, whoever owned it: a BIOS image is no program.
TEST_F(Files, ReplacedFilesKeepOwnerGroupModeAndAttributes) {
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    std::string failingCall;
    uid_t ownerAfter;
    mode_t modeAfter;
  };
  const std::vector<Case> cases{{"backup.bin", kUser, 0640, "", kUser, 0640},
                                {"setid.bin", kUser, 06755, "", kUser, 0755},
                                {"roots.bin", 0, 04755, "", 0, 0755},
                                {"old.bin", kUser, 06755, "fchown", 0, 0755}};
  for (const Case& c : cases) {
    WriteText(c.name, "an earlier backup");
    ASSERT_EQ(chown(Path(c.name).c_str(), c.owner, c.owner), 0);
    ASSERT_EQ(chmod(Path(c.name).c_str(), c.mode), 0);
    GrantRead(Path(c.name));
    ASSERT_EQ(setxattr(Path(c.name).c_str(), kNote, "kept", 4, 0), 0);
    const std::string acl = AccessList(Path(c.name));
    const RunLimits limits = c.failingCall.empty() ? RunLimits{} : FailingCall(c.failingCall);
    EXPECT_EQ(SaidBy(OnCard("", {"/o", c.name}, limits)), Created(c.name));
    EXPECT_TRUE(Read(c.name) == m_card) << c.name;
    const struct stat info = Status(Path(c.name));
    EXPECT_EQ(info.st_uid, c.ownerAfter) << c.name;
    EXPECT_EQ(info.st_gid, c.ownerAfter) << c.name;
    EXPECT_EQ(info.st_mode & 07777, c.modeAfter) << c.name;
    EXPECT_NE(acl.find("user:" + std::to_string(kNobody) + ":r--"), std::string::npos) << acl;
    EXPECT_EQ(AccessList(Path(c.name)), acl) << c.name;
    EXPECT_EQ(Note(Path(c.name)), "kept") << c.name;
  }

  // Another attribute the system refuses to copy is left behind.
  WriteText("old.bin", "an earlier backup");
  ASSERT_EQ(std::system(("setfacl -b '" + Path("old.bin") + "'").c_str()), 0);
  ASSERT_EQ(setxattr(Path("old.bin").c_str(), kNote, "left", 4, 0), 0);
  EXPECT_EQ(SaidBy(OnCard("", {"/o", "old.bin"}, FailingCall("fsetxattr"))), Created("old.bin"));
  EXPECT_TRUE(Read("old.bin") == m_card);
  EXPECT_EQ(Note(Path("old.bin")), "");
  ExpectNoTemporaryFile();
}

// The replacement reaches the disk before it takes the name, and the folder, which holds
// the name, after it.
TEST_F(Files, ReplacementThenItsFolderReachTheDisk) {
  WriteText("old.bin", "an earlier backup");
  RunLimits limits = FailingCall("none");
  const std::string log = m_root + "/calls.log";
  limits.environment.push_back("TVR_CALL_LOG=" + log);
  EXPECT_EQ(SaidBy(OnCard("", {"/o", "old.bin"}, limits)), Created("old.bin"));
  std::ifstream in(log);
  std::vector<std::string> calls;
  for (std::string line; std::getline(in, line);) {
    if (line.find("old.bin") != std::string::npos || line == "fsync " + m_work) {
      calls.push_back(line);
    }
  }
  ASSERT_EQ(calls.size(), 3u) << ::testing::PrintToString(calls);
  EXPECT_EQ(calls[0].rfind("fsync " + m_work + "/.old.bin.", 0), 0u) << calls[0];
  EXPECT_EQ(calls[1], "rename " + m_work + "/old.bin");
  EXPECT_EQ(calls[2], "fsync " + m_work);
}

// A flush or close that fails, or an access control list the system refuses to copy, leaves
// the file as it was, reported as not created, and the update does not run.
TEST_F(Files, FailedFlushCloseOrAccessListLeavesTheOldFile) {
  for (const char* call : {"fsync", "close", "fsetxattr"}) {
    WriteText("old.bin", "an earlier backup");
    GrantRead(Path("old.bin"));
    EXPECT_EQ(SaidBy(OnCard("", {"/o", "old.bin", "/i", "new.bin"}, FailingCall(call))),
              NotCreated("old.bin"))
        << call;
    EXPECT_EQ(ReadText("old.bin"), "an earlier backup") << call;
  }
  EXPECT_TRUE(Read("card.bin") == m_card);
  ExpectNoTemporaryFile();
}

// A FIFO is written while someone reads it, and refused at once when nobody does: the run
// never waits on the card's time for a reader.
TEST_F(Files, FifoIsWrittenOnlyWhileSomeoneReadsIt) {
  ASSERT_EQ(mkfifo(Path("fifo.bin").c_str(), 0644), 0);
  const auto start = std::chrono::steady_clock::now();
  const RunResult refused =
      OnCard("", {"/o", "fifo.bin", "/i", "new.bin"}, {.killAfterSeconds = 20});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(SaidBy(refused), NotCreated("fifo.bin"));
  EXPECT_TRUE(Read("card.bin") == m_card);

  const pid_t reader = fork();
  if (reader == 0) {
    std::ifstream fifo(Path("fifo.bin"), std::ios::binary);
    std::ofstream copy(Path("copy.bin"), std::ios::binary);
    copy << fifo.rdbuf();
    copy.close();
    _exit(copy.good() ? 0 : 1);
  }
  const RunResult read = OnCard("", {"/o", "fifo.bin"});
  int status = -1;
  waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(SaidBy(read), Created("fifo.bin"));
  EXPECT_TRUE(Read("copy.bin") == m_card);
  EXPECT_TRUE(S_ISFIFO(Status(Path("fifo.bin")).st_mode));
}

// What each fault of the card does to a programming run.
struct FaultCase {
  const char* fault;
  const char* error;  // standard error
  bool warned;        // the warning and the write came before the failure
  std::size_t bars;   // progress bars drawn
  int status;
  enum class Flash { Old, New, NewButOneByte } flash;
};

class FaultyCard : public Programming, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultyCard, ProgrammingRun) {
  const FaultCase& fault = GetParam();
  const RunResult run = OnCard(std::string(",fault=") + fault.fault, {"/i", "new.bin"});
  std::string out = fault.warned ? Report() + m_newReport + kWarning : kBanner;
  for (std::size_t i = 0; i < fault.bars; ++i) {
    out += Dots(48);
  }
  out += fault.status == 1 ? kUpdated : "";
  EXPECT_EQ(SaidBy(run), (Said{out, fault.error, fault.status}));
  const Bytes flash = Read("card.bin");
  const Bytes& expected = fault.flash == FaultCase::Flash::Old ? m_card : m_updated;
  ASSERT_EQ(flash.size(), expected.size());
  const std::size_t differences =
      std::transform_reduce(flash.begin(), flash.end(), expected.begin(), std::size_t{0},
                            std::plus<>(), std::not_equal_to<>());
  EXPECT_EQ(differences, fault.flash == FaultCase::Flash::NewButOneByte ? 1u : 0u);
}

constexpr const char* kNoFlashPart =
    "ERROR! Graphics hardware information couldn't be obtained. (#10003)\n\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyCard,
    ::testing::Values(
        FaultCase{"lines-busy", kNoFlashPart, false, 0, 0, FaultCase::Flash::Old},
        FaultCase{"no-flash", kNoFlashPart, false, 0, 0, FaultCase::Flash::Old},
        FaultCase{"stuck-busy", kNotUpdated, true, 0, 0, FaultCase::Flash::Old},
        FaultCase{"erase-hang", kNotUpdated, true, 0, 0, FaultCase::Flash::Old},
        // The card in the field is locked; with its pin stuck low it cannot be unlocked.
        FaultCase{"wp-stuck", kNotUpdated, true, 0, 0, FaultCase::Flash::Old},
        FaultCase{"corrupt-pass=2", "", true, 3, 1, FaultCase::Flash::New},
        FaultCase{"corrupt-pass=3", kNotUpdated, true, 3, 0, FaultCase::Flash::NewButOneByte}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
      return testnames::CaseName(info.param.fault);
    });

TEST_F(Programming, PowerCutMidUpdateThenRecoveryFromTheBackup) {
  // The machine keeps its state between runs: a power cut is a reboot, so the lines and the
  // protection the cut run held do not keep the next runs out.
  const RunResult cut = OnCard(",state=card.st,fault=power-cut=20000",
                               {"/o", "backup.bin", "/d", "card.txt", "/i", "new.bin"});
  EXPECT_EQ(cut.status, emu::kPowerCutExitCode);
  EXPECT_EQ(Read("backup.bin"), m_card);
  const Bytes broken = Read("card.bin");
  // The part was erased and only the first bytes of the new image reached it.
  EXPECT_TRUE(std::equal(broken.begin(), broken.begin() + 20000, m_updated.begin()));
  EXPECT_TRUE(std::all_of(broken.begin() + 20000, broken.end(), [](auto b) { return b == 0xFF; }));

  // The card's own PInS is gone: only the backup's can be taken.
  const RunResult refused = OnCard(",state=card.st", {"/i", "backup.bin"});
  EXPECT_EQ(refused.err, kPinsUnrecognizable);
  EXPECT_EQ(refused.status, 0);

  // The backup's PInS, and the subsystem word from the text saved before the update.
  const RunResult recovered = OnCard(",state=card.st", {"/k", "backup.bin", "/s", "card.txt"});
  EXPECT_EQ(recovered.err, "");
  EXPECT_EQ(recovered.status, 1);
  const Bytes flash = Read("card.bin");
  const Bytes pins = Pins(flash);
  EXPECT_EQ(PinsSerial(pins), "TS05A00017");
  EXPECT_EQ(Le(pins, kPinsCounter, 2), emu::SampleBiosOptions{}.pinsCounter + 1u);
  EXPECT_EQ(Le(pins, kPinsDate, 2), kDateWord);
  EXPECT_EQ(Sum8(pins, 0, emu::kSamplePinsSize), 0);
  EXPECT_EQ(Sum8(flash, 0, BiosSize(flash)), 0);
  // Everything outside the PInS and the checksum byte, the subsystem word too, is the
  // backup's again.
  const std::size_t pinsAt = PinsOffset(m_card);
  for (std::size_t i = 0; i < emu::kSampleImageSize; ++i) {
    if ((i < pinsAt || i >= pinsAt + emu::kSamplePinsSize) && i != BiosSize(m_card) - 1) {
      ASSERT_EQ(flash[i], m_card[i]) << "offset " << i;
    }
  }
}

// Bytes through the part in a run of /o backup.bin /i new.bin on the sample card: the card
// report reads 128 KiB, the backup the next 128 KiB, programming writes about 120 KiB and
// verification reads 128 KiB.
constexpr std::uint32_t kReadingBackup = 200000;
constexpr std::uint32_t kEarlyInProgramming = 270000;
constexpr std::uint32_t kLateInProgramming = 380000;
constexpr std::uint32_t kMidProgramming = 330000;
constexpr std::uint32_t kVerifying = 450000;

std::string SignalAt(const char* name, std::uint32_t bytes) {
  return ",fault=signal=" + std::string(name) + ":" + std::to_string(bytes);
}

// The card's state as the state file keeps it.
emu::CardState KeptState(const std::string& path) { return emu::MapStateFile(path, {})->State(); }

bool LinesHeld(const emu::CardState& state) {
  return (state.card.lineRegister & emu::kLineBypass) != 0;
}

bool WriteProtected(const emu::CardState& state) {
  return (state.card.protectRegister & emu::kProtectWritable) != emu::kProtectWritable;
}

// A number the kernel delivers that the C library keeps for itself: its calls refuse it.
constexpr int kFirstReservedSignal = 32;

// The run starts with `signal` ignored, and gets it once the first progress dot has come:
// programming is under way.
RunLimits IgnoredAndSentWhileProgramming(int signal) {
  return {.actAfter = std::string(kWarning) + ".",
          .act = [signal](pid_t run) { kill(run, signal); },
          .ignoredSignals = {signal}};
}

// Whether `signal` is one whose default action ends a process, but SIGKILL, which nothing
// can hold, and the faults a program raises itself, which end it where they happen.
bool EndsTheRun(int signal) {
  const std::vector<int> notEnding{SIGKILL, SIGSTOP, SIGTSTP, SIGTTIN,  SIGTTOU,
                                   SIGCHLD, SIGCONT, SIGURG,  SIGWINCH, SIGSEGV,
                                   SIGBUS,  SIGILL,  SIGFPE,  SIGTRAP,  SIGSYS};
  return std::find(notEnding.begin(), notEnding.end(), signal) == notEnding.end();
}

// After the first progress dot, `first`; once its answer is on standard error (written to
// `errPath`), every other ending signal, each once: the kernel would merge repeats.
RunLimits EveryEndingSignalWhileProgramming(int first, const std::string& errPath) {
  const auto act = [first, errPath](pid_t run) {
    kill(run, first);
    for (int attempt = 0; attempt < 200; ++attempt) {
      if (FileText(errPath).find(kInterrupted) != std::string::npos) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (int signal = 1; signal <= SIGRTMAX; ++signal) {
      if (signal != first && EndsTheRun(signal)) {
        kill(run, signal);
      }
    }
  };
  return {.actAfter = std::string(kWarning) + ".", .act = act};
}

// What an interrupted run of /o backup.bin /i new.bin leaves.
enum class Outcome {
  Updated,     // the signal came once the card was being written: the update finished
  BackupOnly,  // it came before: the card is as it was, the backup is written
  Nothing,     // the backup failed, so nothing was programmed
};

// Whatever ends or disturbs an update while it holds the card.
struct Interruption {
  std::string label;
  std::string fault;
  RunLimits limits;
  int endedBy;  // the signal that ends the run once the card is let go; 0: none, not interrupted
  Outcome outcome;
  std::string errAfterWarning = "";
};

TEST_F(Programming, InterruptionsWaitUntilTheCardIsLetGo) {
  const std::string earlier = "an earlier backup";
  const std::string backup(m_card.begin(), m_card.end());
  using enum Outcome;
  const std::map<Outcome, std::string> out{
      {Updated, Report() + FileCreated("backup.bin") + m_newReport + Programmed()},
      {BackupOnly, Report() + FileCreated("backup.bin") + m_newReport},
      {Nothing, Report()}};
  const std::vector<Interruption> cases{
      // Ctrl-C before the card is written means "don't".
      {"SIGINT reading the backup", SignalAt("INT", kReadingBackup), {}, SIGINT, BackupOnly},
      {"SIGTERM early in programming, output closed after the warning",
       SignalAt("TERM", kEarlyInProgramming),
       {.closeOutputAfter = kWarning},
       SIGTERM,
       Updated},
      {"SIGHUP late in programming, output closed before the backup",
       SignalAt("HUP", kLateInProgramming),
       {.closeOutputAfter = CardReport{}.Text()},
       SIGHUP,
       Updated},
      {"SIGINT verifying", SignalAt("INT", kVerifying), {}, SIGINT, Updated},
      {"SIGTERM reading a backup beyond the file-size limit",
       SignalAt("TERM", kReadingBackup),
       {.fileSizeLimit = 100000},
       SIGTERM,
       Nothing,
       NotCreated("backup.bin").err},
      // Left ignored by whoever started the run (make does so with 32 and 33): nothing
      // happened.
      {"signal 32, ignored", "", IgnoredAndSentWhileProgramming(kFirstReservedSignal), 0, Updated},
      // Every signal that ends a process, those no one thinks of (a UPS reporting a power
      // failure, a service manager whose stop timed out, an I/O notice, the real-time ones)
      // among them, in one run, one answer: the lowest number pending ends it.
      {"every ending signal, 1 to SIGRTMAX", "",
       EveryEndingSignalWhileProgramming(SIGINT, m_root + "/stderr"), SIGHUP, Updated},
      // The card is read at the first byte that moves: the hold begins before the session is
      // created.
      {"SIGUSR1 creating the session", SignalAt("USR1", 0), {}, SIGUSR1, BackupOnly},
  };
  for (const Interruption& c : cases) {
    Write("card.bin", m_card);
    std::filesystem::remove(Path("card.st"));
    WriteText("backup.bin", earlier);
    const RunResult run =
        OnCard(",state=card.st" + c.fault, {"/o", "backup.bin", "/i", "new.bin"}, c.limits);
    EXPECT_EQ(run.signal, c.endedBy) << c.label;
    EXPECT_EQ(run.err, (c.endedBy != 0 ? kInterrupted : "") + c.errAfterWarning) << c.label;
    if (c.limits.closeOutputAfter.empty()) {
      EXPECT_EQ(run.out, out.at(c.outcome)) << c.label;
    }
    // Compared whole, and not printed: 128 KiB would bury the case's name.
    EXPECT_TRUE(Read("card.bin") == (c.outcome == Updated ? m_updated : m_card))
        << c.label << ": card";
    EXPECT_TRUE(ReadText("backup.bin") == (c.outcome == Nothing ? earlier : backup))
        << c.label << ": backup";
    const emu::CardState state = KeptState(Path("card.st"));
    EXPECT_FALSE(LinesHeld(state)) << c.label;
    EXPECT_TRUE(WriteProtected(state)) << c.label;
    EXPECT_EQ(state.card.command, emu::CardOptions{}.command) << c.label;

    const RunResult next = OnCard(",state=card.st", {"/ds"});
    EXPECT_EQ(next.err, "") << c.label;
    EXPECT_EQ(next.status, 1) << c.label;
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(m_work)) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"backup.bin", "card.bin", "card.st", "new.bin"}))
      << "no temporary file left behind";
}

// Nothing the card waits on while it is held waits without bound, whatever arrives: a file
// to read that cannot be read to its end (a folder, or a FIFO with no writer ever coming:
// a run that waits is killed) fails at once, and leaves the card released; a reader that takes the
// backup a page every two seconds, which would need half a minute for it, fails it at the bound for
// the whole file, held signals arriving every second notwithstanding.
TEST_F(Programming, NothingHeldWaitsWithoutBound) {
  ASSERT_EQ(mkfifo(Path("fifo.bin").c_str(), 0644), 0);
  std::filesystem::create_directory(Path("folder.bin"));
  const RunLimits bounded{.killAfterSeconds = 60};
  for (const std::string name : {"folder.bin", "fifo.bin"}) {
    for (const char* sw : {"/i", "/k", "/s"}) {
      const RunResult run = OnCard(",state=card.st", {"/o", "backup.bin", sw, name}, bounded);
      EXPECT_EQ(run.err, "ERROR! The following file couldn't be opened: " + name + "\n\n") << sw;
      EXPECT_EQ(run.status, 0) << sw;
      const emu::CardState state = KeptState(Path("card.st"));
      EXPECT_FALSE(LinesHeld(state)) << sw;
      EXPECT_EQ(state.card.command, emu::CardOptions{}.command) << sw;
    }
  }
  EXPECT_TRUE(Read("card.bin") == m_card);

  const int reader = open(Path("fifo.bin").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  std::atomic<bool> ended{false};
  std::thread trickle([reader, &ended] {
    std::array<char, 4096> page{};
    while (!ended) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      (void)!read(reader, page.data(), page.size());
    }
  });
  const std::string errPath = m_root + "/stderr";
  const auto everySecond = [errPath](pid_t run) {
    for (int second = 0; second < 60; ++second) {
      if (FileText(errPath).find(kNotCreated) != std::string::npos) {
        break;
      }
      kill(run, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  };
  const RunLimits trickled{
      .actAfter = CardReport{}.Text(), .act = everySecond, .killAfterSeconds = 90};
  const RunResult run = OnCard("", {"/o", "fifo.bin", "/i", "new.bin"}, trickled);
  ended = true;
  trickle.join();
  close(reader);
  EXPECT_GT(run.seconds, 10);
  EXPECT_EQ(run.err, std::string(kInterrupted) + kNotCreated + "fifo.bin\n\n");
  EXPECT_EQ(run.signal, SIGUSR1);
  EXPECT_TRUE(Read("card.bin") == m_card);
}

// A signal that waited ends the emulator only after its own end of run: the flash is put
// back under its name over the backup written there, the statistics are printed and the
// trace of the run's last cycles is written.
TEST_F(Programming, AWaitingSignalEndsTheEmulatorAfterItsEndOfRun) {
  const RunResult run = Emu({"--stats", "--vcd", "wire.vcd,last=2", "--card",
                             "100,image=card.bin" + SignalAt("INT", kMidProgramming), "/o",
                             "card.bin", "/i", "new.bin"});
  EXPECT_EQ(run.signal, SIGINT);
  EXPECT_TRUE(Read("card.bin") == m_updated) << "card.bin";
  EXPECT_EQ(run.err.rfind(std::string(kInterrupted) + "virtual time: ", 0), 0u) << run.err;
  const std::string trace = ReadText("wire.vcd");
  EXPECT_NE(trace.find("\n#", trace.find("$enddefinitions")), std::string::npos) << trace;
}

// SIGKILL cannot wait: the card stays as the killed run left it, half programmed, its lines
// held and its protection lifted, and refuses every run until the machine is rebooted (on
// the emulator: the state file removed). Then the backup goes back on.
TEST_F(Programming, KilledMidUpdateTheCardRefusesUntilARebootThenTheBackupRestoresIt) {
  const RunResult killed = OnCard(",state=card.st" + SignalAt("KILL", kMidProgramming),
                                  {"/o", "backup.bin", "/i", "new.bin"});
  EXPECT_EQ(killed.signal, SIGKILL);
  EXPECT_EQ(Read("backup.bin"), m_card);
  const Bytes half = Read("card.bin");
  EXPECT_NE(half, m_card);
  EXPECT_NE(half, m_updated);
  const emu::CardState state = KeptState(Path("card.st"));
  EXPECT_TRUE(LinesHeld(state));
  EXPECT_FALSE(WriteProtected(state));

  EXPECT_EQ(SaidBy(OnCard(",state=card.st", {"/k", "backup.bin"})),
            (Said{kBanner, kNoFlashPart, 0}));
  EXPECT_EQ(Read("card.bin"), half);

  std::filesystem::remove(Path("card.st"));
  const RunResult restored = OnCard(",state=card.st", {"/k", "backup.bin"});
  EXPECT_EQ(restored.err, "");
  EXPECT_EQ(restored.status, 1);
  // The whole backup, subsystem word included: the PInS's stamp and the checksums aside.
  EXPECT_TRUE(Read("card.bin") == ExpectedAfterUpdate(m_card, m_card, false));
}

}  // namespace
}  // namespace scenario
