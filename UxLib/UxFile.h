// The one way the utility writes a file (a backup, a PInS text, a calibration block). A
// regular file is written whole to a new file beside it, flushed to the disk and renamed
// over the target only when complete, so that a failed or cut-short write leaves a file of
// that name exactly as it was. A target that is not a regular file (a device node, a FIFO)
// is written in place and never removed; a symbolic link keeps pointing where it pointed.
#pragma once

#include <cstddef>
#include <string>

#include "TvrType.h"

class UxOutFile {
 public:
  // Opens the file that will take the data; see IsOpen.
  explicit UxOutFile(const ACHAR* pszFileName);
  // A file not committed is dropped: the temporary file goes, the target stays as it was.
  ~UxOutFile();
  UxOutFile(const UxOutFile&) = delete;
  UxOutFile& operator=(const UxOutFile&) = delete;

  // False when the file cannot be created there (a missing folder, a folder of that name,
  // no permission).
  bool IsOpen() const { return m_fd >= 0; }
  // Writes all of the data, flushes it to the disk and puts it in place. False when any
  // step failed; the target is then as it was before (a device keeps what it took).
  bool Commit(const void* pvData, std::size_t size);
  // Drops the file without touching the target.
  void Discard();

 private:
  bool WriteAll(const void* pvData, std::size_t size) const;
  bool CloseFlushed();

  std::string m_target;  // where the data ends up, symbolic links followed
  std::string m_temp;    // empty when the target is written in place
  int m_fd = -1;
};
