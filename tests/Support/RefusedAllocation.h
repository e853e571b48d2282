// For the test programs that link RefusedAllocation.cpp, whose array allocation functions
// are replaced: while a RefuseAllocation lives, a nothrow array request of its size gets no
// memory, so that a test can show what the code does without it.
#pragma once

#include <cstddef>

namespace testsupport {

class RefuseAllocation {
 public:
  explicit RefuseAllocation(std::size_t size);
  ~RefuseAllocation();
  RefuseAllocation(const RefuseAllocation&) = delete;
  RefuseAllocation& operator=(const RefuseAllocation&) = delete;
};

}  // namespace testsupport
