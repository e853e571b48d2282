// The one way the utility writes a file (a backup, a PInS text, a calibration block). A
// regular file is written whole to a new file beside it, flushed to the disk and renamed
// over the target only when complete, so that a failed or cut-short write leaves a file of
// that name exactly as it was; the new file takes the old one's owner, group, mode (never
// set-id bits) and extended attributes. A target that is not a regular file (a device
// node, a FIFO) is written in place and never removed, and nothing that would wait for
// ever on a reader is waited on.
//
// The program runs as root, often in shared folders: it follows a symbolic link, and
// writes a regular file or FIFO that is there, only where the system's protection of
// sticky folders others may write to would (the entry is not in such a folder, or belongs
// to the user or to the folder's owner), whatever the machine's settings, and it walks the
// name one folder at a time, holding each folder open, so that nothing swapped in meanwhile
// can send the data elsewhere. A link it may not follow, a file another user planted, a
// loop of links or a chain longer than the system follows is a file that cannot be created.
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
  // no permission, a link not to be followed, a FIFO nobody reads).
  bool IsOpen() const { return m_fd >= 0; }
  // Writes all of the data, flushes it to the disk and puts it in place. False when any
  // step failed; the target is then as it was before (a device keeps what it took).
  bool Commit(const void* pvData, std::size_t size);
  // Drops the file without touching the target.
  void Discard();

 private:
  bool WriteAll(const void* pvData, std::size_t size) const;
  bool CloseFlushed();

  int m_folder = -1;   // the folder the data ends up in, symbolic links followed
  std::string m_name;  // the target's name in that folder
  std::string m_temp;  // empty when the target is written in place
  int m_fd = -1;
};
