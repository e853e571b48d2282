#include "TvrMap.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "TvrPlatform.h"

int iFileDescriptor = -1;
int iFileSize = 0;

namespace {

// Page size minus 1, asked of the platform on first use.
unsigned long pagesize_mask = 0;

void EnsurePageSizeMask() {
  if (pagesize_mask == 0) {
    pagesize_mask = static_cast<unsigned long>(TvrGetPlatform().PageSize()) - 1;
  }
}

// `size` rounded up to whole pages; 0 when that does not fit the address space, which
// every mapping refuses.
std::size_t WholePages(DWORD size) {
  const std::uint64_t rounded = (static_cast<std::uint64_t>(size) + pagesize_mask) &
                                ~static_cast<std::uint64_t>(pagesize_mask);
  return rounded <= std::numeric_limits<std::size_t>::max() ? static_cast<std::size_t>(rounded) : 0;
}

}  // namespace

MEMHANDLE memMap(DWORD dwPhysical, DWORD dwSize) {
  EnsurePageSizeMask();
  iFileSize = static_cast<int>(dwSize);
  void* mapped = TvrGetPlatform().Map(WholePages(dwSize), iFileDescriptor, dwPhysical);
  return reinterpret_cast<MEMHANDLE>(mapped);
}

DWORD memUnmap(MEMHANDLE hMemory) {
  // 0 is no mapping; releasing it would hit whatever lies at address 0.
  if (hMemory == 0) {
    return 1;
  }
  EnsurePageSizeMask();
  TvrGetPlatform().Unmap(reinterpret_cast<void*>(hMemory),
                         WholePages(static_cast<DWORD>(iFileSize)));
  return 1;
}
