// A file of a fixed size mapped shared: every byte written to the mapping is in the file at
// once, so a process that dies at any instant leaves the file as the hardware it stands for
// would be left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

class MappedFile {
 public:
  // Maps the file at `path`, which must hold exactly `initial.size()` bytes. A missing file
  // is created holding `initial`. Throws std::runtime_error "<what> <path>: <reason>" when
  // it cannot be created, opened, sized or mapped.
  MappedFile(const std::string& what, const std::string& path,
             const std::vector<std::uint8_t>& initial);
  // The file is the hardware: when its name was given to another file during the run (a
  // backup written over it, say), the name gets the hardware's content back.
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::uint8_t* Bytes() const { return m_bytes; }

 private:
  bool NameStillMine() const;
  void PutContentUnderName() const;

  std::string m_path;
  std::uint8_t* m_bytes = nullptr;
  std::size_t m_size = 0;
  std::uint64_t m_device = 0;
  std::uint64_t m_inode = 0;
};

}  // namespace emu
