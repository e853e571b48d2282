// What the fuzz targets share: an emulated machine with one card, a session on it that keeps
// what it prints, and the check that turns a broken promise into a finding. The same
// targets run under libFuzzer and, over their committed corpora, as regular tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Card.h"
#include "CardMachine.h"
#include "Machine.h"
#include "UxLib.h"

namespace fuzz {

using Bytes = std::vector<std::uint8_t>;

constexpr PCIHANDLE kCardLocation = MakePciHandle(1, 0);

// A promise of the code under test that an input broke.
class Finding : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Throws a Finding naming `what` when `holds` is false.
void Expect(bool holds, const std::string& what);

// The input as a whole EEPROM: its bytes, then erased bytes, cut at the capacity.
Bytes AsImage(const std::uint8_t* data, std::size_t size);

using CardMachine = emu::CardMachine;

// A session on the card at kCardLocation, released when it goes. What it prints is kept.
class Session {
 public:
  Session();
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  UX_ERR Open();
  // One command line as the front end hands it over (at most 255 characters).
  UX_ERR Exec(const std::string& commandLine);
  UXHANDLE Handle() { return reinterpret_cast<UXHANDLE>(m_storage.get()); }
  GBHANDLE Image() { return Handle()->hGB; }
  std::string& Out() { return m_out; }
  // The image object analyses `image` as if just read from the card, the session takes its
  // description again, and what was printed so far is dropped.
  void Reload(const Bytes& image);

 private:
  std::unique_ptr<std::uint8_t[]> m_storage;
  bool m_open = false;
  std::string m_out;
};

// What the image object holds, read from its record.
struct ImageState {
  Bytes image;      // the whole buffer
  UINT32 biosSize;  // from the size byte
  UINT32 pinsOffset;
  Bytes pins;  // the PInS copy
  Bytes mcs;   // the calibration block copy; empty without one
  UINT32 subsystem;
};
ImageState StateOf(GBHANDLE hGB);

// A card and an open session on it that a fuzz target keeps for the whole process. Each use
// installs its machine again, since tests in the same process make machines of their own,
// and so does the end, so that the session is released on its own card.
struct KeptSession {
  explicit KeptSession(const Bytes& flash, const emu::CardOptions& options = {});
  ~KeptSession() { machine.Install(); }
  KeptSession(const KeptSession&) = delete;
  KeptSession& operator=(const KeptSession&) = delete;

  // Call before every use.
  void Use() { machine.Install(); }

  CardMachine machine;
  Session session;
};

// Puts `image` in the image object's buffer and analyses it as creation analyses what it
// reads from the card, without reading the card again.
void Reanalyse(GBHANDLE hGB, const Bytes& image);

// A directory of its own under the system's temporary directory, removed with its files.
// The utility lowers its command line and takes an operand that begins with "/" for a
// switch, so files in it are named by a lower-case path relative to the working directory.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Operand(const std::string& name) const;
  std::filesystem::path File(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

}  // namespace fuzz
