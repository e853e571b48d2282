#include "RefusedAllocation.h"

#include <cstdlib>
#include <new>

namespace {
// 0 refuses nothing: every request is given at least one byte.
std::size_t g_refusedSize = 0;

void* Allocate(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }
}  // namespace

namespace testsupport {
RefuseAllocation::RefuseAllocation(std::size_t size) { g_refusedSize = size; }
RefuseAllocation::~RefuseAllocation() { g_refusedSize = 0; }
}  // namespace testsupport

void* operator new[](std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return g_refusedSize != 0 && size == g_refusedSize ? nullptr : Allocate(size);
}

void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
