#pragma once

#include <atomic>

namespace somnara::test {

// This test binary replaces the global operator new so that tests can count allocations made while
// counting is switched on (on any thread).
void countAllocations(bool on) noexcept;
std::atomic<long>& allocationCount() noexcept;

} // namespace somnara::test
