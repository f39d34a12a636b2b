#pragma once

#include <cstddef>

// A binary that links AllocationCounter.cpp (through its extra.cmake) replaces the global operator new and,
// outside sanitizer builds (which own malloc), malloc, calloc and realloc, so that the C libraries behind
// the units are watched too. Counting is on only inside `allocationsDuring`, on any thread.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SOMNARA_COUNT_MALLOC 0
#else
#define SOMNARA_COUNT_MALLOC 1
#endif

namespace somnara::test {

void countAllocations(bool on) noexcept;
/// Allocations counted since the last call.
std::size_t takeAllocationCount() noexcept;

/// Runs `body` with counting on and returns how many allocations it made.
template <class F>
std::size_t allocationsDuring(F&& body) {
    takeAllocationCount();
    countAllocations(true);
    body();
    countAllocations(false);
    return takeAllocationCount();
}

} // namespace somnara::test
