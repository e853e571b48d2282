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
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::uint8_t* Bytes() const { return m_bytes; }

 private:
  std::uint8_t* m_bytes = nullptr;
  std::size_t m_size = 0;
};

}  // namespace emu
